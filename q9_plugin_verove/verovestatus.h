// The status codes the plug-in answers with. The numbers are the host's and the SDK owners': each
// operation's table fixes them, so one condition can have different numbers in different slots;
// the comments say where.
#pragma once

namespace VeroveStatus {

constexpr int kOk = 0;

// ---- The stimulation device's own slots, its extension and the driver (negative) ----
// An SDK or host call failed (the driver passes the proxy's failure up); StimulationBegin: group
// index above 2.
constexpr int kFailed = -1;
// A slot whose work is not part of this device; GetValue with an unknown index.
constexpr int kNotSupported = -2;
// An allocation failed.
constexpr int kNoMemory = -3;
// A null pointer or a value outside its range (bit depth, pattern mapping, run mode, mask).
// GetDisplayName answers a null name with this; the DMD-interface slots answer a null output
// with kDmdNullOutput or kDmdFailed instead.
constexpr int kInvalidArgument = -4;
// The driver lacks an object it needs (pattern, owner, buffer, calibration data); a calibration
// square shown without a driver or with no mirrors.
constexpr int kMissingPrerequisite = -6;
// The SDK proxy: a null output pointer, the driver's kMissingPrerequisite number. The proxy
// answers a null feature name or value string with kInvalidArgument, a device another component
// holds (Open) with kBusy, and an SDK error, an exception or a closed handle with kFailed.
constexpr int kNullOutput = -6;
// The SDK proxy: a handle below 1.
constexpr int kInvalidHandle = -7;
// Refused by the state of the system: a galvo XY scanner (CheckGalvoConflict), "Fast Timelapse"
// (the driver), a running illumination sequence (StimulationBegin). The driver's OpenDevice
// answers the same galvo XY refusal with kDmdInvalidHardware.
constexpr int kConflict = -8;
// Refused: no such pattern or group areas, no laser line for a group, a calibration in progress,
// an interface the caller does not offer; in the light path no light or launch to associate, a
// line setting not made, a shutter that refused.
constexpr int kRefused = -9;
// In use: a second StimulationBegin while one runs, an automatic calibration started while one is
// registered; the driver's OpenDevice for a device that is
// not a Verove III (Connect then logs nothing of its own: the device belongs to another holder).
constexpr int kBusy = -10;
// No driver (StimulationBegin, the configuration check, GetCurrentFormat) or, in the driver, no
// calibration data; the calibration data without owner or driver; a configuration record filled
// without a camera grabber.
constexpr int kNoDriver = -12;
// Nothing there: no controlling aggregator, no user patterns, no stored calibration.
constexpr int kNone = -13;

// ---- The DMD interface's slots (positive) ----
// The user cancelled a dialog (StimulationAreaAppendAsPattern's save dialog).
constexpr int kCancelled = 1;
// No pattern with the identifier (GetPatternName, GetPatternAvailable).
constexpr int kDmdNoPattern = 3;
// A null output pointer in GetDeviceID, SaveKeys, GetPatternCount, GetPatternName,
// GetActivePatternId, GetPatternIdByName, GetPatternIdByIndex, IsCalibrated and the
// illumination-sequence state; the shutter, light and switcher queries, ParameterByCode and
// GetPatternAvailable answer a null output with kDmdFailed. The driver's OpenDevice answers a galvo
// XY refusal with the same 14.
constexpr int kDmdNullOutput = 14;
constexpr int kDmdInvalidHardware = 14;
// The operation could not be done: no driver, no GUI element, a refused upload or projection, an
// index outside the shutter chain; also a null output in the slots named above.
constexpr int kDmdFailed = 21;
// ParameterByCode with an unknown code; the reserved slot 56.
constexpr int kDmdUnknownCode = 22;

}  // namespace VeroveStatus
