// Control side of the host's layout manager. Plug-ins never include this header.
#pragma once

#include <string>

#include "zt/zt_export.h"

namespace zthost {

// Gives the logical device a GUI element in the layout (once per id).
ZTHOST_API void AddLayoutElement(ZT_DWORD logicalDeviceId);
// The user name of the device's element; empty when it has none or no element.
ZTHOST_API std::wstring LayoutElementUserName(ZT_DWORD logicalDeviceId);
// A locked layout refuses every change.
ZTHOST_API void SetLayoutLocked(bool locked);

}  // namespace zthost
