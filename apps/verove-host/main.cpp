// verove-host: the reference host program; starts the host's services and reports them.
#include <QApplication>
#include <QDir>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "zt/zt_log.h"
#include "zt/zt_stimulation.h"
#include "zthost/zthost.h"

namespace {

void Report(const char* service, const QString& state) {
    std::printf("  %-28s %s\n", service, state.toLocal8Bit().constData());
}

QString UpOrMissing(const void* service) {
    return service ? QStringLiteral("up") : QStringLiteral("missing");
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);

    QString logPath = QDir(QCoreApplication::applicationDirPath()).filePath("verove-host.log");
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--log" && i + 1 < args.size()) {
            logPath = args[++i];
        } else {
            std::fprintf(stderr, "usage: verove-host [--log FILE]\n");
            return 2;
        }
    }
    if (!zthost::SetLogFile(
            QDir::cleanPath(QDir::current().absoluteFilePath(logPath)).toStdWString())) {
        std::fprintf(stderr, "verove-host: cannot write the log file %s\n",
                     logPath.toLocal8Bit().constData());
        return 1;
    }

    ZT_DIAG_OUTPUT(L"%s %hs: %s", L"verove-host", "main", L"reference host started");

    IZtHostContext* context = zthost::HostContext();
    QStringList folders;
    for (const std::wstring& folder : zthost::SearchFolders()) {
        folders << QString::fromStdWString(folder);
    }
    std::printf("verove-host: reference host started\n");
    Report("class registry", QString("up, %1 classes").arg(zthost::RegisteredClassNames().size()));
    Report("plug-in manager", UpOrMissing(context->GetPluginManager()));
    Report("stimulation-device manager", UpOrMissing(CZtStimulationDeviceManager::GetInstance()));
    Report("log file", QString::fromStdWString(zthost::LogFilePath()));
    Report("search folders", folders.join(", "));
    Report("message boxes", zthost::GuiShown() ? "shown" : "headless");
    return 0;
}
