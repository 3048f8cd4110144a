// The interface an aggregator over several Verove devices offers to the module and the devices.
#pragma once

#include <cstdint>

#include "zt/zt_class.h"

class IZtStimulationDeviceManager;

// Reasons a device gives when it tells its aggregator about a change of its own.
constexpr int ZT_AGGREGATOR_SWITCHER_SELECTION = 1;
constexpr int ZT_AGGREGATOR_BIT_DEPTH = 8;

// Implementations say their own threading; the devices call it on the host's main thread.
// Slot order fixed.
class IZtStimulationDeviceAggregator : public virtual IZtInterface {
public:
    virtual int Initialize(IZtStimulationDeviceManager* manager,
                           const wchar_t* deviceClassName) = 0;  // 0
    virtual int ReleaseDevices() = 0;                            // 1
    // Every aggregated device but sender takes over sender's setting; reason 4 does nothing.
    virtual int PropagateSettings(IZtInterface* sender, int reason) = 0;  // 2
    virtual int StimulationEndMask(std::uint64_t groupMask) = 0;          // 3
    virtual int SetGroupFilter(std::uint64_t groupMask) = 0;              // 4
    virtual int ClearGroupFilter() = 0;                                   // 5
    virtual void AggregatorReserved6() = 0;                               // 6
};
