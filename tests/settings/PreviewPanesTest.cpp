// The cursor and pen panes: the shadow preview drawn with the compositor's own
// cursor layer, the size caption, and the controls writing their preferences.
#include "engine/compositor/CursorStyle.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/GatedSegmented.h"
#include "settings/CursorPane.h"
#include "settings/CursorShadowPreview.h"
#include "settings/CursorSizePreview.h"
#include "settings/CursorTile.h"
#include "settings/PenColourDot.h"
#include "settings/PenPane.h"
#include "settings/PenPreview.h"
#include "settings/ResetSlider.h"
#include "settings/SettingsFixture.h"
#include "support/Artifacts.h"

#include <QPushButton>
#include <QSlider>

#include <gtest/gtest.h>

using namespace corvessa;
using namespace Qt::StringLiterals;

namespace {

class PreviewPanesTest : public test::SettingsFixture {
protected:
    // Pixels of `a` that differ from `b` in the page's left (released) or right
    // (pressed) half, and the lowest such row.
    struct Difference {
        int count = 0;
        int lowest = -1;
    };
    static Difference differ(const QImage& a, const QImage& b, bool rightHalf)
    {
        Difference d;
        const int half = a.width() / 2;
        for (int y = 0; y < a.height(); ++y)
            for (int x = rightHalf ? half : 0; x < (rightHalf ? a.width() : half); ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) {
                    ++d.count;
                    d.lowest = y;
                }
        return d;
    }

