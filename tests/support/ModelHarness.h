#pragma once

#include "capture/AudioCapturePermission.h"
#include "capture/CameraOverlayState.h"
#include "capture/VideoDevicePreferences.h"
#include "engine/RecorderEngine.h"
#include "model/CameraControl.h"
#include "model/ConfirmationService.h"
#include "model/EngineControl.h"
#include "model/IdleMonitors.h"
#include "model/RecorderModel.h"
#include "model/Stealth.h"
#include "model/ToolsFacade.h"
#include "platform/core/UserDefaults.h"
#include "platform/synthetic/SyntheticAudioInput.h"
#include "platform/synthetic/SyntheticDisplayList.h"
#include "platform/synthetic/SyntheticPermissions.h"
#include "prefs/Prefs.h"
#include "support/ServiceScope.h"
#include "support/TempHome.h"
#include "support/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace corvessa::test {

// Every collaborator of the recorder model as a fake that writes what it is
// asked into one shared journal, so tests can check the order of calls.
using Journal = std::vector<std::string>;

class FakeEngine final : public EngineControl {
public:
    explicit FakeEngine(Journal& j) : journal(j) {}
    void setCallbacks(Callbacks c) override { callbacks = std::move(c); }
    void setGains(float m, float s) override
    {
        mic = m;
        sys = s;
    }
    void setMuteSpeakers(bool mute) override { journal.push_back(mute ? "engine.mute(on)" : "engine.mute(off)"); }
    double effectiveSeconds() const override { return seconds; }
    std::optional<RecorderError> startInner(const RecorderEngine::Config& c) override
    {
        journal.push_back("engine.start");
        config = c;
        return startError;
    }
    void cleanUpAfterFailedStart() override { journal.push_back("engine.cleanUp"); }
    void pause(std::function<void()> then) override
    {
        journal.push_back("engine.pause");
        if (then)
            then();
    }
    void resume() override { journal.push_back("engine.resume"); }
    std::optional<QString> stop() override
    {
        journal.push_back("engine.stop");
        for (const QString& line : linesAtStop) {
            if (callbacks.onEvent)
                callbacks.onEvent(line);
        }
        // The files as writers would have made them: what the test put there.
        const QString url = savedAs.value_or(config.outputURL);
        written = writtenAtStop.value_or(std::vector<WrittenFile>{});
        std::vector<QString> files{url};
        files.insert(files.end(), cameraFiles.begin(), cameraFiles.end());
        for (const QString& f : files)
            if (!writtenAtStop)
                if (const auto file = WrittenFile::atPath(f))
                    written.push_back(*file);
        if (!movie)
            return std::nullopt;
        return url;
    }
    std::vector<QString> cameraFileURLs() const override { return cameraFiles; }
    std::vector<WrittenFile> writtenFiles() const override { return written; }

    Journal& journal;
    Callbacks callbacks;
    RecorderEngine::Config config;
    std::optional<RecorderError> startError;
    bool movie = true; // stop() answers the output file
    std::optional<QString> savedAs; // stop() answers this instead (a movie moved while recording)
    std::vector<WrittenFile> written; // at the last stop
    std::optional<std::vector<WrittenFile>> writtenAtStop; // the writers' files, when not what is there then
    std::vector<QString> linesAtStop; // said while stopping
    std::vector<QString> cameraFiles;
    float mic = -1;
    float sys = -1;
    double seconds = 0;
};

class FakeCamera final : public CameraControl {
public:
    explicit FakeCamera(Journal& j) : journal(j) {}
    std::vector<CameraDevice> devices() override { return cameras; }
    Observation observeDevices(std::function<void()> changed) override
    {
        onDevices = std::move(changed);
        return std::make_shared<int>(0);
    }
    void setOnEvent(EventHandler h) override { onEvent = std::move(h); }
    void setOnConnected(ConnectedHandler h) override { onConnected = std::move(h); }
    std::optional<QString> start(const QString& id, int, int, bool previewOnly, std::optional<VideoDimensions>,
                                 std::optional<double>) override
    {
        journal.push_back("camera.start(" + id.toStdString() + (previewOnly ? ",preview)" : ",full)"));
        if (failStart)
            return failStart;
        ++starts;
        token = &starts;
        current = id;
        preview = previewOnly;
        return std::nullopt;
    }
    void stop() override
    {
        journal.push_back("camera.stop");
        token = nullptr;
    }
    void suspend() override { journal.push_back("camera.suspend"); }
    void resume() override { journal.push_back("camera.resume"); }
    Token session() const override { return token; }
    QString deviceID() const override { return current; }
    bool isPreviewQuality() const override { return preview; }
    std::shared_ptr<CameraOverlayState> overlay() const override { return state; }
    std::shared_ptr<CameraCapture> capture() const override { return nullptr; }

