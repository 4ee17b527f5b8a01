#pragma once

#include "support/PrivateBus.h"
#include "support/TempHome.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <ostream>

namespace corvessa::test {

// A desktop session of the test's own for the built program: a fresh home (a
// TempHome, so the test reads the program's log and journal there), a private
// runtime folder, and either a private session bus or no bus at all. The
// program never reaches the caller's bus, runtime folder or home, and so never
// a Corvessa the caller runs. Main thread.
class ProgramSession {
public:
    enum class Bus { session, none };

    explicit ProgramSession(Bus bus);
    ProgramSession(const ProgramSession&) = delete;
    ProgramSession& operator=(const ProgramSession&) = delete;

    // False, with the reason in why(), when the bus asked for cannot start.
    bool ready() const { return m_why.isEmpty(); }
    QString why() const { return m_why; }
    Bus bus() const { return m_busKind; }

    TempHome& home() { return m_home; }
    QString runtimeDir() const { return m_home.file(QStringLiteral("run")); }

    // The program's environment: the test's own (its DISPLAY among it), with
    // the session's home, runtime folder and bus in place of the caller's,
    // Qt on X11, and `extra` ("NAME=value") last.
    QStringList environment(const QStringList& extra = {}) const;

private:
    TempHome m_home;
    Bus m_busKind;
    std::unique_ptr<PrivateBus> m_bus;
    QString m_why;
};

// For the names of tests run with each.
void PrintTo(ProgramSession::Bus bus, std::ostream* out);

} // namespace corvessa::test
