// Galvo XY scanners rule out the DMD: the one scan of the device manager for them, and the one
// box that tells the user.
#pragma once

#include "zt/zt_string.h"

class DMApi;

// What the device manager reports: a galvo XY scanner, a logical device with the galvo XY
// capability, or neither.
enum class EZtVeroveGalvo { None, Scanner, Capability };

// devices is borrowed and may be null (no galvo then).
EZtVeroveGalvo VeroveFindGalvo(DMApi* devices);

// Shows the "Invalid HW Configuration" box with the translated text, once per process: the flag is
// the host's, shared by the device and the driver. It is set before the box opens, because the
// box's event loop may bring another device here.
void VeroveShowGalvoRefusal(const CZtStringW& text);
