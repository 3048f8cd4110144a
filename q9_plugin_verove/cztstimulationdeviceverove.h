// The stimulation device the host sees as one Verove: the operations the plug-in shell calls.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"
#include "zt/zt_stimulation.h"

class QWidget;

// Thread-bound to the host's main thread, except where an operation says otherwise.
//
// The device's own operations, after the 27 of IZtStimulationDevice. The plug-in shell reaches a
// registered device through the stimulation-device manager and calls these.
class CZtStimulationDeviceVerove : public IZtStimulationDevice, public virtual CZtClass {
public:
    // Connects (true) or disconnects (false) the device; true when the connected state afterwards
    // equals the request. brand 0 selects the Andor names, others the Velmar names.
    virtual bool Connect(bool connect, std::uint32_t brand, std::int32_t deviceIndex) = 0;
    virtual bool OnPortActivated(bool activated, bool show) = 0;
    virtual void SetUniqueName(const wchar_t* uniqueName) = 0;
    virtual void SetGUIElementName(const wchar_t* guiName) = 0;
    virtual int SetTraxPort(std::uint32_t portA, std::uint32_t portB) = 0;
    virtual int GetAssociatedDeviceInfo(std::uint32_t* lightId, std::uint32_t* switcherId,
                                        std::uint32_t* switcherPort) = 0;
    virtual int InitializeDeviceState() = 0;
    virtual int OnNDExperiment(std::int32_t phase) = 0;
    virtual int LoadSettings() = 0;
    virtual int ShowConfigurationDialog(QWidget* parent) = 0;

    // Host events; the delayed GUI work is queued by the device itself.
    virtual int HandleDMRefresh() = 0;
    virtual int HandleCameraNewParams(bool selected) = 0;
    virtual int HandleDeviceChanged(const std::uint32_t* ids, int count) = 0;

    // Set by a connect attempt that a galvo XY scanner in the configuration refused.
    virtual bool GetGalvoConflict() = 0;

    void* QueryInterface(const char* interfaceName) override;

protected:
    ~CZtStimulationDeviceVerove() override = default;
};
