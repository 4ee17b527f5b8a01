#include "settings/CursorPane.h"

#include "engine/compositor/CursorArt.h"
#include "engine/compositor/CursorStyle.h"
#include "engine/compositor/CursorTheme.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/CursorShadowPreview.h"
#include "settings/CursorSizePreview.h"
#include "settings/CursorTile.h"
#include "settings/GatedSegmented.h"
#include "settings/PrefsWatch.h"
#include "settings/ResetSlider.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"

#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

constexpr int kThemeWidth = 380;
constexpr int kColumns = 5;
constexpr int kGridSpacing = 8;
constexpr double kShadowUpReset = 0.58;
constexpr double kShadowDownReset = 0.7;
constexpr ResetSlider::Range kSystemSizes{0.5, 5.0, 0.05};
constexpr ResetSlider::Range kArtSizes{0.5, 2.0, 0.05};
constexpr ResetSlider::Range kShadows{0, 1, 0.02};

std::vector<CursorArt::Sprite> tileList(bool system)
{
    if (!system)
        return CursorArt::all();
    std::vector<CursorArt::Sprite> list{CursorStyle::systemArrow()};
    list.insert(list.end(), CursorStyle::arrows().begin(), CursorStyle::arrows().end());
    return list;
}

} // namespace

CursorPane::CursorPane(Prefs& prefs, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* theme = new GatedSegmented([&prefs] { return prefs.cursorTheme(); },
                                     [&prefs](int value) { prefs.setCursorTheme(value); },
                                     {{Loc::text(QStringLiteral("System Cursor")), {}, 0},
                                      {Loc::text(QStringLiteral("Glove / Paw")), {}, 1},
                                      {Loc::text(QStringLiteral("No Cursor")), {}, 2}},
                                     this);
    theme->setFixedWidth(kThemeWidth);
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Cursor in Finished Video")),
        Loc::text(QStringLiteral("How the cursor appears in the recorded video. It doesn't affect your own screen.")),
        theme, this));

    m_body = new QWidget(this);
    auto* body = new QVBoxLayout(m_body);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    layout->addWidget(m_body);

    m_grid = new QGridLayout;
    m_grid->setContentsMargins(0, 16, 0, 16);
    m_grid->setHorizontalSpacing(kGridSpacing);
    m_grid->setVerticalSpacing(kGridSpacing);
    body->addLayout(m_grid);
    m_note = new QLabel(Loc::text(QStringLiteral("With “System Cursor” at 100% size, the system's own cursor is used. "
                                                 "If you change the style or size, Corvessa draws the cursor instead.")),
                        m_body);
    m_note->setWordWrap(true);
    SettingsLayout::greyText(m_note);
    m_note->setContentsMargins(0, 0, 0, 8);
    body->addWidget(m_note);

    m_size = new ResetSlider(
        [this] { return systemStyle() ? m_prefs.cursorSizeSys() : m_prefs.cursorSize(); },
        [this](double v) { systemStyle() ? m_prefs.setCursorSizeSys(v) : m_prefs.setCursorSize(v); }, kArtSizes, 1.0,
        &ResetSlider::percentText, m_body);
    m_size->slider()->setAccessibleName(Prefs::name(Prefs::Key::cursorSize));
    m_sizeRow = new SettingRow(Loc::text(QStringLiteral("Size")), {}, m_size, m_body);
    body->addWidget(m_sizeRow);
    m_sizePreview = new CursorSizePreview(m_body);
    body->addWidget(m_sizePreview);

    m_shadowUp = new ResetSlider([&prefs] { return prefs.shadowUp(); }, [&prefs](double v) { prefs.setShadowUp(v); },
                                 kShadows, kShadowUpReset, &ResetSlider::shadowText, m_body);
    body->addWidget(new SettingRow(Loc::text(QStringLiteral("Shadow · Not Pressed")),
                                   Loc::text(QStringLiteral("Shadow under the cursor when it isn't pressed. Drag all "
                                                            "the way left for no shadow.")),
                                   m_shadowUp, m_body));
    m_shadowDown = new ResetSlider([&prefs] { return prefs.shadowDown(); },
                                   [&prefs](double v) { prefs.setShadowDown(v); }, kShadows, kShadowDownReset,
                                   &ResetSlider::shadowText, m_body);
    body->addWidget(new SettingRow(Loc::text(QStringLiteral("Shadow · Pressed")),
                                   Loc::text(QStringLiteral("Shadow under the cursor when it's pressed. The preview "
                                                            "below shows how it looks.")),
                                   m_shadowDown, m_body));
    m_shadowPreview = new CursorShadowPreview(m_body);
    body->addWidget(m_shadowPreview);
    body->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Click Effect")),
        Loc::text(QStringLiteral("When you click, the cursor presses down a bit and its shadow moves closer.")),
        new QWidget, m_body));

    PrefsWatch::on(this, prefs,
                   {Prefs::Key::cursorTheme, Prefs::Key::cursorArrow, Prefs::Key::cursorArt, Prefs::Key::cursorSizeSys,
                    Prefs::Key::cursorSize, Prefs::Key::shadowUp, Prefs::Key::shadowDown},
                   [this, theme] {
                       theme->update();
                       refresh();
                   });
}