    Journal& journal;
    std::vector<CameraDevice> cameras;
    std::function<void()> onDevices;
    EventHandler onEvent;
    ConnectedHandler onConnected;
    std::optional<QString> failStart;
    int starts = 0;
    Token token = nullptr;
    QString current;
    bool preview = true;
    std::shared_ptr<CameraOverlayState> state = std::make_shared<CameraOverlayState>();
};

class FakeMonitors final : public IdleMonitors {
public:
    explicit FakeMonitors(Journal& j) : journal(j) {}
    void startMic(const std::optional<QString>& id, LevelHandler level, ProblemHandler) override
    {
        journal.push_back("mic.start(" + id.value_or(QString()).toStdString() + ")");
        micLevel = std::move(level);
    }
    void stopMic() override {}
    void setMicGain(float g) override { micGain = g; }
    void startSys(bool, LevelHandler level, ProblemHandler) override
    {
        journal.push_back("sys.start");
        sysLevel = std::move(level);
    }
    void stopSys() override {}
    void setSysGain(float g) override { sysGain = g; }

    Journal& journal;
    LevelHandler micLevel;
    LevelHandler sysLevel;
    float micGain = -1;
    float sysGain = -1;
};

class FakeTools final : public ToolsFacade {
public:
    explicit FakeTools(Journal& j) : journal(j) {}
    void pickRange(RangeMode, PickCompletion completion) override { pending = std::move(completion); }
    std::vector<WindowInfo> windowList() override { return windows; }
    void showLensOutline(const GlobalRect& rect, bool) override
    {
        journal.push_back("tools.showLens");
        lens = rect;
    }
    void hideLensOutline() override
    {
        journal.push_back("tools.hideLens");
        lens.reset();
    }
    void hidePenOverlay() override { journal.push_back("tools.hidePen"); }
    bool isRegionPickOpen() const override { return bool(region); }
    void showCountdown(int n, const DisplayInfo&) override { journal.push_back("countdown(" + std::to_string(n) + ")"); }
    void hideCountdown() override { journal.push_back("countdown.hide"); }
    void pickRegion(const GlobalRect&, double, RegionCompletion completion) override { region = std::move(completion); }
    void cancelRegionPick() override { finishRegion(std::nullopt); }
    // The picker closes, then reports.
    void finishRegion(std::optional<GlobalRect> rect)
    {
        if (auto done = std::exchange(region, {}))
            done(rect);
    }
    void showZoomHUD(const QString& text, const std::optional<GlobalRect>&) override { hud = text; }
    void showPenOverlay(const DisplayInfo&) override { journal.push_back("tools.showPen"); }

    Journal& journal;
    PickCompletion pending;
    RegionCompletion region;
    std::optional<GlobalRect> lens;
    QString hud;
    std::vector<WindowInfo> windows;
};

class FakeConfirm final : public ConfirmationService {
public:
    explicit FakeConfirm(Journal& j) : journal(j) {}
    bool ask(const QString& title, const QString&, const QString&, const QString&) override
    {
        journal.push_back("confirm.ask(" + title.toStdString() + ")");
        asked << title;
        if (whileAsking)
            whileAsking();
        return answer;
    }
    bool isShowing() const override { return showing; }
    void abort() override
    {
        journal.push_back("confirm.abort");
        showing = false;
    }
    Journal& journal;
    bool showing = false;
    bool answer = true;
    QStringList asked;
    std::function<void()> whileAsking; // what happens while the question is open
};

