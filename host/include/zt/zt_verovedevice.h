// The Verove stimulation device's own operations, as the host's aggregator and dialogs reach them.
#pragma once

#include <cstdint>

#include "zt/zt_stimulation.h"
#include "zt/zt_string.h"

// Thread-bound to the host's main thread, like the device it addresses.
//
// No interface name answers this: the device class declares these operations itself, after the
// 27 of IZtStimulationDevice, and the host reaches them by viewing the device's
// IZtStimulationDevice pointer as this class (slot order fixed, numbered on from slot 26). An
// operation of another interface that the device class overrides among its own also holds a slot
// here, as the C++ ABI gives it one; slots the host never calls keep their place as
// DeviceReserved<slot>.
class IZtVeroveDeviceOperations : public IZtStimulationDevice {
public:
    // Connects (true) or disconnects (false) the unit at the SDK's deviceIndex; true when the
    // connected state afterwards equals the request. A host that aggregates several units
    // connects the further ones itself: the module's Connect export admits one device.
    virtual bool Connect(bool connect, std::uint32_t brand, std::int32_t deviceIndex) = 0;  // 27
    virtual void DeviceReserved28() = 0;                                                    // 28
    virtual void SetUniqueName(const wchar_t* uniqueName) = 0;                              // 29
    virtual void SetGUIElementName(const wchar_t* guiName) = 0;                             // 30
    virtual CZtStringW GetGUIElementName() = 0;                                             // 31
    virtual void DeviceReserved32() = 0;        // 32 SetLineUsed
    virtual void DeviceReserved33() = 0;        // 33
    virtual void DeviceReserved34() = 0;        // 34
    virtual void DeviceReserved35() = 0;        // 35
    virtual void DeviceReserved36() = 0;        // 36
    virtual void DeviceReserved37() = 0;        // 37
    virtual void DeviceReserved38() = 0;        // 38
    virtual void DeviceReserved39() = 0;        // 39
    virtual void DeviceReserved40() = 0;        // 40
    virtual void DeviceReserved41() = 0;        // 41
    virtual void DeviceReserved42() = 0;        // 42
    virtual void DeviceReserved43() = 0;        // 43
    virtual void DeviceReserved44() = 0;        // 44
    virtual void DeviceReserved45() = 0;        // 45 StopShutterAndStimulation
    virtual void DeviceReserved46() = 0;        // 46
    virtual void DeviceReserved47() = 0;        // 47
    virtual void DeviceReserved48() = 0;        // 48
    virtual void DeviceReserved49() = 0;        // 49
    virtual void DeviceReserved50() = 0;        // 50
    virtual int OnAutocalibrationInit() = 0;    // 51
    virtual int OnManualCalibrationInit() = 0;  // 52
    virtual int AutocalibrationRun() = 0;       // 53
    // apply: store a good result (OK); false drops it (Cancel).
    virtual int OnAutocalibrationEnd(bool apply) = 0;  // 54
    // apply: store the validated result (OK); false drops it (Cancel).
    virtual int OnManualCalibrationEnd(bool apply) = 0;    // 55
    virtual int OnAutocalibrationValidationPhase() = 0;    // 56
    virtual int OnManualcalibrationValidationPhase() = 0;  // 57
    // Percent: 3 per square found.
    virtual double GetAutocalibrationProgress() = 0;  // 58
    virtual void DeviceReserved59() = 0;              // 59 IsSimulated
    virtual void DeviceReserved60() = 0;              // 60
    virtual void DeviceReserved61() = 0;              // 61
    virtual void DeviceReserved62() = 0;              // 62
    virtual void DeviceReserved63() = 0;              // 63
    virtual void DeviceReserved64() = 0;              // 64
    virtual void DeviceReserved65() = 0;              // 65
    virtual void DeviceReserved66() = 0;              // 66
    virtual void DeviceReserved67() = 0;              // 67
    virtual void DeviceReserved68() = 0;              // 68
    virtual void DeviceReserved69() = 0;              // 69
    // 1, 4, 6 or 8; force sets it even when the device has that depth already.
    virtual int SetBitDepth(std::int32_t depth, bool force) = 0;  // 70
    // Manual calibration: 0 when the pair joined the lists, else -9.
    virtual int AddManualCalibrationPair(double dmdX, double dmdY, double cameraX,
                                         double cameraY) = 0;  // 71
    // Lights the square of 2 halfSize mirrors centred on (x, y), clipped to the DMD.
    virtual int DisplayRectangleAtPos(std::int32_t x, std::int32_t y,
                                      std::int32_t halfSize) = 0;  // 72
};
