#include "settings/MagnifierPane.h"

#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/GatedSegmented.h"
#include "settings/PrefsSwitch.h"
#include "settings/PrefsWatch.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"
#include "settings/SliderLine.h"
#include "tools/MagnifierPanelView.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

constexpr int kModeWidth = 240;
constexpr int kSpeedWidth = 200;
constexpr int kMagnificationWidth = 52;

} // namespace

MagnifierPane::MagnifierPane(Prefs& prefs, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* mode = new GatedSegmented([&prefs] { return prefs.focusMode(); },
                                    [&prefs](int value) { prefs.setFocusMode(value); },
                                    {{Loc::text(QStringLiteral("Follow Cursor")), {}, 0},
                                     {Loc::text(QStringLiteral("Select Region")), {}, 1}},
                                    this);
    mode->setFixedWidth(kModeWidth);
    m_modeRow = new SettingRow(Loc::text(QStringLiteral("Magnifier Mode")), {}, mode, this);
    layout->addWidget(m_modeRow);

    auto* sizeBox = new QWidget(this);
    auto* sizeColumn = new QVBoxLayout(sizeBox);
    sizeColumn->setContentsMargins(0, 0, 0, 0);
    sizeColumn->setSpacing(2);
    auto* sliderLine = new QHBoxLayout;
    sliderLine->setSpacing(10);
    m_size = new QSlider(Qt::Horizontal, sizeBox);
    // The slider counts hundredths of the screen width.
    m_size->setRange(MagnifierPanelView::smallestArea, MagnifierPanelView::largestArea);
    m_size->setFixedWidth(SliderLine::sliderWidth);
    m_size->setAccessibleName(Prefs::name(Prefs::Key::focusFrac));
    m_magnification = new QLabel(sizeBox);
    m_magnification->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_magnification->setFixedWidth(kMagnificationWidth);
    m_magnification->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    sliderLine->addWidget(m_size);
    sliderLine->addWidget(m_magnification);
    sizeColumn->addLayout(sliderLine);
    m_area = new QLabel(sizeBox);
    SettingsLayout::greyText(m_area);
    sizeColumn->addWidget(m_area, 0, Qt::AlignRight);
    connect(m_size, &QSlider::valueChanged, this, [&prefs](int percent) { prefs.setFocusFrac(percent / 100.0); });
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Magnifier Area Size")),
        Loc::text(QStringLiteral("How large the magnified area is. Move left to make the area smaller and magnify more.")),
        sizeBox, this));

    auto* speed = new GatedSegmented([&prefs] { return prefs.focusSpeed(); },
                                     [&prefs](int value) { prefs.setFocusSpeed(value); },
                                     {{Loc::text(QStringLiteral("Fast")), {}, 0},
                                      {Loc::text(QStringLiteral("Medium")), {}, 1},
                                      {Loc::text(QStringLiteral("Slow")), {}, 2}},
                                     this);
    speed->setFixedWidth(kSpeedWidth);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Zoom Animation Speed")),
                                     Loc::text(QStringLiteral("How long the camera takes to push in and pull back out. "
                                                              "Zooming out plays the same move in reverse.")),
                                     speed, this));

    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Magnifier Area Outline")),
        Loc::text(QStringLiteral(
            "Show a gray outline around the magnified area while zoomed. It won't appear in your recording.")),
        new PrefsSwitch(prefs, Prefs::Key::focusLive),
        this));
    m_crisp = new PrefsSwitch(prefs, Prefs::Key::focusCrisp);
    m_crispRow = new SettingRow(Loc::text(QStringLiteral("Sharper Magnification")), {}, m_crisp, this);
    layout->addWidget(m_crispRow);

    PrefsWatch::on(this, prefs,
                   {Prefs::Key::focusMode, Prefs::Key::focusFrac, Prefs::Key::focusSpeed, Prefs::Key::isRecording},
                   [this, mode, speed] {
                       mode->update();
                       speed->update();
                       refresh();
                   });
}

QString MagnifierPane::areaText(double focusFrac)
{
    return Loc::fill(Loc::text(QStringLiteral("Area width is about %@%% of the screen.")),
                     qint64(std::round(focusFrac * 100)));
}

void MagnifierPane::refresh()
{
    m_modeRow->setDesc(
        m_prefs.focusMode() == 1
            ? Loc::text(QStringLiteral("Click the magnifier, then drag a box on screen. The recording zooms into that "
                                       "box and stays there."))
            : Loc::text(QStringLiteral("Click the magnifier to zoom around the cursor. The view follows only when the "
                                       "cursor reaches the edge.")));
    const double frac = m_prefs.focusFrac();
    SliderLine::showValue(m_size, int(std::lround(frac * 100)));
    m_magnification->setText(MagnifierPanelView::factorText(frac));
    m_area->setText(areaText(frac));
    const bool recording = m_prefs.isRecording();
    m_crisp->setEnabled(!recording);
    m_crispRow->setDesc(recording ? Loc::text(QStringLiteral("Takes effect on your next recording."))
                                  : Loc::text(QStringLiteral("Magnified text is clearer, but uses a bit more power.")));
}

} // namespace corvessa
