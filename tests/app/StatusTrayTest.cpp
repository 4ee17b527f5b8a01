// The tray's rules without a tray: the launcher badge per phase and the two
// glyphs.
#include "app/DockBadge.h"
#include "app/StatusIcon.h"
#include "platform/synthetic/SyntheticLauncherBadge.h"

#include <gtest/gtest.h>

namespace corvessa {
namespace {

TEST(DockBadgeTest, ShowsRecOnlyWhileRunningAndWritesOnlyChanges)
{
    SyntheticLauncherBadge badge;
    const std::vector<std::pair<RecorderPhase, bool>> walk = {
        {RecorderPhase::ready(), false},       {RecorderPhase::countdown(3), false},
        {RecorderPhase::recording(), true},    {RecorderPhase::paused(), true},
        {RecorderPhase::recording(), true},    {RecorderPhase::finishing(), false},
        {RecorderPhase::saved("/m.mov"), false}, {RecorderPhase::failed("x"), false},
    };
    std::optional<QString> before = badge.label();
    for (const auto& [phase, rec] : walk) {
        const int writes = badge.writes();
        DockBadge::apply(badge, phase);
        EXPECT_EQ(badge.label(), rec ? std::optional<QString>(QStringLiteral("REC")) : std::nullopt);
        EXPECT_EQ(badge.writes() - writes, badge.label() != before ? 1 : 0) << "only a change is written";
        before = badge.label();
    }
}

TEST(StatusIconTest, IdleAndRecordingGlyphsDiffer)
{
    const QImage mask = StatusIcon::mask();
    ASSERT_FALSE(mask.isNull()) << "the mask is bundled";
    for (const QImage& shape : {mask, QImage()}) {
        for (const qreal scale : {1.0, 2.0}) {
            const QImage idle = StatusIcon::make(StatusIcon::inkColour(false), scale, shape);
            const QImage rec = StatusIcon::make(StatusIcon::recordingColour(), scale, shape);
            ASSERT_EQ(idle.size(), QSize(18, 18) * scale);
            // The palm (or the disc) covers the centre; the corners stay clear.
            const QPoint centre(int(9 * scale), int(12 * scale));
            EXPECT_EQ(qAlpha(idle.pixel(centre)), 255);
            EXPECT_EQ(qAlpha(idle.pixel(0, 0)), 0);
            EXPECT_LT(qRed(idle.pixel(centre)), 40);
            EXPECT_GT(qRed(rec.pixel(centre)), 200);
            EXPECT_LT(qGreen(rec.pixel(centre)), 100);
            EXPECT_NE(idle, rec);
        }
    }
    EXPECT_NE(StatusIcon::make(Qt::black, 1, mask), StatusIcon::make(Qt::black, 1, QImage())) << "the mask shapes it";
}

} // namespace
} // namespace corvessa
