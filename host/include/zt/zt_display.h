// The host's picture display.
#pragma once

#include "zt/zt_export.h"

// Asks the display of the current document to redraw its picture; flags say what changed (4: the
// overlay of a device).
ZTHOST_API void Q9_Display_PictureInc(int flags);
