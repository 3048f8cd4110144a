// Test entry: a QApplication on the offscreen platform around the GoogleTest run.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VEROVE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VEROVE_ASAN 1
#endif

#ifdef VEROVE_ASAN
// Qt's offscreen platform plugin keeps its screen object until exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}
#endif

#if defined(__SANITIZE_THREAD__)
#define VEROVE_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VEROVE_TSAN 1
#endif
#endif

#ifdef VEROVE_TSAN
// glibc guards its time zone state with an internal lock ThreadSanitizer cannot see; the host
// log's timestamps (QDateTime) reach it from every logging thread. Qt is not built with
// ThreadSanitizer: its cross-thread hand-offs (queued and blocking-queued calls, QMutex,
// QSemaphore) synchronise through futexes the sanitizer cannot see.
extern "C" const char* __tsan_default_suppressions() {
    return "race:tzset_internal\nrace:libQt5Core.so\n";
}
#endif

int main(int argc, char** argv) {
    // gtest_discover_tests runs us without the test's environment: choose the platform here.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
