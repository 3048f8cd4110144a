// The host's layout manager: the GUI elements of the acquisition controls, by logical device.
#pragma once

#include "zt/zt_export.h"
#include "zt/zt_string.h"

class CZtQtGUIControlElement;

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
    // The element that shows the controls of all the physical device's logical devices; null when
    // it has none.
    virtual ZT_HGUIELEMENT GetPhysDevGUIElement(ZT_DWORD physicalDeviceId) = 0;
    // Where the element stands: its layout's name and its index there, from 0. 0; -4 for a null
    // or unknown element or a null out; -5 while the element is in no layout.
    virtual int GetElementPlace(ZT_HGUIELEMENT element, CZtStringW* layoutName, int* position) = 0;
    // Takes the element out of its layout; it stays valid, to be put back. 0; -4 as above; -5 when
    // it is in no layout; -8 while the layout is locked.
    virtual int RemoveElement(ZT_HGUIELEMENT element) = 0;
    // Puts an element that is in no layout into the named one at the index (an index beyond the
    // end puts it last). 0; -4 as above, or a null name or a negative index; -8 while locked; -10
    // when the element is in a layout already.
    virtual int InsertElement(ZT_HGUIELEMENT element, const wchar_t* layoutName, int position) = 0;

    // ---- Control elements shown in tab containers (zt/zt_guielement.h) ----
    // Shows the element as the user's saved layout has it: back in its tab container at the index
    // it had, visible. 0; -4 for a null element or one that lies in no tab container; -8 while the
    // layout is locked.
    virtual int ShowElementAsSaved(CZtQtGUIControlElement* element) = 0;
    // Makes the element the active one, its container's current tab. 0; -4 as above; -8 while
    // locked.
    virtual int SetActiveElement(CZtQtGUIControlElement* element) = 0;
    // The active element while its window is visible; null otherwise.
    virtual CZtQtGUIControlElement* GetActiveVisibleElement() = 0;
    // Suspends (true) or resumes (false) layout changes: while suspended, tab containers neither
    // repaint nor lay out, so that several changes appear as one. Returns the previous state.
    virtual bool SuspendLayoutChanges(bool suspend) = 0;

protected:
    virtual ~IZtLayoutManager() = default;
};

// The host's layout manager; null when the host runs without a GUI layout.
ZTHOST_API IZtLayoutManager* ZT_GetLayoutManager();
