// The simulated microscope's control functions: they configure the host context's device manager
// and grabber provider.
#include "zthost/microscope.h"

#include "hostcontext.h"

namespace zthost {

int AddLogicalDevice(const LogicalDeviceSetup& device) {
    return ::HostContext::Instance().Devices().Add(device);
}

int UpdateLogicalDevice(const LogicalDeviceSetup& device) {
    return ::HostContext::Instance().Devices().Update(device);
}

int RemoveLogicalDevice(ZT_DWORD id) {
    return ::HostContext::Instance().Devices().Remove(id);
}

bool FindLogicalDevice(ZT_DWORD id, LogicalDeviceSetup* device) {
    return ::HostContext::Instance().Devices().Find(id, device);
}

void SetGalvoXYCount(int count) {
    ::HostContext::Instance().Devices().SetGalvoXYCount(count);
}

bool PhysicalDeviceConnected(ZT_DWORD physicalId) {
    bool connected = false;
    return ::HostContext::Instance().Devices().PhysDev_IsConnected(physicalId, &connected) == 0 &&
           connected;
}

void SetPhysicalDeviceConnected(ZT_DWORD physicalId, bool connected) {
    ::HostContext::Instance().Devices().SetPhysicalDeviceConnected(physicalId, connected);
}

int DeviceManagerRefreshCount() {
    return ::HostContext::Instance().Devices().RefreshCount();
}

void SetDeviceManagerPresent(bool present) {
    ::HostContext::Instance().Devices().SetPresent(present);
}

void SetDeviceListConnected(bool connected) {
    ::HostContext::Instance().Devices().SetDeviceListConnected(connected);
}

int SetCamera(const CameraSetup& camera) {
    return ::HostContext::Instance().Grabber().SetCamera(camera);
}

CameraSetup Camera() {
    return ::HostContext::Instance().Grabber().Camera();
}

void SetGrabberPresent(bool present) {
    ::HostContext::Instance().Grabber().SetPresent(present);
}

}  // namespace zthost
