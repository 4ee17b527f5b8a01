#include "support/ModelHarness.h"

#include "toolbar/RecordingRowTexts.h"
#include "toolbar/RecordingTimeLabel.h"
#include "toolbar/SourceMenus.h"
#include "toolbar/SourceVisual.h"
#include "toolbar/ToolMenu.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace corvessa::test {
namespace {

using Access = Permissions::Access;
using Kind = Permissions::Kind;
using Tint = SourceVisual::Tint;

// A row as one line: "* " when checked, " -" when disabled.
QString line(const MenuRow& row)
{
    if (const auto* i = row.asItem())
        return (i->checked ? QStringLiteral("* ") : QString()) + i->title
            + (i->enabled ? QString() : QStringLiteral(" -"));
    if (const auto* n = row.asNote())
        return QStringLiteral("note:") + n->text;
    if (const auto* s = row.asSlider())
        return QStringLiteral("slider:") + s->title;
    return QStringLiteral("---");
}

QStringList lines(const MenuRows& rows)
{
    QStringList out;
    for (const MenuRow& r : rows)
        out << line(r);
    return out;
}

const MenuRow::Item& item(const MenuRows& rows, const QString& title)
{
    for (const MenuRow& r : rows) {
        if (r.asItem() && r.asItem()->title == title)
            return *r.asItem();
    }
    throw std::runtime_error("no row " + title.toStdString());
}

void click(const MenuRows& rows, const QString& title)
{
    item(rows, title).action();
}

class SourceMenusTest : public ModelHarness {
protected:
    // A new model over two cameras and two microphones, or none.
    RecorderModel& fresh(Access cameraAccess, Access micAccess, bool cameraOn, bool micOn, bool devices = true)
    {
        model.reset();
        camera->cameras.clear();
        audio->setSources({});
        if (devices) {
            camera->cameras = {cameraDevice("cam0", "Cam"), cameraDevice("cam1", "Other")};
            audio->setSources({mic("built_in", "Built-in Microphone", true), mic("usb", "USB Microphone")});
        }
        permissions->setAccess(Kind::camera, cameraAccess);
        permissions->setAccess(Kind::microphone, micAccess);
        store().setString("cameraID", "cam0");
        store().setBool("cameraOn", cameraOn);
        store().setBool("micOn", micOn);
        return make(false);
    }
};

TEST_F(SourceMenusTest, CameraAndMicrophoneMenusFollowTheModel)
{
    struct Case {
        const char* what;
        Access cameraAccess, micAccess;
        bool cameraOn, micOn, micMuted, noDevices;
        RecorderPhase phase;
        QStringList camera, mic;
    };
    const QStringList tail{"---", "Hide Camera Feed -", "Full-Screen Camera -", "Mirror Camera Horizontally"};
    const Case cases[] = {
        {"camera refused while recording: grant row disabled, only the chosen devices, no off row",
         Access::denied, Access::granted, true, false, false, false, RecorderPhase::recording(),
         QStringList{"Grant Camera Access… -", "---", "Cam -"} + tail,
         {"Built-in Microphone -", "---", "Unmute Microphone -"}},
        {"ready with both on and the microphone muted: level and mute rows",
         Access::granted, Access::granted, true, true, true, false, RecorderPhase::ready(),
         {"* Cam", "Other", "---", "Hide Camera Feed", "Full-Screen Camera -", "Mirror Camera Horizontally",
          "Don't Record Camera"},
         {"* Built-in Microphone", "USB Microphone", "---", "slider:Microphone Level", "* Temporary Mute", "---",
          "Turn Off Microphone"}},
        {"nothing connected, microphone refused but on: no level rows",
         Access::granted, Access::denied, false, true, false, true, RecorderPhase::ready(),
         QStringList{"note:No camera found"} + tail + QStringList{"Don't Record Camera -"},
         {"Grant Microphone Access…", "---", "note:No microphone found", "---", "Turn Off Microphone"}},
    };
    for (const Case& c : cases) {
        RecorderModel& m = fresh(c.cameraAccess, c.micAccess, c.cameraOn, c.micOn, !c.noDevices);
        m.setMicMuted(c.micMuted);
        m.setPhase(c.phase);
        EXPECT_EQ(lines(SourceMenus::camera(m)), c.camera) << c.what;
        EXPECT_EQ(lines(SourceMenus::microphone(m)), c.mic) << c.what;
    }

    // The rows act on the model when clicked, reading it at the click.
    RecorderModel& m = fresh(Access::granted, Access::granted, true, true);
    click(SourceMenus::microphone(m), QStringLiteral("Temporary Mute"));
    EXPECT_TRUE(m.micMuted());
    const MenuRows mic = SourceMenus::microphone(m);
    ASSERT_TRUE(mic.at(3).asSlider());
    mic[3].asSlider()->set(-12);
    EXPECT_EQ(mic[3].asSlider()->get(), -12);
    click(SourceMenus::camera(m), QStringLiteral("Mirror Camera Horizontally"));
    EXPECT_TRUE(prefs().cameraMirrored());
}

TEST_F(SourceMenusTest, GrantRowsAskOnceOrOpenTheSettings)
{
    permissions->setRequestAnswer(Kind::camera, Access::granted);
    RecorderModel& m = fresh(Access::notDetermined, Access::denied, true, true);
    click(SourceMenus::camera(m), QStringLiteral("Grant Camera Access…"));
    EXPECT_FALSE(m.cameraAuthorized()) << "the answer is read on the main thread, later";
    scheduler.runPosted();
    EXPECT_TRUE(m.cameraAuthorized());
    EXPECT_EQ(permissions->requestCount(Kind::camera), 1);

    click(SourceMenus::microphone(m), QStringLiteral("Grant Microphone Access…"));
    EXPECT_EQ(permissions->requestCount(Kind::microphone), 0);
    EXPECT_EQ(permissions->openedPanes(), QStringList{QStringLiteral("Privacy_Microphone")});
}

TEST_F(SourceMenusTest, SystemNoteAndToolsMenu)
{
    RecorderModel& m = make(false);
    EXPECT_EQ(lines(SourceMenus::systemAudio(m)),
              (QStringList{"Unmute Speakers", "---", "Start Recording System Audio"}));
    m.setSystemAudio(true);
    m.setRecordingSources(false, false);
    m.setPhase(RecorderPhase::recording());
    const QStringList live{"Unmute Speakers", "---", "slider:System Audio Level", "---",
                           "Stop Recording System Audio -"};
    EXPECT_EQ(lines(SourceMenus::systemAudio(m)), live + QStringList{"note:" + SourceMenus::systemAudioOffNote});
    m.setPhase(RecorderPhase::paused());
    EXPECT_EQ(lines(SourceMenus::systemAudio(m)), live) << "no note while paused";

    const ToolActions actions = ToolActions::forModel(m);
    prefs().setFocusMode(1);
    EXPECT_EQ(lines(ToolMenu::tools(m, actions)),
              (QStringList{"Full-Screen Camera -", "---", "Toggle Magnifier", "Switch to Follow Cursor",
                           "Re-select Magnifier Region", "Zoom In", "Zoom Out", "---", "Pen", "Teleprompter"}));
    click(ToolMenu::tools(m, actions), QStringLiteral("Switch to Follow Cursor"));
    EXPECT_EQ(prefs().focusMode(), 0);
    EXPECT_EQ(lines(ToolMenu::tools(m, actions))[3], QStringLiteral("Switch to Select Region"));

    // The pen row: usable where the pen works; elsewhere only to switch it off.
    const RecorderPhase phases[] = {RecorderPhase::ready(), RecorderPhase::countdown(3), RecorderPhase::recording(),
                                    RecorderPhase::paused(), RecorderPhase::finishing(),
                                    RecorderPhase::saved(QStringLiteral("/tmp/x.mov")), RecorderPhase::failed("x")};
    for (const RecorderPhase& phase : phases) {
        m.setPhase(phase);
        for (const bool on : {false, true}) {
            m.setPenOn(on);
            const MenuRows rows = ToolMenu::tools(m, actions);
            const MenuRow::Item& pen = item(rows, QStringLiteral("Pen"));
            const bool works = phase.is(RecorderPhase::Kind::ready) || phase.isLive();
            EXPECT_EQ(pen.enabled, works || on) << int(phase.kind) << on;
            EXPECT_EQ(pen.checked, on);
        }
    }
}

TEST_F(SourceMenusTest, VisualsFollowTheRules)
{
    // Six characters are kept whole, seven are cut; an accented letter counts once.
    const std::pair<QString, QString> names[] = {
        {"Webcam", "Webcam"}, {"Webcams", "Webcam…"}, {"", ""},
        {QStringLiteral("Cafe\u0301s"), QStringLiteral("Cafe\u0301s")},
        {QStringLiteral("\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4"),
         QStringLiteral("\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4\U0001F3A4…")}};
    for (const auto& [name, shown] : names)
        EXPECT_EQ(SourceVisual::shortName(name), shown) << name.toStdString();

    RecorderModel& refused = fresh(Access::denied, Access::denied, true, true);
    refused.setMicMuted(true);
    for (const SourceVisual& v : {SourceVisual::camera(refused), SourceVisual::microphone(refused)}) {
        EXPECT_EQ(v.text, QStringLiteral("Not Granted"));
        EXPECT_EQ(v.iconTint, Tint::warning) << "even when on and muted";
        EXPECT_EQ(v.textTint, Tint::warning);
    }
    EXPECT_EQ(SourceVisual::compactMic(refused).iconTint, Tint::warning);

    // The microphone icon turns orange only when muted while on and authorized; the text never.
    RecorderModel& m = fresh(Access::granted, Access::granted, true, true);
    EXPECT_EQ(SourceVisual::microphone(m).text, QStringLiteral("Built-…"));
    m.setMicMuted(true);
    const SourceVisual muted = SourceVisual::microphone(m);
    EXPECT_EQ(muted.symbol, QStringLiteral("mic.slash.fill"));
    EXPECT_EQ(muted.iconTint, Tint::orange);
    EXPECT_EQ(muted.textTint, Tint::primary);
    m.setMicOn(false);
    EXPECT_EQ(SourceVisual::microphone(m).iconTint, Tint::secondary);
    EXPECT_EQ(SourceVisual::microphone(m).text, QStringLiteral("Microphone"));

    EXPECT_EQ(SourceVisual::camera(m).badge, QString());
    m.setCameraPreviewHidden(true);
    EXPECT_EQ(SourceVisual::camera(m).badge, QStringLiteral("eye.slash.fill"));
    m.setCameraOn(false);
    m.setCameraLost(true);
    EXPECT_EQ(SourceVisual::camera(m).text, QStringLiteral("Not Connected"));
    EXPECT_EQ(SourceVisual::camera(m).badge, QString());

    // The layout toggle offers "expand" only in a live phase with the compact row chosen.
    EXPECT_EQ(RecordingRowTexts::layoutToggleText(RecorderPhase::ready(), true),
              QStringLiteral("Use Compact Recording Toolbar"));
    EXPECT_EQ(RecordingRowTexts::layoutToggleSymbol(RecorderPhase::paused(), true),
              QStringLiteral("arrow.up.left.and.arrow.down.right"));
    EXPECT_EQ(RecordingRowTexts::penSymbol(99), RecordingRowTexts::penSymbol(0));
    EXPECT_EQ(RecordingRowTexts::statusGlyph(false, RecorderEngine::PauseTier::deep),
              RecordingRowTexts::StatusGlyph::pulsingDot);
    EXPECT_EQ(RecordingRowTexts::statusGlyph(true, std::nullopt), RecordingRowTexts::StatusGlyph::pausedDot);
}

TEST(RecordingTimeLabelTest, TimeTextAndSteadyWidth)
{
    const std::pair<double, const char*> times[] = {
        {0, "00:00:00"},        {59.9, "00:00:59"}, {3725, "01:02:05"}, {360000, "100:00:00"},
        {std::nan(""), "00:00:00"}, {std::numeric_limits<double>::infinity(), "00:00:00"}, {-5, "00:00:00"},
        {1e300, "00:00:00"}};
    for (const auto& [seconds, text] : times)
        EXPECT_EQ(RecordingTimeLabel::time(seconds), QString::fromLatin1(text)) << seconds;

    RecordingTimeLabel label;
    const int width = label.sizeHint().width();
    EXPECT_GT(width, 0) << "an empty value still takes the sample's width";
    label.setValue(RecordingTimeLabel::time(9 * 3600 + 59 * 60 + 59));
    EXPECT_EQ(label.sizeHint().width(), width);
    EXPECT_EQ(label.accessibleName(), QStringLiteral("09:59:59"));
    label.setValue(RecordingTimeLabel::time(360000));
    EXPECT_GT(label.sizeHint().width(), width);
}

} // namespace
} // namespace corvessa::test
