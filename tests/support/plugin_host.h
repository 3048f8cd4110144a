// A fresh reference host for a test that runs the plug-in against the fake SDK.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "cztpluginverove.h"
#include "fake_atcore_control.h"
#include "zthost/settings_store.h"
#include "zthost/zthost.h"

// Resets the host and the fake SDK, keeps the host's settings files in settingsDir and gives the
// plug-in the host's context. Fails, fatally for ASSERT_NO_FATAL_FAILURE, when the folder could
// not be made.
inline void ResetPluginHost(const QTemporaryDir& settingsDir) {
    zthost::ResetForTests();
    fake_atcore::Reset();
    ASSERT_TRUE(settingsDir.isValid());
    zthost::SetSettingsLocation(settingsDir.path().toStdWString());
    VerovePluginState().hostContext = zthost::HostContext();
}
