// The device's GUI element: it shows the pad in the host's tab container and carries device events
// to the GUI thread.
#pragma once

#include <QPointer>
#include <QSize>
#include <cstdint>

#include "zt/zt_guielement.h"

class CZtQWinWidget;
class CZtStimulationDeviceVerove;
class CZtVerovePadQt;

using zt_uint32 = std::uint32_t;
using zt_int32 = std::int32_t;

// Thread-affine to the GUI thread that created it; the emitting methods may be called from any
// thread: the delayed handlers run through queued connections on the GUI thread.
class CZtVerovePadWrapper : public CZtQtGUIControlElement {
    Q_OBJECT

public:
    // device is borrowed: the device owns the wrapper and detaches itself before it goes.
    explicit CZtVerovePadWrapper(CZtStimulationDeviceVerove* device);
    ~CZtVerovePadWrapper() override;

    // Called by the device as it is destroyed; the wrapper and the pad do nothing afterwards.
    void DetachDevice();
    CZtStimulationDeviceVerove* GetDevice() const { return m_device; }
    CZtVerovePadQt* GetPad() const;
    CZtQWinWidget* GetWinWidget() const;
    QSize GetBaseSize() const { return m_baseSize; }

    // Each only emits the matching signal.
    void DMRefresh();
    void CameraNewParams();
    // One sigDelayDeviceChanged per id, in list order.
    void DeviceChanged(const std::uint32_t* ids, int count);
    void DisableGUIModeChanged();
    void PortActivated(bool activated, bool show);
    void ActivePattern(zt_uint32 id);
    void Durations();
    void Patterns();
    void GroupButtons();
    void StimulationState();

    // ---- Host element operations ----
    void setupUi() override;
    QWidget* CreateUI(const wchar_t* name, CZtGUIElement* parentElement) override;
    void DestroyUI() override;
    // Command 3 sets the caption to text (at most 255 characters); others go to the base.
    int CustomCommand(int command, void* param, const wchar_t* text) override;
    void OnGuiZoomChanged() override;
    CZtStringW GetCaption() const override { return CZtStringW(m_caption); }
    // The base size at zoom 1.0 times the zoom, for pad and window widget; the element's size
    // bounds follow.
    void ApplySize();
    // The pad's laser lines came or went: the base height changes by pixels.
    void ChangeBaseHeight(int pixels);

signals:
    void sigDelayDMRefresh();
    void sigDelayDeviceChanged(zt_uint32 uiDeviceID);
    void sigDelayCameraNewParams();
    void sigUpdateStimulationState();
    void sigPortActivated(bool bActivated, bool bShow);
    void sigUpdateActivePattern(zt_uint32 uiPatternID);
    void sigUpdatePatternsCombo();
    void sigUpdateStimulationGroupButtonsAvailability();
    void sigUpdateDurationsCombo();
    void sigDisableGUIModeChanged();

public slots:
    void OnContentResize() {}
    void OnDeviceChangedDelayed(zt_uint32 uiDeviceID);
    void OnDMRefreshDelayed();
    void OnCameraNewParamsDelayed();
    void OnDeviceGUIReady();
    void OnPortActivated(bool bActivated, bool bShow);
    void OnDisableGUIModeChanged();

private:
    void SetCaption(const CZtStringW& caption);
    // The tab container the wrapper was created in; null when there is none.
    CZtTabContainer* TabContainer() const;
    // The device's name from the name manager, as the tab shows it.
    CZtStringW DeviceTitle() const;

    wchar_t m_caption[256] = {};
    CZtGUIElement* m_parentElement = nullptr;  // borrowed; see TabContainer
    QSize m_baseSize;
    QPointer<CZtQWinWidget> m_winWidget;
    QPointer<CZtVerovePadQt> m_pad;
    // Borrowed; written and read on the GUI thread only.
    CZtStimulationDeviceVerove* m_device = nullptr;
    bool m_uiReady = false;
};
