// HostContext: the reference host's context handed to modules, owner of its managers.
#pragma once

#include "pluginmanager.h"
#include "stimulationdevicemanager.h"
#include "zt/zt_module.h"

// Thread-safe (the managers are).
class HostContext : public IZtHostContext {
public:
    static HostContext& Instance();

    IZtPluginManager* GetPluginManager() override { return &m_pluginManager; }
    IZtStimulationDeviceManager* GetStimulationDeviceManager() override {
        return &m_stimulationDevices;
    }
    IZtGrabberProvider* GetGrabberProvider() override { return nullptr; }
    DMApi* GetDeviceManager() override { return nullptr; }

    PluginManager& Plugins() { return m_pluginManager; }
    StimulationDeviceManager& StimulationDevices() { return m_stimulationDevices; }

private:
    HostContext() = default;
    ~HostContext() = default;

    PluginManager m_pluginManager;
    StimulationDeviceManager m_stimulationDevices;
};
