// The device's GUI element: the pad in the host's tab container, and the queued hand-over of
// device events to the GUI thread.
#include "cztverovepadwrapper.h"

#include <QApplication>
#include <QHBoxLayout>
#include <cmath>
#include <cwchar>

#include "cztstimulationdeviceverove.h"
#include "cztverovenamemanager.h"
#include "cztverovepadqt.h"
#include "verove_log.h"
#include "zt/zt_layout.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"

namespace {

constexpr int kPadWidth = 270;

int Zoomed(int size, double zoom) {
    return static_cast<int>(std::lround(size * zoom));
}

// The number after the last "_" of a unique name; 0 without one.
int NumberOf(const CZtStringW& uniqueName) {
    const std::wstring& name = uniqueName.Str();
    const size_t underscore = name.rfind(L'_');
    return underscore == std::wstring::npos
               ? 0
               : std::wcstol(name.c_str() + underscore + 1, nullptr, 10);
}

}  // namespace

CZtVerovePadWrapper::CZtVerovePadWrapper(CZtStimulationDeviceVerove* device) : m_device(device) {
    qRegisterMetaType<zt_uint32>("zt_uint32");
    qRegisterMetaType<zt_int32>("zt_int32");
    // Host events arrive inside the host's event dispatch or on work threads: the device's
    // delayed handlers always run later, from the GUI thread's event loop. Connected from the
    // start, not with the pad: a host that never shows the pad still needs them.
    connect(this, &CZtVerovePadWrapper::sigDelayDMRefresh, this,
            &CZtVerovePadWrapper::OnDMRefreshDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigDelayDeviceChanged, this,
            &CZtVerovePadWrapper::OnDeviceChangedDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigDelayCameraNewParams, this,
            &CZtVerovePadWrapper::OnCameraNewParamsDelayed, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigPortActivated, this,
            &CZtVerovePadWrapper::OnPortActivated);
}

CZtVerovePadWrapper::~CZtVerovePadWrapper() {
    CZtVerovePadWrapper::DestroyUI();
}

void CZtVerovePadWrapper::DetachDevice() {
    m_device = nullptr;
    if (m_pad) {
        m_pad->DetachDevice();
    }
}

CZtVerovePadQt* CZtVerovePadWrapper::GetPad() const {
    return m_pad;
}

CZtQWinWidget* CZtVerovePadWrapper::GetWinWidget() const {
    return m_winWidget;
}

// ---- Device events ------------------------------------------------------------------------------

void CZtVerovePadWrapper::DMRefresh() {
    emit sigDelayDMRefresh();
}

void CZtVerovePadWrapper::CameraNewParams() {
    emit sigDelayCameraNewParams();
}

void CZtVerovePadWrapper::DeviceChanged(const std::uint32_t* ids, int count) {
    for (int i = 0; ids && i < count; ++i) {
        emit sigDelayDeviceChanged(ids[i]);
    }
}

void CZtVerovePadWrapper::DisableGUIModeChanged() {
    emit sigDisableGUIModeChanged();
}

void CZtVerovePadWrapper::PortActivated(bool activated, bool show) {
    emit sigPortActivated(activated, show);
}

void CZtVerovePadWrapper::ActivePattern(zt_uint32 id) {
    emit sigUpdateActivePattern(id);
}

void CZtVerovePadWrapper::Durations() {
    emit sigUpdateDurationsCombo();
}

void CZtVerovePadWrapper::Patterns() {
    emit sigUpdatePatternsCombo();
}

void CZtVerovePadWrapper::GroupButtons() {
    emit sigUpdateStimulationGroupButtonsAvailability();
}

void CZtVerovePadWrapper::StimulationState() {
    emit sigUpdateStimulationState();
}

void CZtVerovePadWrapper::OnDeviceChangedDelayed(zt_uint32 uiDeviceID) {
    if (m_device) {
        m_device->HandleDeviceChangedDelayed(uiDeviceID);
        if (m_pad) {
            m_pad->OnUpdateStatusMessage();
        }
    }
}

void CZtVerovePadWrapper::OnDMRefreshDelayed() {
    if (m_device) {
        m_device->HandleDMRefreshDelayed();
        if (m_pad) {
            m_pad->OnUpdateStatusMessage();
        }
    }
}

void CZtVerovePadWrapper::OnCameraNewParamsDelayed() {
    if (m_device) {
        m_device->HandleCameraNewParamsDelayed();
    }
}

