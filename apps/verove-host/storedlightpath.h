// The light path a user's earlier session left in the device's settings file, and the check that
// the started device found it through the host's device manager.
#pragma once

#include <QString>
#include <string>
#include <vector>

#include "scenario.h"

class IZtStimulationDevice;

// Writes the scenario's light, switcher, shutter chain and group settings under each unit's name
// into the settings file, as the device saves them. An exit code; detail gets one line.
int WriteLightPathSettings(const Scenario& scenario, const std::vector<std::wstring>& units,
                           const QString& settingsFile, QString* detail);
// Compares the ids the started device reports and its group settings with the scenario's.
int CheckLightPathAssociation(const ScenarioLight& light, IZtStimulationDevice* device,
                              QString* detail);
