// The widgets of the device pad and their layout.
#include "cztverovepadui.h"

#include <QAction>
#include <QButtonGroup>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpacerItem>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <cmath>

#include "cztpatterncombobox.h"
#include "cztverovepadqt.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

int Zoomed(double size, double zoom) {
    return static_cast<int>(std::lround(size * zoom));
}

QPushButton* TabButton(const wchar_t* text, const char* position, QWidget* parent) {
    auto* button = new QPushButton(Tr(text), parent);
    button->setCheckable(true);
    button->setAutoExclusive(true);
    button->setProperty("GroupButtonPosition", QString::fromLatin1(position));
    return button;
}

// The pad is narrow: longer labels take two lines.
QLabel* WrappedLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    return label;
}

// A page of laser lines, one under the other.
QWidget* LinePage(QWidget* parent) {
    auto* page = new QWidget(parent);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    return page;
}

}  // namespace

void CZtVerovePadUi::SetupUi(QWidget* pad) {
    pad->setWindowTitle(Tr(L"Vivozar Verove Pad"));
    pad->setWindowFlags(pad->windowFlags() | Qt::FramelessWindowHint);
    auto* main = new QVBoxLayout(pad);
    main->setContentsMargins(2, 2, 2, 2);
    main->setSpacing(3);

    auto* tabs = new QHBoxLayout;
    tabs->setContentsMargins(0, 0, 0, 0);
    tabs->setSpacing(0);
    m_pBtnTabControl = TabButton(L"Control", "left", pad);
    m_pBtnTabStimulation = TabButton(L"Stimulation", "right", pad);
    m_pBtnTabControl->setChecked(true);
    m_pTabButtons = new QButtonGroup(pad);
    m_pTabButtons->setExclusive(true);
    m_pTabButtons->addButton(m_pBtnTabControl, 0);
    m_pTabButtons->addButton(m_pBtnTabStimulation, 1);
    tabs->addWidget(m_pBtnTabControl);
    tabs->addWidget(m_pBtnTabStimulation);
    main->addLayout(tabs);

    m_pStackedPages = new QStackedWidget(pad);
    m_pPageControl = BuildControlPage();
    m_pPageStimulation = BuildStimulationPage();
    m_pStackedPages->addWidget(m_pPageControl);
    m_pStackedPages->addWidget(m_pPageStimulation);
    main->addWidget(m_pStackedPages);

    m_pBottomRow = new QWidget(pad);
    m_pBottomLayout = new QHBoxLayout(m_pBottomRow);
    m_pBottomLayout->setContentsMargins(0, 0, 0, 0);
    m_pBottomLayout->setSpacing(3);
    main->addWidget(m_pBottomRow);
    main->addStretch(1);
    PlaceStatus(false);
    ShowLaserSection(false);
}

