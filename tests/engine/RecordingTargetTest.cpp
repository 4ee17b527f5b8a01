#include "engine/EngineTestSupport.h"

#include "engine/RecordingTarget.h"

#include <unistd.h>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace corvessa::test;

// A start and the rebuild of a lost stream look the target up differently; one
// lookup serves both, so each difference is pinned here.

namespace {

struct Screens {
    DisplayInfo first = testDisplay(QStringLiteral("LEFT-1"), GlobalRect(0, 0, 640, 360), 1, false);
    DisplayInfo primary = testDisplay(QStringLiteral("RIGHT-1"), GlobalRect(640, 0, 800, 450), 2, true);
    WindowInfo hidden;
    std::shared_ptr<SyntheticScreenSource> source;

    Screens()
    {
        hidden.id = 77;
        hidden.frame = QRectF(700, 20, 300, 200);
        hidden.onScreen = false;
        hidden.displayId = primary.id;
        source = std::make_shared<SyntheticScreenSource>(std::vector<DisplayInfo>{first, primary},
                                                         std::vector<WindowInfo>{hidden});
    }

    RecordingTarget::Found find(const RecordingTarget& target, const RecordingTarget::Lookup& lookup,
                                std::optional<QSizeF> windowSize = std::nullopt)
    {
        return target.resolve(source.get(), [] { return std::vector<uint32_t>{5, 6}; }, windowSize, lookup);
    }
};

} // namespace

// A lost display is the primary at a start; a rebuild never records another
// display or an area of one in its place: it fails until the display is back.
TEST(RecordingTarget, LostDisplayIsThePrimaryAtAStartAndNoneAtARebuild)
{
    Screens s;
    const auto started = s.find(RecordingTarget::display(999), RecordingTarget::atStart());
    ASSERT_FALSE(started.missing);
    EXPECT_EQ(started.filter.displayId, s.primary.id);
    EXPECT_EQ(started.filter.pointPixelScale, 2);
    EXPECT_EQ(started.primaryHeight, 450);

    const auto area = RecordingTarget::area(999, QRectF(10, 10, 200, 100));
    struct Case {
        RecordingTarget target;
        RecordingTarget::Lookup lookup;
        const char* missing;
    };
    const Case cases[] = {
        {RecordingTarget::display(999), RecordingTarget::atRebuild(2), "No screen available to record"},
        {area, RecordingTarget::atStart(),
         "The screen containing the selection is no longer available. Please select again."},
        {area, RecordingTarget::atRebuild(1),
         "The screen containing the selection is no longer available. Please select again."},
    };
    for (const Case& c : cases) {
        const auto found = s.find(c.target, c.lookup);
        ASSERT_TRUE(found.missing);
        EXPECT_STREQ(found.missing, c.missing);
    }

    // Back: found again, on its own display.
    const auto back = s.find(RecordingTarget::area(s.first.id, QRectF(10, 10, 200, 100)), RecordingTarget::atRebuild(1));
    ASSERT_FALSE(back.missing);
    EXPECT_EQ(back.filter.displayId, s.first.id);
    EXPECT_EQ(back.points, QSizeF(200, 100));
    EXPECT_EQ(back.displayFrame, s.first.frame);
}

TEST(RecordingTarget, HiddenWindowFailsAStartButARebuildKeepsTheStreamsScale)
{
    Screens s;
    const auto started = s.find(RecordingTarget::window(77), RecordingTarget::atStart());
    ASSERT_TRUE(started.missing);
    EXPECT_STREQ(started.missing, "Can't find this window (it may have been closed). Please select it again.");

    const auto rebuilt = s.find(RecordingTarget::window(77), RecordingTarget::atRebuild(1.5));
    ASSERT_FALSE(rebuilt.missing);
    EXPECT_EQ(rebuilt.filter.kind, ScreenFilter::Kind::Window);
    EXPECT_EQ(rebuilt.filter.pointPixelScale, 1.5);
    EXPECT_FALSE(rebuilt.displayFrame);

    const auto gone = s.find(RecordingTarget::window(78), RecordingTarget::atRebuild(1.5));
    ASSERT_TRUE(gone.missing);
    EXPECT_STREQ(gone.missing, "Can't find this window.");
}

TEST(RecordingTarget, ShownWindowTakesItsDisplaysScaleAndTheGivenSize)
{
    Screens s;
    s.hidden.onScreen = true;
    s.source->setWindows({s.hidden});
    const auto found = s.find(RecordingTarget::window(77), RecordingTarget::atStart(), QSizeF(320, 240));
    ASSERT_FALSE(found.missing);
    EXPECT_EQ(found.filter.pointPixelScale, 2);
    EXPECT_EQ(found.points, QSizeF(320, 240));
    // This process's windows and the named ones stay out.
    EXPECT_EQ(found.filter.excludedPids, std::vector<int64_t>{int64_t(::getpid())});
    EXPECT_EQ(found.filter.excludedWindows, (std::vector<uint32_t>{5, 6}));
}
