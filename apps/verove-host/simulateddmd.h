// The simulated camera's view of the simulated SDK library's DMD.
#pragma once

#include <QString>

// Makes every camera frame show what the DMD of the SDK library in sdkFolder shows, while it
// exposes, when that library is the simulated one of this build; with any other library, or
// before the plug-in has loaded one, the DMD sends no light.
void ConnectSimulatedDmd(const QString& sdkFolder);
