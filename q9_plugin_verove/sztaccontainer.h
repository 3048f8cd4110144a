// The state of one calibration run, shared by the GUI thread and the run's worker thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "cztref.h"
#include "verove_sample_analysis.h"
#include "zt/zt_acquisition.h"
#include "zt/zt_document.h"
#include "zt/zt_string.h"
#include "zt/zt_sync.h"

class CZtStimulationDeviceVerove;

// Thread-compatible, with two exceptions: m_pMutex guards m_bAbort, m_iResult and the two result
// matrices while a worker runs, and m_dProgress is written by the worker and read by the GUI.
// Everything else belongs to the GUI thread, or to the worker between its start and its release
// of m_pDone.
struct _SZtACContainer {
    CZtStimulationDeviceVerove* m_pDevice = nullptr;  // borrowed; set while a run is registered
    std::thread m_thread;
    std::thread::id m_threadId;
    bool m_bAbort = false;
    bool m_bSimulated = false;
    std::unique_ptr<CZtSemaphore> m_pGoAhead;  // the GUI lets the finished worker end
    std::unique_ptr<CZtSemaphore> m_pDone;     // the worker has left
    std::int32_t m_iResult = 0;
    std::unique_ptr<CZtCriticalSection> m_pMutex;
    std::vector<double> m_pdResultDMDToCam;  // nine elements after a successful run
    std::vector<double> m_pdResultCamToDMD;
    bool m_bROIWasOn = false;
    bool m_bLiveWasOn = false;
    std::int32_t m_iLiveMode = 0;
    bool m_bPictureExisted = false;
    std::uint32_t m_uiCameraIndex = 0;
    std::int32_t m_iViewIndex = -1;
    CZtRef<IZtDocument> m_pDocument;
    CZtStringW m_strViewTitle;
    bool m_bDocumentCreated = false;
    CZtGrabberSample m_sample;  // the frame captured last
    std::int32_t m_iDMDWidth = 0;
    std::int32_t m_iDMDHeight = 0;
    std::vector<SZtPointD> m_cameraPoints;
    std::vector<SZtPointD> m_dmdPoints;
    SZtCalibrationFit m_fit;  // of a successful run's matrices on the pairs they used
    std::int32_t m_iSavedBitDepth = 1;
    std::int32_t m_iSavedActivePattern = 0;
    SZtPictureMetadata m_metadata;
    std::atomic<double> m_dProgress{0.0};
    bool m_bROILabels = false;

    // Forgets the run: device, thread (joined; it must have released m_pDone), flags,
    // semaphores, mutex, result and the run-state fields from m_bROIWasOn to the sample. The
    // result matrices, point lists, fit and DMD size stay.
    void Clear();
};
