// verove-host: the reference host program; starts the host's services, loads the plug-in and
// connects its devices.
#include <QApplication>
#include <QDir>
#include <QLibrary>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "simulateddmd.h"
#include "zt/zt_log.h"
#include "zt/zt_module.h"
#include "zt/zt_stimulation.h"
#include "zt/zt_util.h"
#include "zthost/zthost.h"

#if defined(__SANITIZE_ADDRESS__)
// Qt's offscreen platform plugin keeps its screen object until exit.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libqoffscreen.so\n";
}
#endif

namespace {

void Report(const char* service, const QString& state) {
    std::printf("  %-28s %s\n", service, state.toLocal8Bit().constData());
}

QString UpOrMissing(const void* service) {
    return service ? QStringLiteral("up") : QStringLiteral("missing");
}

using ConnectFn = bool (*)(bool, bool, std::uint32_t, const wchar_t*, wchar_t*, bool*);

// Prints the plug-in's log lines written since the last call.
void PrintPluginLog() {
    for (const std::wstring& line : zthost::CapturedLog()) {
        if (line.rfind(L"Verove ", 0) == 0) {
            std::printf("    | %ls\n", line.c_str());
        }
    }
    zthost::ClearCapturedLog();
}

// Loads the plug-in as the acquisition application does: class records and constructors through
// the class registry, the module created by class name, then one connect per device kind.
int RunPlugin(const QString& pluginPath, const QString& sdkFolder, bool simulatorOnly) {
    std::wstring error;
    const int classes = zthost::LoadPluginLibrary(pluginPath.toStdWString(), &error);
    if (classes < 0) {
        std::fprintf(stderr, "verove-host: cannot load the plug-in: %ls\n", error.c_str());
        return 1;
    }
    Report("plug-in", QString("%1, %2 classes").arg(pluginPath).arg(classes));
    QLibrary library(pluginPath);
    auto connect = reinterpret_cast<ConnectFn>(library.resolve("Connect"));
    auto* module = static_cast<IZtModuleQ9*>(CZtRTTI::CreateAndQuery(
        simulatorOnly ? "CZtModuleVeroveSim" : "CZtModuleVerove", "IZtModuleQ9"));
    if (!connect || !module) {
        std::fprintf(stderr, "verove-host: the plug-in lacks its Connect export or module\n");
        return 1;
    }
    module->SetHostContext(zthost::HostContext());
    Report("module events", module->RegisterModuleEvents() == 0 ? "registered" : "refused");

    struct Kind {
        const char* label;
        bool simulator;
    };
    std::vector<Kind> kinds = {{"simulated unit", true}};
    if (!simulatorOnly) {
        zthost::PrependSearchFolder(sdkFolder.toStdWString());
        ConnectSimulatedDmd(sdkFolder);
        Report("SDK folder", sdkFolder);
        kinds.push_back({"SDK device", false});
    }
    zthost::ClearCapturedLog();
    for (const Kind& kind : kinds) {
        wchar_t name[ZT_MAX_PATH] = L"";
        bool conflict = false;
        std::printf("\nverove-host: connecting the %s\n", kind.label);
        const bool connected = connect(true, kind.simulator, 0, L"Verove", name, &conflict);
        PrintPluginLog();
        std::printf("verove-host: %s %s%s\n", kind.label,
                    connected ? "connected as " : "not connected",
                    connected ? QString::fromWCharArray(name).toLocal8Bit().constData() : "");
        IZtStimulationDevice* device =
            connected ? CZtStimulationDeviceManager::GetInstance()->GetStaticDevice(name) : nullptr;
        if (device) {
            CZtStringW displayName;
            device->GetDisplayName(&displayName, 0);
            std::printf("verove-host: registered device %ls, shown as \"%ls\"\n",
                        device->GetUniqueName().GetString(), displayName.GetString());
        }
        if (connected) {
            std::printf("verove-host: disconnecting %ls\n", name);
            connect(false, kind.simulator, 0, L"", name, nullptr);
            PrintPluginLog();
        }
    }
    module->Release();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY")) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    QApplication app(argc, argv);

    const QString binDir = QCoreApplication::applicationDirPath();
    QString logPath = QDir(binDir).filePath("verove-host.log");
    QString pluginPath = QDir(binDir).filePath("q9_plugin_verove.so");
    QString sdkFolder = QStringLiteral(VEROVE_FAKE_SDK_DIR);
    bool simulatorOnly = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--log" && i + 1 < args.size()) {
            logPath = args[++i];
        } else if (args[i] == "--plugin" && i + 1 < args.size()) {
            pluginPath = args[++i];
        } else if (args[i] == "--sdk" && i + 1 < args.size()) {
            sdkFolder = args[++i];
        } else if (args[i] == "--simulator") {
            simulatorOnly = true;
        } else {
            std::fprintf(stderr,
                         "usage: verove-host [--log FILE] [--plugin FILE] [--sdk FOLDER] "
                         "[--simulator]\n"
                         "  --sdk FOLDER  where the SDK library is looked for first "
                         "(default: the simulated SDK of this build)\n"
                         "  --simulator   connect only the SDK's built-in simulated unit\n");
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
    return RunPlugin(pluginPath, sdkFolder, simulatorOnly);
}
