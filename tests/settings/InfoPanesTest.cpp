#include "platform/core/UserDefaults.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/AboutPane.h"
#include "support/TempHome.h"

#include <QLabel>
#include <QPushButton>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

class InfoPanesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Loc::setTableDirectory(u":/lang"_s);
        UserDefaults::standard().setString(u"language"_s, u"en"_s);
        Loc::load();
        Prefs::resetShared();
        prefs = &Prefs::shared();
    }
    void TearDown() override { Prefs::resetShared(); }

    test::TempHome home;
    Prefs* prefs = nullptr;
};

TEST_F(InfoPanesTest, AboutShowsTheBuildsVersionAndTheWholeGuide)
{
    QList<QUrl> opened;
    AboutPane::openGuideNext = false;
    AboutPane pane(LinkActions([&opened](const QUrl& url) {
        opened << url;
        return true;
    }));
    EXPECT_EQ(pane.page(), AboutPane::Page::about);
    EXPECT_EQ(pane.findChild<QLabel*>(u"version"_s)->text(), u"Version dev (0)"_s);
    EXPECT_EQ(AboutPane::nameText(), u"Corvessa"_s);

    const auto sections = AboutPane::guideSections();
    ASSERT_EQ(sections.size(), 5u);
    size_t items = 0;
    for (const auto& section : sections) {
        items += section.items.size();
        // Only the pause levels carry a note and tinted icons.
        const bool paused = section.title == u"While Paused"_s;
        EXPECT_EQ(!section.note.isEmpty(), paused) << section.title.toStdString();
        for (const auto& item : section.items)
            EXPECT_EQ(item.tint.isValid(), paused) << item.title.toStdString();
    }
    EXPECT_EQ(items, 20u);

    for (QPushButton* button : pane.findChildren<QPushButton*>())
        if (button->text() == u"Website"_s || button->text() == u"GitHub"_s)
            button->click();
    EXPECT_EQ(opened.size(), 2);
    EXPECT_TRUE(opened.contains(QUrl(u"https://corvessa.app/"_s)));

    // The Guide command makes every later pane start on the guide.
    AboutPane::openGuideNext = true;
    EXPECT_EQ(AboutPane().page(), AboutPane::Page::usage);
    AboutPane::openGuideNext = false;
}

} // namespace
