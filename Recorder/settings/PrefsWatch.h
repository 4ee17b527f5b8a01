#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

namespace corvessa {

class Prefs;

// Runs a refresh whenever one of the named preferences changes, for as long as
// `context` lives. The panes update their widgets in place this way, so a
// control in use (a slider mid-drag) is never rebuilt under the mouse.
class PrefsWatch {
public:
    PrefsWatch() = delete;

    // Also runs `refresh` once now.
    static void on(QObject* context, Prefs& prefs, const QStringList& names, const std::function<void()>& refresh);
};

} // namespace corvessa
