// Notices that name a folder wrap the path between its folders: a line never
// ends with the slash that begins the next folder's name.
#include "prefs/Loc.h"
#include "toolbar/kit/WrappedText.h"

#include <QFont>
#include <QStringList>

#include <gtest/gtest.h>

namespace corvessa::test {
namespace {

TEST(WrappedText, APathBreaksBeforeASlashNeverLeavingOneAtTheEndOfALine)
{
    const QStringList paths{QStringLiteral("/home/someone/Videos"),
                            QStringLiteral("/home/alexandra.konstantinopoulou/Videos/Corvessa recordings"),
                            QStringLiteral("/media/someone/USB DRIVE/Screen Recordings/2026"),
                            QStringLiteral("/tmp/a/b/c/d/e/f/g")};
    QFont font;
    font.setPointSizeF(12);
    Loc::setTableDirectory(QStringLiteral(":/lang"));
    for (const Loc::Lang& language : Loc::available()) {
        ASSERT_TRUE(Loc::choose(language.code));
        for (const QString& path : paths) {
            const QString text = Loc::fill(Loc::text(QStringLiteral("The folder could not be opened: %@")), path);
            for (int width = WrappedText::narrowest; width <= 400; width += 7) {
                const QStringList lines = WrappedText::lineTexts(text, font, width);
                SCOPED_TRACE(language.code.toStdString() + " at " + std::to_string(width) + ": "
                             + lines.join(QStringLiteral(" | ")).toStdString());
                for (const QString& line : lines)
                    EXPECT_FALSE(line.trimmed().endsWith(u'/')) << "a line ends with a slash";
                // Nothing is lost or added.
                EXPECT_EQ(lines.join(QString()), text);
                EXPECT_EQ(int(lines.size()), [&] {
                    int n = 0;
                    WrappedText::measure(text, font, width, &n);
                    return n;
                }());
            }
        }
    }
    Loc::choose(QStringLiteral("en"));
}

} // namespace
} // namespace corvessa::test
