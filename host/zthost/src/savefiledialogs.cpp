// Save-file dialogs and the storage path: ZT_GetSaveFileName, ZT_GetStoragePath.
#include "savefiledialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QStandardPaths>
#include <QThread>
#include <future>
#include <memory>

#include "messageboxes.h"
#include "zt/zt_log.h"
#include "zt/zt_util.h"

namespace {

QString RunDialog(const zthost::SaveFileDialogRecord& dialog) {
    const QString proposal =
        QDir(QString::fromStdWString(dialog.folder)).filePath(QString::fromStdWString(dialog.name));
    return QFileDialog::getSaveFileName(nullptr, QString::fromStdWString(dialog.title), proposal,
                                        QString::fromStdWString(dialog.filter));
}

}  // namespace

SaveFileDialogs& SaveFileDialogs::Instance() {
    // Never destroyed: plug-in objects torn down at exit may still call in.
    static SaveFileDialogs* const dialogs = new SaveFileDialogs;
    return *dialogs;
}

int SaveFileDialogs::Show(const zthost::SaveFileDialogRecord& dialog, std::wstring* chosen) {
    ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\": %s", "ZT_GetSaveFileName", dialog.title.c_str(),
                   dialog.name.c_str());
    auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
    if (MessageBoxes::Instance().GuiShown() && app) {
        QString path;
        if (QThread::currentThread() == app->thread()) {
            path = RunDialog(dialog);
        } else {
            auto answer = std::make_shared<std::promise<QString>>();
            std::future<QString> future = answer->get_future();
            QMetaObject::invokeMethod(
                app, [=] { answer->set_value(RunDialog(dialog)); }, Qt::QueuedConnection);
            path = future.get();
        }
        std::lock_guard lock(m_mutex);
        m_records.push_back(dialog);
        *chosen = QDir::toNativeSeparators(path).toStdWString();
        return chosen->empty() ? 1 : 0;
    }
    std::lock_guard lock(m_mutex);
    m_records.push_back(dialog);
    chosen->clear();
    if (!m_choices.empty()) {
        *chosen = m_choices.front();
        m_choices.pop_front();
    }
    return chosen->empty() ? 1 : 0;
}

std::vector<zthost::SaveFileDialogRecord> SaveFileDialogs::Records() {
    std::lock_guard lock(m_mutex);
    return m_records;
}

void SaveFileDialogs::QueueChoice(const std::wstring& path) {
    std::lock_guard lock(m_mutex);
    m_choices.push_back(path);
}

void SaveFileDialogs::SetStoragePath(const std::wstring& folder) {
    std::lock_guard lock(m_mutex);
    m_storagePath = folder;
}

std::wstring SaveFileDialogs::StoragePath() {
    std::lock_guard lock(m_mutex);
    if (!m_storagePath.empty()) {
        return m_storagePath;
    }
    return QDir::toNativeSeparators(
               QStandardPaths::writableLocation(QStandardPaths::AppDataLocation))
        .toStdWString();
}

void SaveFileDialogs::Clear() {
    std::lock_guard lock(m_mutex);
    m_records.clear();
    m_choices.clear();
    m_storagePath.clear();
}

int ZT_GetSaveFileName(const wchar_t* title, const wchar_t* proposedFolder,
                       const wchar_t* proposedName, const wchar_t* filter, CZtStringW* chosen) {
    if (!chosen) {
        return -4;
    }
    const zthost::SaveFileDialogRecord dialog{
        title ? title : L"", proposedFolder ? proposedFolder : L"",
        proposedName ? proposedName : L"", filter ? filter : L""};
    std::wstring path;
    const int result = SaveFileDialogs::Instance().Show(dialog, &path);
    *chosen = CZtStringW(path);
    return result;
}

int ZT_GetStoragePath(CZtStringW* path) {
    if (!path) {
        return -4;
    }
    *path = CZtStringW(SaveFileDialogs::Instance().StoragePath());
    return 0;
}

namespace zthost {

std::vector<SaveFileDialogRecord> SaveFileDialogs() {
    return ::SaveFileDialogs::Instance().Records();
}

void QueueSaveFileChoice(const std::wstring& path) {
    ::SaveFileDialogs::Instance().QueueChoice(path);
}

void SetStoragePath(const std::wstring& folder) {
    ::SaveFileDialogs::Instance().SetStoragePath(folder);
}

}  // namespace zthost
