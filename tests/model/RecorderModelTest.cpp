#include "support/ModelHarness.h"

#include "engine/compositor/FocusState.h"
#include "model/GainMap.h"

#include <cmath>
#include <limits>

namespace corvessa::test {
namespace {

using Kind = RecorderPhase::Kind;

class RecorderModelTest : public ModelHarness {};

TEST_F(RecorderModelTest, StoredStateIsReadWithItsDefaultsAndRules)
{
    {
        RecorderModel& m = make();
        EXPECT_EQ(m.micGainDB(), 6.0);
        EXPECT_EQ(m.sysGainDB(), -6.0);
        EXPECT_TRUE(m.muteSpeakers());
        EXPECT_FALSE(m.micOn() || m.systemAudio() || m.cameraOn());
        EXPECT_EQ(m.rangeMode(), RangeMode::display);
        EXPECT_EQ(m.displayID(), 0u);
        EXPECT_EQ(m.micID(), QStringLiteral("built_in"));
        EXPECT_TRUE(m.phase().is(Kind::ready));
        model.reset();
    }
    // Each row: what is stored, and what the model reads from it.
    struct Row {
        const char* what;
        std::function<void(UserDefaults&)> store;
        std::function<bool(const RecorderModel&)> holds;
    };
    const std::vector<Row> rows{
        {"a gain stored as text is ignored", [](UserDefaults& d) { d.setString("micGainDB2", "12"); },
         [](const RecorderModel& m) { return m.micGainDB() == 6.0; }},
        {"gains are clamped", [](UserDefaults& d) { d.setDouble("micGainDB2", 40); d.setDouble("sysGainDB2", -300); },
         [](const RecorderModel& m) { return m.micGainDB() == 12.0 && m.sysGainDB() == -48.0; }},
        {"window range restored", [](UserDefaults& d) { d.setString("rangeMode", "window"); },
         [](const RecorderModel& m) { return m.rangeMode() == RangeMode::window && !m.windowPick(); }},
        {"unknown range is display", [](UserDefaults& d) { d.setString("rangeMode", "screen"); },
         [](const RecorderModel& m) { return m.rangeMode() == RangeMode::display; }},
        {"display number beyond 32 bits", [](UserDefaults& d) { d.setInteger("displayID", qint64(1) << 40); },
         [](const RecorderModel& m) { return m.displayID() == 0; }},
        {"mute speakers stored as number is ignored", [](UserDefaults& d) { d.setInteger("muteSpeakers", 0); },
         [](const RecorderModel& m) { return m.muteSpeakers(); }},
    };
    for (const Row& row : rows) {
        for (const char* key : {"micGainDB2", "sysGainDB2", "rangeMode", "displayID", "muteSpeakers"})
            store().remove(key);
        row.store(store());
        EXPECT_TRUE(row.holds(make())) << row.what;
        model.reset();
    }
    // Slider values are sanitised as well.
    RecorderModel& m = make();
    m.setMicGainDB(std::numeric_limits<double>::quiet_NaN());
    m.setSysGainDB(std::numeric_limits<double>::infinity());
    EXPECT_EQ(m.micGainDB(), 6.0);
    EXPECT_EQ(m.sysGainDB(), -6.0);
}

TEST_F(RecorderModelTest, PhaseEffectsRunInTheirOrder)
{
    camera->cameras = {cameraDevice("cam", "Cam")};
    store().setBool("cameraOn", true);
    RecorderModel& m = make();
    m.setPhase(RecorderPhase::countdown(3));
    m.setPhase(RecorderPhase::recording());
    m.setPenOn(true);
    confirm->showing = true;
    clearJournal();
    m.setPhase(RecorderPhase::finishing());
    // lens outline (4), camera power (6), pen (7), confirmation (11), probe (12).
    EXPECT_EQ(journal, (Journal{"tools.hideLens", "camera.resume", "tools.hidePen", "escape(off)", "confirm.abort",
                                "perf.stop"}));
    EXPECT_TRUE(stealth->active());
    EXPECT_TRUE(prefs().isRecording());
    EXPECT_FALSE(m.penOn());

    clearJournal();
    m.setPhase(RecorderPhase::saved(QStringLiteral("/tmp/x.mov")));
    EXPECT_FALSE(stealth->active());
    EXPECT_FALSE(prefs().isRecording());
    // Leaving the active phases lists the devices again (9).
    EXPECT_TRUE(logLines.last().startsWith(QStringLiteral("Device list: ")));
}

TEST_F(RecorderModelTest, PauseTiersAndTheElapsedTick)
{
    RecorderModel& m = make();
    m.setPhase(RecorderPhase::recording());
    m.configureTimer(true);
    engine->seconds = 1.5;
    scheduler.advance(0.1);
    EXPECT_EQ(m.elapsed(), 1.5);

    m.setPhase(RecorderPhase::paused());
    m.receivePauseTier(RecorderEngine::PauseTier::eco);
    EXPECT_EQ(m.currentPauseTier(), RecorderEngine::PauseTier::eco);
    EXPECT_EQ(m.currentPauseTierTitle(), QStringLiteral("Eco Standby"));
    engine->seconds = 99;
    scheduler.advance(600);
    EXPECT_EQ(m.elapsed(), 1.5) << "a pause keeps the time still";

    m.setPhase(RecorderPhase::recording());
    m.receivePauseTier(RecorderEngine::PauseTier::deep);
    EXPECT_FALSE(m.currentPauseTier()) << "a tier outside a pause is dropped";
    scheduler.advance(0.1);
    EXPECT_EQ(m.elapsed(), 99);
    EXPECT_EQ(m.pauseStatusTooltip(), QStringLiteral("Paused \u00b7 Ready to Resume\nPause mode details"));
}

TEST_F(RecorderModelTest, SourcesSwitchWhileLiveOnlyWhenOnAtTheStartAndThenByGain)
{
    store().setBool("micOn", true);
    RecorderModel& m = make();
    const float plus6 = std::pow(10.0f, 6.0f / 20);
    EXPECT_FLOAT_EQ(monitors->micGain, plus6);

    m.setRecordingSources(true, false);
    m.setPhase(RecorderPhase::recording());
    clearJournal();
    m.tapSystem();
    EXPECT_FALSE(m.systemAudio()) << "system audio was off at the start";
    m.tapMic();
    EXPECT_FALSE(m.micOn());
    EXPECT_EQ(engine->mic, 0.0f);
    m.tapMic();
    EXPECT_FLOAT_EQ(engine->mic, plus6);
    EXPECT_TRUE(journal.empty()) << "no device is opened or closed while live";

    m.setPhase(RecorderPhase::countdown(1));
    EXPECT_FALSE(m.canToggleMicNow());
    m.tapMic();
    EXPECT_TRUE(m.micOn()) << "nothing changes during a countdown";

    // The silent end is silence, not 10^-2.4; a muted microphone stays silent.
    m.setPhase(RecorderPhase::ready());
    m.setMicGainDB(-48);
    EXPECT_EQ(engine->mic, 0.0f);
    m.setMicMuted(true);
    m.setMicGainDB(0);
    EXPECT_EQ(engine->mic, 0.0f);
}

TEST_F(RecorderModelTest, DeviceChangesAreListedAndReconciled)
{
    camera->cameras = {cameraDevice("cam0", "FaceTime \"HD\"")};
    RecorderModel& m = make();
    EXPECT_EQ(m.cameraID(), QStringLiteral("cam0")) << "the first camera when none was stored";
    EXPECT_FALSE(store().contains("cameraID")) << "that choice is not stored";

    m.selectMic(QStringLiteral("usb"));
    audio->setSources({mic("built_in", "Built-in Microphone", true)});
    m.devicesChanged();
    EXPECT_EQ(logLines.last(),
              QStringLiteral("Device list: Microphone [\"Built-in Microphone\"]; Camera [\"FaceTime \\\"HD\\\"\"]"));
    EXPECT_EQ(m.micID(), QStringLiteral("built_in")) << "a vanished microphone gives way to the default";

    audio->setSources({mic("built_in", "Built-in Microphone", true), mic("usb", "USB Microphone")});
    m.refreshDevices();
    EXPECT_EQ(m.micID(), QStringLiteral("usb")) << "the microphone picked last comes back";

    audio->setSources({});
    camera->cameras.clear();
    m.devicesChanged();
    EXPECT_FALSE(m.micID());
    EXPECT_EQ(logLines.last(), QStringLiteral("Device list: Microphone []; Camera []"));
}

TEST_F(RecorderModelTest, CameraLinesAndPreviewQuality)
{
    camera->cameras = {cameraDevice("cam0", "Cam"), cameraDevice("cam1", "Other")};
    store().setString("cameraID", "cam0");
    store().setBool("cameraOn", true);
    RecorderModel& m = make();
    EXPECT_TRUE(m.cameraLive());
    EXPECT_TRUE(logLines.contains(QStringLiteral("Camera started: Cam(720p/15fps, preview mode)")));

    // A connection report of another start or camera is ignored.
    camera->onConnected(QStringLiteral("cam0"), nullptr, CameraVideoCapabilities());
    scheduler.runPosted();
    EXPECT_FALSE(m.cameraReady());
    camera->onConnected(QStringLiteral("cam0"), camera->token, CameraVideoCapabilities());
    scheduler.runPosted();
    EXPECT_TRUE(m.cameraReady());

    m.useCamera(QStringLiteral("cam1"));
    EXPECT_TRUE(logLines.contains(QStringLiteral("Camera selected: Other (Standby)")));
    EXPECT_FALSE(m.cameraReady());
    EXPECT_EQ(store().string("cameraID"), QStringLiteral("cam1"));

    camera->failStart = QStringLiteral("The camera is not connected.");
    m.selectCamera(QStringLiteral("cam0"));
    EXPECT_FALSE(m.cameraLive());
    EXPECT_EQ(m.cameraNotice(), QStringLiteral("Camera unavailable: The camera is not connected."));
    EXPECT_EQ(logLines.last(), QStringLiteral("Camera startup failed: Cam:The camera is not connected."));

    // A camera that recorded in full quality returns to preview quality.
    camera->failStart.reset();
    m.selectCamera(QStringLiteral("cam0"));
    camera->onConnected(QStringLiteral("cam0"), camera->token, CameraVideoCapabilities());
    scheduler.runPosted();
    m.setPhase(RecorderPhase::recording());
    camera->preview = false; // the start flow restarted it for recording
    clearJournal();
    m.setPhase(RecorderPhase::finishing());
    m.setPhase(RecorderPhase::saved(QStringLiteral("/tmp/x.mov")));
    EXPECT_TRUE(camera->preview);
    EXPECT_NE(std::find(journal.begin(), journal.end(), "camera.start(cam0,preview)"), journal.end());

    ASSERT_TRUE(m.canToggleCameraFullScreen() || !m.cameraReady());
    m.setPhase(RecorderPhase::ready());
    camera->onConnected(QStringLiteral("cam0"), camera->token, CameraVideoCapabilities());
    scheduler.runPosted();
    m.toggleCameraFullScreen();
    EXPECT_EQ(logLines.last(), QStringLiteral("[camera-scene] full-screen camera on"));
    EXPECT_TRUE(camera->state->fullScreen());
    m.setCameraOn(false);
    EXPECT_FALSE(m.cameraFullScreen());
    EXPECT_EQ(logLines.last(), QStringLiteral("[camera-scene] screen recording restored"));
}

TEST_F(RecorderModelTest, CaptureFormatsFollowTheTargetAndItsRememberedChoice)
{
    displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), GlobalRect(0, 0, 1920, 1080), 1, 60, true),
                           SyntheticDisplayList::makeDisplay(QStringLiteral("HDMI-1"), GlobalRect(1920, 0, 2560, 1440), 2, 120)});
    prefs().setOutputSize(720);
    prefs().setFps(24);
    RecorderModel& m = make();
    const uint32_t primary = displays->displays()[0].id;
    const uint32_t second = displays->displays()[1].id;
    EXPECT_EQ(m.screenPreferenceKey(), QStringLiteral("screen:DP-1:display"));
    // The migration copied the older settings under the current key once.
    EXPECT_EQ(prefs().outputSize(), 720);
    EXPECT_TRUE(store().boolValue("captureVideoChoicesMigrated.v1").value_or(false));

    // An 800 x 601 point window: even pixels at each scale.
    for (const auto& [scale, width, height] : {std::tuple{1.0, 800, 600}, std::tuple{2.0, 1600, 1202}}) {
        displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), GlobalRect(0, 0, 1920, 1080),
                                                                 scale, 60, true)});
        WindowInfo w;
        w.id = 7;
        w.frame = QRectF(100, 100, 800, 601);
        tools->windows = {w};
        m.chooseRange(RangeMode::window);
        tools->pending(ToolsFacade::Selection{ToolsFacade::Selection::Kind::window, 7, "App", QSizeF(800, 601), 0, {}});
        ASSERT_TRUE(m.screenCapabilities());
        EXPECT_EQ(m.screenCapabilities()->size, (VideoDimensions{width, height})) << scale;
    }
    EXPECT_EQ(m.screenPreferenceKey(), QStringLiteral("screen:DP-1:window"));

    // Whole display and area of one display keep their own choices.
    displays->setDisplays({SyntheticDisplayList::makeDisplay(QStringLiteral("DP-1"), GlobalRect(0, 0, 1920, 1080), 1, 60, true),
                           SyntheticDisplayList::makeDisplay(QStringLiteral("HDMI-1"), GlobalRect(1920, 0, 2560, 1440), 2, 120)});
    m.selectDisplay(second);
    m.setScreenSize(1440);
    m.setScreenRate(120);
    EXPECT_EQ(prefs().outputSize(), 1440);
    m.chooseRange(RangeMode::area);
    tools->pending(ToolsFacade::Selection{ToolsFacade::Selection::Kind::area, 0, {}, {}, second, QRectF(0, 0, 1000, 500)});
    EXPECT_EQ(m.screenPreferenceKey(), QStringLiteral("screen:HDMI-1:area"));
    EXPECT_NE(prefs().outputSize(), 1440);
    m.selectDisplay(second);
    EXPECT_EQ(prefs().outputSize(), 1440);
    EXPECT_EQ(prefs().fps(), 120);

    // A rate the display does not offer changes nothing.
    m.selectDisplay(primary);
    const int fps = prefs().fps();
    m.setScreenRate(120);
    EXPECT_EQ(prefs().fps(), fps);

    // A display that is gone gives way to the primary one instead of nothing.
    m.selectDisplay(4242);
    EXPECT_EQ(m.effectiveDisplayID(), primary);
    EXPECT_EQ(m.currentTarget().displayID, primary);
    EXPECT_TRUE(m.screenCapabilities());
}

