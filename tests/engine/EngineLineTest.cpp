#include "engine/EngineLines.h"

#include <gtest/gtest.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

TEST(EngineLine, ValuesGoInOrderAndStayAsTheyAre)
{
    EXPECT_EQ(EngineLines::started({u"320"_s, u"180"_s, u"30"_s}), u"Started recording 320x180@30"_s);
    // A writer's message is the user's to read as it came: no placeholder or
    // "%%" in it is touched.
    EXPECT_EQ(EngineLines::writeError({u"Mixed audio"_s, u"disk %@ at 100%% full"_s}),
              u"Mixed audio write error, this track has stopped (others continue): disk %@ at 100%% full"_s);
    EXPECT_EQ(EngineLines::eco(), u"Entered eco tier"_s);
}

TEST(EngineLine, PrefixIsTheWordsBeforeTheFirstValue)
{
    EXPECT_EQ(EngineLines::lowDisk.prefix(), u"Insufficient disk space (remaining "_s);
    EXPECT_EQ(EngineLines::screenRestored.prefix(), u"Screen restored, resuming recording."_s);
    EXPECT_EQ(EngineLines::formatChanged.prefix(), QString());
}
