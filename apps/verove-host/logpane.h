// The window's log pane: follows the host's diagnostic log file as lines are added to it.
#pragma once

#include <QFile>
#include <QPlainTextEdit>
#include <QTimer>

// GUI thread only. Reads what was appended to the file five times a second; keeps the latest
// 5000 lines.
class LogPane : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit LogPane(QWidget* parent = nullptr);
    // Starts following path from its present end.
    void Follow(const QString& path);

public slots:
    // Reads the lines added since the last look.
    void ReadNew();

private:
    QFile m_file;
    qint64 m_position = 0;
    QByteArray m_partial;  // a line not yet ended
    QTimer m_timer;
};
