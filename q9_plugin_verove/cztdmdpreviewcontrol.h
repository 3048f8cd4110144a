// A scaled picture of the DMD's mirrors: a click picks the mirror at which the manual calibration
// lights its square.
#pragma once

#include <QLabel>
#include <QPoint>
#include <QRect>
#include <cstdint>

// Thread-bound to the GUI thread. Preview coordinates are the widget's, less its 1-pixel frame;
// one preview pixel is kScale mirrors.
class CZtDMDPreviewControl : public QLabel {
    Q_OBJECT

public:
    CZtDMDPreviewControl(int dmdWidth, int dmdHeight, QWidget* parent = nullptr);

    // The square's half-size in mirrors, as the DMD shows it.
    void SetRectangleSize(int size);
    int GetRectangleSize() const { return m_iRectSize; }
    QRect GetPreviewRect() const { return m_previewRect; }
    // The last click in preview coordinates; (-1, -1) before the first.
    QPoint GetLastClick() const { return m_lastClick; }

    static constexpr double kScale = 4.0;

signals:
    void sigCurrentDMDRectHasChanged(std::int32_t x, std::int32_t y);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEvent* event) override;
    bool event(QEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    // A widget position in preview coordinates.
    static QPoint ToPreview(const QPoint& widget) { return widget - QPoint(1, 1); }

    QRect m_dmdRect;
    QRect m_previewRect;
    QPoint m_lastClick{-1, -1};
    int m_iRectSize = 7;
    int m_iPreviewRectSize = 2;
    bool m_bHover = false;
};
