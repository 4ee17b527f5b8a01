#pragma once

#include "platform/core/RecorderError.h"

#include <QString>

#include <initializer_list>
#include <optional>

namespace corvessa {

// One event line of the engine: its plain English words, byte for byte, with
// "%@" where a value goes. A line the translation tables hold is written through
// textKey(), so the owner's reverse lookup finds its template. A value; any thread.
class EngineLine {
public:
    explicit constexpr EngineLine(const char* text) : m_text(text) {}

    constexpr const char* text() const { return m_text; }

    // The line with each "%@" replaced by the next value, left to right; a value
    // is never read for placeholders itself.
    QString operator()(std::initializer_list<QString> values = {}) const;

    // The words before the first value (the whole line when it has none): what a
    // receiver tells the line by.
    QString prefix() const;

    // The message of a writer's error as a line's value: "?" when there is none.
    static QString reason(const std::optional<RecorderError>& error);

private:
    const char* m_text;
};

} // namespace corvessa
