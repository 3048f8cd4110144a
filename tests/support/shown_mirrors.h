// The mirrors fake_atcore's DMD shows, as the simulated camera looks at them.
#pragma once

#include <algorithm>
#include <cstdint>

#include "fake_atcore_control.h"
#include "zthost/optics.h"

// The shown frame while the DMD exposes; no light otherwise. A mirror-frame source for
// zthost::SetMirrorFrameSource.
inline zthost::MirrorFrame ShownUnitMirrors(int unit) {
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame(unit);
    zthost::MirrorFrame frame;
    if (shown.exposing) {
        frame.width = shown.width;
        frame.height = shown.height;
        frame.levels = shown.levels;
    }
    return frame;
}

inline zthost::MirrorFrame ShownMirrors() {
    return ShownUnitMirrors(0);
}

// The same for one unit of several.
inline zthost::MirrorFrameSource UnitMirrors(int unit) {
    return [unit] { return ShownUnitMirrors(unit); };
}

// Whether every mirror of the shown frame is dark.
inline bool MirrorsDark() {
    const fake_atcore::MirrorFrame shown = fake_atcore::ShownFrame();
    return std::all_of(shown.levels.begin(), shown.levels.end(),
                       [](std::uint8_t level) { return level == 0; });
}
