// SimulatedCamera: renders the camera's frames from the mirrors the DMD shows, through the
// microscope's optics (zthost/optics.h).
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zthost/optics.h"

// Thread-safe: captures on several threads render at once, each from a snapshot of the set-up.
class SimulatedCamera {
public:
    static SimulatedCamera& Instance();

    int SetOptics(const zthost::OpticsSetup& optics);
    zthost::OpticsSetup Optics();
    void SetMirrorFrameSource(zthost::MirrorFrameSource source);
    int SetFurtherDmds(std::vector<zthost::FurtherDmd> dmds);
    int SetSpecimen(const SZtPicBuf* picture);

    // Renders the frame the camera sees now, as the format and the camera angle (radians)
    // display it, into picture (replaced by an owned picture of the format's bit depth).
    // 0; -4 for a bit depth outside 8..16 or an empty image; -3 when memory runs out.
    int Render(const SZtGrabberFormatDesc& format, double angleRadians, SZtPicBuf* picture);

    // Default optics, no source, no specimen.
    void Clear();

private:
    std::mutex m_mutex;
    zthost::OpticsSetup m_optics;                 // m_mutex
    zthost::MirrorFrameSource m_source;           // m_mutex
    std::vector<zthost::FurtherDmd> m_further;    // m_mutex
    std::shared_ptr<const SZtPicBuf> m_specimen;  // m_mutex; the picture itself is never changed
    std::uint64_t m_frameNumber = 0;              // m_mutex; frames rendered since SetOptics
};
