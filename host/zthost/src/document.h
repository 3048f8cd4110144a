// Document: one document of the host (IZtDocument), kept in the DocumentStore.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "zt/zt_document.h"
#include "zthost/camera_control.h"

// Thread-safe; every member is guarded by m_mutex. Never calls the store while holding it.
class Document : public CZtClass, public IZtDocument {
public:
    Document(int type, const std::wstring& title);

    void* QueryInterface(const char* interfaceName) override;

    int GetType() override { return m_type; }
    ZT_DWORD GetTag() override;
    int SetTag(ZT_DWORD tag) override;
    CZtStringW GetTitle() override { return m_title; }
    bool IsOpen() override;

    int LoadSample(const CZtGrabberSample* sample, const SZtPictureMetadata* metadata) override;
    int GetPicture(SZtPicBuf* picture) override;
    int GetMetadata(SZtPictureMetadata* metadata) override;
    int SetLookUpTables(std::uint32_t low, std::uint32_t high) override;
    int SetCalibration(const SZtCalibrationAttr* attr) override;
    int SetCameraZoom(double zoom) override;
    int RefreshViews() override;

    int AddView(int* view) override;
    int GetViewCount() override;
    int GetViewTitle(int view, CZtStringW* title) override;
    int SetViewTitle(int view, const wchar_t* title) override;
    int ActivateView(int view) override;
    int GetViewCentre(int view, double* x, double* y) override;

    int ClearAllRois(const wchar_t* actionName) override;
    int AddRoi(const CZtRoiObject* roi) override;
    int GetRois(CZtRoiObjectList* rois) override;
    bool HasStimulationRoi() override;
    int ClearStimulationRois(const wchar_t* actionName) override;
    int MoveRoi(std::uint32_t id, double x, double y) override;

    // The store's side.
    void SetOpen(bool open);
    bool HasView(int view);
    void SetActiveView(int view);
    // A document of a picture taken earlier: the format it was taken with, no pixels.
    void SetFormat(const SZtGrabberFormatDesc& format);
    // The camera format its picture was taken with; false when it has none.
    bool Format(SZtGrabberFormatDesc* format);
    zthost::DocumentInfo Info();

private:
    ~Document() override = default;

    const int m_type;
    const CZtStringW m_title;
    std::mutex m_mutex;
    bool m_open = true;
    ZT_DWORD m_tag = 0;
    SZtPicBuf m_picture;
    bool m_hasMetadata = false;
    SZtPictureMetadata m_metadata;
    std::uint32_t m_lutLow = 0;
    std::uint32_t m_lutHigh = 0;
    SZtCalibrationAttr m_calibration;
    double m_cameraZoom = 1.0;
    int m_refreshCount = 0;
    std::vector<std::wstring> m_viewTitles;
    int m_activeView = -1;
    CZtRoiObjectList m_rois;
    std::uint32_t m_nextRoiId = 1;
    std::vector<std::wstring> m_roiActions;
};
