#include "camerathread.h"

#include <chrono>

#include "measures.h"

CameraThread::CameraThread(QObject* parent) : QThread(parent) {
    qRegisterMetaType<LiveFrame>("LiveFrame");
}

CameraThread::~CameraThread() {
    Stop();
}

void CameraThread::Stop() {
    m_stop = true;
    wait();
}

void CameraThread::run() {
    using Clock = std::chrono::steady_clock;
    Clock::time_point second = Clock::now();
    int framesThisSecond = 0;
    double rate = 0.0;
    while (!m_stop) {
        if (m_pending) {
            msleep(1);
            continue;
        }
        auto sample = std::make_shared<CZtGrabberSample>();
        if (sample->Capture() != 0) {
            // No camera now (the user changes its settings, or the microscope has none yet).
            msleep(50);
            continue;
        }
        ++framesThisSecond;
        const double elapsed = std::chrono::duration<double>(Clock::now() - second).count();
        if (elapsed >= 1.0) {
            rate = framesThisSecond / elapsed;
            framesThisSecond = 0;
            second = Clock::now();
        }
        LiveFrame frame;
        frame.image = FrameImage(sample->GetPicture());
        frame.sample = std::move(sample);
        frame.framesPerSecond = rate;
        m_pending = true;
        emit FrameReady(frame);
    }
}
