#pragma once

// Our engine recording the first display of an X server with the stand-in
// microphone and system audio of BenchRig's PulseAudio, as the end-to-end
// benchmarks run it.

#include "engine/RecorderEngine.h"
#include "platform/pulse/PulseAudioInput.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/x11/X11ScreenSource.h"

#include <QRectF>

#include <cstdio>
#include <memory>
#include <optional>

namespace benchrig {

struct EngineRecording {
    std::shared_ptr<corvessa::X11ScreenSource> source;
    std::shared_ptr<corvessa::PulseAudioInput> audio;
    std::shared_ptr<corvessa::RecorderEngine> engine;
    QStringList lines; // the engine's event lines
};

// Started at `fps` into `movie`, the cursor hidden; the whole display, or
// `area` of it (display points); null (with the reason on stderr) when it could not start.
inline std::unique_ptr<EngineRecording> startEngineRecording(const QString& display, int fps, const QString& movie,
                                                             const std::optional<QRectF>& area = std::nullopt)
{
    using namespace corvessa;
    auto r = std::make_unique<EngineRecording>();
    r->source = std::make_shared<X11ScreenSource>(display);
    r->audio = std::make_shared<PulseAudioInput>();
    r->source->setAudioInput(r->audio);
    RecorderError contentError;
    const auto content = r->source->content(&contentError);
    if (!content || content->displays.empty()) {
        std::fprintf(stderr, "no display to record\n");
        return nullptr;
    }
    r->engine = RecorderEngine::create();
    r->engine->setScreenSource(r->source);
    r->engine->setAudioInput(r->audio);
    r->engine->setPowerControl(std::make_shared<SyntheticPowerControl>());
    r->engine->onEvent = [lines = &r->lines](const QString& line) { *lines << line; };
    RecorderEngine::Config config;
    const uint32_t id = content->displays.front().id;
    config.target = area ? RecorderEngine::Target::area(id, *area) : RecorderEngine::Target::display(id);
    config.fps = fps;
    config.systemAudio = true;
    config.microphoneID = QStringLiteral("stand_in_mic");
    config.cursorTheme = CursorTheme::hidden;
    config.outputURL = movie;
    if (auto error = r->engine->startInner(config)) {
        std::fprintf(stderr, "engine start failed: %s\n", qPrintable(error->message));
        return nullptr;
    }
    return r;
}

} // namespace benchrig
