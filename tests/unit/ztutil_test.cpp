// Small host services: named references, search path, message boxes, translations, time counter.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <atomic>
#include <thread>

#include "zt/zt_util.h"
#include "zthost/zthost.h"

namespace {

class HostServices : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override { zthost::ResetForTests(); }
};

using NamedReference = HostServices;
using SearchPath = HostServices;
using MessageBox = HostServices;
using Translation = HostServices;

TEST_F(NamedReference, CountsPerName) {
    EXPECT_EQ(CZtNamedReference::AddRef(L"atcore"), 1);
    EXPECT_EQ(CZtNamedReference::AddRef(L"atcore"), 2);
    EXPECT_EQ(CZtNamedReference::AddRef(L"other"), 1);
    EXPECT_EQ(zthost::NamedReferenceCount(L"atcore"), 2);
    EXPECT_EQ(CZtNamedReference::Release(L"atcore"), 1);
    EXPECT_EQ(CZtNamedReference::Release(L"atcore"), 0);
    EXPECT_EQ(CZtNamedReference::Release(L"atcore"), 0);  // stays at zero
    EXPECT_EQ(CZtNamedReference::AddRef(L"atcore"), 1);
    EXPECT_EQ(CZtNamedReference::Release(L"never-seen"), 0);
    EXPECT_EQ(zthost::NamedReferenceCount(L"never-seen"), 0);
    EXPECT_EQ(zthost::NamedReferenceCount(L"other"), 1);
    EXPECT_EQ(CZtNamedReference::AddRef(nullptr), 0);
}

TEST_F(NamedReference, ThreadsCountTogether) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 500; ++i) {
                CZtNamedReference::AddRef(L"shared");
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(zthost::NamedReferenceCount(L"shared"), 2000);
}

void Touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

TEST_F(SearchPath, FirstFolderThatHoldsTheFileWins) {
    QTemporaryDir first, second;
    Touch(second.filePath("libatcore.so"));
    Touch(second.filePath("both.txt"));
    Touch(first.filePath("both.txt"));
    zthost::SetSearchFolders({first.path().toStdWString()});
    zthost::PrependSearchFolder(second.path().toStdWString());
    EXPECT_EQ(zthost::SearchFolders(), (std::vector<std::wstring>{second.path().toStdWString(),
                                                                  first.path().toStdWString()}));

    wchar_t path[ZT_MAX_PATH] = {};
    ASSERT_EQ(ZT_SearchPath(L"both.txt", path, ZT_MAX_PATH), 0);
    EXPECT_EQ(QString::fromWCharArray(path), second.filePath("both.txt"));
    ASSERT_EQ(ZT_SearchPath(L"libatcore.so", path, ZT_MAX_PATH), 0);
    EXPECT_EQ(QString::fromWCharArray(path), second.filePath("libatcore.so"));

    zthost::SetSearchFolders({first.path().toStdWString(), second.path().toStdWString()});
    ASSERT_EQ(ZT_SearchPath(L"both.txt", path, ZT_MAX_PATH), 0);
    EXPECT_EQ(QString::fromWCharArray(path), first.filePath("both.txt"));
}

