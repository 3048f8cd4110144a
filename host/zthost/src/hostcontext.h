// HostContext: the reference host's context handed to modules, owner of its managers.
#pragma once

#include "devicemanager.h"
#include "grabberprovider.h"
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
    // Each answers once the simulated microscope has configured it (zthost/microscope.h).
    IZtGrabberProvider* GetGrabberProvider() override {
        return m_grabber.IsPresent() ? &m_grabber : nullptr;
    }
    DMApi* GetDeviceManager() override { return m_devices.IsPresent() ? &m_devices : nullptr; }

    PluginManager& Plugins() { return m_pluginManager; }
    StimulationDeviceManager& StimulationDevices() { return m_stimulationDevices; }
    DeviceManager& Devices() { return m_devices; }
    GrabberProvider& Grabber() { return m_grabber; }

private:
    HostContext() = default;
    ~HostContext() = default;

    PluginManager m_pluginManager;
    StimulationDeviceManager m_stimulationDevices;
    DeviceManager m_devices{m_pluginManager};
    GrabberProvider m_grabber;
};
