// verove-host: the reference host program; runs a scenario's session on the simulated microscope
// through the plug-in's exports and writes its report.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QString>
#include <QTimer>
#include <array>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "mainwindow.h"
#include "report.h"
#include "scenario.h"
#include "session.h"
#include "terminal.h"
#include "verdict.h"
#include "zt/zt_log.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt's offscreen platform plugin keeps its screen object until exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}
#endif

namespace {

const char kUsage[] =
    "usage: verove-host --scenario FILE [--report DIR] [--simulator] [--log FILE] [--plugin FILE]\n"
    "                   [--sdk FOLDER] [--quiet]\n"
    "       verove-host --gui [--scenario FILE] [options as above]\n"
    "  --gui            the acquisition window on the scenario's microscope (default scenario:\n"
    "                   default.json); the report folder then defaults to gui-session\n"
    "  --scenario FILE  the simulated microscope and the session to run (JSON, at most 1 MiB)\n"
    "  --report DIR     the report folder (default: report in the build folder); a folder\n"
    "                   verove-host wrote before is replaced, any other must be new or empty\n"
    "  --simulator      connect the SDK's built-in simulated unit, whatever the scenario says\n"
    "  --log FILE       the diagnostic log (default: verove-host.log beside the program)\n"
    "  --plugin FILE    the plug-in library (default: q9_plugin_verove.so beside the program)\n"
    "  --sdk FOLDER     where the SDK library is looked for first (default: the simulated SDK\n"
    "                   of this build)\n"
    "  --quiet          no progress lines: only the steps, the summary and the result\n"
    "exit codes: 0 done, 1 a step failed or a figure missed its threshold, 2 bad input (nothing\n"
    "            run, no report written),\n"
    "            3 the hardware configuration refused the Verove\n";

struct Options {
    QString scenario;
    QString report;
    QString log;
    QString plugin;
    QString sdk;
    bool simulator = false;
    bool quiet = false;
    bool gui = false;
};

int BadInput(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    return kExitBadInput;
}

// False with error set for an unknown option or a missing value.
bool ParseArguments(int argc, char** argv, Options* options, QString* error) {
    for (int i = 1; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        QString* value = nullptr;
        if (arg == "--scenario") {
            value = &options->scenario;
        } else if (arg == "--report") {
            value = &options->report;
        } else if (arg == "--log") {
            value = &options->log;
        } else if (arg == "--plugin") {
            value = &options->plugin;
        } else if (arg == "--sdk") {
            value = &options->sdk;
        } else if (arg == "--simulator") {
            options->simulator = true;
            continue;
        } else if (arg == "--quiet") {
            options->quiet = true;
            continue;
        } else if (arg == "--gui") {
            options->gui = true;
            continue;
        } else {
            *error =
                QStringLiteral("verove-host: unknown argument %1 (--help lists them)").arg(arg);
            return false;
        }
        if (i + 1 >= argc || QString(argv[i + 1]).isEmpty()) {
            *error = QStringLiteral("verove-host: %1 needs a value").arg(arg);
            return false;
        }
        *value = QString::fromLocal8Bit(argv[++i]);
    }
    if (options->scenario.isEmpty() && options->gui) {
        options->scenario = QStringLiteral(VEROVE_DEFAULT_SCENARIO);
    }
    if (options->scenario.isEmpty()) {
        *error =
            QStringLiteral("verove-host: --scenario FILE is needed (--help lists the options)");
        return false;
    }
    return true;
}

// The program's folder, known before Qt starts (the defaults live beside the program).
QString ProgramFolder(const char* argv0) {
    const QFileInfo self(QStringLiteral("/proc/self/exe"));
    return self.exists() ? QFileInfo(self.symLinkTarget()).absolutePath()
                         : QFileInfo(QString::fromLocal8Bit(argv0)).absolutePath();
}

// With a window, bad input shows its line in a message box as well (recorded and answered at
// once without a screen).
int BadInputBox(const QString& line) {
    zthost::SetGuiShown(QGuiApplication::platformName() != QLatin1String("offscreen"));
    ZT_MessageBox_(nullptr, line.toStdWString().c_str(), L"verove-host",
                   ZT_MB_OK | ZT_MB_ICONERROR);
    return BadInput(line);
}

void UsePlatformWithoutScreen() {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

std::atomic<bool> g_stopAsked{false};

extern "C" void AskToStop(int) {
    g_stopAsked = true;
}

// The window's session: the microscope built, the device connected, the user working until the
// window closes. The report folder keeps the steps, pictures and the device's settings.
int RunWindow(const Scenario& scenario, const SessionOptions& sessionOptions, Report* report,
              const QString& logPath) {
    MainWindow window(scenario, sessionOptions, report, logPath);
    window.show();
    zthost::SetGuiShown(QGuiApplication::platformName() != QLatin1String("offscreen"));
    const int opened = window.Start();
    // Ctrl+C or a kill closes the window as the user would: the device ends what it does, saves
    // its settings and disconnects.
    std::signal(SIGINT, AskToStop);
    std::signal(SIGTERM, AskToStop);
    QTimer stopWatch;
    QObject::connect(&stopWatch, &QTimer::timeout, &window, [&window] {
        if (g_stopAsked.exchange(false)) {
            window.close();
        }
    });
    stopWatch.start(100);
    QApplication::exec();
    QString error;
    const QString result = opened == kExitDone ? QStringLiteral("window closed")
                                               : QStringLiteral(
                                                     "window closed; the device did "
                                                     "not connect (exit code %1)")
                                                     .arg(opened);
    if (!report->Finish(result, &error)) {
        std::fprintf(stderr, "verove-host: %s\n", error.toLocal8Bit().constData());
        return kExitFailed;
    }
    return opened == kExitRefused ? kExitRefused : kExitDone;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            return kExitDone;
        }
    }
    // Everything the user gave is checked before anything starts, so that bad input gives one
    // line and leaves no trace.
    Options options;
    QString error;
    if (!ParseArguments(argc, argv, &options, &error)) {
        return BadInput(error);
    }
    std::unique_ptr<QApplication> windowApp;
    if (options.gui) {
        UsePlatformWithoutScreen();
        windowApp = std::make_unique<QApplication>(argc, argv);
    }
    Scenario scenario;
    if (!scenario.Load(options.scenario, &error)) {
        return options.gui ? BadInputBox(error) : BadInput(error);
    }
    if (options.simulator) {
        scenario.UseSimulator();
    }
    terminal::SetQuiet(options.quiet);

