// The host's side of several Verove units as one stimulation device: the further units it
// connects itself, and the aggregator it creates over them and drives.
#pragma once

#include <QString>
#include <cstdint>
#include <string>
#include <vector>

class IZtStimulationDevice;

// One unit's groups as the aggregator stored them in the settings file.
struct StoredUnitGroups {
    std::wstring device;     // the unit's device name
    std::uint32_t mask = 0;  // bit g: group g
};

// Thread-bound: the host's main thread, never during a stimulation call.
//
// The module's Connect export admits one device, so the host connects unit 0 through it and the
// further units itself, each through the device class the plug-in registers and the device's
// own Connect. The aggregator's Initialize answers -9 after a successful discovery; the host
// takes that as success, registers it and keeps one reference until Release.
class UnitAggregation {
public:
    UnitAggregation() = default;
    ~UnitAggregation();
    UnitAggregation(const UnitAggregation&) = delete;
    UnitAggregation& operator=(const UnitAggregation&) = delete;

    // Connects SDK units 1 .. units - 1, each as "CZtStimulationDeviceVerove_<unit>",
    // registered with the host's stimulation-device manager. False with detail naming the unit
    // that failed; the ones connected before stay until DisconnectFurther.
    bool ConnectFurther(int units, std::uint32_t brand, QString* detail);
    // Names of the further units connected, in unit order.
    const std::vector<std::wstring>& FurtherNames() const { return m_names; }
    // Disconnects and unregisters the further units; false when one refused (all are tried).
    bool DisconnectFurther(std::uint32_t brand);

    // Create's own failures, beside the aggregator's answers to Initialize.
    static constexpr int kNoAggregatorClass = -1;  // the class registry made no aggregator
    static constexpr int kNotRegistered = -10;     // the manager refused its name

    // The creation protocol over the registered devices of deviceClass: the aggregator made
    // through the class registry, initialised, registered as "CZtVeroveAggregator". 0 or -9
    // (success: -9 is Initialize's answer after a discovery that found devices), -13 without
    // devices, or one of the failures above.
    int Create(const wchar_t* deviceClass);
    // The registered aggregator (borrowed), or null.
    IZtStimulationDevice* Aggregator() const { return m_aggregator; }
    // Unregisters the aggregator and lets it go: it saves the group assignment into the first
    // device's settings file and detaches its devices.
    void Release();

    // The assignment the settings file in the host's settings folder holds; empty when none.
    static std::vector<StoredUnitGroups> StoredAssignment(const QString& settingsFile);

private:
    std::vector<std::wstring> m_names;
    std::vector<IZtStimulationDevice*> m_units;  // the creation reference of each
    IZtStimulationDevice* m_aggregator = nullptr;
};