void CZtVerovePadWrapper::OnDeviceGUIReady() {
    if (m_device) {
        m_device->LoadSettings();
    }
}

void CZtVerovePadWrapper::OnDisableGUIModeChanged() {
    emit sigDisableGUIModeChanged();
}

// ---- Host element -------------------------------------------------------------------------------

void CZtVerovePadWrapper::setupUi() {
    CZtQtGUIControlElement::setupUi();
    if (m_pad) {
        return;
    }
    m_winWidget = new CZtQWinWidget(GetNativeWindow());
    if (m_winWidget->objectName().isEmpty()) {
        m_winWidget->setObjectName(QStringLiteral("Verove"));
    }
    m_winWidget->hide();
    auto* layout = new QHBoxLayout(m_winWidget);
    layout->setContentsMargins(0, 0, 0, 0);

    m_pad = new CZtVerovePadQt(m_winWidget, this, m_device);
    layout->addWidget(m_pad);
    m_pad->SetupLayout();
    m_winWidget->setWindowTitle(QStringLiteral("VerovePad"));
    m_winWidget->move(0, 0);
    m_pad->adjustSize();

    const double zoom = ZT_GetGUIZoom();
    m_baseSize = QSize(kPadWidth, m_pad->height());
    m_pad->setFixedWidth(Zoomed(kPadWidth, zoom));
    m_winWidget->setMinimumWidth(Zoomed(kPadWidth, zoom));
    m_winWidget->setMaximumWidth(Zoomed(kPadWidth, zoom));
    m_winWidget->setMinimumHeight(Zoomed(m_baseSize.height(), zoom));
    m_winWidget->setMaximumHeight(Zoomed(m_baseSize.height(), zoom));
    m_winWidget->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Preferred);

    connect(m_pad, &CZtVerovePadQt::sigContentChanged, this, &CZtVerovePadWrapper::OnContentResize);
    // Queued from the GUI thread too: the device tells of a new state from inside its calibration
    // and stimulation calls, whose locks the pad must not take in the wrong order.
    connect(this, &CZtVerovePadWrapper::sigUpdateStimulationState, m_pad,
            &CZtVerovePadQt::OnUpdateStimulationState, Qt::QueuedConnection);
    connect(this, &CZtVerovePadWrapper::sigUpdateActivePattern, m_pad,
            &CZtVerovePadQt::OnActivePatternChanged);
    connect(this, &CZtVerovePadWrapper::sigUpdatePatternsCombo, m_pad,
            &CZtVerovePadQt::OnUpdatePatternsCombo);
    connect(this, &CZtVerovePadWrapper::sigUpdateStimulationGroupButtonsAvailability, m_pad,
            &CZtVerovePadQt::OnUpdateStimulationGroupButtonsAvailability);
    connect(this, &CZtVerovePadWrapper::sigUpdateDurationsCombo, m_pad,
            &CZtVerovePadQt::OnUpdateDurationsCombo);
    connect(this, &CZtVerovePadWrapper::sigDisableGUIModeChanged, m_pad,
            &CZtVerovePadQt::OnDisableGUIModeChanged);
    Enable(true);
    m_uiReady = true;
    ApplySize();

    {
        const QSignalBlocker blocker(m_pad);
        m_pad->RebuildLaserSection(SZtVerovePadLight());
    }
    emit m_pad->sigDeviceGUIReady();
}

QWidget* CZtVerovePadWrapper::CreateUI(const wchar_t* name, CZtGUIElement* parentElement) {
    if (IsUICreated()) {
        return GetNativeWindow();
    }
    Enable(false);
    m_parentElement = parentElement;
    QWidget* handle = CZtQtGUIControlElement::CreateUI(name, parentElement);
    std::wcsncpy(m_caption, name ? name : L"", 255);
    CZtStringW caption = DeviceTitle();
    if (m_device && m_device->IsSimulated()) {
        caption += ZT_GetTranslation(L" Simulator");
    }
    const int number = m_device ? NumberOf(m_device->GetUniqueName()) : 0;
    if (number > 0) {
        caption.AppendFormat(L" (%i)", number + 1);
    }
    SetCaption(caption);
    if (m_pad && m_winWidget) {
        m_pad->adjustSize();
        SetSizeBounds(QSize(Zoomed(kPadWidth, ZT_GetGUIZoom()), m_winWidget->height()),
                      QSize(Zoomed(kPadWidth, ZT_GetGUIZoom()), m_winWidget->height()));
    }
    if (CZtTabContainer* container = TabContainer()) {
        container->RefreshTabTitles();
    }
    Enable(true);
    return handle;
}

