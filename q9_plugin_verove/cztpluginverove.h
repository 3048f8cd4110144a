// The plug-in shell: module objects, host-event routing and the process-wide plug-in state.
#pragma once

#include <cstdint>
#include <string>

#include "zt/zt_class.h"
#include "zt/zt_module.h"
#include "zt/zt_stimulation.h"

class CZtStimulationDeviceVerove;

// Thread-bound: the host calls modules on its main thread only.
//
// The module of the real device. Its event handler walks the devices registered as
// "CZtStimulationDeviceVerove_%i", falling back to "CZtStimulationDeviceVeroveSim_%i" per index.
class CZtModuleVerove : public IZtModuleQ9, public virtual CZtClass {
public:
    CZtModuleVerove() = default;

    void* QueryInterface(const char* interfaceName) override;

    int SetHostContext(IZtHostContext* hostContext) override;
    void Reserved01() override {}
    int Reserved02() override { return 0; }
    int Reserved03() override { return 0; }
    int Reserved04() override { return 0; }
    int RegisterModuleEvents() override;
    int Reserved06() override { return 0; }
    int Reserved07() override { return 0; }
    int Reserved08() override { return 0; }
    int Reserved09() override { return 0; }
    int Reserved10() override { return 0; }
    int OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                      void* list) override;
    void Reserved12() override {}
    void Reserved13() override {}
    void Reserved14() override {}

protected:
    ~CZtModuleVerove() override = default;
    // Delivers an event to every Verove device the module walks.
    static void RouteToDevices(const wchar_t* eventName, std::intptr_t param, bool* handled,
                               void* list, bool simulatorModule);
    // Delivers one event to one device; simulatorModule drops the experiment events.
    static void RouteEvent(CZtStimulationDeviceVerove* device, const wchar_t* eventName,
                           std::intptr_t param, bool* handled, void* list, bool simulatorModule);
};

// Thread-bound. The simulator's module: routes events only to "CZtStimulationDeviceVeroveSim_%i".
class CZtModuleVeroveSim : public CZtModuleVerove {
public:
    int OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                      void* list) override;
    virtual const wchar_t* GetModuleName() { return L"VeroveSim"; }

protected:
    ~CZtModuleVeroveSim() override = default;
};

// Process-wide state of the library; one instance, used on the host's main thread only.
struct SZtVerovePluginState {
    void* moduleHandle = nullptr;               // the library's own handle (process attach)
    IZtHostContext* hostContext = nullptr;      // borrowed, from module slot 0
    CZtModuleVerove* moduleInstance = nullptr;  // borrowed: the module that received slot 0
    std::int32_t connectedInstances = 0;
    IZtStimulationDevice* aggregator = nullptr;  // one counted reference while set
};

SZtVerovePluginState& VerovePluginState();

// The library's own file path, as the host's device record wants it.
std::wstring VeroveLibraryPath();
// A unique name in the ANSI code page, as the stimulation-device manager takes it.
std::string VeroveAnsiName(const std::wstring& name);

// The registered device of that name when it is a Verove device (borrowed), or null.
CZtStimulationDeviceVerove* VeroveFindDevice(IZtStimulationDeviceManager* manager,
                                             const wchar_t* uniqueName);

// The smallest device number not yet used by devices named "<className>_<n>".
int VeroveFirstFreeIndex(IZtStimulationDeviceManager* manager, const wchar_t* className);
