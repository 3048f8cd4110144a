// Control side of the host's layout manager. Plug-ins never include this header.
#pragma once

#include <string>
#include <vector>

#include "zt/zt_export.h"

namespace zthost {

// Gives the logical device a GUI element at the end of the named layout (once per id).
ZTHOST_API void AddLayoutElement(ZT_DWORD logicalDeviceId,
                                 const std::wstring& layout = L"AcquisitionControls");
// The same for a physical device: one element for all its logical devices.
ZTHOST_API void AddPhysicalLayoutElement(ZT_DWORD physicalDeviceId,
                                         const std::wstring& layout = L"AcquisitionControls");
// The elements the layout shows, in order: "L<id>" for a logical device's, "P<id>" for a
// physical device's.
ZTHOST_API std::vector<std::wstring> LayoutContents(const std::wstring& layout);
// The user name of the device's element; empty when it has none or no element.
ZTHOST_API std::wstring LayoutElementUserName(ZT_DWORD logicalDeviceId);
// A locked layout refuses every change.
ZTHOST_API void SetLayoutLocked(bool locked);

}  // namespace zthost
