// The state of one calibration run.
#include "sztaccontainer.h"

void _SZtACContainer::Clear() {
    m_pDevice = nullptr;
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_threadId = std::thread::id();
    m_bAbort = false;
    m_bSimulated = false;
    m_pGoAhead.reset();
    m_pDone.reset();
    m_pMutex.reset();
    m_iResult = 0;
    m_bROIWasOn = false;
    m_bLiveWasOn = false;
    m_iLiveMode = 0;
    m_bPictureExisted = false;
    m_uiCameraIndex = 0;
    m_iViewIndex = -1;
    m_pDocument.reset();
    m_strViewTitle.Empty();
    m_bDocumentCreated = false;
    m_sample.Release();
}
