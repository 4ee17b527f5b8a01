#pragma once

#include <QString>

namespace corvessa::test {

// Files a test keeps for a reviewer in $CORVESSA_TEST_ARTIFACTS. Each is named
// after the running test, its parameter included, so that tests run side by
// side (the runs of one parameterised test among them) never write the same
// file.
class Artifacts {
public:
    Artifacts() = delete;

    // The folder, made when needed; empty when the variable is not set.
    static QString folder();
    // "Suite.Test" of the running test, its parameter after a '-' ("Bus-Suite.Test-SessionBus").
    static QString testName();
    // "<folder>/<testName>-<name>"; empty when the variable is not set.
    static QString path(const QString& name);
};

} // namespace corvessa::test
