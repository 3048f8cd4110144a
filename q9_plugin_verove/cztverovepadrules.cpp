// What the pad offers in a given situation.
#include "cztverovepadrules.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <QStyle>

#include "cztcalibrationdata.h"
#include "cztpatterncombobox.h"
#include "cztstimulationdeviceverove.h"
#include "cztverovelightpath.h"
#include "cztverovepadui.h"
#include "zt/zt_qtwidgets.h"
#include "zt/zt_util.h"

namespace {

QString Tr(const wchar_t* text) {
    return QString::fromStdWString(ZT_GetTranslation(text).Str());
}

// The short form of the optical configuration: camera, and objective when there is one.
QString ConfigurationText(CZtCalibrationData* calibration) {
    CZtConfigurationData* current = calibration->LockCurrentConfiguration();
    const std::wstring camera = current->GetCamera();
    const std::wstring objective = current->GetObjective();
    calibration->UnlockCurrentConfiguration();
    QString text = QString::fromStdWString(camera);
    if (!text.isEmpty() && !objective.empty()) {
        text += QStringLiteral(" / ") + QString::fromStdWString(objective);
    }
    return text;
}

}  // namespace

SZtPadSituation CZtVerovePadRules::Read(CZtStimulationDeviceVerove* device) {
    SZtPadSituation situation;
    if (!device) {
        return situation;
    }
    CZtCalibrationData* calibration = device->GetCalibrationData();
    situation.calibrationData = calibration != nullptr;
    if (calibration) {
        situation.calibrationState = calibration->GetCalibrationState();
        situation.configurationText = ConfigurationText(calibration);
    }
    situation.manual = device->IsPadManualStimulation();
    situation.pulse = device->IsPadPulseStimulation();
    situation.durationMs = device->GetPadPulseDuration();
    situation.autocalibrationRunning = device->IsAutocalibrationRunning();
    return situation;
}

QString CZtVerovePadRules::StatusText(const SZtPadSituation& s, QString* style) {
    if (s.manual && !s.pulse) {
        *style = QStringLiteral("warning");
        return QStringLiteral("Stimulating...");
    }
    if (s.pulse) {
        *style = QStringLiteral("warning");
        return Tr(L"Stimulating...") + s.lastPulseText;
    }
    const bool named = !s.configurationText.isEmpty();
    switch (s.calibrationState) {
        case Mismatch:
            *style = QStringLiteral("warning");
            return Tr(L"Calibration doesn't match");
        case Compatible:
            *style = QStringLiteral("warning");
            return named ? Tr(L"Calibrated [%1] / Compatibility mode").arg(s.configurationText)
                         : Tr(L"Calibrated");
        case Calibrated:
            *style = QStringLiteral("ok");
            return named ? Tr(L"Calibrated [%1]").arg(s.configurationText) : Tr(L"Calibrated");
        default:
            *style = QStringLiteral("error");
            return named ? Tr(L"Not calibrated [%1]").arg(s.configurationText) : Tr(L"No grabber");
    }
}

SZtPadAvailability CZtVerovePadRules::Availability(const SZtPadSituation& s) {
    SZtPadAvailability a;
    const QString group = QStringLiteral("S%1").arg(s.group + 1);
    const bool calibrated = s.calibrationData && s.calibrationState > NotCalibrated;
    const QString hold = Tr(L"Stimulate %1 for as long as you hold the button.").arg(group);
    const QString timed = Tr(L"Stimulate %1 for the defined duration.").arg(group);
    if (!calibrated) {
        a.match = {false, Tr(L"Unable to Match Camera FOV and DMD with invalid calibration.")};
    }

    a.pulseText = Tr(L"Pulse");
    if (s.pulse) {
        a.pulseText = Tr(L"Abort");
        a.pulse = {true, Tr(L"Cancel stimulation.")};
        a.manual = {s.groupHasAreas, hold};
    } else if (!calibrated) {
        const QString why = Tr(L"Unable to stimulate, invalid calibration");
        a.pulse = {false, why};
        a.manual = {false, why};
    } else if (!s.groupHasAreas) {
        const QString why = Tr(L"Unable to stimulate %1, no stimulation ROIs defined.").arg(group);
        a.pulse = {false, why};
        a.manual = {false, why};
    } else if (s.manual) {
        a.pulse = {false, timed};
        a.manual = {true, hold};
    } else if (s.durationMs < 0.0) {
        a.pulse = {false, Tr(L"Unable to stimulate, invalid pulse duration: %1").arg(s.pulseText)};
        a.manual = {true, hold};
    } else {
        a.pulse = {true, timed};
        a.manual = {true, hold};
    }

    if (s.autocalibrationRunning) {
        a.patternManager = {false, Tr(L"Cannot manage patterns during autocalibration.")};
        a.patternCombo = {false, Tr(L"Cannot change patterns during autocalibration.")};
        a.picker = {false, Tr(L"Cannot change bit depth during autocalibration.")};
        if (calibrated) {
            a.match = {false, Tr(L"Cannot use camera ROI during autocalibration.")};
        }
    }
    a.calibrationStimulation = s.pulse || (s.s1HasAreas && s.durationMs > 0.0);
    return a;
}

