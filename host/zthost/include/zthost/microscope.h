// Control side of the simulated microscope: the devices and the camera the host offers.
// Plug-ins never include this header; they reach the devices through DMApi and
// IZtGrabberProvider.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_grabber.h"

namespace zthost {

// ---- Device manager ----------------------------------------------------------------------------
// The commands that change a device; each can be refused per device (LogicalDeviceSetup::refused).
enum class DeviceCommand {
    LinePower,        // MultiLaser_SetLinePower
    LineUsed,         // MultiLaser_SetLineUsed
    Voltage,          // Light_SetVoltage
    Iris,             // Light_SetIris
    PortCombination,  // LaserOutput_SetPortCombination
    ShutterState,     // Shutter_SetState
    CustomCommand,    // LogDev_SendCustomCommand
};

struct LaserLineSetup {
    ZT_DWORD wavelength = 0;  // nm
    double power = 0.0;       // percent, 0 to 100
    bool used = false;
};

enum class LightControl { None, Voltage, Iris };

// One logical device. The fields after physicalId belong to the types named beside them.
struct LogicalDeviceSetup {
    ZT_DWORD id = 0;  // never 0
    int type = 0;     // EZtLogDevType, or any other code
    std::wstring key;
    bool visible = true;
    bool active = true;
    ZT_DWORD physicalId = 0;
    std::vector<ZT_DWORD> capabilities;
    // The commands the device answers with -9, keeping its state.
    std::vector<DeviceCommand> refused;
    // Nosepiece, filter changer, laser output: the position it stands at, from 0, and the names
    // of its positions (objective codes; filters; port combinations).
    int position = 0;
    std::vector<std::wstring> positionNames;
    std::vector<LaserLineSetup> lines;  // multi-laser launch
    bool manualZoom = false;            // zoom
    double zoom = 1.0;                  // zoom
    // Light: what its intensity is, its range, the steps its control offers, and its value now.
    LightControl lightControl = LightControl::None;
    double minimum = 0.0;
    double maximum = 0.0;
    int stepCount = 0;
    double value = 0.0;
    bool open = false;  // shutter
};

// Adds a device after the others: 0; -4 for id 0, a nosepiece, filter changer or laser output
// whose position is not one of its positions, a line power outside 0 to 100, or a voltage- or
// iris-controlled light without steps or with its value outside its range; -10 when the id is
// taken. The host then has a device manager. Adding, updating and removing send no device-change
// event: they are the microscope's set-up, not a change of state.
ZTHOST_API int AddLogicalDevice(const LogicalDeviceSetup& device);
// Replaces the device with device.id, keeping its place: 0, -4 as above, -5 when none has the id.
ZTHOST_API int UpdateLogicalDevice(const LogicalDeviceSetup& device);
// 0, -5 when no device has the id.
ZTHOST_API int RemoveLogicalDevice(ZT_DWORD id);
// False when no device has the id.
ZTHOST_API bool FindLogicalDevice(ZT_DWORD id, LogicalDeviceSetup* device);
// The number of galvo XY scanners. The host then has a device manager.
ZTHOST_API void SetGalvoXYCount(int count);
// Whether a physical device is on line (DMApi::PhysDev_IsConnected); all are at the start.
ZTHOST_API bool PhysicalDeviceConnected(ZT_DWORD physicalId);
ZTHOST_API void SetPhysicalDeviceConnected(ZT_DWORD physicalId, bool connected);
// How often DMApi_Refresh was called.
ZTHOST_API int DeviceManagerRefreshCount();
// Whether IZtHostContext::GetDeviceManager answers; devices are kept either way.
ZTHOST_API void SetDeviceManagerPresent(bool present);
// Whether the device list the host started with is connected (DMApi_IsDeviceListConnected); true
// unless a test holds the host in its start-up.
ZTHOST_API void SetDeviceListConnected(bool connected);

// What the host's own control of the device shows now (pending commands not yet included), e.g.
// "405 nm 20.0% on, 488 nm 0.0% off", "Voltage 3.50", "Iris 40.00", "Port Left", "Open"; empty
// for an unknown id or a device type without such a control.
ZTHOST_API std::wstring DeviceStateText(ZT_DWORD id);
// Sends "ZT_MODULEEVENT_DEVICE_BEFORE_CHANGED" with the ids, as when the user changed the devices
// through the host's own controls (after an UpdateLogicalDevice, say).
ZTHOST_API void NotifyDevicesChanged(const std::vector<ZT_DWORD>& ids);

// A custom command as the device received it (LogDev_SendCustomCommand); refused ones are not
// recorded.
struct CustomCommandRecord {
    ZT_DWORD deviceId = 0;
    ZT_DWORD command = 0;
    bool simulated = false;
    std::wstring text;
    ZT_DWORD first = 0;
    ZT_DWORD second = 0;
};
ZTHOST_API std::vector<CustomCommandRecord> CustomCommands();  // in the order received
ZTHOST_API void ClearCustomCommands();

// Deferred completion of a physical device's commands (DMApi::PhysDev_...). Off and unsupported
// at the start.
ZTHOST_API void SetDeferredCompletionSupported(ZT_DWORD physicalId, bool supported);
// While held, the device's accepted commands stay pending; releasing lets them complete.
ZTHOST_API void HoldDeferredCompletion(ZT_DWORD physicalId, bool hold);
ZTHOST_API int PendingCommandCount(ZT_DWORD physicalId);

// ---- Grabber -----------------------------------------------------------------------------------
struct CameraSetup {
    bool hasCamera = true;  // false: the grabber has no active camera (camera queries give -6)
    int grabberIndex = 0;   // the active secondary grabber
    std::wstring name = L"Camera";
    bool confocal = false;
    int scannerTypeIndex = 0;      // "ScannerTypeIndex"
    int channelCount = 1;          // Interp_Rotate_Get answers channels 1 .. channelCount
    double rotationDegrees = 0.0;  // the software rotation (CameraAngleSWGet gives it in radians)
    std::array<double, 4> angleParams = {1.0, 0.0, 0.0, 1.0};  // mirrored when [0] and [3] differ
    std::int32_t sensorWidth = 2048;
    std::int32_t sensorHeight = 2048;
    double binningX = 1.0;
    double binningY = 1.0;
    std::int32_t bitDepth = 16;
    std::wstring formatName = L"Full sensor";
    bool roiOn = false;
    SZtRect roi;  // sensor pixels
};

// Replaces the camera: 0, -4 for a non-positive sensor size, binning or channel count, or an ROI
// that is on but empty or off the sensor. The host then has a grabber provider.
// The camera-update listeners hear CameraFormatChanged after every accepted SetCamera, and after
// an ROI change through the provider that changes the image (zt/zt_camera.h).
ZTHOST_API int SetCamera(const CameraSetup& camera);
// The camera as it is now (ROI changes made through the provider included).
ZTHOST_API CameraSetup Camera();
// The user turns the displayed image in the camera settings: the software rotation becomes
// degrees (clockwise) and the image is mirrored top to bottom or not. As SetCamera, then the
// camera-update listeners hear CameraAngleChanged and the modules get
// "ZT_MODULEEVENT_CAMERA_NEW_PARAMS" for the active camera. 0, -6 without a camera, or
// SetCamera's refusal.
ZTHOST_API int TurnCamera(double degrees, bool mirrored);
// Whether IZtHostContext::GetGrabberProvider answers; the camera is kept either way.
ZTHOST_API void SetGrabberPresent(bool present);

}  // namespace zthost
