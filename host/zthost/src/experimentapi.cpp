// CZtExperimentAPI: finding an experiment of a type among nested experiments.
#include "zt/zt_experiment.h"

const SZtExperiment* CZtExperimentAPI::FindExperiment(const SZtExperiment* experiment,
                                                      std::uint32_t type) {
    if (!experiment) {
        return nullptr;
    }
    if (experiment->type == type) {
        return experiment;
    }
    for (const SZtExperiment& child : experiment->children) {
        if (const SZtExperiment* found = FindExperiment(&child, type)) {
            return found;
        }
    }
    return nullptr;
}

SZtExperiment* CZtExperimentAPI::FindExperiment(SZtExperiment* experiment, std::uint32_t type) {
    return const_cast<SZtExperiment*>(
        FindExperiment(static_cast<const SZtExperiment*>(experiment), type));
}
