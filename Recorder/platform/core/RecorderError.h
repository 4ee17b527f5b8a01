#pragma once

#include <QString>

namespace corvessa {

// An error as an ordinary value: a domain, a code and the message meant for
// the user (already translated where it is shown as is).
struct RecorderError {
    QString domain;
    int code = 0;
    QString message;

    bool operator==(const RecorderError&) const = default;
};

} // namespace corvessa
