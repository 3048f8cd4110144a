// Host modules, module events and the host context handed to a module.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"

class IZtModuleQ9;
class IZtPluginManager;
class IZtStimulationDeviceManager;
class IZtGrabberProvider;
class DMApi;

// What a module reaches the host's services through.
class IZtHostContext {
public:
    virtual IZtPluginManager* GetPluginManager() = 0;
    virtual IZtStimulationDeviceManager* GetStimulationDeviceManager() = 0;
    virtual IZtGrabberProvider* GetGrabberProvider() = 0;  // null when the host has no grabber
    virtual DMApi* GetDeviceManager() = 0;                 // null when the host has none

protected:
    virtual ~IZtHostContext() = default;
};

// A module of the host application: created by class name, given the host context, then asked
// to register for the module events it wants.
class IZtModuleQ9 : public virtual IZtInterface {
public:
    virtual int SetHostContext(IZtHostContext* hostContext) = 0;  // 0
    virtual void Reserved01() = 0;                                // 1
    virtual int Reserved02() = 0;                                 // 2
    virtual int Reserved03() = 0;                                 // 3
    virtual int Reserved04() = 0;                                 // 4
    virtual int RegisterModuleEvents() = 0;                       // 5
    virtual int Reserved06() = 0;                                 // 6
    virtual int Reserved07() = 0;                                 // 7
    virtual int Reserved08() = 0;                                 // 8
    virtual int Reserved09() = 0;                                 // 9
    virtual int Reserved10() = 0;                                 // 10
    // 11: param and list are the event's own data (a count, a flag, a handle, an array).
    virtual int OnModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                              void* list) = 0;
    virtual void Reserved12() = 0;  // 12
    virtual void Reserved13() = 0;  // 13
    virtual void Reserved14() = 0;  // 14
};

// The plug-in manager: routes named module events to the modules registered for them.
// Modules are called in ascending priority value, equal priorities in registration order; a
// module that sets *handled ends the delivery.
class IZtPluginManager {
public:
    // 0, -4 for a null name or module, -10 when the module is already registered for the event.
    virtual int RegisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module,
                                    int priority) = 0;
    // 0, -4 for null arguments, -5 when the module is not registered for the event.
    virtual int UnregisterModuleEvent(const wchar_t* eventName, IZtModuleQ9* module) = 0;
    // Delivers an event; returns the number of modules that received it.
    virtual int SendModuleEvent(const wchar_t* eventName, std::intptr_t param, bool* handled,
                                void* list) = 0;

protected:
    virtual ~IZtPluginManager() = default;
};