bool CursorPane::systemStyle() const
{
    // The recording's reading of the setting, so an odd stored value shows what
    // will be drawn.
    return cursorThemeFromSetting(m_prefs.cursorTheme()) == CursorTheme::system;
}

void CursorPane::rebuildTiles()
{
    const int style = systemStyle() ? 0 : 1;
    if (style == m_tileStyle)
        return;
    m_tileStyle = style;
    for (CursorTile* tile : m_tiles)
        delete tile;
    m_tiles.clear();
    const std::vector<CursorArt::Sprite> list = tileList(style == 0);
    for (size_t i = 0; i < list.size(); ++i) {
        auto* tile = new CursorTile(list[i].image, Loc::text(list[i].key), m_body);
        connect(tile, &CursorTile::clicked, this, [this, i] {
            systemStyle() ? m_prefs.setCursorArrow(int(i)) : m_prefs.setCursorArt(int(i));
        });
        m_grid->addWidget(tile, int(i) / kColumns, int(i) % kColumns);
        m_tiles.push_back(tile);
    }
    for (int c = 0; c < kColumns; ++c)
        m_grid->setColumnStretch(c, 1);
}

void CursorPane::refresh()
{
    const CursorTheme theme = cursorThemeFromSetting(m_prefs.cursorTheme());
    m_body->setVisible(theme != CursorTheme::hidden);
    if (theme == CursorTheme::hidden)
        return;
    const bool system = systemStyle();
    rebuildTiles();
    const int current = system ? m_prefs.cursorArrow() : m_prefs.cursorArt();
    for (size_t i = 0; i < m_tiles.size(); ++i)
        m_tiles[i]->setChosen(int(i) == current);
    m_note->setVisible(system);

    m_size->setRange(system ? kSystemSizes : kArtSizes);
    m_sizeRow->setDesc(system ? Loc::text(QStringLiteral("100% is the system cursor's original size. The preview "
                                                         "below shows the actual size."))
                              : Loc::text(QStringLiteral("100% is the default size. The preview below shows the "
                                                         "actual size; the system cursor is on the right.")));
    m_shadowUp->refresh();
    m_shadowDown->refresh();

    const CursorStyle::Look look = CursorStyle::look(theme, m_prefs.cursorArt(), m_prefs.cursorArrow());
    const double size = system ? m_prefs.cursorSizeSys() : m_prefs.cursorSize();
    m_sizePreview->setLook(look, size);
    m_shadowPreview->setLook(look, size, m_prefs.shadowUp(), m_prefs.shadowDown());
}

} // namespace corvessa
