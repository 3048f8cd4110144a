// What the DMD driver needs from the stimulation device that owns it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "cztcalibrationdata.h"
#include "zt/zt_string.h"

class IZtCalibrationOwner;

// The part of the device's settings block that the driver reads and writes. The device keeps it
// for its whole life and hands the driver a pointer to it. The device writes the options on its
// main thread; the driver reads them on whatever thread uploads a pattern.
struct SZtVeroveDriverSettings {
    // Created by the driver when it first opens the device; destroyed with the device.
    std::unique_ptr<CZtCalibrationData> calibration;
    std::atomic<std::int32_t> bitDepth{1};  // 1, 4, 6 or 8
    // Copied into every pattern before it is rendered.
    std::atomic<bool> debugDeviceMemory{false};
    std::atomic<std::uint32_t> ditheringMethod{1};
    // Written by the driver at connect and after camera changes; read on the main thread.
    CZtStringW cameraName;
    CZtStringW firmwareVersion;
    CZtStringW controllerFirmwareVersion;
    CZtStringW sdkVersion;
};

// Implemented by the stimulation device. The driver calls these on the thread of the driver call
// that needs them (the camera-update slots run on the thread that changed the camera), never
// while it holds its expose or buffer lock, except GetDriverSettings and GetCalibrationOwner.
class IZtVeroveDriverOwner {
public:
    // The device's settings block; never null while the device lives.
    virtual SZtVeroveDriverSettings* GetDriverSettings() = 0;
    // Handed to the calibration data the driver creates for the device.
    virtual IZtCalibrationOwner* GetCalibrationOwner() = 0;
    // The device runs on the built-in simulated unit.
    virtual bool IsSimulated() = 0;
    // Set when a galvo XY scanner rules out the DMD; cleared at every open.
    virtual void SetInvalidHardware(bool invalid) = 0;
    // The number of patterns the device offers (built-in and user patterns).
    virtual int GetPatternCount() = 0;
    // The light-path switch ports the host gave the device (SetTraxPort); 0 when not connected.
    virtual void GetTraxPorts(std::uint32_t* portA, std::uint32_t* portB) = 0;
    // A driver event for the device's event sink. Codes: CameraRoiMatching (16), sent before the
    // driver matches the camera ROI to the DMD.
    virtual void OnDriverEvent(int code) = 0;
    // The exposed pattern or the exposing state changed.
    virtual void OnExposureStateChanged() = 0;
    // The driver is about to close the device: the device saves its settings file.
    virtual void SaveSettings() = 0;
    // The version texts in the settings block were read again.
    virtual void OnVersionsChanged() = 0;

    static constexpr int CameraRoiMatching = 16;

protected:
    ~IZtVeroveDriverOwner() = default;
};