QWidget* CZtVerovePadUi::BuildControlPage() {
    auto* page = new QWidget(m_pStackedPages);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);

    m_pGridPattern = new QGridLayout;
    m_pGridPattern->setContentsMargins(0, 0, 0, 0);
    m_pGridPattern->addItem(new QSpacerItem(0, 0), 0, 0);
    m_pGridPattern->addWidget(new QLabel(Tr(L"Pattern"), page), 0, 1);
    m_pComboPattern = new CZtPatternComboBox(page);
    m_pComboPattern->setObjectName(QStringLiteral("m_pComboPattern"));
    m_pGridPattern->addWidget(m_pComboPattern, 0, 2, 1, 2);
    m_pBtnPatternExternal = new QPushButton(page);
    m_pBtnPatternExternal->setObjectName(QStringLiteral("m_pBtnPatternExternal"));
    m_pBtnPatternExternal->setIcon(
        QIcon(QStringLiteral(":/w32_baseresources/res/window_open.svg")));
    m_pGridPattern->addWidget(m_pBtnPatternExternal, 0, 4);
    m_pSpacerRight = new QSpacerItem(46, 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
    m_pGridPattern->addItem(m_pSpacerRight, 0, 5);
    m_pGridPattern->addWidget(new QLabel(Tr(L"Shutter"), page), 1, 1);
    m_pBtnShutter = new QPushButton(Tr(L"Shutter"), page);
    m_pBtnShutter->setObjectName(QStringLiteral("m_pBtnShutter"));
    m_pBtnShutter->setCheckable(true);
    m_pBtnShutter->setIcon(QIcon(QStringLiteral(":/w32_baseresources/res/device/shutter_off.svg")));
    m_pBtnShutter->setEnabled(false);
    m_pBtnShutter->setFocusPolicy(Qt::NoFocus);
    m_pGridPattern->addWidget(m_pBtnShutter, 1, 2);
    layout->addLayout(m_pGridPattern);

    m_pGridSettings = new QGridLayout;
    m_pGridSettings->setSpacing(3);
    m_pGridSettings->addWidget(WrappedLabel(Tr(L"Mirror Grayscaling"), page), 0, 0);
    m_pPickerGrayscaling = new CZtPickerTogglePushButton(page);
    m_pPickerGrayscaling->setObjectName(QStringLiteral("m_pPickerGrayscaling"));
    for (const char* property : {"checkable", "checked", "autoRepeat", "default", "flat"}) {
        m_pPickerGrayscaling->setProperty(property, false);
    }
    const wchar_t* levels[] = {L"16 levels", L"64 levels", L"256 levels"};
    for (int i = 0; i < 3; ++i) {
        m_grayscaleActions[static_cast<size_t>(i)] =
            m_pPickerGrayscaling->AddItem(Tr(levels[i]), i);
    }
    m_pGridSettings->addWidget(m_pPickerGrayscaling, 0, 1);
    m_pGridSettings->addWidget(WrappedLabel(Tr(L"Camera FOV and DMD"), page), 1, 0);
    m_pBtnMatchFOV = new QPushButton(Tr(L"Match"), page);
    m_pBtnMatchFOV->setObjectName(QStringLiteral("m_pBtnMatchFOV"));
    m_pBtnMatchFOV->setCheckable(true);
    m_pBtnMatchFOV->setIcon(
        QIcon(QStringLiteral(":/w32_baseresources/res/device/Dudavir_fovroi.svg")));
    m_pGridSettings->addWidget(m_pBtnMatchFOV, 1, 1);
    m_pGridSettings->addItem(new QSpacerItem(0, 6, QSizePolicy::Minimum, QSizePolicy::Fixed), 2, 0);
    m_pLabelStatus = new QLabel(Tr(L"Not calibrated"), page);
    m_pLabelStatus->setObjectName(QStringLiteral("m_pLabelStatus"));
    m_pLabelStatus->setProperty("style", QStringLiteral("error"));
    // The configuration in brackets makes the line longer than the narrow pad.
    m_pLabelStatus->setWordWrap(true);
    m_pBtnConfigure = new QPushButton(Tr(L"Configure..."), page);
    m_pBtnConfigure->setObjectName(QStringLiteral("m_pBtnConfigure"));
    m_pBtnConfigure->setIcon(QIcon(QStringLiteral(":/w32_baseresources/res/settings.svg")));
    layout->addLayout(m_pGridSettings);

    auto* laserSection = LinePage(page);
    laserSection->setObjectName(QStringLiteral("laser_section_direct_control"));
    m_laserGroupParents[ZtStimGroupDirect] = laserSection;
    layout->addWidget(laserSection);
    return page;
}

QWidget* CZtVerovePadUi::BuildStimulationPage() {
    auto* page = new QWidget(m_pStackedPages);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(3);

    auto* duration = new QGroupBox(Tr(L"Duration"), page);
    auto* durationLayout = new QHBoxLayout(duration);
    durationLayout->setContentsMargins(3, 3, 3, 3);
    m_pComboPulseTime = new QComboBox(duration);
    m_pComboPulseTime->setObjectName(QStringLiteral("combo_pulse_time"));
    m_pComboPulseTime->setEditable(true);
    // A time the user types becomes an item: the pulse-time list keeps it.
    m_pComboPulseTime->setInsertPolicy(QComboBox::InsertAtBottom);
    m_pBtnPulse = new QPushButton(Tr(L"Pulse"), duration);
    m_pBtnPulse->setObjectName(QStringLiteral("btn_pulse"));
    m_pBtnManual = new QPushButton(Tr(L"Manual"), duration);
    m_pBtnManual->setObjectName(QStringLiteral("btn_manual"));
    durationLayout->addWidget(m_pComboPulseTime, 1);
    durationLayout->addWidget(m_pBtnPulse);
    durationLayout->addWidget(m_pBtnManual);
    layout->addWidget(duration);

    auto* settings = new QGroupBox(Tr(L"Settings"), page);
    m_pLaserSection = settings;
    auto* settingsLayout = new QVBoxLayout(settings);
    settingsLayout->setContentsMargins(3, 3, 3, 3);
    auto* groups = new QHBoxLayout;
    groups->setSpacing(0);
    m_pStimGroupButtons = new QButtonGroup(settings);
    m_pStimGroupButtons->setExclusive(true);
    for (int g = 0; g < 3; ++g) {
        auto* button = new QPushButton(QStringLiteral("S%1").arg(g + 1), settings);
        button->setObjectName(QStringLiteral("btn_stim_grp_%1").arg(g + 1));
        button->setCheckable(true);
        m_stimGroupButtons[static_cast<size_t>(g)] = button;
        m_pStimGroupButtons->addButton(button, g);
        groups->addWidget(button);
    }
    m_stimGroupButtons[0]->setChecked(true);
    settingsLayout->addLayout(groups);
    m_pStackedStimGroup = new QStackedWidget(settings);
    m_pStackedStimGroup->setObjectName(QStringLiteral("stacked_widget_stim_group"));
    for (int g = 0; g < 3; ++g) {
        QWidget* linePage = LinePage(m_pStackedStimGroup);
        linePage->setObjectName(QStringLiteral("stim_group_page_%1").arg(g + 1));
        m_pStackedStimGroup->addWidget(linePage);
        m_laserGroupParents[static_cast<size_t>(g)] = linePage;
    }
    settingsLayout->addWidget(m_pStackedStimGroup);
    m_pLabelNoLaunch = new QLabel(Tr(L"No associated laser launch..."), settings);
    m_pLabelNoLaunch->setObjectName(QStringLiteral("label_no_laser_launch"));
    settingsLayout->addWidget(m_pLabelNoLaunch);
    layout->addWidget(settings);
    layout->addStretch(1);
    return page;
}

