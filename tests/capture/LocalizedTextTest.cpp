#include "capture/LocalizedText.h"

#include <gtest/gtest.h>

using namespace corvessa;

TEST(LocalizedTextTest, LooksUpThenFillsInOrder)
{
    EXPECT_EQ(localizedText({}, QStringLiteral("Failed (%@)"), {QStringLiteral("-1")}), QStringLiteral("Failed (-1)"));
    const TextLookup table = [](const QString& key) {
        return key == QLatin1String("%@ of %@") ? QStringLiteral("%@ von %@ (100%%)") : QString();
    };
    EXPECT_EQ(localizedText(table, QStringLiteral("%@ of %@"), {QStringLiteral("1"), QStringLiteral("2")}),
              QStringLiteral("1 von 2 (100%)"));
    // A missing entry shows the English text; missing arguments fill nothing.
    EXPECT_EQ(localizedText(table, QStringLiteral("Plain")), QStringLiteral("Plain"));
    EXPECT_EQ(localizedText(table, QStringLiteral("%@ of %@"), {QStringLiteral("1")}), QStringLiteral("1 von  (100%)"));
}
