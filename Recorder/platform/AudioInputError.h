#pragma once

#include <QString>

#include <stdexcept>

namespace corvessa {

// A failure of the audio input service. The stage says which step failed, so
// that callers can word it for the user; the detail is the sound server's own
// explanation (already in the user's language where the server translates).
class AudioInputError : public std::runtime_error {
public:
    enum class Stage {
        Connect, // the sound server cannot be reached
        Route,   // the private tap sink could not be set up
        Format,  // the device's format cannot be read
        Stream,  // the capture stream could not be created
        Start,   // the capture stream could not be started
    };

    AudioInputError(Stage stage, const QString& detail)
        : std::runtime_error(detail.toStdString()), m_stage(stage), m_detail(detail) {}

    Stage stage() const { return m_stage; }
    const QString& detail() const { return m_detail; }

private:
    Stage m_stage;
    QString m_detail;
};

} // namespace corvessa
