// Control side of the host's settings files: where they live. Plug-ins never include this header.
#pragma once

#include <string>

#include "zt/zt_export.h"

namespace zthost {

// The folder of every settings file ("<name>.bin"); created when a file is first saved. Until
// set, the application's configuration folder (QStandardPaths::AppConfigLocation).
ZTHOST_API void SetSettingsLocation(const std::wstring& folder);
ZTHOST_API std::wstring SettingsLocation();

}  // namespace zthost
