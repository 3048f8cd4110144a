// The simulated SDK library's DMD as verove-host sees it: the mirrors it shows and when it was told
// to show them.
#pragma once

#include <QString>
#include <cstdint>
#include <string>

#include "zthost/optics.h"

// Thread-safe: every call looks the library up afresh and keeps nothing of it.
//
// The SDK library in the folder is asked only once the plug-in's SDK loader has loaded it, and
// only when it is the simulated one of this build (it has the simulated library's control
// functions); with any other library every answer is "nothing known".
class SimulatedDmd {
public:
    explicit SimulatedDmd(const QString& sdkFolder);

    // Makes every camera frame show what the DMD shows while it exposes; dark otherwise.
    void ConnectCamera() const;
    // The frame shown now, with levels only while it exposes; false when nothing is known.
    bool ShownFrame(zthost::MirrorFrame* frame, std::uint64_t* counter) const;
    // When the latest "Expose" command entered the SDK library, on the host's time counter
    // (ZT_GetTimeCounter); -1 when nothing is known.
    double LastExposeTime() const;

private:
    std::string m_library;
};
