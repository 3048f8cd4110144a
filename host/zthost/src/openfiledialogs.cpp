// ZT_GetOpenFileNames: the host's open-files dialog, a real file dialog that tests can answer.
#include <QApplication>
#include <QFileDialog>
#include <QTimer>
#include <mutex>

#include "messageboxes.h"
#include "zt/zt_log.h"
#include "zt/zt_util.h"
#include "zthost/gui.h"

namespace {

std::mutex& AnswerMutex() {
    static std::mutex mutex;
    return mutex;
}

zthost::OpenFilesAnswer& Answer() {
    static zthost::OpenFilesAnswer answer;
    return answer;
}

}  // namespace

int ZT_GetOpenFileNames(QWidget* parent, const wchar_t* title, const wchar_t* filters,
                        const wchar_t* selectedFilter, bool multiple,
                        std::vector<CZtStringW>* chosen) {
    if (!chosen) {
        return -4;
    }
    chosen->clear();
    const QString caption = QString::fromWCharArray(title ? title : L"");
    ZT_DIAG_OUTPUT(L"zthost %hs: \"%s\"", "ZT_GetOpenFileNames", caption.toStdWString().c_str());
    zthost::OpenFilesAnswer answer;
    {
        std::lock_guard lock(AnswerMutex());
        answer = Answer();
    }
    // Without a GUI nobody could answer: a headless host must not wait for ever.
    if (!answer && !MessageBoxes::Instance().GuiShown()) {
        return 1;
    }
    QFileDialog dialog(parent, caption);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(QString::fromWCharArray(filters ? filters : L"").split(";;"));
    if (selectedFilter) {
        dialog.selectNameFilter(QString::fromWCharArray(selectedFilter));
    }
    QStringList files;
    if (answer) {
        QTimer::singleShot(0, &dialog, [&dialog, &answer, &files] {
            files = answer(&dialog);
            // The answer stands for the user's choice: the dialog's own checks are not asked.
            static_cast<QDialog&>(dialog).done(files.isEmpty() ? QDialog::Rejected
                                                               : QDialog::Accepted);
        });
    }
    if (dialog.exec() != QDialog::Accepted) {
        return 1;
    }
    if (!answer) {
        files = dialog.selectedFiles();
    }
    for (const QString& file : files) {
        chosen->push_back(CZtStringW(file.toStdWString()));
    }
    return chosen->empty() ? 1 : 0;
}

namespace zthost {

void SetOpenFilesAnswer(OpenFilesAnswer answer) {
    std::lock_guard lock(AnswerMutex());
    Answer() = std::move(answer);
}

}  // namespace zthost
