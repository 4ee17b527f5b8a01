#pragma once

#include "engine/PauseTier.h"
#include "engine/RecordingTarget.h"
#include "engine/compositor/CursorTheme.h"
#include "platform/core/GlobalRect.h"

#include <QRectF>
#include <QSizeF>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace corvessa {

class CameraFeed;
class CameraOverlayState;
class FocusState;

// One recording request, filled by the recorder model.
struct RecorderEngineConfig {
    RecordingTarget target; // what is recorded
    int fps = 30; // 1...120; also the stream's frame interval and the heartbeat's
    bool systemAudio = false;
    std::optional<QSizeF> windowSize; // window targets: points to use instead of the window's frame
    CursorTheme cursorTheme = CursorTheme::system;
    std::shared_ptr<FocusState> focus;
    std::function<void(std::optional<GlobalRect>)> lensPreview; // the zoom view; nothing hides it
    bool focusCrisp = false;
    int cursorArt = 0;
    int cursorArrow = 0;
    double shadowUp = 0.58;
    double shadowDown = 0.7;
    double cursorSize = 1.0;
    std::optional<int> maxShortSide; // bound on the movie's shorter side in pixels
    int qualityTier = 1;             // 0, 1, 2; above 2 the custom rate
    double customMbps = 8;
    bool muteSpeakers = false;
    // The microphone's source name; an empty name is the default source;
    // absent records no microphone.
    std::optional<QString> microphoneID;
    // The microphone is switched on but there is none to record: the engine
    // says so as it starts (the sound track is silence where nothing delivered).
    bool microphoneMissing = false;
    std::shared_ptr<CameraFeed> camera;
    // Present when the camera is composited into the frames; absent when the
    // camera goes to a file of its own.
    std::shared_ptr<CameraOverlayState> cameraOverlay;
    // The camera frame rate setting; sizes the camera file's bit rate. Passed
    // in because the settings object lives on the main thread.
    int cameraFPS = 15;
    bool allowsDeviceChanges = false;
    QString outputURL; // the movie file's path
    // The program's own windows kept out of the recording besides every
    // window of this process; asked again whenever the stream is rebuilt.
    std::function<std::vector<uint32_t>()> excludedWindows;
};

} // namespace corvessa
