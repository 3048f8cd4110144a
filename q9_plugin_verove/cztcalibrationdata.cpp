// The camera-to-DMD calibration of one device: corrections, stored calibrations and the state.
#include "cztcalibrationdata.h"

#include <cmath>

#include "verove_log.h"
#include "verovestatus.h"
#include "zt/zt_settings.h"
#include "zt/zt_string.h"

namespace {

constexpr CZtMatrix3 kIdentity = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};

// Each stored calibration holds the first two rows of both matrices, one unnamed level per element.
constexpr int kStoredElements = 6;
constexpr const wchar_t* kDMDToCamName = L"m_pdCalibrationMatrixDMDToCam";
constexpr const wchar_t* kCamToDMDName = L"m_pdCalibrationMatrixCamToDMD";

// The row-major matrix after the text that names it, in the log's three-row layout.
std::wstring MatrixText(const wchar_t* title, const CZtMatrix3& m) {
    return ZT_FormatW(L"%s\n[\t%.2f,\t%.2f,\t%.2f\n\t%.2f,\t%.2f,\t%.2f\n\t%.2f,\t%.2f,\t%.2f\t]",
                      title, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8]);
}

// The key with its rotation token ("#R" up to the next "#" or the end) taken out.
std::wstring WithoutRotation(const std::wstring& key) {
    const size_t start = key.find(L"#R");
    if (start == std::wstring::npos) {
        return key;
    }
    const size_t end = key.find(L'#', start + 2);
    return key.substr(0, start) + (end == std::wstring::npos ? std::wstring() : key.substr(end));
}

void RebuildFromKey(const std::wstring& key, CZtConfigurationData* record) {
    SZtConfigurationStringParts parts;
    ParseConfigurationString(key, &parts);
    BuildConfigurationFromParts(parts, record);
}

}  // namespace

CZtMatrix3 MultiplyMatrix3(const CZtMatrix3& a, const CZtMatrix3& b) {
    CZtMatrix3 product{};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            product[r * 3 + c] =
                a[r * 3] * b[c] + a[r * 3 + 1] * b[3 + c] + a[r * 3 + 2] * b[6 + c];
        }
    }
    return product;
}

CZtCalibrationData::CZtCalibrationData(IZtCalibrationOwner* owner)
    : m_owner(owner),
      m_pdRotationMatrix(kIdentity),
      m_pdFlipMatrix(kIdentity),
      m_pdCalibrationMatrixDMDToCam(kIdentity),
      m_pdCalibrationMatrixCamToDMD(kIdentity),
      m_pdMappingCamToDMD(kIdentity),
      m_pdMappingDMDToCam(kIdentity) {}

CZtCalibrationData::~CZtCalibrationData() = default;

// ---- Matrices ----------------------------------------------------------------------------------

void CZtCalibrationData::SetCalibrationCamToDMD(const CZtMatrix3& matrix) {
    CZtLock lock(m_csLock);
    m_pdCalibrationMatrixCamToDMD = matrix;
    VEROVE_LOG_DETAIL("CZtCalibrationData::SetCalibrationCamToDMD", L"%s",
                      MatrixText(L"Calibration matrix Camera -> DMD set to:", matrix).c_str());
    UpdateMapping();
}

void CZtCalibrationData::SetCalibrationDMDToCam(const CZtMatrix3& matrix) {
    CZtLock lock(m_csLock);
    m_pdCalibrationMatrixDMDToCam = matrix;
    VEROVE_LOG_DETAIL("CZtCalibrationData::SetCalibrationDMDToCam", L"%s",
                      MatrixText(L"Calibration matrix DMD -> Camera set to:", matrix).c_str());
    UpdateMapping();
}

CZtMatrix3 CZtCalibrationData::GetCalibrationCamToDMD() {
    CZtLock lock(m_csLock);
    return m_pdCalibrationMatrixCamToDMD;
}

CZtMatrix3 CZtCalibrationData::GetCalibrationDMDToCam() {
    CZtLock lock(m_csLock);
    return m_pdCalibrationMatrixDMDToCam;
}

CZtMatrix3 CZtCalibrationData::GetMappingCamToDMD() {
    CZtLock lock(m_csLock);
    return m_pdMappingCamToDMD;
}