TEST_F(RecorderModelTest, CameraChoicesAreNormalisedWithoutRewritingTheStore)
{
    camera->cameras = {cameraDevice("cam0", "Cam")};
    store().setString("cameraID", "cam0");
    store().setBool("cameraOn", true);
    RecorderModel& m = make();
    m.dependencies().videoPreferences->save({QStringLiteral("1920x1080"), 30}, QStringLiteral("camera:cam0"));
    const CameraVideoCapabilities offered({{1280, 720, {{15, 30}}}, {640, 480, {{15, 30}}}});
    camera->onConnected(QStringLiteral("cam0"), camera->token, offered);
    scheduler.runPosted();
    EXPECT_EQ(prefs().cameraSizeID(), QStringLiteral("1280x720"));
    EXPECT_EQ(prefs().cameraFPS(), 30);
    EXPECT_EQ(m.dependencies().videoPreferences->choice(QStringLiteral("camera:cam0"))->resolution,
              QStringLiteral("1920x1080"));

    m.setCameraSize(QStringLiteral("640x480"));
    EXPECT_EQ(prefs().cameraRes(), 480);
    m.setCameraSize(QStringLiteral("999x999"));
    EXPECT_EQ(prefs().cameraRes(), 480);
}

TEST_F(RecorderModelTest, PermissionsAreReadAgainEveryTenSeconds)
{
    permissions->setAccess(Permissions::Kind::microphone, Permissions::Access::denied);
    store().setBool("micOn", true);
    RecorderModel& m = make();
    EXPECT_FALSE(m.micAuthorized());
    EXPECT_TRUE(m.sysAuthorized());

    m.setPhase(RecorderPhase::recording());
    permissions->setAccess(Permissions::Kind::microphone, Permissions::Access::granted);
    clearJournal();
    scheduler.advance(10);
    EXPECT_TRUE(m.micAuthorized());
    EXPECT_EQ(std::count(journal.begin(), journal.end(), "mic.start(built_in)"), 0)
        << "no idle metering while recording";

    // Losing screen access takes system audio with it.
    permissions->setAccess(Permissions::Kind::screen, Permissions::Access::denied);
    scheduler.advance(10);
    EXPECT_FALSE(m.screenAuthorized());
    EXPECT_FALSE(m.sysAuthorized());

    // A stored failed probe keeps system audio off until verified in this run.
    m.setPhase(RecorderPhase::ready());
    store().setInteger("sysAudioAuth", 2);
    permissions->setAccess(Permissions::Kind::screen, Permissions::Access::granted);
    scheduler.advance(10);
    EXPECT_TRUE(m.screenAuthorized());
    EXPECT_FALSE(m.sysAuthorized());
    EXPECT_NE(std::find(journal.begin(), journal.end(), "verify"), journal.end());

    // Denied access is never asked again silently: the settings open.
    m.setMicOn(false);
    permissions->setAccess(Permissions::Kind::camera, Permissions::Access::denied);
    scheduler.advance(10);
    m.tapCamera();
    EXPECT_EQ(permissions->openedPanes(), QStringList{QStringLiteral("Privacy_Camera")});
}

