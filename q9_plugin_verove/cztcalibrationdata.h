// The camera-to-DMD calibration of one device: measured matrices, their correction for the camera's
// rotation and mirroring, stored calibrations and the calibration state.
#pragma once

#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "cztcalibrationowner.h"
#include "cztconfigurationdata.h"
#include "zt/zt_grabber.h"
#include "zt/zt_settings.h"
#include "zt/zt_sync.h"

// A 3x3 matrix in row-major order, acting on column vectors (x, y, 1).
using CZtMatrix3 = std::array<double, 9>;

// a * b, the map that applies b first. Written out rather than left to BLAS so that every chain of
// calibration maps rounds the same way whichever kernel the BLAS library picks at run time.
CZtMatrix3 MultiplyMatrix3(const CZtMatrix3& a, const CZtMatrix3& b);

// Thread-safe. The main lock guards matrices, rotation and state; each configuration record has
// its own lock, always taken after the main lock, never before it. All three are recursive.
class CZtCalibrationData {
public:
    // owner is borrowed and must outlive this object; it may be null (every operation that needs
    // it then answers VeroveStatus::kNoDriver).
    explicit CZtCalibrationData(IZtCalibrationOwner* owner);
    ~CZtCalibrationData();
    CZtCalibrationData(const CZtCalibrationData&) = delete;
    CZtCalibrationData& operator=(const CZtCalibrationData&) = delete;

    // Finds the stored calibration that fits the current configuration and loads it. changed is
    // written only when a calibration is loaded: whether its configuration string differs from
    // the one loaded before. 0, kNoDriver without owner or driver, kNone when nothing usable is
    // stored.
    int LoadCalibration(bool* changed);
    int LoadCalibrationMatrices(const std::wstring& key);
    int SaveCalibrationMatrices(const std::wstring& key);
    // Removes every stored calibration of the device, then loads again.
    int ClearCalibrations();
    // 0 when a calibration is stored under key or, with the rotation token taken out of key,
    // under the shortened key; kNone when the device has no calibration levels.
    int FindCalibration(std::wstring* key);
    // The keys of the stored calibrations in the settings file's order. 0; kNone when the device
    // has no calibration levels (keys then empty).
    int GetStoredKeys(std::vector<std::wstring>* keys);
    // 0 when some stored key names camera; parts then holds that key's parts.
    int FindCalibrationForCamera(const std::wstring& camera, SZtConfigurationStringParts* parts);

    void SetCalibrationCamToDMD(const CZtMatrix3& matrix);
    void SetCalibrationDMDToCam(const CZtMatrix3& matrix);
    CZtMatrix3 GetCalibrationCamToDMD();
    CZtMatrix3 GetCalibrationDMDToCam();
    CZtMatrix3 GetMappingCamToDMD();
    CZtMatrix3 GetMappingDMDToCam();

    int UpdateRotationMatrix();
    int UpdateFlipMatrix();
    int UpdateTranslationVector();
    void UpdateMapping();

    int SetCameraRotation(double degrees);
    double GetCameraRotation();
    // The camera ROI, or the whole sensor; kept apart from the main lock so the driver's camera
    // callback never waits for a calibration in progress.
    void SetCameraRect(const SZtRect& rect);
    SZtRect GetCameraRect();
    // The stimulation scan-area description kept for the device, read and written whole.
    void SetScanAreaDesc(const SZtScanAreaDesc& desc);
    SZtScanAreaDesc GetScanAreaDesc();

    void UpdateState();
    EZtCalibrationState GetCalibrationState() const { return m_state.load(); }

    // The record comes back with its lock held; the matching Unlock call releases it. While holding
    // it, call nothing else of this object: the main lock is always taken first.
    CZtConfigurationData* LockCurrentConfiguration();
    void UnlockCurrentConfiguration();
    CZtConfigurationData* LockCalibrationConfiguration();
    void UnlockCalibrationConfiguration();
    std::wstring GetCurrentConfigurationString();
    // The configuration string of the loaded calibration; empty when none is loaded.
    std::wstring GetLoadedKey();

private:
    int ReadCalibrationLevel(CZtLiteVariantR* reader);
    int FindKey(const std::wstring& key);
    void ClearCalibrationConfiguration();

    CZtCriticalSection m_csLock;
    CZtCriticalSection m_csCurrentConfiguration;
    CZtCriticalSection m_csCalibrationConfiguration;
    IZtCalibrationOwner* const m_owner;
    // Read without the main lock (the pad asks while a load runs); written under it.
    std::atomic<EZtCalibrationState> m_state{NotCalibrated};
    // Guarded by m_csLock.
    double m_dCameraRotation = 0.0;
    std::wstring m_strLoadedKey;
    CZtMatrix3 m_pdRotationMatrix;
    CZtMatrix3 m_pdFlipMatrix;
    std::array<double, 3> m_pdTranslationVector{};
    CZtMatrix3 m_pdCalibrationMatrixDMDToCam;
    CZtMatrix3 m_pdCalibrationMatrixCamToDMD;
    CZtMatrix3 m_pdMappingCamToDMD;
    CZtMatrix3 m_pdMappingDMDToCam;
    // Guarded by m_cameraMutex, a leaf lock.
    std::mutex m_cameraMutex;
    SZtScanAreaDesc m_scanAreaDesc{};
    SZtRect m_cameraRect{};
    // Guarded by m_csCurrentConfiguration.
    CZtConfigurationData m_currentConfiguration;
    // Guarded by m_csCalibrationConfiguration.
    CZtConfigurationData m_calibrationConfiguration;
};
