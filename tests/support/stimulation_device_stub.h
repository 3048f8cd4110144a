// A stimulation device for tests that need one to answer the host's interface: a unique name,
// neutral answers everywhere else.
#pragma once

#include <string>

#include "zt/zt_stimulation.h"

// Thread-compatible. Over the interface itself the reference counting comes from the class the
// stub is mixed into; over a device class the stub keeps that class's own answers out of the way.
template <class Base = IZtStimulationDevice>
class StimulationDeviceStub : public Base {
public:
    explicit StimulationDeviceStub(std::wstring name = {}) : m_name(std::move(name)) {}

    CZtStringW GetUniqueName() override { return m_name; }
    bool IsConnected() override { return true; }
    bool IsVisible() override { return true; }
    int SetActive(bool) override { return 0; }
    bool HasCapability(std::uint32_t) override { return false; }
    bool HasCapabilityNow(std::uint32_t) override { return false; }
    int GetDisplayName(CZtStringW*, int) override { return 0; }
    int Reserved07() override { return 0; }
    double Reserved08() override { return 0; }
    int Reserved09() override { return 0; }
    double Reserved10() override { return 0; }
    int Reserved11() override { return 0; }
    int StimulationAreaGetCount() override { return 0; }
    int StimulationAreaSet(const CZtRoiObjectList*, const SZtRLEPicBuf*, const SZtScanAreaDesc*,
                           const SZtGrabberFormatDesc*, const SZtRect*) override {
        return 0;
    }
    int StimulationAreaGet(CZtRoiObjectList*, SZtRLEPicBuf*, SZtScanAreaDesc*,
                           SZtGrabberFormatDesc*, SZtRect*, std::uint64_t*) override {
        return 0;
    }
    int StimulationAreaAppendAsPattern() override { return 0; }
    int StimulationAreaUpload() override { return 0; }
    bool StimulationAreaIsUpToDate() override { return true; }
    int StimulationReady() override { return 0; }
    bool StimulationIsReady() override { return true; }
    int StimulationBegin(const SZtStimulationRequest*) override { return 0; }
    int StimulationEnd(double*, double*, int) override { return 0; }
    int StimulationFire(double*, double*) override { return 0; }
    int StimulationAbort() override { return 0; }
    int StimulationROIPrepare() override { return 0; }
    int StimulationValidate(const SZtExperiment*, CZtStringW*) override { return 0; }
    IZtLaserPowerControl* GetLaserPowerControl() override { return nullptr; }

private:
    std::wstring m_name;
};