    const QDir binDir(ProgramFolder(argv[0]));
    const QString logPath = QDir::cleanPath(QDir::current().absoluteFilePath(
        options.log.isEmpty() ? binDir.filePath("verove-host.log") : options.log));
    const QString reportPath =
        !options.report.isEmpty()
            ? options.report
            : QDir::cleanPath(binDir.filePath(options.gui ? "../gui-session" : "../report"));
    SessionOptions sessionOptions;
    sessionOptions.pluginPath =
        options.plugin.isEmpty() ? binDir.filePath("q9_plugin_verove.so") : options.plugin;
    sessionOptions.sdkFolder =
        options.sdk.isEmpty() ? QStringLiteral(VEROVE_FAKE_SDK_DIR) : options.sdk;

    std::array<bool, 3> groups{};
    for (int g = 0; g < 3; ++g) {
        groups[g] = !scenario.Rois()[g].empty();
    }
    Report report(scenario.Path(), scenario.Description(), groups);
    if (!report.Begin(reportPath, {scenario.Path(), logPath}, &error)) {
        const QString line = "verove-host: report folder " + error;
        return options.gui ? BadInputBox(line) : BadInput(line);
    }
    if (!zthost::SetLogFile(logPath.toStdWString())) {
        report.Discard();
        const QString line = "verove-host: cannot write the log file " + logPath;
        return options.gui ? BadInputBox(line) : BadInput(line);
    }
    if (options.gui) {
        ZT_DIAG_OUTPUT(L"%s %hs: %s", L"verove-host", "main", L"reference host window started");
        report.SetLogFile(logPath);
        return RunWindow(scenario, sessionOptions, &report, logPath);
    }

    UsePlatformWithoutScreen();
    QApplication app(argc, argv);
    ZT_DIAG_OUTPUT(L"%s %hs: %s", L"verove-host", "main", L"reference host started");
    report.SetLogFile(logPath);

    std::printf("verove-host: scenario %s\n", scenario.Path().toLocal8Bit().constData());
    if (!scenario.Description().isEmpty()) {
        std::printf("  %s\n", scenario.Description().toLocal8Bit().constData());
    }
    Session session(scenario, sessionOptions, &report);
    int exitCode = session.Run();
    // Every figure is held against its threshold; one that misses it fails the session.
    report.JudgeFigures(ResolveThresholds(scenario));
    const QString missed = report.FailedChecks().join("; ");

    QString result = QStringLiteral("completed");
    if (exitCode == kExitRefused) {
        result = QStringLiteral("the hardware configuration refused the Verove (exit code %1)")
                     .arg(exitCode);
    } else if (exitCode != kExitDone) {
        result = QStringLiteral("FAILED: a step failed (exit code %1)").arg(exitCode);
        if (!missed.isEmpty()) {
            result += "; " + missed;
        }
    } else if (!missed.isEmpty()) {
        exitCode = kExitFailed;
        result = "FAILED: " + missed;
    }
    std::printf("\n%s\n%s\n", report.SummaryText().toLocal8Bit().constData(),
                report.Verdict().toLocal8Bit().constData());
    if (!report.Finish(result, &error)) {
        std::fprintf(stderr, "verove-host: %s\n", error.toLocal8Bit().constData());
        return kExitFailed;
    }
    std::printf("\nverove-host: %s; report in %s/report.md\n", result.toLocal8Bit().constData(),
                report.FolderPath().toLocal8Bit().constData());
    return exitCode;
}