void CZtVerovePadUi::Connect(CZtVerovePadQt* pad) {
    QObject::connect(m_pTabButtons, &QButtonGroup::idReleased, pad,
                     &CZtVerovePadQt::OnTabButtonReleased);
    QObject::connect(m_pStimGroupButtons, &QButtonGroup::idReleased, pad,
                     &CZtVerovePadQt::OnStimGrpButtonReleased);
    // By name: the slot's default argument tells a user's press from the pad's own refresh.
    QObject::connect(m_pBtnShutter, SIGNAL(released()), pad, SLOT(OnButtonShutterReleased()));
    QObject::connect(m_pBtnMatchFOV, &QPushButton::released, pad,
                     &CZtVerovePadQt::OnButtonMatchFOVReleased);
    QObject::connect(m_pBtnConfigure, &QPushButton::released, pad,
                     &CZtVerovePadQt::OnButtonConfigureReleased);
    QObject::connect(m_pBtnPatternExternal, &QPushButton::released, pad,
                     &CZtVerovePadQt::OnButtonPatternExternalReleased);
    QObject::connect(m_pComboPattern, qOverload<int>(&QComboBox::currentIndexChanged), pad,
                     &CZtVerovePadQt::OnPatternSelectionChanged, Qt::QueuedConnection);
    QObject::connect(m_pPickerGrayscaling, &CZtPickerTogglePushButton::checkedChanged, pad,
                     &CZtVerovePadQt::OnPickerGrayscalingChecked);
    QObject::connect(m_pPickerGrayscaling, &CZtPickerTogglePushButton::selectionChanged, pad,
                     &CZtVerovePadQt::OnPickerGrayscalingSelectionChanged);
    QObject::connect(m_pComboPulseTime, qOverload<int>(&QComboBox::currentIndexChanged), pad,
                     &CZtVerovePadQt::OnComboPulseTimeSelectionChanged);
    QObject::connect(m_pBtnPulse, &QPushButton::released, pad,
                     &CZtVerovePadQt::OnButtonPulseReleased);
    QObject::connect(m_pBtnManual, &QPushButton::pressed, pad,
                     &CZtVerovePadQt::OnButtonManualPressed);
    QObject::connect(m_pBtnManual, &QPushButton::released, pad,
                     &CZtVerovePadQt::OnButtonManualReleased);
}

void CZtVerovePadUi::ApplyZoom(double zoom) {
    if (m_pComboPattern) {
        m_pComboPattern->setMinimumWidth(Zoomed(135, zoom));
    }
    if (m_pSpacerRight && m_pGridPattern) {
        m_pSpacerRight->changeSize(Zoomed(46, zoom), 0, QSizePolicy::Fixed, QSizePolicy::Minimum);
        m_pGridPattern->invalidate();
    }
}

void CZtVerovePadUi::PlaceStatus(bool bottomRow) {
    if (!m_pLabelStatus || !m_pBtnConfigure || !m_pGridSettings || !m_pBottomLayout) {
        return;
    }
    if (bottomRow) {
        m_pBottomLayout->addWidget(m_pLabelStatus, 1);
        m_pBottomLayout->addWidget(m_pBtnConfigure);
    } else {
        m_pGridSettings->addWidget(m_pLabelStatus, 3, 0);
        m_pGridSettings->addWidget(m_pBtnConfigure, 3, 1);
    }
    m_pBottomRow->setVisible(bottomRow);
}

void CZtVerovePadUi::ShowLaserSection(bool hasLines) {
    if (m_pStackedStimGroup && m_pLabelNoLaunch) {
        m_pStackedStimGroup->setVisible(hasLines);
        m_pLabelNoLaunch->setVisible(!hasLines);
    }
}