CZtMatrix3 CZtCalibrationData::GetMappingDMDToCam() {
    CZtLock lock(m_csLock);
    return m_pdMappingDMDToCam;
}

int CZtCalibrationData::UpdateRotationMatrix() {
    CZtLock lock(m_csLock);
    const double theta = m_dCameraRotation * 3.1415926535898 / 180.0;
    m_pdRotationMatrix = kIdentity;
    m_pdRotationMatrix[0] = std::cos(theta);
    m_pdRotationMatrix[1] = -std::sin(theta);
    m_pdRotationMatrix[3] = std::sin(theta);
    m_pdRotationMatrix[4] = std::cos(theta);
    VEROVE_LOG_DETAIL("CZtCalibrationData::UpdateRotationMatrix", L"%s",
                      MatrixText(L"Rotation matrix updated to:", m_pdRotationMatrix).c_str());
    UpdateMapping();
    return 0;
}

int CZtCalibrationData::UpdateFlipMatrix() {
    IZtGrabberProvider* grabber = m_owner ? m_owner->GetGrabberProvider() : nullptr;
    if (!grabber) {
        return VeroveStatus::kRefused;
    }
    CZtLock lock(m_csLock);
    m_pdFlipMatrix = kIdentity;
    double angles[4] = {};
    if (grabber->CameraAngleParamsGet(angles) != 0) {
        return VeroveStatus::kRefused;
    }
    // The image is mirrored when the first and the last angle parameter disagree.
    m_pdFlipMatrix[4] = std::fabs(angles[0] - angles[3]) > 0.0001 ? -1.0 : 1.0;
    VEROVE_LOG_DETAIL("CZtCalibrationData::UpdateFlipMatrix", L"%s",
                      MatrixText(L"Flip matrix updated to:", m_pdFlipMatrix).c_str());
    UpdateMapping();
    return 0;
}

int CZtCalibrationData::UpdateTranslationVector() {
    CZtLock lock(m_csLock);
    SZtGrabberFormatDesc format{};
    if (!m_owner || m_owner->GetCurrentFormat(&format) != 0) {
        return VeroveStatus::kRefused;
    }
    const SZtRect& image = format.value.imageRect;
    m_pdTranslationVector = {static_cast<double>((image.right - image.left) / 2),
                             static_cast<double>((image.bottom - image.top) / 2), 1.0};
    VEROVE_LOG_DETAIL("CZtCalibrationData::UpdateTranslationVector",
                      L"Translation vector updated to:\n[\t%.2f,\t%.2f,\t%.2f\t]",
                      m_pdTranslationVector[0], m_pdTranslationVector[1], m_pdTranslationVector[2]);
    UpdateMapping();
    return 0;
}

void CZtCalibrationData::UpdateMapping() {
    CZtLock lock(m_csLock);
    CZtMatrix3 unrotated = kIdentity;
    GetMappingToUnrotatedCamera(m_pdRotationMatrix.data(), m_pdFlipMatrix.data(),
                                m_pdTranslationVector.data(), unrotated.data());
    m_pdMappingCamToDMD = MultiplyMatrix3(m_pdCalibrationMatrixCamToDMD, unrotated);
    // A singular matrix leaves the previous DMD -> camera mapping in place.
    if (InvertMatrix(3, m_pdMappingCamToDMD.data(), m_pdMappingDMDToCam.data()) != 0) {
        VEROVE_LOG("CZtCalibrationData::UpdateMapping", L"Very bad calibration.");
    }
    VEROVE_LOG(
        "CZtCalibrationData::UpdateMapping", L"%s",
        MatrixText(L"Mapping matrix DMD -> Camera updated to:", m_pdMappingDMDToCam).c_str());
    VEROVE_LOG(
        "CZtCalibrationData::UpdateMapping", L"%s",
        MatrixText(L"Mapping matrix Camera -> DMD updated to:", m_pdMappingCamToDMD).c_str());
}

// ---- Camera
// --------------------------------------------------------------------------------------

