// What the mirrors show now: the simulated SDK's shown frame, looked at a few times a second.
#pragma once

#include <QImage>
#include <QTimer>
#include <QWidget>
#include <cstdint>

#include "simulateddmd.h"

// GUI thread only. Dark (with a note) while the DMD does not expose.
class ShownFrameView : public QWidget {
    Q_OBJECT

public:
    explicit ShownFrameView(const QString& sdkFolder, QWidget* parent = nullptr);
    // Whether any mirror was lit at the last look.
    bool Lit() const { return m_lit; }
    QSize sizeHint() const override { return QSize(240, 180); }

public slots:
    void Refresh();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SimulatedDmd m_dmd;
    QImage m_image;
    std::uint64_t m_counter = ~std::uint64_t{0};
    bool m_lit = false;
    QTimer m_timer;
};
