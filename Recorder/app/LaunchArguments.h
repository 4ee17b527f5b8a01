#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace corvessa {

// The command line: "--action <id>" (or "--action=<id>") asks the running
// program to run a launcher action; other arguments are ignored. An unknown
// id or a missing one is an error, reported before anything is sent.
struct LaunchArguments {
    std::optional<QString> action;
    QString error; // empty when the line is usable

    // `arguments` as QCoreApplication gives them, the program's path first.
    static LaunchArguments parse(const QStringList& arguments);
    // What goes to the running program: "action:<id>", or "reopen".
    QString message() const;
};

} // namespace corvessa
