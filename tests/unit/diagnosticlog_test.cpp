// The diagnostic log: capture, file lines, detail switch, and many threads writing at once.
#include <gtest/gtest.h>

#include <QFile>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <thread>
#include <vector>

#include "zt/zt_log.h"
#include "zthost/zthost.h"

namespace {

QStringList FileLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

class DiagnosticLog : public ::testing::Test {
protected:
    void SetUp() override { zthost::ResetForTests(); }
    void TearDown() override {
        zthost::SetLogFile(L"");
        zthost::ResetForTests();
    }
};

TEST_F(DiagnosticLog, CaptureHoldsEachMessageExactlyAsFormatted) {
    ZT_DIAG_OUTPUT(L"%s %hs: %s", L"Verove", "CZtVeroveDriver::ExposePattern", L"Start");
    DiagOutputExW(L"%s %hs: End, return code %d", L"Verove", "CZtVeroveProxy::Open", -7);
    EXPECT_EQ(zthost::CapturedLog(),
              (std::vector<std::wstring>{L"Verove CZtVeroveDriver::ExposePattern: Start",
                                         L"Verove CZtVeroveProxy::Open: End, return code -7"}));
    EXPECT_TRUE(zthost::LogContains(L"return code -7"));
    EXPECT_FALSE(zthost::LogContains(L"return code -8"));
    zthost::ClearCapturedLog();
    EXPECT_TRUE(zthost::CapturedLog().empty());
    DiagOutputExW(nullptr);
    EXPECT_TRUE(zthost::CapturedLog().empty());
}

TEST_F(DiagnosticLog, FileLinesCarryTimeThreadAndLocationBeforeTheMessage) {
    QTemporaryDir dir;
    const QString path = dir.filePath("host.log");
    ASSERT_TRUE(zthost::SetLogFile(path.toStdWString()));
    EXPECT_EQ(zthost::LogFilePath(), path.toStdWString());
    DiagOutputLocation("/src/q9_plugin_verove/cztverovedriver.cpp", 321);
    DiagOutputExW(L"%s %hs: %s", L"Verove", "CZtVeroveDriver::Connect", L"Gr\u00fc\u00dfe \u00b5m");
    DiagOutputExW(L"no location");  // the location is used once

    const QStringList lines = FileLines(path);
    ASSERT_EQ(lines.size(), 2);
    const QRegularExpression stamp(
        R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[\d+\] \[cztverovedriver\.cpp:321\] )");
    EXPECT_TRUE(stamp.match(lines[0]).hasMatch()) << lines[0].toStdString();
    EXPECT_TRUE(lines[0].endsWith(
        QString::fromStdWString(L" Verove CZtVeroveDriver::Connect: Gr\u00fc\u00dfe \u00b5m")));
    EXPECT_FALSE(lines[1].contains(".cpp:"));
    EXPECT_TRUE(lines[1].endsWith("] no location"));

    // A new file starts empty; the old one keeps its lines.
    const QString second = dir.filePath("second.log");
    ASSERT_TRUE(zthost::SetLogFile(second.toStdWString()));
    DiagOutputExW(L"second");
    EXPECT_EQ(FileLines(second).size(), 1);
    EXPECT_EQ(FileLines(path).size(), 2);
}

TEST_F(DiagnosticLog, UnwritableFileIsRefused) {
    EXPECT_FALSE(zthost::SetLogFile(L"/nonexistent-folder/host.log"));
    EXPECT_EQ(zthost::LogFilePath(), L"");
    DiagOutputExW(L"still captured");
    EXPECT_TRUE(zthost::LogContains(L"still captured"));
}

TEST_F(DiagnosticLog, LinesFromManyThreadsStayWhole) {
    QTemporaryDir dir;
    const QString path = dir.filePath("threads.log");
    ASSERT_TRUE(zthost::SetLogFile(path.toStdWString()));
    constexpr int kThreads = 4, kLines = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < kLines; ++i) {
                ZT_DIAG_OUTPUT(L"%s %hs: thread %d line %d", L"Verove", "Test::Run", t, i);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(zthost::CapturedLog().size(), size_t{kThreads * kLines});
    const QStringList lines = FileLines(path);
    ASSERT_EQ(lines.size(), kThreads * kLines);
    const QRegularExpression whole(
        R"(\[diagnosticlog_test\.cpp:\d+\] Verove Test::Run: thread \d line \d+$)");
    for (const QString& line : lines) {
        ASSERT_TRUE(whole.match(line).hasMatch()) << line.toStdString();
    }
}

}  // namespace
