// Auto-calibration of one device.
#include "cztautocalibration.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "cztautocalibrationdialog.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovedriver.h"
#include "verove_log.h"
#include "zt/zt_grabber.h"
#include "zt/zt_picbuf.h"
#include "zt/zt_util.h"

namespace {

constexpr int kMaxAttempts = 1001;
constexpr size_t kMaxPositions = 138;
constexpr int kBorder = 10;
constexpr double kMinDistance = 10.0;
constexpr double kHalfSquare = 5.0;
constexpr size_t kEnoughPairs = 30;
constexpr size_t kMinimumPairs = 5;
constexpr double kProgressPerPair = 3.0;

}  // namespace

CZtAutocalibration::CZtAutocalibration(CZtStimulationDeviceVerove* device) : m_pDevice(device) {
    m_container.Clear();
}

CZtAutocalibration::~CZtAutocalibration() {
    Abort();
}

std::vector<SZtPoint2D> CZtAutocalibration::RandomPositions(int width, int height) {
    std::vector<SZtPoint2D> points;
    if (width < 1 || height < 1) {
        return points;
    }
    for (int attempt = 0; attempt < kMaxAttempts && points.size() < kMaxPositions; ++attempt) {
        const int x = std::rand() % width;
        const int y = std::rand() % height;
        if (x < kBorder || x > width - kBorder || y < kBorder || y > height - kBorder) {
            continue;
        }
        const bool apart = std::all_of(points.begin(), points.end(), [&](const SZtPoint2D& p) {
            return std::hypot(p.x - x, p.y - y) >= kMinDistance;
        });
        if (apart) {
            points.push_back({static_cast<double>(x), static_cast<double>(y)});
        }
    }
    return points;
}

int CZtAutocalibration::ShowSquare(CZtVeroveDriver* driver, int width, int height,
                                   const SZtPoint2D& point) {
    if (!driver || width < 1 || height < 1) {
        return -6;
    }
    SZtPicBuf frame;
    const int allocated = CZtPicBufAPI::Alloc(&frame, static_cast<std::uint32_t>(width),
                                              static_cast<std::uint32_t>(height), 8, 1);
    if (allocated != 0) {
        return allocated;
    }
    const long left = std::max(0L, std::lround(point.x - kHalfSquare));
    const long top = std::max(0L, std::lround(point.y - kHalfSquare));
    const long right = std::min<long>(width, std::lround(point.x + kHalfSquare));
    const long bottom = std::min<long>(height, std::lround(point.y + kHalfSquare));
    for (long y = top; y < bottom; ++y) {
        for (long x = left; x < right; ++x) {
            frame.Row(static_cast<std::uint32_t>(y))[x] = 255;
        }
    }
    CZtPattern square(L"CalibrationRect", static_cast<std::uint32_t>(width),
                      static_cast<std::uint32_t>(height));
    square.SetBitmap(&frame);
    square.SetMapping(0);
    CZtLock lock(driver->GetExposeLock());
    driver->StopPattern();
    const int uploaded = driver->UploadPattern(0, &square);
    return uploaded != 0 ? uploaded : driver->StartPattern();
}

void CZtAutocalibration::SetDialog(CZtAutocalibrationDialog* dialog) {
    std::lock_guard<std::mutex> lock(m_dialogLock);
    m_pDialog = dialog;
}

void CZtAutocalibration::NotifyProgress() {
    std::lock_guard<std::mutex> lock(m_dialogLock);
    if (m_pDialog) {
        emit m_pDialog->NotifyProgress();
    }
}

void CZtAutocalibration::ClearContainer(bool keepLiveWasOn) {
    const std::int32_t result = m_container.m_iResult;
    const bool liveWasOn = m_container.m_bLiveWasOn;
    m_container.Clear();
    m_container.m_iResult = result;
    if (keepLiveWasOn) {
        m_container.m_bLiveWasOn = liveWasOn;
    }
}

bool CZtAutocalibration::IsAborted() {
    CZtLock lock(*m_container.m_pMutex);
    return m_container.m_bAbort;
}

void CZtAutocalibration::StopWorker() {
    {
        CZtLock lock(*m_container.m_pMutex);
        m_container.m_bAbort = true;
    }
    m_container.m_pGoAhead->Release();
    m_container.m_pDone->Wait();
    m_container.m_thread.join();
}

void CZtAutocalibration::Abort() {
    if (IsRegistered()) {
        StopWorker();
        ClearContainer(false);
    }
}

void CZtAutocalibration::ThreadProc(CZtAutocalibration* self) {
    self->RunWorker();
}

void CZtAutocalibration::Finish(int result, bool notify) {
    {
        CZtLock lock(*m_container.m_pMutex);
        m_container.m_iResult = result;
    }
    if (notify) {
        std::lock_guard<std::mutex> lock(m_dialogLock);
        if (m_pDialog) {
            emit m_pDialog->NotifyCalibrationRunEnded(result);
        }
    }
    m_container.m_pGoAhead->Wait();
    m_container.m_pDone->Release();
}

// The steps around the worker need the host's acquisition and documents.
int CZtAutocalibration::Init() {
    IZtGrabberProvider* grabber = m_pDevice->GetGrabberProvider();
    if (!grabber) {
        ZT_MessageBox_(nullptr,
                       ZT_GetTranslation(L"Calibration failed: no camera connected!").GetString(),
                       ZT_GetTranslation(L"Error").GetString(), ZT_MB_OK | ZT_MB_ICONERROR);
        return -9;
    }
    return -2;
}

int CZtAutocalibration::Run() {
    return -2;
}

int CZtAutocalibration::ValidationPhase() {
    return -2;
}

int CZtAutocalibration::End(bool apply) {
    return -2;
}

void CZtAutocalibration::RunWorker() {
    Finish(-9, true);
}

int CZtAutocalibration::ComputeMatrices() {
    return -9;
}
