// An aggregator for device tests: it records what its devices tell it.
#pragma once

#include <string>
#include <vector>

#include "iztstimulationdeviceaggregator.h"
#include "zt/zt_class.h"

// Thread-compatible: the devices call it on the test's thread.
class RecordingAggregator : public CZtClass, public IZtStimulationDeviceAggregator {
public:
    void* QueryInterface(const char* name) override {
        if (std::string(name) == "IZtStimulationDeviceAggregator") {
            AddRef();
            return static_cast<IZtStimulationDeviceAggregator*>(this);
        }
        return CZtClass::QueryInterface(name);
    }
    int Initialize(IZtStimulationDeviceManager*, const wchar_t*) override { return 0; }
    int ReleaseDevices() override { return 0; }
    int PropagateSettings(IZtInterface* sender, int reason) override {
        senders.push_back(sender);
        reasons.push_back(reason);
        return 0;
    }
    int StimulationEndMask(std::uint64_t) override { return 0; }
    int SetGroupFilter(std::uint64_t) override { return 0; }
    int ClearGroupFilter() override { return 0; }
    void AggregatorReserved6() override {}

    std::vector<IZtInterface*> senders;
    std::vector<int> reasons;
};
