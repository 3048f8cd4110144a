// The aggregator's own interface: its devices with their groups, and its display name.
#pragma once

#include <map>

#include "cztaggregatorgroups.h"
#include "zt/zt_class.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_string.h"

// The aggregated devices, ordered by object identity, each with its groups. The map holds one
// counted reference to each device.
using ZtAggregatedDevices = std::map<IZtStimulationDevice*, ZtGroupAssignment>;

// Same threading as the aggregator: the host's main thread, not during stimulation calls.
class IZtVeroveAggregator : public virtual IZtInterface {
public:
    // The devices and their groups; a caller may change the groups, not the devices.
    virtual ZtAggregatedDevices* GetDevices() = 0;
    virtual int GetDisplayName(CZtStringW* name) = 0;
};