int CZtCalibrationData::SetCameraRotation(double degrees) {
    const double rotation = std::fmod(std::fmod(degrees, 360.0) + 360.0, 360.0);
    int status = 0;
    {
        CZtLock lock(m_csLock);
        if (rotation != m_dCameraRotation) {
            m_dCameraRotation = rotation;
            UpdateFlipMatrix();
            status = UpdateRotationMatrix();
        }
        CZtLock configurationLock(m_csCurrentConfiguration);
        m_currentConfiguration.SetCameraRotation(rotation);
    }
    return status;
}

double CZtCalibrationData::GetCameraRotation() {
    CZtLock lock(m_csLock);
    return m_dCameraRotation;
}

void CZtCalibrationData::SetCameraRect(const SZtRect& rect) {
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_cameraRect = rect;
}

SZtRect CZtCalibrationData::GetCameraRect() {
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    return m_cameraRect;
}

void CZtCalibrationData::SetScanAreaDesc(const SZtScanAreaDesc& desc) {
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    m_scanAreaDesc = desc;
}

SZtScanAreaDesc CZtCalibrationData::GetScanAreaDesc() {
    std::lock_guard<std::mutex> lock(m_cameraMutex);
    return m_scanAreaDesc;
}

// ---- Configurations and state
// --------------------------------------------------------------------

void CZtCalibrationData::UpdateState() {
    EZtCalibrationState state;
    {
        CZtLock lock(m_csLock);
        CZtLock current(m_csCurrentConfiguration);
        CZtLock calibration(m_csCalibrationConfiguration);
        state = m_currentConfiguration.CompareSuggestState(m_calibrationConfiguration);
        m_state = state;
    }
    if (m_owner) {
        m_owner->SetCalibrated(state);
    }
}

CZtConfigurationData* CZtCalibrationData::LockCurrentConfiguration() {
    m_csCurrentConfiguration.Enter();
    return &m_currentConfiguration;
}

void CZtCalibrationData::UnlockCurrentConfiguration() {
    m_csCurrentConfiguration.Leave();
}

CZtConfigurationData* CZtCalibrationData::LockCalibrationConfiguration() {
    m_csCalibrationConfiguration.Enter();
    return &m_calibrationConfiguration;
}

void CZtCalibrationData::UnlockCalibrationConfiguration() {
    m_csCalibrationConfiguration.Leave();
}

std::wstring CZtCalibrationData::GetCurrentConfigurationString() {
    CZtConfigurationData copy;
    {
        CZtLock lock(m_csCurrentConfiguration);
        copy = m_currentConfiguration;
    }
    return copy.GetConfigurationString();
}

std::wstring CZtCalibrationData::GetLoadedKey() {
    CZtLock lock(m_csLock);
    return m_strLoadedKey;
}

void CZtCalibrationData::ClearCalibrationConfiguration() {
    CZtLock lock(m_csCalibrationConfiguration);
    m_calibrationConfiguration.Clear();
}

// ---- Stored calibrations
// -------------------------------------------------------------------------

// Reads the settings file and enters "Verove" / device / "Definition" / "Calibration".
int CZtCalibrationData::ReadCalibrationLevel(CZtLiteVariantR* reader) {
    CZtLiteVariantW tree;
    if (!m_owner || ZT_LoadSettingsFile(m_owner->GetSettingsFileName(), &tree) != 0) {
        return VeroveStatus::kNone;
    }
    *reader = CZtLiteVariantR(tree);
    const CZtStringW device = m_owner->GetUniqueName();
    if (reader->OpenLevel(L"Verove") != 0 || reader->OpenLevel(device) != 0 ||
        reader->OpenLevel(L"Definition") != 0 || reader->OpenLevel(L"Calibration") != 0) {
        return VeroveStatus::kNone;
    }
    return 0;
}

