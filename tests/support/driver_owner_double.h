// A stimulation device for driver tests: owns the settings block and records what the driver
// tells it; its calibration side answers from the reference host and the driver.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "cztcalibrationowner.h"
#include "cztverovedriver.h"
#include "cztverovedriverowner.h"
#include "zt/zt_module.h"
#include "zthost/zthost.h"

// Thread-safe: the driver calls it from the camera-update and SDK threads too.
class DriverOwnerDouble : public IZtVeroveDriverOwner, public IZtCalibrationOwner {
public:
    // ---- IZtVeroveDriverOwner ----
    SZtVeroveDriverSettings* GetDriverSettings() override { return &settings; }
    IZtCalibrationOwner* GetCalibrationOwner() override { return this; }
    bool IsSimulated() override { return simulated; }
    void SetInvalidHardware(bool invalid) override { invalidHardware = invalid; }
    int GetPatternCount() override { return patternCount; }
    void GetTraxPorts(std::uint32_t* portA, std::uint32_t* portB) override {
        *portA = traxPortA;
        *portB = traxPortB;
    }
    void OnDriverEvent(int code) override {
        std::lock_guard lock(m_mutex);
        m_events.push_back(code);
    }
    void OnExposureStateChanged() override { ++stateChanges; }
    void SaveSettings() override { ++saves; }
    void OnVersionsChanged() override { ++versionReads; }

    // ---- IZtCalibrationOwner ----
    CZtStringW GetUniqueName() override { return L"CZtStimulationDeviceVerove_0"; }
    CZtStringW GetSettingsFileName() override { return L"VeroveDriverTest.bin"; }
    IZtGrabberProvider* GetGrabberProvider() override {
        return zthost::HostContext()->GetGrabberProvider();
    }
    bool HasDriver() override { return driver.load() != nullptr; }
    int GetCurrentFormat(SZtGrabberFormatDesc* format) override {
        CZtVeroveDriver* d = driver.load();
        return d ? d->GetCurrentFormat(format) : -12;
    }
    void SetCalibrated(EZtCalibrationState) override {}

    std::vector<int> Events() {
        std::lock_guard lock(m_mutex);
        return m_events;
    }

    SZtVeroveDriverSettings settings;
    std::atomic<CZtVeroveDriver*> driver{nullptr};
    std::atomic<bool> simulated{false};
    std::atomic<bool> invalidHardware{false};
    std::atomic<int> patternCount{6};
    std::atomic<std::uint32_t> traxPortA{0};
    std::atomic<std::uint32_t> traxPortB{0};
    std::atomic<int> stateChanges{0};
    std::atomic<int> saves{0};
    std::atomic<int> versionReads{0};

private:
    std::mutex m_mutex;
    std::vector<int> m_events;  // m_mutex
};
