// The optical configuration a calibration belongs to, and its text key (the configuration string).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "zt/zt_export.h"
#include "zt/zt_sync.h"

class DMApi;
class IZtGrabberProvider;

enum EZtCalibrationState : int {
    NotCalibrated = 1,
    Mismatch = 2,
    Compatible = 3,
    Calibrated = 4,
};

// One active filter changer: its device key, the filter at the current position and the position.
struct SZtFilterEntry {
    std::wstring key;
    std::wstring filterName;
    std::int32_t position = 0;
    friend bool operator<(const SZtFilterEntry& a, const SZtFilterEntry& b) {
        return std::tie(a.key, a.filterName, a.position) <
               std::tie(b.key, b.filterName, b.position);
    }
};

struct SZtMultilaserEntry {
    std::wstring key;
    std::uint32_t usedLineMask = 0;  // bit i: line i is in use
    friend bool operator<(const SZtMultilaserEntry& a, const SZtMultilaserEntry& b) {
        return std::tie(a.key, a.usedLineMask) < std::tie(b.key, b.usedLineMask);
    }
};

// The parts of a parsed configuration string, all as text.
struct SZtConfigurationStringParts {
    struct Filter {
        std::wstring key;
        std::wstring filterName;
        std::wstring position;
    };
    std::vector<Filter> filters;
    std::wstring objective;
    std::wstring zoom;
    std::wstring camera;
    std::wstring rotation;
    std::int32_t port = 0;
    bool trax = false;
};

// Thread-safe through its own recursive lock: mutators, the string builder and the comparisons
// take it; the other record of a comparison or assignment is read without its lock, so callers
// sharing a record between threads lock it first (Lock/Unlock).
class CZtConfigurationData {
public:
    CZtConfigurationData();
    CZtConfigurationData(const CZtConfigurationData& other);
    CZtConfigurationData& operator=(const CZtConfigurationData& other);
    virtual ~CZtConfigurationData();

    void AddCamera(const std::wstring& name);
    void AddObjective(const std::wstring& code);
    void AddMicroscope(const std::wstring& key);
    void AddLight(const std::wstring& key);
    void AddFilterChanger(const std::wstring& key, const std::wstring& filterName,
                          std::int32_t position);
    void AddMultilaser(const std::wstring& key, std::uint32_t usedLineMask);
    void AddManualZoom(double zoom);
    void AddConnectionPort(std::int32_t port);
    // Stores the rotation normalised to [0, 360).
    void SetCameraRotation(double degrees);
    void SetTRAXConnected(bool connected);
    void SetValid(bool valid);
    void Clear();

    bool IsValid() const { return m_bValid; }
    std::int32_t GetConnectionPort() const { return m_iConnectionPort; }
    bool IsTRAXConnected() const { return m_bTRAXConnected; }
    std::wstring GetCamera() const { return m_strCamera; }
    double GetCameraRotation() const { return m_dCameraRotation; }
    bool IsRotationSet() const { return m_bRotationSet; }
    const std::set<SZtFilterEntry>& GetFilterChangers() const { return m_filters; }
    const std::set<std::wstring>& GetLights() const { return m_lights; }
    const std::set<SZtMultilaserEntry>& GetMultilasers() const { return m_multilasers; }
    std::wstring GetObjective() const { return m_strObjective; }
    std::wstring GetMicroscope() const { return m_strMicroscope; }
    double GetManualZoom() const { return m_dManualZoom; }

    std::wstring GetConfigurationString();
    bool Equals(const CZtConfigurationData& other);
    EZtCalibrationState CompareSuggestState(const CZtConfigurationData& other);

    void Lock();
    void Unlock();

private:
    void CreateLock(const char* function);
    void CopyFieldsFrom(const CZtConfigurationData& other);
    bool SameFilters(const CZtConfigurationData& other) const;

    std::set<SZtFilterEntry> m_filters;
    std::wstring m_strObjective;
    std::set<std::wstring> m_lights;
    std::wstring m_strMicroscope;
    std::set<SZtMultilaserEntry> m_multilasers;
    double m_dManualZoom = 0.0;
    std::wstring m_strCamera;
    double m_dCameraRotation = 0.0;
    bool m_bRotationSet = false;
    bool m_bLockInitialised = false;
    bool m_bValid = false;
    std::int32_t m_iConnectionPort = 0;
    bool m_bTRAXConnected = false;
    std::unique_ptr<CZtCriticalSection> m_csLock;
};

// Splits a configuration string into its parts; always 0.
int ParseConfigurationString(const std::wstring& text, SZtConfigurationStringParts* parts);
// Fills an empty record from parsed parts.
void BuildConfigurationFromParts(const SZtConfigurationStringParts& parts,
                                 CZtConfigurationData* record);
// Fills record with the live optical path: of the visible and active logical devices among ids,
// the objective, filter changers, lights, microscope, multi-lasers and manual zoom; then the
// active camera and its rotation; then, when the device has a driver, the TRAX flag it reports.
// 0, -4 without ids or device manager, -12 without grabber.
int FillConfigurationData(DMApi* devices, IZtGrabberProvider* grabber, const ZT_DWORD* ids,
                          int count, CZtConfigurationData* record,
                          std::optional<bool> driverTraxConnected);
