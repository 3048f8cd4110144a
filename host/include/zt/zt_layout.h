// The host's layout manager: the GUI elements of the acquisition controls, by logical device.
#pragma once

#include "zt/zt_export.h"

// A GUI element of the host layout (opaque; borrowed from the layout manager).
struct SZtGUIElement;
using ZT_HGUIELEMENT = SZtGUIElement*;

// Thread-bound to the host's GUI thread.
class IZtLayoutManager {
public:
    // The element that shows the logical device's controls; null when it has none.
    virtual ZT_HGUIELEMENT GetLogDevGUIElement(ZT_DWORD logicalDeviceId) = 0;
    // Gives the element the name the user sees: 0; -4 for a null or unknown element or a null
    // name; -8 while the layout is locked against changes.
    virtual int SetUserName(ZT_HGUIELEMENT element, const wchar_t* name) = 0;

protected:
    virtual ~IZtLayoutManager() = default;
};

// The host's layout manager; null when the host runs without a GUI layout.
ZTHOST_API IZtLayoutManager* ZT_GetLayoutManager();