    const CursorStyle::Look look = CursorStyle::look(CursorTheme::art, 0, 0);
};

TEST_F(PreviewPanesTest, ShadowPreviewFollowsTheCompositorsShadow)
{
    const QImage bare = CursorShadowPreview::render(look, 1, 0, 0);
    ASSERT_EQ(bare.size(), QSize(1000, 500));
    // Up to the threshold no shadow is drawn at all.
    EXPECT_EQ(CursorShadowPreview::render(look, 1, 0.005, 0.005), bare);
    EXPECT_GT(differ(bare, CursorShadowPreview::page(), false).count, 0) << "the cursor itself is drawn";

    // Each strength belongs to its own mark.
    const QImage upOnly = CursorShadowPreview::render(look, 1, 0.3, 0);
    EXPECT_GT(differ(upOnly, bare, false).count, 0);
    EXPECT_EQ(differ(upOnly, bare, true).count, 0);
    const QImage downOnly = CursorShadowPreview::render(look, 1, 0, 0.7);
    EXPECT_EQ(differ(downOnly, bare, false).count, 0);
    EXPECT_GT(differ(downOnly, bare, true).count, 0);

    // Released, the shadow falls further below the click point than pressed.
    const QImage both = CursorShadowPreview::render(look, 1, 0.6, 0.6);
    if (const QString kept = test::Artifacts::path(u"settings-cursor-shadow-preview.png"_s); !kept.isEmpty())
        both.save(kept);
    const Difference released = differ(both, bare, false);
    const Difference pressed = differ(both, bare, true);
    EXPECT_GT(released.lowest - 2 * CursorShadowPreview::released.hot.y(),
              pressed.lowest - 2 * CursorShadowPreview::pressed.hot.y());
}

TEST_F(PreviewPanesTest, SizeCaptionCarriesTheWholePointsTall)
{
    for (const auto& [side, text] : {std::pair{52.0, u"52"_s}, {42.67, u"42"_s}, {0.4, u"0"_s}})
        EXPECT_EQ(CursorSizePreview::caption(side), u"Click Position (Red Crosshair) · "_s + text + u" Points Tall"_s);
    CursorSizePreview preview;
    preview.setLook(look, 1.5);
    EXPECT_EQ(preview.captionText(), CursorSizePreview::caption(look.baseSize * 1.5));
    EXPECT_FALSE(CursorSizePreview::systemArrowPicture().isNull());
}

TEST_F(PreviewPanesTest, CursorPaneWritesItsPreferences)
{
    Prefs& prefs = Prefs::shared();
    prefs.setCursorTheme(0);
    CursorPane pane(prefs);
    ASSERT_FALSE(pane.tiles().empty());
    EXPECT_TRUE(pane.tiles()[size_t(std::min(prefs.cursorArrow(), int(pane.tiles().size()) - 1))]->isChosen());
    const int art = prefs.cursorArt();
    pane.tiles().back()->click();
    EXPECT_EQ(prefs.cursorArrow(), int(pane.tiles().size()) - 1);
    EXPECT_EQ(prefs.cursorArt(), art) << "a system tile leaves the art alone";

    for (const auto& [value, text] : {std::pair{0.0, u"None"_s}, {0.02, u"2%"_s}, {0.58, u"58%"_s}})
        EXPECT_EQ(ResetSlider::shadowText(value), text);
    auto* shadowUp = pane.findChildren<ResetSlider*>().at(1);
    prefs.setShadowUp(0.58);
    EXPECT_FALSE(shadowUp->resetButton()->isEnabled());
    prefs.setShadowUp(0.2);
    EXPECT_TRUE(shadowUp->resetButton()->isEnabled());
    shadowUp->resetButton()->click();
    EXPECT_DOUBLE_EQ(prefs.shadowUp(), 0.58);

    prefs.setCursorTheme(2);
    EXPECT_TRUE(pane.sizePreview()->isHidden() || !pane.sizePreview()->parentWidget()->isVisibleTo(&pane));
}

TEST_F(PreviewPanesTest, PenPaneSamplesAndColours)
{
    const QSizeF canvas(600, 110);
    // Unknown tools draw the pencil's wave; the eraser draws no stroke, only its ring.
    for (const auto& [tool, points] : {std::pair{0, 61}, {1, 2}, {2, 2}, {3, 2}, {4, 2}, {5, 0}, {9, 61}, {-1, 61}})
        EXPECT_EQ(PenPreview::sample(tool, 0, 13, canvas).pts.size(), size_t(points)) << tool;
    EXPECT_EQ(PenPreview::eraserRadius(13), 26);
    EXPECT_EQ(PenPreview::eraserRadius(2), 10);

    Prefs& prefs = Prefs::shared();
    PenPane pane(prefs);
    EXPECT_EQ(PenPane::widthText(13.9), u"13 pt"_s);
    pane.widthSlider()->setValue(24);
    EXPECT_EQ(prefs.penWidth(), 24);
    pane.dots().at(3)->click();
    EXPECT_EQ(prefs.penColor(), 3);
    prefs.setPenColor(5);
    for (size_t i = 0; i < pane.dots().size(); ++i)
        EXPECT_EQ(pane.dots()[i]->isChosen(), i == 5) << "the toolbar's pick moves the ring here too";
}

// The tool picker keeps its width; every tool's name is read whole in it, in
// every language ("Прямоугольник", "Rectángulo"), the cells side by side.
TEST_F(PreviewPanesTest, PenToolNamesFitInEveryLanguage)
{
    Loc::setTableDirectory(u":/lang"_s);
    for (const Loc::Lang& language : Loc::available()) {
        SCOPED_TRACE(language.code.toStdString());
        ASSERT_TRUE(Loc::choose(language.code));
        PenPane pane(Prefs::shared());
        pane.resize(680, 600);
        pane.show();
        const auto pickers = pane.findChildren<GatedSegmented*>();
        ASSERT_EQ(pickers.size(), 1);
        const GatedSegmented* tools = pickers.first();
        ASSERT_EQ(tools->items().size(), 6u);
        int right = 0;
        for (int i = 0; i < int(tools->items().size()); ++i) {
            EXPECT_EQ(tools->shownTitle(i).toStdString(), tools->items()[i].title.toStdString());
            const QRect cell = tools->cellRect(i);
            EXPECT_GT(cell.left(), right) << "cells overlap";
            right = cell.right();
        }
        EXPECT_LT(right, tools->width() - 1) << "the last cell runs off the track";
        if (const QString kept = test::Artifacts::path(u"pen-tools-"_s + language.code + u".png"_s); !kept.isEmpty())
            const_cast<GatedSegmented*>(tools)->grab().save(kept);
    }
    Loc::choose(u"en"_s);
}

} // namespace
