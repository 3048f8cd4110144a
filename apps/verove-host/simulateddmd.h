// The simulated SDK library's DMD as verove-host sees it: the mirrors it shows and when it was told
// to show them.
#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "zthost/optics.h"

// Thread-safe: every call looks the library up afresh; only OfferUnits keeps it loaded.
//
// The SDK library in the folder is asked only once the plug-in's SDK loader has loaded it, and
// only when it is the simulated one of this build (it has the simulated library's control
// functions); with any other library every answer is "nothing known".
class SimulatedDmd {
public:
    explicit SimulatedDmd(const QString& sdkFolder);

    // Loads the library ahead of the plug-in and makes it offer units DMDs (units 0 .. units - 1),
    // kept loaded while this object or a copy lives. False when the folder's library is not
    // the simulated one.
    bool OfferUnits(int units);
    // Makes every camera frame show what the DMD shows while it exposes; dark otherwise. Units
    // 1, 2, ... project through furtherMaps (mirrors to sensor pixels, as OpticsSetup's map).
    void ConnectCamera(const std::vector<std::array<double, 6>>& furtherMaps = {}) const;
    // The frame unit shows now, with levels only while it exposes; false when nothing is known.
    bool ShownFrame(zthost::MirrorFrame* frame, std::uint64_t* counter, int unit = 0) const;
    // When the latest "Expose" command entered the SDK library, on the host's time counter
    // (ZT_GetTimeCounter); -1 when nothing is known.
    double LastExposeTime() const;

private:
    std::string m_library;
    std::shared_ptr<void> m_held;  // the library, loaded ahead of the plug-in by OfferUnits
};