TEST_F(MessageBox, HeadlessBoxesAreRecordedAndAnsweredAtOnce) {
    EXPECT_FALSE(zthost::GuiShown());
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Saved.", L"Verove", ZT_MB_OK | ZT_MB_ICONINFORMATION),
              ZT_IDOK);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Apply?", L"Verove", ZT_MB_OKCANCEL), ZT_IDOK);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Store?", L"Verove", ZT_MB_YESNO | ZT_MB_ICONQUESTION),
              ZT_IDYES);
    zthost::QueueMessageBoxAnswer(ZT_IDNO);
    zthost::QueueMessageBoxAnswer(ZT_IDCANCEL);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Save?", L"Verove", ZT_MB_YESNOCANCEL), ZT_IDNO);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Again?", L"Verove", ZT_MB_YESNOCANCEL), ZT_IDCANCEL);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Once more?", L"Verove", ZT_MB_YESNOCANCEL), ZT_IDYES);

    const auto boxes = zthost::MessageBoxes();
    ASSERT_EQ(boxes.size(), 6u);
    EXPECT_EQ(boxes[0].title, L"Verove");
    EXPECT_EQ(boxes[0].text, L"Saved.");
    EXPECT_EQ(boxes[0].buttons, ZT_MB_OK);
    EXPECT_EQ(boxes[0].icon, ZT_MB_ICONINFORMATION);
    EXPECT_EQ(boxes[2].buttons, ZT_MB_YESNO);
    EXPECT_EQ(boxes[2].icon, ZT_MB_ICONQUESTION);
    EXPECT_EQ(boxes[3].answer, ZT_IDNO);
    zthost::ClearMessageBoxes();
    EXPECT_TRUE(zthost::MessageBoxes().empty());
}

// Thread-bound (GUI thread). Clicks the button of the first message box that shows up and
// tells what it saw.
struct BoxClicker {
    explicit BoxClicker(QMessageBox::StandardButton button) {
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) {
                return;
            }
            text = box->text();
            title = box->windowTitle();
            icon = box->icon();
            buttons = box->standardButtons();
            box->button(button)->click();
        });
        timer.start();
    }
    QTimer timer;
    QString text, title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
};

TEST_F(MessageBox, ShownGuiOpensARealMessageBox) {
    zthost::SetGuiShown(true);
    BoxClicker clicker(QMessageBox::No);
    EXPECT_EQ(ZT_MessageBox_(nullptr, L"Overwrite?", L"Verove", ZT_MB_YESNO | ZT_MB_ICONWARNING),
              ZT_IDNO);
    EXPECT_EQ(clicker.text, "Overwrite?");
    EXPECT_EQ(clicker.title, "Verove");
    EXPECT_EQ(clicker.icon, QMessageBox::Warning);
    EXPECT_EQ(clicker.buttons, QMessageBox::Yes | QMessageBox::No);
    ASSERT_EQ(zthost::MessageBoxes().size(), 1u);
    EXPECT_EQ(zthost::MessageBoxes()[0].answer, ZT_IDNO);
}

TEST_F(MessageBox, BoxFromAWorkThreadRunsOnTheGuiThread) {
    zthost::SetGuiShown(true);
    BoxClicker clicker(QMessageBox::Cancel);
    std::atomic<int> answer{0};
    std::thread worker([&] {
        answer = ZT_MessageBox_(nullptr, L"Stop?", L"Verove", ZT_MB_OKCANCEL | ZT_MB_ICONERROR);
    });
    for (int i = 0; i < 10000 && answer == 0; ++i) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    worker.join();
    EXPECT_EQ(answer, ZT_IDCANCEL);
    EXPECT_EQ(clicker.icon, QMessageBox::Critical);
}

TEST_F(Translation, IdentityUnlessTheTableKnowsTheText) {
    EXPECT_EQ(ZT_GetTranslation(L"Calibrate"), L"Calibrate");
    zthost::SetTranslation(L"Calibrate", L"Kalibrieren");
    EXPECT_EQ(ZT_GetTranslation(L"Calibrate"), L"Kalibrieren");
    EXPECT_EQ(ZT_GetTranslation(L"Pattern"), L"Pattern");
    EXPECT_TRUE(ZT_GetTranslation(nullptr).IsEmpty());
    zthost::ClearTranslations();
    EXPECT_EQ(ZT_GetTranslation(L"Calibrate"), L"Calibrate");

    const char data[] = "qm";
    EXPECT_EQ(ZT_RegisterTranslations("q9_plugin_verove", data, sizeof data), 0);
    EXPECT_EQ(ZT_RegisterTranslations(nullptr, data, sizeof data), -4);
    EXPECT_EQ(zthost::TranslationModules(), std::vector<std::string>{"q9_plugin_verove"});
}

}  // namespace
