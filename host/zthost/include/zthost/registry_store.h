// Control side of the host's registry store: where it lives. Plug-ins never include this header.
#pragma once

#include <string>

#include "zt/zt_export.h"

namespace zthost {

// The INI file that holds the registry (created when a key is first created). Until set,
// "registry.ini" in the application's configuration folder (QStandardPaths::AppConfigLocation).
ZTHOST_API void SetRegistryLocation(const std::wstring& iniFile);
ZTHOST_API std::wstring RegistryLocation();

}  // namespace zthost
