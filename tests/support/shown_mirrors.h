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

// The lit mirrors of a shown frame as a box (right and bottom exclusive) and their number; all -1
// when none is lit.
struct SLitBox {
    int left = -1;
    int top = -1;
    int right = -1;
    int bottom = -1;
    int count = 0;
    bool operator==(const SLitBox& o) const {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom &&
               count == o.count;
    }
};

inline SLitBox LitMirrors(const fake_atcore::MirrorFrame& frame = fake_atcore::ShownFrame()) {
    SLitBox box;
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            if (frame.levels[static_cast<size_t>(y * frame.width + x)] == 0) {
                continue;
            }
            if (box.count++ == 0) {
                box = {x, y, x + 1, y + 1, 1};
            }
            box.left = std::min(box.left, x);
            box.top = std::min(box.top, y);
            box.right = std::max(box.right, x + 1);
            box.bottom = std::max(box.bottom, y + 1);
        }
    }
    return box;
}
