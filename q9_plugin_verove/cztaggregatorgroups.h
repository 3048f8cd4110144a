// How an aggregator divides the stimulation groups S1-S3 among its devices: the default
// assignment, the rule for groups stimulated in parallel, and experiments cut to one device.
#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "zt/zt_experiment.h"
#include "zt/zt_string.h"

// A device's groups: the keys are 0-based group indices (0 = S1); the values carry no meaning.
using ZtGroupAssignment = std::map<std::int32_t, std::int32_t>;

// Reentrant: plain functions of their arguments.
class CZtAggregatorGroups {
public:
    static constexpr std::int32_t kGroupCount = 3;

    // The number after the last "_" of a device's unique name; -1 without "_".
    static std::int32_t DeviceNumber(const wchar_t* uniqueName);
    // The default assignment of devices with these numbers, in the same order: the device at
    // position p of the sorted numbers owns the groups p, p + N, p + 2N, ... below 3.
    static std::vector<ZtGroupAssignment> DefaultAssignment(
        const std::vector<std::int32_t>& numbers);
    // Bit g for every group g of the assignment (groups above 63 are left out).
    static std::uint64_t GroupMask(const ZtGroupAssignment& assignment);

    // Whether groups (bit g: group g; only S1-S3 count) may run in parallel: no device owns more
    // than one of them.
    static bool MayRunInParallel(std::uint32_t groups, const std::vector<std::uint64_t>& devices);
    // "Can not stimulate groups S1, S3 on the same device in parallel." for those groups.
    static CZtStringW ConflictMessage(std::uint32_t groups);
    // The first group set of the experiment that breaks the rule, as its message; empty when the
    // experiment keeps to it.
    static CZtStringW FindConflict(const SZtExperiment& experiment,
                                   const std::vector<std::uint64_t>& devices);
    // Keeps, in every enabled stimulating phase and every parallel stimulation task, only the
    // groups of deviceMask.
    static void RestrictToDevice(SZtExperiment* experiment, std::uint64_t deviceMask);
};
