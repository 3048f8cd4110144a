// The simulated microscope's control functions: they configure the host context's device manager
// and grabber provider.
#include "zthost/microscope.h"

#include "hostcontext.h"
#include "zthost/camera_control.h"

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

std::wstring DeviceStateText(ZT_DWORD id) {
    return ::HostContext::Instance().Devices().StateText(id);
}

void NotifyDevicesChanged(const std::vector<ZT_DWORD>& ids) {
    ::HostContext::Instance().Devices().NotifyChanged(ids);
}

std::vector<CustomCommandRecord> CustomCommands() {
    return ::HostContext::Instance().Devices().CustomCommands();
}

void ClearCustomCommands() {
    ::HostContext::Instance().Devices().ClearCustomCommands();
}

void SetDeferredCompletionSupported(ZT_DWORD physicalId, bool supported) {
    ::HostContext::Instance().Devices().SetDeferredCompletionSupported(physicalId, supported);
}

void HoldDeferredCompletion(ZT_DWORD physicalId, bool hold) {
    ::HostContext::Instance().Devices().HoldDeferredCompletion(physicalId, hold);
}

int PendingCommandCount(ZT_DWORD physicalId) {
    return ::HostContext::Instance().Devices().PendingCommandCount(physicalId);
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

int TurnCamera(double degrees, bool mirrored) {
    CameraSetup camera = Camera();
    if (!camera.hasCamera) {
        return -6;
    }
    camera.rotationDegrees = degrees;
    camera.angleParams = {1.0, 0.0, 0.0, mirrored ? -1.0 : 1.0};
    const int status = SetCamera(camera);
    if (status != 0) {
        return status;
    }
    NotifyCameraAngleChanged();
    SZtCameraNewParams changed;
    changed.camera.name = camera.name.c_str();
    changed.grabber = camera.grabberIndex;
    if (camera.roiOn) {
        changed.region = camera.roi;
    }
    ::HostContext::Instance().Plugins().SendModuleEvent(L"ZT_MODULEEVENT_CAMERA_NEW_PARAMS", 1,
                                                        nullptr, &changed);
    return 0;
}

void SetGrabberPresent(bool present) {
    ::HostContext::Instance().Grabber().SetPresent(present);
}

}  // namespace zthost