int CZtCalibrationData::LoadCalibrationMatrices(const std::wstring& key) {
    if (!m_owner || !m_owner->HasDriver()) {
        return VeroveStatus::kNoDriver;
    }
    CZtLock lock(m_csLock);
    VEROVE_LOG_DETAIL("CZtCalibrationData::LoadCalibrationMatrices",
                      L"Loading calibration matrix D2C and C2D for: %s", key.c_str());
    CZtMatrix3 dmdToCam = kIdentity;
    CZtMatrix3 camToDmd = kIdentity;
    if (key.empty()) {
        UpdateRotationMatrix();
        UpdateFlipMatrix();
        UpdateTranslationVector();
        SetCalibrationCamToDMD(camToDmd);
        SetCalibrationDMDToCam(dmdToCam);
        return 0;
    }
    CZtLiteVariantR reader;
    int result = ReadCalibrationLevel(&reader);
    if (result == 0 && reader.OpenLevel(key.c_str()) != 0) {
        result = VeroveStatus::kNone;
    }
    if (result == 0) {
        VEROVE_LOG("CZtCalibrationData::LoadCalibrationMatrices",
                   L"Succesfully read the calibration data:");
        // Element i lies in the i-th unnamed level; a missing level or value reads 0.0.
        int element = 0;
        for (int more = reader.FirstChild(); element < kStoredElements; ++element) {
            while (more == 0 && reader.GetChildType() != EZtVariantType::Level) {
                more = reader.NextChild();
            }
            if (more != 0) {
                break;
            }
            reader.OpenChild();
            dmdToCam[element] = reader.GetDouble(kDMDToCamName, 0.0);
            camToDmd[element] = reader.GetDouble(kCamToDMDName, 0.0);
            reader.CloseLevel();
            more = reader.NextChild();
        }
        for (; element < kStoredElements; ++element) {
            dmdToCam[element] = 0.0;
            camToDmd[element] = 0.0;
        }
    }
    SetCalibrationCamToDMD(camToDmd);
    SetCalibrationDMDToCam(dmdToCam);
    return result;
}

int CZtCalibrationData::SaveCalibrationMatrices(const std::wstring& key) {
    if (!m_owner) {
        return VeroveStatus::kNoDriver;
    }
    CZtLock lock(m_csLock);
    VEROVE_LOG("CZtCalibrationData::SaveCalibrationMatrices",
               L"Saving calibration matrix D2C and C2D for: %s", key.c_str());
    const CZtStringW file = m_owner->GetSettingsFileName();
    CZtLiteVariantW tree;
    tree.OpenLevel(L"Verove");
    tree.OpenLevel(m_owner->GetUniqueName());
    tree.OpenLevel(L"Definition");
    tree.OpenLevel(L"Calibration");
    tree.OpenLevel(key.c_str());
    for (int element = 0; element < kStoredElements; ++element) {
        tree.OpenLevel(nullptr);
        tree.AddDouble(kDMDToCamName, m_pdCalibrationMatrixDMDToCam[element]);
        tree.AddDouble(kCamToDMDName, m_pdCalibrationMatrixCamToDMD[element]);
        tree.CloseLevel();
    }
    tree.Finalize();
    // Every other calibration and setting of the file stays; this key's values win.
    CZtLiteVariantW stored;
    if (ZT_LoadSettingsFile(file, &stored) == 0) {
        tree.Merge(stored, EZtMerge::KeepValues);
    }
    return ZT_SaveSettingsFile(file, tree);
}

