// The container of one host laser-line control on a pad page.
#pragma once

#include <QWidget>

// GUI thread only. Its height follows the host's GUI zoom.
class CZtQLaserLineWrapper : public QWidget {
    Q_OBJECT

public:
    explicit CZtQLaserLineWrapper(QWidget* parent = nullptr);

    // Height 40 x the host's GUI zoom.
    QSize sizeHint() const override;
};