TEST_F(RecorderModelTest, MetersAreThrottledAndNeverFrozen)
{
    store().setBool("micOn", true);
    RecorderModel& m = make();
    ASSERT_TRUE(monitors->micLevel);
    const LevelStats loud{0.5f, 0.4f, 0.5f};
    monitors->micLevel(loud);
    scheduler.runPosted();
    const float first = m.meters().mic().norm;
    EXPECT_GT(first, 0);
    scheduler.advance(0.05);
    monitors->micLevel(LevelStats{1.0f, 0.9f, 1.0f}); // held back by the throttle
    scheduler.runPosted();
    EXPECT_EQ(m.meters().mic().norm, first);
    // The monitor stops (the toolbar hides): what was held back still shows.
    m.barVisibilityChanged(false);
    EXPECT_GT(m.meters().mic().norm, first);
}

TEST_F(RecorderModelTest, RangeChoiceAndStealth)
{
    RecorderModel& m = make();
    m.chooseRange(RangeMode::window);
    tools->pending(std::nullopt);
    EXPECT_EQ(m.rangeMode(), RangeMode::window);
    EXPECT_FALSE(m.rangeReady());
    EXPECT_EQ(store().string("rangeMode"), QStringLiteral("window"));

    m.chooseRange(RangeMode::area);
    m.setPhase(RecorderPhase::countdown(3));
    tools->pending(ToolsFacade::Selection{ToolsFacade::Selection::Kind::area, 0, {}, {}, 1, QRectF(0, 0, 10, 10)});
    EXPECT_FALSE(m.areaPick()) << "a pick that ends after the start is dropped";
    m.chooseRange(RangeMode::display);
    EXPECT_EQ(m.rangeMode(), RangeMode::area);

    QWindow registered;
    QWindow other;
    registered.create();
    other.create();
    stealth->track(&registered);
    EXPECT_EQ(Stealth::sharing(&registered), Stealth::Sharing::none) << "tracked during a recording";
    auto ids = stealth->excludedWindowIds();
    EXPECT_NE(std::find(ids.begin(), ids.end(), uint32_t(other.winId())), ids.end());
    m.setPhase(RecorderPhase::failed(QStringLiteral("x")));
    EXPECT_EQ(Stealth::sharing(&registered), Stealth::Sharing::readOnly);
    ids = stealth->excludedWindowIds();
    EXPECT_EQ(std::find(ids.begin(), ids.end(), uint32_t(registered.winId())), ids.end());
    EXPECT_NE(std::find(ids.begin(), ids.end(), uint32_t(other.winId())), ids.end())
        << "an unregistered window of ours is never captured";
}

} // namespace
} // namespace corvessa::test
