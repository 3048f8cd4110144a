// Auto-calibration of one device: the run's steps on the GUI thread, its worker thread, and the
// squares the worker shows on the DMD.
#pragma once

#include <mutex>
#include <vector>

#include "sztaccontainer.h"

class CZtAutocalibrationDialog;
class CZtStimulationDeviceVerove;
class CZtVeroveDriver;

// Thread-safe as follows: the public operations run on the GUI thread; the worker shares the
// container with them through its mutex and semaphores, and reaches the open dialog only through
// m_dialogLock.
class CZtAutocalibration {
public:
    // device is borrowed: it owns this object and stops it (Abort) before its driver goes.
    explicit CZtAutocalibration(CZtStimulationDeviceVerove* device);
    ~CZtAutocalibration();
    CZtAutocalibration(const CZtAutocalibration&) = delete;
    CZtAutocalibration& operator=(const CZtAutocalibration&) = delete;

    // The device's OnAutocalibrationInit, AutocalibrationRun, OnAutocalibrationValidationPhase
    // and OnAutocalibrationEnd.
    int Init();
    int Run();
    int ValidationPhase();
    int End(bool apply);
    double GetProgress() const { return m_container.m_dProgress.load(); }
    // Clears the container, keeping the result and, when asked, the live-was-on flag.
    void ClearContainer(bool keepLiveWasOn);
    // Stops a worker that is still registered and waits until it has left; nothing else.
    void Abort();
    // The dialog whose signals the worker emits; null when none is open.
    void SetDialog(CZtAutocalibrationDialog* dialog);
    // The pairs of the last run, DMD and camera image points; read them only while no worker
    // runs.
    const std::vector<SZtPoint2D>& GetDmdPoints() const { return m_container.m_dmdPoints; }
    const std::vector<SZtPoint2D>& GetCameraPoints() const { return m_container.m_cameraPoints; }

    // Up to 138 points drawn with rand() in up to 1001 attempts: at least 10 mirrors inside the
    // DMD's border and at least 10 mirrors from each other.
    static std::vector<SZtPoint2D> RandomPositions(int width, int height);
    // Shows "CalibrationRect": a width x height frame, dark but for the 10 x 10 square centred
    // on point. 0, or the status of the upload or the exposure.
    static int ShowSquare(CZtVeroveDriver* driver, int width, int height, const SZtPoint2D& point);

private:
    static void ThreadProc(CZtAutocalibration* self);
    void RunWorker();
    // Sets the result and, when notify, tells the dialog; then waits for the go-ahead and
    // releases the done semaphore. The worker's last step.
    void Finish(int result, bool notify);
    int ComputeMatrices();
    bool IsAborted();
    // Stops the registered worker: abort set, go-ahead released, done awaited.
    void StopWorker();
    void NotifyProgress();
    bool IsRegistered() const { return m_container.m_thread.joinable(); }

    CZtStimulationDeviceVerove* const m_pDevice;
    _SZtACContainer m_container;
    // Between Init and End: what End restores.
    bool m_bSession = false;
    std::mutex m_dialogLock;
    CZtAutocalibrationDialog* m_pDialog = nullptr;  // m_dialogLock; borrowed
};
