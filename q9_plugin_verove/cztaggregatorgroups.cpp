// How an aggregator divides the stimulation groups among its devices.
#include "cztaggregatorgroups.h"

#include <algorithm>
#include <bitset>
#include <cwchar>

#include "zt/zt_util.h"

namespace {

// The group set of a stimulation word, bit g for group g.
std::uint32_t WordGroups(std::uint32_t word) {
    return (word & ZT_STIMULATION_GROUP_BITS) >> ZT_STIMULATION_GROUP_SHIFT;
}

bool Stimulates(std::uint32_t word) {
    return (word & ZT_STIMULATION_ACTIVE_BITS) != 0;
}

// A plain ND acquisition that stimulates on its own terms is the host's business alone.
bool StimulatesOnItsOwn(const SZtExperiment& experiment) {
    const SZtExperiment* plain = CZtExperimentAPI::FindExperiment(&experiment, 1);
    return plain && (plain->flags & ZT_STIMULATION_ACTIVE_BITS) != 0;
}

std::uint32_t Restricted(std::uint32_t word, std::uint64_t deviceMask) {
    const std::uint32_t keep =
        static_cast<std::uint32_t>(deviceMask << ZT_STIMULATION_GROUP_SHIFT) |
        ~ZT_STIMULATION_GROUP_BITS;
    return word & keep;
}

}  // namespace

std::int32_t CZtAggregatorGroups::DeviceNumber(const wchar_t* uniqueName) {
    const wchar_t* underscore = uniqueName ? std::wcsrchr(uniqueName, L'_') : nullptr;
    if (!underscore) {
        return -1;
    }
    return static_cast<std::int32_t>(std::wcstol(underscore + 1, nullptr, 10));
}

std::vector<ZtGroupAssignment> CZtAggregatorGroups::DefaultAssignment(
    const std::vector<std::int32_t>& numbers) {
    std::vector<std::int32_t> sorted = numbers;
    std::sort(sorted.begin(), sorted.end());
    const auto count = static_cast<std::int32_t>(sorted.size());
    std::vector<ZtGroupAssignment> result;
    for (std::int32_t number : numbers) {
        const auto position = static_cast<std::int32_t>(
            std::find(sorted.begin(), sorted.end(), number) - sorted.begin());
        ZtGroupAssignment groups;
        for (std::int32_t group = position; group < kGroupCount; group += count) {
            groups[group] = 0;
        }
        result.push_back(groups);
    }
    return result;
}

std::uint64_t CZtAggregatorGroups::GroupMask(const ZtGroupAssignment& assignment) {
    std::uint64_t mask = 0;
    for (const auto& [group, unused] : assignment) {
        if (group >= 0 && group < 64) {
            mask |= std::uint64_t{1} << group;
        }
    }
    return mask;
}

bool CZtAggregatorGroups::MayRunInParallel(std::uint32_t groups,
                                           const std::vector<std::uint64_t>& devices) {
    return std::all_of(devices.begin(), devices.end(), [groups](std::uint64_t device) {
        return std::bitset<3>(groups & device & 0x7u).count() <= 1;
    });
}

CZtStringW CZtAggregatorGroups::ConflictMessage(std::uint32_t groups) {
    CZtStringW list;
    for (int bit = 0; bit < kGroupCount; ++bit) {
        if (groups & (1u << bit)) {
            list.AppendFormat(L"S%i, ", bit + 1);
        }
    }
    if (list.GetLength() >= 3) {
        list.Str().resize(list.Str().size() - 2);
    }
    CZtStringW message;
    message.Format(ZT_GetTranslation(L"Can not stimulate groups %s on the same device in parallel.")
                       .GetString(),
                   list.GetString());
    return message;
}

CZtStringW CZtAggregatorGroups::FindConflict(const SZtExperiment& experiment,
                                             const std::vector<std::uint64_t>& devices) {
    if (StimulatesOnItsOwn(experiment)) {
        return {};
    }
    const SZtExperiment* multi = CZtExperimentAPI::FindExperiment(&experiment, 8);
    if (!multi) {
        return {};
    }
    std::vector<std::uint32_t> sets;
    for (std::size_t i = 0; i < multi->phases.size(); ++i) {
        const std::uint32_t word = multi->phases[i].stimulation;
        if (multi->IsPhaseEnabled(i) && Stimulates(word)) {
            sets.push_back(WordGroups(word));
        }
    }
    for (const SZtParallelExperiment& task : multi->parallelTasks) {
        if (task.kind == SZtParallelExperiment::ID_TASK_STIMULATION) {
            sets.push_back(WordGroups(task.stimulation));
        }
    }
    for (std::uint32_t groups : sets) {
        if (!MayRunInParallel(groups, devices)) {
            return ConflictMessage(groups);
        }
    }
    return {};
}

void CZtAggregatorGroups::RestrictToDevice(SZtExperiment* experiment, std::uint64_t deviceMask) {
    if (!experiment || StimulatesOnItsOwn(*experiment)) {
        return;
    }
    SZtExperiment* multi = CZtExperimentAPI::FindExperiment(experiment, 8);
    if (!multi) {
        return;
    }
    for (std::size_t i = 0; i < multi->phases.size(); ++i) {
        std::uint32_t& word = multi->phases[i].stimulation;
        if (multi->IsPhaseEnabled(i) && Stimulates(word)) {
            word = Restricted(word, deviceMask);
        }
    }
    for (SZtParallelExperiment& task : multi->parallelTasks) {
        if (task.kind == SZtParallelExperiment::ID_TASK_STIMULATION) {
            task.stimulation = Restricted(task.stimulation, deviceMask);
        }
    }
}
