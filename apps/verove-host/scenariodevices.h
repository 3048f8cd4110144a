// Reading the devices of a scenario file and the light path's association with them.
#pragma once

#include <QJsonValue>

#include "scenario.h"
#include "scenariofields.h"

namespace scenariofields {

// "devices": each kind's list in file order, ids from 1; the TRAX ports and the galvo scanners.
void ReadDevices(Problems& p, const QJsonValue& value, ScenarioDevices* devices);
// "light": the source, switcher and shutters by key among devices, and each group's lines.
void ReadLight(Problems& p, const QJsonValue& value, const ScenarioDevices& devices,
               ScenarioLight* light);

}  // namespace scenariofields
