// Load-time initialisation of the plug-in library (the process-attach notification on Windows).
#include <dlfcn.h>

#include <QFile>
#include <QResource>

#include "cztpluginverove.h"
#include "zt/zt_util.h"

// Registers the library's resources before the constructor below reads them; the resource
// initialiser has to be declared at namespace scope.
static void VeroveInitResources() {
    Q_INIT_RESOURCE(q9_plugin_verove);
}

namespace {

// Stores the module handle and hands the library's translations to the host. Attach always
// succeeds: a missing translation table only leaves the texts untranslated.
__attribute__((constructor)) void VeroveProcessAttach() {
    VeroveInitResources();
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&VeroveProcessAttach), &info) != 0) {
        VerovePluginState().moduleHandle = info.dli_fbase;
    }
    QFile translations(QStringLiteral(":/q9_plugin_Verove/resources/translations.json"));
    if (translations.open(QIODevice::ReadOnly)) {
        const QByteArray data = translations.readAll();
        ZT_RegisterTranslations("q9_plugin_verove", data.constData(),
                                static_cast<unsigned>(data.size()));
    }
}

__attribute__((destructor)) void VeroveProcessDetach() {
    VerovePluginState().moduleHandle = nullptr;
}

}  // namespace
