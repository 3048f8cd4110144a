// The live image's source: frames of the host's camera taken on a thread of their own, so that the
// window stays responsive while the simulated camera renders.
#pragma once

#include <QImage>
#include <QMetaType>
#include <QThread>
#include <atomic>
#include <memory>

#include "zt/zt_acquisition.h"

// One live frame: the picture as the camera gave it, and as shown (grey values stretched).
struct LiveFrame {
    std::shared_ptr<const CZtGrabberSample> sample;
    QImage image;
    double framesPerSecond = 0.0;  // the thread's rate over its last second
};
Q_DECLARE_METATYPE(LiveFrame)

// Captures in a loop until Stop. A new frame is taken only once the window has taken the last
// one (FrameShown), so frames never queue up behind a busy GUI thread.
class CameraThread : public QThread {
    Q_OBJECT

public:
    explicit CameraThread(QObject* parent = nullptr);
    ~CameraThread() override;

    // Ends the loop and waits for it.
    void Stop();
    // The window calls this when it has shown the frame FrameReady delivered.
    void FrameShown() { m_pending = false; }

signals:
    // Queued to the window; emitted off the GUI thread.
    void FrameReady(const LiveFrame& frame);

protected:
    void run() override;

private:
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_pending{false};
};