namespace {

void SetControl(QWidget* widget, const SZtControlState& state) {
    if (widget) {
        widget->setEnabled(state.enabled);
        widget->setToolTip(state.tooltip);
    }
}

}  // namespace

void CZtVerovePadRules::Apply(const SZtPadAvailability& a, const CZtVerovePadUi& ui) {
    if (ui.m_pBtnPulse && ui.m_pBtnManual) {
        ui.m_pBtnPulse->setText(a.pulseText);
        SetControl(ui.m_pBtnPulse, a.pulse);
        SetControl(ui.m_pBtnManual, a.manual);
    }
    if (ui.m_pComboPattern && ui.m_pBtnPatternExternal && ui.m_pPickerGrayscaling &&
        ui.m_pBtnMatchFOV) {
        SetControl(ui.m_pBtnPatternExternal, a.patternManager);
        SetControl(ui.m_pComboPattern, a.patternCombo);
        SetControl(ui.m_pPickerGrayscaling, a.picker);
        SetControl(ui.m_pBtnMatchFOV, a.match);
    }
}

void CZtVerovePadRules::ShowStatus(QLabel* label, const QString& text, const QString& style) {
    label->setText(text);
    label->setProperty("style", style);
    label->style()->unpolish(label);
    label->style()->polish(label);
}

int CZtVerovePadRules::BitDepthOfItem(int item) {
    static const int kBits[] = {4, 6, 8};
    return item >= 0 && item <= 2 ? kBits[item] : 1;
}

int CZtVerovePadRules::LevelsOfText(const QString& text) {
    for (int levels : {16, 64, 256}) {
        if (text == LevelsText(levels)) {
            return levels;
        }
    }
    return 0;
}

QString CZtVerovePadRules::LevelsText(int levels) {
    return Tr(QStringLiteral("%1 levels").arg(levels).toStdWString().c_str());
}

void CZtVerovePadRules::ReadShutter(CZtStimulationDeviceVerove* device, CZtStringW* text,
                                    bool* enabled, bool* open) {
    CZtVeroveLightPath& path = device->GetLightPath();
    const std::vector<ZT_DWORD> chain = path.GetShutterIds();
    const std::vector<CZtStringW>& keys = device->GetSettings().shutterKeys;
    *text = chain.size() == 1 && keys.size() == 1 ? keys[0] : ZT_GetTranslation(L"Shutter");
    *enabled = !chain.empty();
    *open = *enabled && path.AreShuttersOpen();
}

int CZtVerovePadRules::WidgetsToDisable(EZtDisableMode mode, const CZtVerovePadUi& ui,
                                        std::vector<QPointer<QWidget>>* widgets) {
    widgets->clear();
    std::vector<QWidget*> list;
    switch (mode) {
        case ZtDisableAll:
            // Disabled containers take their children along and give them back as they were.
            list = {ui.m_pBtnTabControl.data(), ui.m_pBtnTabStimulation.data(),
                    ui.m_pStackedPages.data(), ui.m_pLabelStatus.data(), ui.m_pBtnConfigure.data()};
            break;
        case ZtDisableSetup:
            list = {ui.m_pPickerGrayscaling.data(), ui.m_pBtnMatchFOV.data()};
            break;
        case ZtDisableAcquisition:
        case ZtDisableAcquisitionKeepPattern:
            list = {ui.m_pComboPulseTime.data(),    ui.m_pBtnPulse.data(),
                    ui.m_pBtnManual.data(),         ui.m_pBtnPatternExternal.data(),
                    ui.m_pPickerGrayscaling.data(), ui.m_pBtnMatchFOV.data()};
            if (mode == ZtDisableAcquisition) {
                list.push_back(ui.m_pComboPattern.data());
            }
            break;
        default:
            return -4;
    }
    for (QWidget* widget : list) {
        if (widget) {
            widgets->emplace_back(widget);
        }
    }
    return 0;
}