int CZtCalibrationData::LoadCalibration(bool* changed) {
    if (!m_owner) {
        return VeroveStatus::kNoDriver;
    }
    UpdateState();
    std::unique_lock<CZtCriticalSection> lock(m_csLock);

    CZtLiteVariantR reader;
    int result = ReadCalibrationLevel(&reader);
    const bool nothingStored = result != 0 || reader.FirstChild() != 0;
    if (nothingStored) {
        result = VeroveStatus::kNone;
    } else {
        std::wstring chosen;
        std::wstring best;
        int bestState = 0;
        {
            CZtLock current(m_csCurrentConfiguration);
            const std::wstring currentKey = m_currentConfiguration.GetConfigurationString();
            for (int more = 0; more == 0; more = reader.NextChild()) {
                if (reader.GetChildType() != EZtVariantType::Level) {
                    continue;
                }
                const std::wstring key = reader.GetChildName().Str();
                if (key == currentKey) {
                    chosen = key;
                    break;
                }
                CZtConfigurationData stored;
                RebuildFromKey(key, &stored);
                const EZtCalibrationState state =
                    m_currentConfiguration.CompareSuggestState(stored);
                if (state == Calibrated) {
                    chosen = key;
                    break;
                }
                if (state > bestState) {
                    bestState = state;
                    best = key;
                }
            }
        }
        // An equally good later key never replaces the first one found.
        if (chosen.empty() && bestState > NotCalibrated) {
            chosen = best;
        }
        if (chosen.empty()) {
            result = VeroveStatus::kNone;
        } else {
            result = LoadCalibrationMatrices(chosen);
            if (result == 0) {
                CZtConfigurationData rebuilt;
                RebuildFromKey(chosen, &rebuilt);
                std::wstring loaded;
                {
                    CZtLock calibration(m_csCalibrationConfiguration);
                    m_calibrationConfiguration = rebuilt;
                    loaded = m_calibrationConfiguration.GetConfigurationString();
                }
                if (changed) {
                    *changed = loaded != m_strLoadedKey;
                }
                m_strLoadedKey = loaded;
                VEROVE_LOG_DETAIL("CZtCalibrationData::LoadCalibration",
                                  L"Loaded calibration with configuration string %s, current "
                                  L"configuration %s, current calibration state: %d",
                                  m_strLoadedKey.c_str(), GetCurrentConfigurationString().c_str(),
                                  static_cast<int>(m_state.load()));
            }
        }
    }

    // Let go before the owner hears of the new state: it takes the driver's buffer lock, under
    // which rendering reads this object.
    lock.unlock();
    UpdateState();
    if (nothingStored) {
        CZtLock relock(m_csLock);
        ClearCalibrationConfiguration();
        m_strLoadedKey.clear();
        LoadCalibrationMatrices(std::wstring());
    }
    UpdateRotationMatrix();
    UpdateFlipMatrix();
    UpdateTranslationVector();
    UpdateState();
    return result;
}

int CZtCalibrationData::ClearCalibrations() {
    if (!m_owner) {
        return VeroveStatus::kNoDriver;
    }
    CZtLock lock(m_csLock);
    const CZtStringW file = m_owner->GetSettingsFileName();
    CZtLiteVariantW tree;
    if (ZT_LoadSettingsFile(file, &tree) == 0) {
        CZtLiteVariantW emptied;
        emptied.AddString(L"Calibration", L"");
        const std::wstring path =
            ZT_FormatW(L"\\%s\\%s\\%s\\%s", L"Verove", m_owner->GetUniqueName().GetString(),
                       L"Definition", L"Calibration");
        if (tree.Replace(path.c_str(), emptied) == 0) {
            ZT_SaveSettingsFile(file, tree);
        }
    }
    bool changed = true;
    return LoadCalibration(&changed);
}

int CZtCalibrationData::FindKey(const std::wstring& key) {
    CZtLiteVariantR reader;
    const int status = ReadCalibrationLevel(&reader);
    if (status != 0) {
        return status;
    }
    return reader.OpenLevel(key.c_str());
}

int CZtCalibrationData::FindCalibration(std::wstring* key) {
    int status = FindKey(*key);
    if (status != 0 && status != VeroveStatus::kNone) {
        *key = WithoutRotation(*key);
        status = FindKey(*key);
    }
    if (status == 0) {
        VEROVE_LOG("CZtCalibrationData::FindCalibration", L"Calibration available...");
    }
    return status;
}

int CZtCalibrationData::GetStoredKeys(std::vector<std::wstring>* keys) {
    keys->clear();
    CZtLiteVariantR reader;
    if (ReadCalibrationLevel(&reader) != 0) {
        return VeroveStatus::kNone;
    }
    for (int more = reader.FirstChild(); more == 0; more = reader.NextChild()) {
        if (reader.GetChildType() == EZtVariantType::Level) {
            keys->push_back(reader.GetChildName().Str());
        }
    }
    return 0;
}

int CZtCalibrationData::FindCalibrationForCamera(const std::wstring& camera,
                                                 SZtConfigurationStringParts* parts) {
    CZtLiteVariantR reader;
    if (ReadCalibrationLevel(&reader) != 0) {
        return VeroveStatus::kNone;
    }
    for (int more = reader.FirstChild(); more == 0; more = reader.NextChild()) {
        if (reader.GetChildType() != EZtVariantType::Level) {
            continue;
        }
        SZtConfigurationStringParts candidate;
        ParseConfigurationString(reader.GetChildName().Str(), &candidate);
        if (candidate.camera == camera) {
            *parts = candidate;
            return 0;
        }
    }
    return VeroveStatus::kNone;
}