// A model over fakes, a virtual clock and a defaults store in a fresh home,
// shared by the model, toolbar, tools and app tests.
// make() builds it; tests arrange the fakes and the store first.
class ModelHarness : public ::testing::Test {
protected:
    void SetUp() override
    {
        Prefs::resetShared();
        sessionPermission.emplace(AudioCapturePermission::resetSession);
        audio->setSources({mic("built_in", "Built-in Microphone", true), mic("usb", "USB Microphone")});
        displays->setDisplays(
            {SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), GlobalRect(0, 0, 1920, 1080), 1, 60, true)});
    }
    void TearDown() override
    {
        model.reset();
    }

    static AudioDevice mic(const QString& name, const QString& description, bool isDefault = false)
    {
        AudioDevice d;
        d.name = name;
        d.description = description;
        d.isDefault = isDefault;
        return d;
    }
    static CameraDevice cameraDevice(const QString& id, const QString& name) { return {id, name, {}}; }

    RecorderModel& make(bool startMonitoring = true)
    {
        RecorderModelDependencies deps;
        deps.scheduler = &scheduler;
        deps.defaults = &UserDefaults::standard();
        deps.prefs = &Prefs::shared();
        deps.videoPreferences = std::make_shared<VideoDevicePreferences>(UserDefaults::standard());
        deps.engine = engine;
        deps.permissions = permissions;
        deps.probeSystemAudio = [this](double, std::function<void(bool)> done) {
            journal.push_back("probe");
            done(probeAnswer);
        };
        deps.verifySystemAudio = [this](std::function<void(bool)>) { journal.push_back("verify"); };
        deps.audio = audio;
        deps.camera = camera;
        deps.monitors = monitors;
        deps.displays = displays;
        deps.tools = tools;
        deps.confirm = confirm;
        deps.stealth = stealth;
        deps.log = [this](const QString& line) { logLines << line; };
        deps.mouseLocation = [this] { return mouse; };
        deps.setEscape = [this](bool on) { journal.push_back(on ? "escape(on)" : "escape(off)"); };
        deps.perfProbe = [this](bool run) { journal.push_back(run ? "perf.start" : "perf.stop"); };
        // Blocking work runs when the test says, as if on another thread.
        deps.background = [this](std::function<void()> work) { backgroundWork.push_back(std::move(work)); };
        deps.playCue = [this](Cues::Kind kind) { journal.push_back("cue." + Cues::name(kind).toStdString()); };
        deps.wallClock = [] { return QDateTime(QDate(2024, 3, 5), QTime(14, 7, 9)); };
        deps.chooseFolder = [this]() -> std::optional<QString> { return chosenFolder; };
        deps.resolveSaveFolder = [this]() -> std::optional<QString> {
            if (!prefs().hasValidSaveFolder())
                return std::nullopt;
            return prefs().saveFolder();
        };
        deps.isPlayable = [](const QString&) { return false; };
        deps.isBuiltInSpeaker = [this] { return builtInSpeaker; };
        deps.terminate = [this] { journal.push_back("terminate"); };
        model = std::make_unique<RecorderModel>(std::move(deps), startMonitoring);
        return *model;
    }

    UserDefaults& store() { return UserDefaults::standard(); }
    Prefs& prefs() { return Prefs::shared(); }
    // The journal from here on.
    void clearJournal() { journal.clear(); }

    TempHome home;
    std::optional<ServiceScope> sessionPermission;
    Journal journal;
    VirtualScheduler scheduler;
    std::shared_ptr<FakeEngine> engine = std::make_shared<FakeEngine>(journal);
    std::shared_ptr<FakeCamera> camera = std::make_shared<FakeCamera>(journal);
    std::shared_ptr<FakeMonitors> monitors = std::make_shared<FakeMonitors>(journal);
    std::shared_ptr<FakeTools> tools = std::make_shared<FakeTools>(journal);
    std::shared_ptr<FakeConfirm> confirm = std::make_shared<FakeConfirm>(journal);
    std::shared_ptr<Stealth> stealth = std::make_shared<Stealth>();
    std::shared_ptr<SyntheticPermissions> permissions = std::make_shared<SyntheticPermissions>();
    std::shared_ptr<SyntheticAudioInput> audio = std::make_shared<SyntheticAudioInput>();
    std::shared_ptr<SyntheticDisplayList> displays = std::make_shared<SyntheticDisplayList>();
    // Runs the work handed to the background, and what it posts back.
    void runBackground()
    {
        while (!backgroundWork.empty()) {
            auto work = std::move(backgroundWork.front());
            backgroundWork.erase(backgroundWork.begin());
            work();
            scheduler.runPosted();
        }
    }

    std::optional<GlobalPoint> mouse;
    bool probeAnswer = true;
    bool builtInSpeaker = true;
    std::optional<QString> chosenFolder;
    std::vector<std::function<void()>> backgroundWork;
    QStringList logLines;
    std::unique_ptr<RecorderModel> model;
};

} // namespace corvessa::test
