// The aggregator's group assignment in the first device's settings file.
#pragma once

#include <utility>
#include <vector>

#include "cztaggregatorgroups.h"
#include "zt/zt_string.h"

// One device's entry: its unique name and its groups.
using ZtDeviceAssignment = std::pair<CZtStringW, ZtGroupAssignment>;

// Thread-compatible: one aggregator uses it at a time.
//
// The assignment lives under "Verove" / "VeroveAggregator" / "ROIAssignment", one "DeviceToROI"
// level per device, next to the devices' own records, which saving keeps.
class CZtAggregatorAssignmentFile {
public:
    // Writes devices (in their order) into fileName (with ".bin"); every other content of the
    // file stays. The host's save status.
    static int Save(const wchar_t* fileName, const std::vector<ZtDeviceAssignment>& devices);
    // Replaces the groups of every device of devices that the file names; devices it does not
    // name keep theirs, names of no device are skipped. 0; -5 when the file or a level is
    // missing; -9 for another file version. devices stays as it was on a failure.
    static int Load(const wchar_t* fileName, std::vector<ZtDeviceAssignment>* devices);
};
