// One laser line of the pad: a power-and-use control per line group (S1, S2, S3, direct control).
#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QWidget>
#include <array>
#include <bitset>
#include <cstdint>

#include "zt/zt_gui.h"

class CZtQLaserLine;
class CZtQLaserLineWrapper;

// GUI thread only.
//
// The widget itself shows nothing: its four host line controls lie on the group pages the pad
// gives it, one per line group, and report their changes through this widget with the group.
class CZtVeroveLaserLine : public QWidget {
    Q_OBJECT

public:
    // groupParents: the four pages (S1, S2, S3, direct control) that take this line's controls.
    // simpleStyle: a light that is always used, shown without enable buttons.
    CZtVeroveLaserLine(QWidget* parent,
                       const std::array<QWidget*, ZT_STIM_GROUP_COUNT>& groupParents,
                       std::uint32_t lineNumber, std::uint32_t wavelength, bool simpleStyle);
    // Takes the line controls off the group pages; they go with this widget.
    ~CZtVeroveLaserLine() override;

    CZtQLaserLine* GetLine(EZtStimGroup group) const;
    std::uint32_t GetLineNumber() const { return m_lineNumber; }
    std::uint32_t GetWavelength() const { return m_wavelength; }
    double GetLinePower(EZtStimGroup group) const;
    // The line control's enabled state (its enable button).
    bool GetLineUsed(EZtStimGroup group) const;
    // Both without signals.
    void SetLinePower(EZtStimGroup group, double power);
    void SetLineUsed(EZtStimGroup group, bool used);
    void SetColorFillEnabled(EZtStimGroup group, bool enabled);
    void SetLineNumber(std::uint32_t lineNumber);
    void SetWavelength(std::uint32_t wavelength);
    void SetDecimals(int decimals);
    bool IsGroupVisible(EZtStimGroup group) const;
    void ShowAll();
    void HideAll();
    // Every line control's height: 40 x zoom.
    void ApplyZoom(double zoom);
    // Detaches the line controls from the group pages and schedules this widget's deletion.
    void Dispose();
    QSize sizeHint() const override;

signals:
    void LinePowerChanged(EZtStimGroup eSGrp, double dPower);
    void LineUsedChanged(EZtStimGroup eSGrp, bool bUsed);
    void LineVisibilityChanged(EZtStimGroup eSGrp);

public slots:
    void OnLinePowerChanged(double dPower);
    void OnLineUsedChanged(bool bUsed);

private:
    // The group of the line control that sent the signal; -1 for any other sender.
    int SenderGroup() const;
    void SetGroupVisible(int group, bool visible);

    std::array<CZtQLaserLine*, ZT_STIM_GROUP_COUNT> m_lines{};
    std::array<QPointer<CZtQLaserLineWrapper>, ZT_STIM_GROUP_COUNT> m_wrappers{};
    std::array<QMetaObject::Connection, 2 * ZT_STIM_GROUP_COUNT> m_connections{};
    std::bitset<ZT_STIM_GROUP_COUNT> m_visibleGroups;
    std::uint32_t m_lineNumber = 0;
    std::uint32_t m_wavelength = 0;
};
