// The pad's laser lines.
#include "cztverovepadlasersection.h"

#include <QSignalBlocker>
#include <array>

#include "cztstimulationdeviceverove.h"
#include "cztverovelaserline.h"
#include "cztverovelightpath.h"
#include "cztverovepadui.h"
#include "zt/zt_qtwidgets.h"

CZtVerovePadLaserSection::CZtVerovePadLaserSection(CZtVerovePadUi& ui, QWidget* owner)
    : m_ui(ui), m_owner(owner) {}

CZtVerovePadLaserSection::~CZtVerovePadLaserSection() {
    Clear();
}

SZtVerovePadLight CZtVerovePadLaserSection::ReadLight(CZtStimulationDeviceVerove* device) {
    SZtVerovePadLight light;
    if (!device || device->GetLightPath().GetLightId() == 0) {
        return light;
    }
    light.multiLaser = device->GetSettings().laserLaunchType == L"IDeviceMultiLaser";
    const int count = device->GetLineCount();
    for (int i = 0; i < count; ++i) {
        SZtVeroveLaserLine line;
        line.index = static_cast<std::uint32_t>(i);
        line.visible = device->GetLineVisible(i);
        line.wavelength = static_cast<std::uint32_t>(device->GetLineWavelength(i));
        for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
            line.used[g] = device->GetLineUsed(i, g);
            line.power[g] = device->GetLinePower(i, g);
        }
        light.lines.push_back(line);
    }
    return light;
}

bool CZtVerovePadLaserSection::Shows(const SZtVerovePadLight& light) const {
    if (light.lines.size() != m_lines.size() ||
        (!m_lines.empty() && light.multiLaser == m_simpleStyle)) {
        return false;
    }
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (!m_lines[i].widget || m_lines[i].line != light.lines[i].index ||
            m_lines[i].wavelength != light.lines[i].wavelength) {
            return false;
        }
    }
    return true;
}

void CZtVerovePadLaserSection::Clear() {
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (record.widget) {
            record.widget->Dispose();
        }
    }
    m_lines.clear();
    m_ui.ShowLaserSection(false);
}

CZtVeroveLaserLine* CZtVerovePadLaserSection::Add(const SZtVeroveLaserLine& values,
                                                  bool simpleStyle) {
    std::array<QWidget*, ZT_STIM_GROUP_COUNT> parents{};
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        parents[static_cast<size_t>(g)] = m_ui.m_laserGroupParents[static_cast<size_t>(g)];
    }
    m_simpleStyle = simpleStyle;
    auto* widget =
        new CZtVeroveLaserLine(m_owner, parents, values.index, values.wavelength, simpleStyle);
    // The widget only holds the line's controls, which lie on the group pages.
    widget->hide();
    SZtVerovePadLaserLine record;
    record.line = values.index;
    record.wavelength = values.wavelength;
    record.widget = widget;
    m_lines.push_back(record);
    ShowValues(values);
    if (!values.visible) {
        const QSignalBlocker blocker(widget);
        widget->HideAll();
    }
    m_ui.ShowLaserSection(true);
    return widget;
}

void CZtVerovePadLaserSection::ShowValues(const SZtVeroveLaserLine& values) {
    SZtVerovePadLaserLine* record = Find(values.index);
    if (!record) {
        return;
    }
    record->enabled = values.visible;
    for (int g = 0; g < ZT_STIM_GROUP_COUNT; ++g) {
        record->used[g] = values.used[g];
        record->power[g] = values.power[g];
        if (record->widget) {
            const QSignalBlocker blocker(record->widget);
            record->widget->SetLineUsed(static_cast<EZtStimGroup>(g), values.used[g]);
            record->widget->SetLinePower(static_cast<EZtStimGroup>(g), values.power[g]);
        }
    }
}

SZtVerovePadLaserLine* CZtVerovePadLaserSection::Find(std::uint32_t line) {
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (record.line == line) {
            return &record;
        }
    }
    return nullptr;
}

SZtVerovePadLaserLine* CZtVerovePadLaserSection::FindByWidget(const QObject* sender) {
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (sender && record.widget == sender) {
            return &record;
        }
    }
    return nullptr;
}

void CZtVerovePadLaserSection::ApplyZoom(double zoom) {
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (record.widget) {
            record.widget->ApplyZoom(zoom);
        }
    }
}

void CZtVerovePadLaserSection::Rebuild(const SZtVerovePadLight& light, const Connect& connect) {
    Clear();
    for (const SZtVeroveLaserLine& line : light.lines) {
        connect(Add(line, !light.multiLaser));
    }
}

bool CZtVerovePadLaserSection::AddOrShow(const SZtVerovePadLight& light, int line,
                                         const Connect& connect) {
    if (line < 0 || line >= static_cast<int>(light.lines.size())) {
        return false;
    }
    const SZtVeroveLaserLine& values = light.lines[static_cast<size_t>(line)];
    if (Find(values.index)) {
        ShowValues(values);
        return false;
    }
    connect(Add(values, !light.multiLaser));
    return true;
}

void CZtVerovePadLaserSection::Sync(const SZtVerovePadLight& light) {
    for (const SZtVeroveLaserLine& line : light.lines) {
        const SZtVerovePadLaserLine* record = Find(line.index);
        const bool shown = record && record->enabled;
        ShowValues(line);
        if (shown != line.visible) {
            SetShown(line.index, line.visible);
        }
    }
}

bool CZtVerovePadLaserSection::SetShown(std::uint32_t line, bool show) {
    SZtVerovePadLaserLine* record = Find(line);
    if (!record || !record->widget) {
        return false;
    }
    record->enabled = show;
    if (show) {
        record->widget->ShowAll();
    } else {
        record->widget->HideAll();
    }
    return true;
}

int CZtVerovePadLaserSection::CountShown(CZtStimulationDeviceVerove* device) const {
    int count = 0;
    for (const SZtVerovePadLaserLine& record : m_lines) {
        const bool shown =
            device ? device->GetLineVisible(static_cast<int>(record.line)) : record.enabled;
        count += shown ? 1 : 0;
    }
    return count;
}

void CZtVerovePadLaserSection::EnableDirectControls(CZtStimulationDeviceVerove* device,
                                                    bool enabled) {
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (device && record.widget &&
            device->GetLineUsed(static_cast<int>(record.line), ZtStimGroupDirect)) {
            if (CZtQLaserLine* line = record.widget->GetLine(ZtStimGroupDirect)) {
                line->setEnabled(enabled);
            }
        }
    }
}

void CZtVerovePadLaserSection::CopyDirectControlToS1(CZtStimulationDeviceVerove* device) {
    for (int line = 0; line < device->GetLineCount(); ++line) {
        if (device->GetLineUsed(line, ZtStimGroupS1) ||
            device->GetLinePower(line, ZtStimGroupS1) > 0.0) {
            return;
        }
    }
    for (SZtVerovePadLaserLine& record : m_lines) {
        if (!record.enabled || !record.widget) {
            continue;
        }
        const bool used = record.widget->GetLineUsed(ZtStimGroupDirect);
        const double power = record.widget->GetLinePower(ZtStimGroupDirect);
        record.used[ZtStimGroupS1] = used;
        record.power[ZtStimGroupS1] = power;
        record.widget->SetLineUsed(ZtStimGroupS1, used);
        record.widget->SetLinePower(ZtStimGroupS1, power);
        device->SetLineUsed(static_cast<int>(record.line), ZtStimGroupS1, used);
        device->SetLinePower(static_cast<int>(record.line), ZtStimGroupS1, power);
    }
}
