// The device's auto-calibration followed from the host's side, as its dialog follows it: the
// squares the worker finds and the camera frames it found them in.
#pragma once

#include <QPointF>
#include <cstddef>
#include <vector>

#include "zt/zt_picbuf.h"

// Thread-bound: polled on the host's main thread while the device's worker runs.
//
// The worker logs each square it finds ("DMD point <n> [x, y] mapped to camera point [x, y]")
// just after loading the frame it found it in into the calibration document. Each poll reads
// the log lines that are new, shows one progress line per square, and folds the document's frame
// into the combined picture. Squares found between two polls share one frame: the combined
// picture then lacks the frames in between, and FramesCombined says how many it holds.
class CalibrationWatch {
public:
    struct Square {
        QPointF dmd;     // the square's point on the DMD, mirrors
        QPointF camera;  // where the worker found it, displayed image pixels
    };

    // wanted: the squares the worker stops at, for the progress lines.
    explicit CalibrationWatch(int wanted);

    // From now on: time 0 for the progress lines; log lines before it are not read.
    void Start();
    void Poll();

    const std::vector<Square>& Squares() const { return m_squares; }
    double Seconds() const;
    // The brightest value of every pixel over the frames the squares were found in; empty when
    // no frame was seen.
    const SZtPicBuf& Combined() const { return m_combined; }
    int FramesCombined() const { return m_frames; }

private:
    void FoldDocumentFrame();

    int m_wanted;
    double m_start = 0.0;
    std::size_t m_logRead = 0;
    std::vector<Square> m_squares;
    SZtPicBuf m_combined;
    SZtPicBuf m_last;  // the frame folded last, so that a frame seen twice counts once
    int m_frames = 0;
};
