// The dialogs the pad opens.
#include "cztverovepaddialogs.h"

#include "cztpluginverove.h"
#include "zt/zt_module.h"
#include "zt/zt_qtwidgets.h"

namespace {

const wchar_t* const kDragDropEvent = L"ZT_MODULEEVENT_PLUGIN_PROCESS_DRAGDROP";

}  // namespace

CZtQ9DialogForQt* CZtVerovePadDialogs::Get(QPointer<CZtQ9DialogForQt>* slot, const Make& make,
                                           const Wire& wire) {
    if (!*slot) {
        *slot = make();
        if (*slot) {
            wire(*slot);
        }
    }
    return *slot;
}

void CZtVerovePadDialogs::Close(QPointer<CZtQ9DialogForQt>* slot, QObject* receiver) {
    if (*slot) {
        QObject::disconnect(slot->data(), nullptr, receiver, nullptr);
        (*slot)->deleteLater();
    }
    *slot = nullptr;
}

void CZtVerovePadDialogs::Show(CZtQ9DialogForQt* dialog, QWidget* window) {
    if (dialog->IsVisible()) {
        dialog->activateWindow();
        dialog->raise();
    } else {
        dialog->ShowDialog(window, true);
    }
}

void CZtVerovePadDialogs::RunWithDropTarget(CZtQ9DialogForQt* dialog, QWidget* window) {
    const SZtVerovePluginState& state = VerovePluginState();
    IZtPluginManager* plugins = state.hostContext ? state.hostContext->GetPluginManager() : nullptr;
    const bool registered =
        plugins && state.moduleInstance &&
        plugins->RegisterModuleEvent(kDragDropEvent, state.moduleInstance, -1) == 0;
    dialog->DoModal(window, true, 0);
    if (registered) {
        plugins->UnregisterModuleEvent(kDragDropEvent, state.moduleInstance);
    }
}
