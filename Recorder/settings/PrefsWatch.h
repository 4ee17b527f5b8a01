#pragma once

#include "prefs/Prefs.h"

#include <QList>
#include <QObject>

#include <functional>

namespace corvessa {

// Runs a refresh whenever one of the given preferences changes, for as long as
// `context` lives. The panes update their widgets in place this way, so a
// control in use (a slider mid-drag) is never rebuilt under the mouse.
class PrefsWatch {
public:
    PrefsWatch() = delete;

    // Also runs `refresh` once now.
    static void on(QObject* context, Prefs& prefs, const QList<Prefs::Key>& keys, const std::function<void()>& refresh);
};

} // namespace corvessa
