#pragma once

// Our engine on one synthetic display (the moving test pattern) with a given
// sound input, as the engine benchmarks run it.

#include "engine/RecorderEngine.h"
#include "platform/DisplayInfo.h"
#include "platform/synthetic/SyntheticPowerControl.h"
#include "platform/synthetic/SyntheticScreenSource.h"

#include <memory>

namespace benchrig {

struct SyntheticEngine {
    corvessa::DisplayInfo display;
    std::shared_ptr<corvessa::SyntheticScreenSource> source;
    std::shared_ptr<corvessa::RecorderEngine> engine;
};

inline SyntheticEngine syntheticEngine(int width, int height, std::shared_ptr<corvessa::AudioInput> audio)
{
    using namespace corvessa;
    SyntheticEngine rig;
    rig.display.name = rig.display.uuid = QStringLiteral("BENCH-1");
    rig.display.id = DisplayInfo::idForName(rig.display.name);
    rig.display.frame = GlobalRect(0, 0, width, height);
    rig.display.scale = 1;
    rig.display.refreshRate = 60;
    rig.display.isPrimary = true;
    rig.source = std::make_shared<SyntheticScreenSource>(std::vector<DisplayInfo>{rig.display}, std::vector<WindowInfo>{});
    rig.source->setAudioInput(audio);
    rig.engine = RecorderEngine::create();
    rig.engine->setScreenSource(rig.source);
    rig.engine->setAudioInput(audio);
    rig.engine->setPowerControl(std::make_shared<SyntheticPowerControl>());
    return rig;
}

} // namespace benchrig
