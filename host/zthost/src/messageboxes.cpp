// Message boxes: ZT_MessageBox_, headless answers and a real QMessageBox with the GUI shown.
#include "messageboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QString>
#include <QThread>
#include <future>
#include <memory>

#include "zt/zt_log.h"
#include "zt/zt_util.h"

namespace {

QMessageBox::Icon IconOf(unsigned icon) {
    switch (icon) {
        case ZT_MB_ICONERROR:
            return QMessageBox::Critical;
        case ZT_MB_ICONQUESTION:
            return QMessageBox::Question;
        case ZT_MB_ICONWARNING:
            return QMessageBox::Warning;
        case ZT_MB_ICONINFORMATION:
            return QMessageBox::Information;
        default:
            return QMessageBox::NoIcon;
    }
}

QMessageBox::StandardButtons ButtonsOf(unsigned buttons) {
    switch (buttons) {
        case ZT_MB_OKCANCEL:
            return QMessageBox::Ok | QMessageBox::Cancel;
        case ZT_MB_YESNOCANCEL:
            return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
        case ZT_MB_YESNO:
            return QMessageBox::Yes | QMessageBox::No;
        default:
            return QMessageBox::Ok;
    }
}

int AnswerOf(int button) {
    switch (button) {
        case QMessageBox::Yes:
            return ZT_IDYES;
        case QMessageBox::No:
            return ZT_IDNO;
        case QMessageBox::Cancel:
            return ZT_IDCANCEL;
        default:
            return ZT_IDOK;
    }
}

int RunBox(QWidget* parent, const QString& text, const QString& title, unsigned type) {
    QMessageBox box(IconOf(type & 0xF0), title, text, ButtonsOf(type & 0xF), parent);
    return AnswerOf(box.exec());
}

}  // namespace

MessageBoxes& MessageBoxes::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static MessageBoxes* const boxes = new MessageBoxes;
    return *boxes;
}

int MessageBoxes::Show(QWidget* parent, const std::wstring& text, const std::wstring& title,
                       unsigned type) {
    zthost::MessageBoxRecord record{title, text, type & 0xF, type & 0xF0, 0};
    ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\": %s", "ZT_MessageBox_", title.c_str(), text.c_str());
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (m_guiShown && app) {
        const QString qText = QString::fromStdWString(text);
        const QString qTitle = QString::fromStdWString(title);
        if (QThread::currentThread() == app->thread()) {
            record.answer = RunBox(parent, qText, qTitle, type);
        } else {
            // The answer comes back through a promise rather than a blocking queued call, so
            // the hand-off is one that thread checkers can follow.
            auto answer = std::make_shared<std::promise<int>>();
            std::future<int> future = answer->get_future();
            QMetaObject::invokeMethod(
                app, [=] { answer->set_value(RunBox(parent, qText, qTitle, type)); },
                Qt::QueuedConnection);
            record.answer = future.get();
        }
    } else {
        record.answer = NextHeadlessAnswer(record.buttons);
    }
    std::lock_guard lock(m_mutex);
    m_records.push_back(record);
    return record.answer;
}

int MessageBoxes::NextHeadlessAnswer(unsigned buttons) {
    std::lock_guard lock(m_mutex);
    if (!m_answers.empty()) {
        const int answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    return (buttons == ZT_MB_YESNO || buttons == ZT_MB_YESNOCANCEL) ? ZT_IDYES : ZT_IDOK;
}

std::vector<zthost::MessageBoxRecord> MessageBoxes::Records() {
    std::lock_guard lock(m_mutex);
    return m_records;
}

void MessageBoxes::QueueAnswer(int answer) {
    std::lock_guard lock(m_mutex);
    m_answers.push_back(answer);
}

void MessageBoxes::Clear() {
    std::lock_guard lock(m_mutex);
    m_records.clear();
    m_answers.clear();
}

int ZT_MessageBox_(QWidget* parent, const wchar_t* text, const wchar_t* title, unsigned type) {
    return MessageBoxes::Instance().Show(parent, text ? text : L"", title ? title : L"", type);
}

namespace zthost {

void SetGuiShown(bool shown) {
    MessageBoxes::Instance().SetGuiShown(shown);
}

bool GuiShown() {
    return MessageBoxes::Instance().GuiShown();
}

std::vector<MessageBoxRecord> MessageBoxes() {
    return ::MessageBoxes::Instance().Records();
}

void ClearMessageBoxes() {
    ::MessageBoxes::Instance().Clear();
}

void QueueMessageBoxAnswer(int answer) {
    ::MessageBoxes::Instance().QueueAnswer(answer);
}

}  // namespace zthost