void CZtVerovePadWrapper::DestroyUI() {
    m_device = nullptr;
    if (m_pad) {
        m_pad->DetachDevice();
    }
    m_uiReady = false;
    m_parentElement = nullptr;
    CZtQtGUIControlElement::DestroyUI();
}

int CZtVerovePadWrapper::CustomCommand(int command, void* param, const wchar_t* text) {
    if (command != 3) {
        return CZtQtGUIControlElement::CustomCommand(command, param, text);
    }
    CZtStringW caption(std::wstring(text ? text : L"").substr(0, 255));
    if (caption == m_caption) {
        return 0;
    }
    SetCaption(caption);
    if (CZtTabContainer* container = TabContainer()) {
        container->RefreshTabTitles();
        container->UpdateActiveTab();
    }
    return 0;
}

void CZtVerovePadWrapper::SetCaption(const CZtStringW& caption) {
    std::wcsncpy(m_caption, caption.GetString(), 255);
    m_caption[255] = L'\0';
}

CZtTabContainer* CZtVerovePadWrapper::TabContainer() const {
    CZtGUIElement* parent = GetParentElement();
    return parent && parent == m_parentElement
               ? qobject_cast<CZtTabContainer*>(parent->FindContainer("CZtTabContainer"))
               : nullptr;
}

CZtStringW CZtVerovePadWrapper::DeviceTitle() const {
    return CZtStringW(CZtVeroveNameManager::Instance().GetDisplayName());
}

void CZtVerovePadWrapper::OnPortActivated(bool bActivated, bool bShow) {
    VEROVE_LOG("CZtVerovePadWrapper::OnPortActivated", L"Start - (%d, %d)", bActivated ? 1 : 0,
               bShow ? 1 : 0);
    if (!m_device) {
        return;
    }
    CZtStringW title = DeviceTitle();
    if (m_device->IsSimulated()) {
        title.Format(ZT_GetTranslation(L"%s Simulator"), DeviceTitle().GetString());
    }
    if (bActivated) {
        title += ZT_GetTranslation(L" - active");
    }
    CZtTabContainer* container = TabContainer();
    IZtLayoutManager* layout = ZT_GetLayoutManager();
    const bool manual = m_device->IsPadManualStimulation();
    if (bShow && layout) {
        CZtQtGUIControlElement* active = container ? container->GetActiveElement() : nullptr;
        const bool alreadyActive =
            bActivated && active && active->GetElementName() == m_device->GetGUIElementName();
        const bool busyHere = manual && layout->GetActiveVisibleElement() == this;
        if (!alreadyActive && !busyHere) {
            const bool suspended = layout->SuspendLayoutChanges(true);
            layout->ShowElementAsSaved(this);
            layout->SetActiveElement(this);
            layout->SuspendLayoutChanges(suspended);
        }
    }
    if (!(title == m_caption)) {
        SetCaption(title);
        if (container) {
            container->RefreshTabTitles();
            if (!manual) {
                container->UpdateActiveTab();
            }
        }
    }
}

// ---- Sizes --------------------------------------------------------------------------------------

void CZtVerovePadWrapper::OnGuiZoomChanged() {
    if (!m_pad || !m_winWidget) {
        return;
    }
    m_pad->ApplyZoom();
    CZtQtGUIControlElement::OnGuiZoomChanged();
    QApplication::processEvents();
    ApplySize();
}

void CZtVerovePadWrapper::ApplySize() {
    if (!m_pad || !m_winWidget) {
        return;
    }
    const double zoom = ZT_GetGUIZoom();
    const QSize size(Zoomed(m_baseSize.width(), zoom), Zoomed(m_baseSize.height(), zoom));
    m_pad->setFixedSize(size);
    m_winWidget->setFixedSize(size);
    SetSizeBounds(size, size);
    RequestLayout();
}

void CZtVerovePadWrapper::ChangeBaseHeight(int pixels) {
    m_baseSize.rheight() += pixels;
    if (m_uiReady) {
        ApplySize();
    }
}
