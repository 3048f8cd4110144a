#include "logpane.h"

#include <QFontDatabase>

LogPane::LogPane(QWidget* parent) : QPlainTextEdit(parent) {
    setReadOnly(true);
    setMaximumBlockCount(5000);
    setLineWrapMode(QPlainTextEdit::NoWrap);
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_timer.setInterval(200);
    connect(&m_timer, &QTimer::timeout, this, &LogPane::ReadNew);
}

void LogPane::Follow(const QString& path) {
    m_file.close();
    m_file.setFileName(path);
    m_position = m_file.open(QIODevice::ReadOnly) ? m_file.size() : 0;
    m_partial.clear();
    m_timer.start();
}

void LogPane::ReadNew() {
    if (!m_file.isOpen()) {
        return;
    }
    // A log file started anew is shorter than where we were.
    if (m_file.size() < m_position) {
        m_position = 0;
    }
    if (!m_file.seek(m_position)) {
        return;
    }
    const QByteArray added = m_file.readAll();
    m_position += added.size();
    m_partial += added;
    const int end = m_partial.lastIndexOf('\n');
    if (end < 0) {
        return;
    }
    appendPlainText(QString::fromUtf8(m_partial.left(end)));
    m_partial.remove(0, end + 1);
}
