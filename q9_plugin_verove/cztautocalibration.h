// Auto-calibration of one device: the run's steps on the GUI thread, its worker thread, and the
// squares the worker shows on the DMD.
#pragma once

#include <mutex>
#include <vector>

#include "cztcalibrationdata.h"
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
    // The last run's status: VeroveStatus::kRefused while it runs and after an abort.
    int GetResult() const { return m_container.m_iResult; }
    // Whether a worker is registered (started and not yet joined).
    bool IsRegistered() const { return m_container.m_thread.joinable(); }
    // Clears the container, keeping the result and, when asked, the live-was-on flag and mode.
    void ClearContainer(bool keepLiveWasOn);
    // Stops a worker that is still registered and waits until it has left; nothing else.
    void Abort();
    // Redraws the document that shows the calibration's frames, when there is one.
    void RefreshCalibrationDocument();
    // The dialog whose signals the worker emits; null when none is open.
    void SetDialog(CZtAutocalibrationDialog* dialog);
    // The open dialog; null when none is. GUI thread: the dialog goes only there.
    CZtAutocalibrationDialog* GetDialog();
    // The pairs of the last run, DMD and camera image points; read them only while no worker
    // runs.
    const std::vector<SZtPointD>& GetDmdPoints() const { return m_container.m_dmdPoints; }
    const std::vector<SZtPointD>& GetCameraPoints() const { return m_container.m_cameraPoints; }

    // How the last successful run's fit matches the pairs it used; pairs 0 after a failed one.
    // Read it only while no worker runs.
    const SZtCalibrationFit& GetFit() const { return m_container.m_fit; }

    // The pairs a run collects before it fits: it stops showing squares then.
    static constexpr std::size_t kSquaresAsked = 30;

    // Up to 138 points drawn with rand() in up to 1001 attempts: at least 10 mirrors inside the
    // DMD's border and at least 10 mirrors from each other.
    static std::vector<SZtPointD> RandomPositions(int width, int height);
    // Shows "CalibrationRect": a width x height frame, dark but for the 10 x 10 square centred
    // on point. 0, or the status of the upload or the exposure.
    static int ShowSquare(CZtVeroveDriver* driver, int width, int height, const SZtPointD& point);
    // The calibration matrices from pairs of DMD points and camera image points taken with the
    // camera as it is now: the pairs turned to chip coordinates and fitted, the result stored for
    // the unturned camera as the calibration data keep it. 0, or kRefused for fewer than
    // minimumPairs pairs, lists of different lengths or no grabber or driver, or the status of the
    // transform or fit. fit, when given, receives how the fit matches the pairs it used
    // (ComputeCalibrationMatrices).
    static int FitPairs(CZtStimulationDeviceVerove* device, const std::vector<SZtPointD>& dmdPoints,
                        const std::vector<SZtPointD>& cameraPoints, CZtMatrix3* dmdToCamera,
                        CZtMatrix3* cameraToDmd, SZtCalibrationFit* fit = nullptr,
                        std::size_t minimumPairs = 5);
    // The verification ROI in the current document: a stimulation ROI of the user is kept (its
    // pattern is rendered again with the new matrices); otherwise a rectangle over the middle half
    // of the image is added for S1.
    static void AddVerificationRoi(CZtStimulationDeviceVerove* device);

private:
    static void ThreadProc(CZtAutocalibration* self);
    void RunWorker();
    // Sets the result and, when notify, tells the dialog; then waits for the go-ahead and
    // releases the done semaphore. The worker's last step.
    void Finish(int result, bool notify);
    // The camera image point where the sample shows the square of dmd: the spot found in the
    // picture; on the simulated unit, the spot of a square drawn into it at the DMD point
    // scaled by picture size / DMD size (or the DMD point itself for a picture it cannot draw
    // into). 0, or the detection's status.
    int Evaluate(CZtSpotDetector* detector, const SZtPointD& dmd, SZtPointD* camera);
    // The detector's spot, in image coordinates.
    static int FindSpot(CZtSpotDetector* detector, const SZtPicBuf* picture, SZtPointD* camera);
    // The host's documents: the calibration document that shows the frames, the detected point
    // and the verification ROI.
    void OpenCalibrationDocument();
    void MarkDetectedPoint(const SZtPointD& camera);
    void ActivateCaptureView();
    void CloseCurrentDocument();
    // The host's ROI labels and automatic look-up tables as they were when the run started.
    void RestoreRoiSettings();
    // The matrices from the collected pairs, stored into the container with their fit. 0 or a
    // status.
    int ComputeMatrices();
    // Logs how many squares were found and how the fit matches them, with a warning for too few
    // squares or a high residual.
    void LogQuality(const char* function, int result);
    bool IsAborted();
    // Stops the registered worker: abort set, go-ahead released, done awaited.
    void StopWorker();
    void NotifyProgress();
    void RestoreActivePattern();
    // The matrices of a successful run (result 0, nine elements each); false otherwise. Only
    // while no worker runs.
    bool GetResultMatrices(CZtMatrix3* dmdToCamera, CZtMatrix3* cameraToDmd);
    // Live in the saved mode when it was on, else frozen with the current document closed; the
    // status of the live or freeze call.
    int RestoreLive();

    CZtStimulationDeviceVerove* const m_pDevice;
    _SZtACContainer m_container;
    // Between Init and End: what End restores.
    bool m_bSession = false;
    // The host's automatic look-up tables, switched off while the calibration document shows
    // the frames.
    bool m_bAutoLookUpTables = false;
    bool m_bRoiSettingsSaved = false;
    std::mutex m_dialogLock;
    CZtAutocalibrationDialog* m_pDialog = nullptr;  // m_dialogLock; borrowed
};
