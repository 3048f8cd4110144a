// The device's options from the host registry and its record in the settings file: read once
// after the host has connected its device list, applied, and saved when a stored setting changes.
#pragma once

class CZtStimulationDeviceVerove;

// Thread-bound to the host's main thread, except SaveSettings, which the driver also calls as it
// closes the device.
class CZtVeroveStartup {
public:
    // device is borrowed: it owns the start-up.
    explicit CZtVeroveStartup(CZtStimulationDeviceVerove& device) : m_device(device) {}
    CZtVeroveStartup(const CZtVeroveStartup&) = delete;
    CZtVeroveStartup& operator=(const CZtVeroveStartup&) = delete;

    // Reads the device's options from the host registry, writing the defaults that are missing.
    void UpdateRegistryOptions();
    bool GetHideLightPad() const { return m_hideLightPad; }
    int LoadSettings();
    void SaveSettings();
    void ValidateAndApplySettings();
    void CheckBitmapPatterns();

private:
    CZtStimulationDeviceVerove& m_device;
    // Until the file was read the record holds defaults, which must not overwrite it.
    bool m_settingsLoaded = false;
    // Registry options; the debug and dithering options live in the driver settings.
    bool m_hideLightPad = true;
};
