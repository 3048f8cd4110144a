// The camera's display model written out on its own, from the scenario format's description: the
// region of the sensor, binned, mirrored top to bottom, then turned clockwise by quarter turns.
// Scenario generation and the geometry tests take it as the truth the host's and the plug-in's
// transforms must meet, so it shares no code with them.
#pragma once

#include <array>

struct DisplayPoint {
    double x = 0.0, y = 0.0;
};

struct DisplayModel {
    int binning = 1;
    std::array<int, 4> region{};  // left, top, right, bottom in sensor pixels
    int quarterTurns = 0;         // clockwise, 0..3
    bool flip = false;

    double UnturnedWidth() const { return double(region[2] - region[0]) / binning; }
    double UnturnedHeight() const { return double(region[3] - region[1]) / binning; }
    double ImageWidth() const { return quarterTurns % 2 ? UnturnedHeight() : UnturnedWidth(); }
    double ImageHeight() const { return quarterTurns % 2 ? UnturnedWidth() : UnturnedHeight(); }

    DisplayPoint ImageToSensor(DisplayPoint d) const {
        const double w = UnturnedWidth(), h = UnturnedHeight();
        DisplayPoint u;
        switch (quarterTurns) {
            case 0:
                u = d;
                break;
            case 1:
                u = {d.y, h - d.x};
                break;
            case 2:
                u = {w - d.x, h - d.y};
                break;
            default:
                u = {w - d.y, d.x};
                break;
        }
        if (flip) {
            u.y = h - u.y;
        }
        return {region[0] + u.x * binning, region[1] + u.y * binning};
    }

    DisplayPoint SensorToImage(DisplayPoint s) const {
        const double w = UnturnedWidth(), h = UnturnedHeight();
        DisplayPoint u{(s.x - region[0]) / binning, (s.y - region[1]) / binning};
        if (flip) {
            u.y = h - u.y;
        }
        switch (quarterTurns) {
            case 0:
                return u;
            case 1:
                return {h - u.y, u.x};
            case 2:
                return {w - u.x, h - u.y};
            default:
                return {u.y, w - u.x};
        }
    }
};
