#pragma once

#include "capture/TextLookup.h"

namespace corvessa {

// The engine's event lines that carry a value and reach the user, written as
// the translation tables hold them, so that the model's reverse lookup can
// translate a formatted line. The engine itself builds the lines from
// RecorderEngine::Line.
struct EngineLineTemplates {
    static constexpr const char* systemAudioFailed =
        textKey("System audio could not be enabled this time, will not record system audio: %@");
    static constexpr const char* lowDisk =
        textKey("Insufficient disk space (remaining %@ MB), stopped and saved automatically.");
    static constexpr const char* writeError = textKey("%@ write error, this track has stopped (others continue): %@");
    static constexpr const char* formatChanged =
        textKey("%@ audio format changed mid-way (device changed?), skipping this segment.");
    static constexpr const char* cameraWriteFailed = textKey("Camera write failed: %@");
    static constexpr const char* cameraNotStarted = textKey("Camera file could not be started: %@");
};

} // namespace corvessa
