#include "settings/PenPane.h"

#include "engine/compositor/PenPalette.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "settings/GatedSegmented.h"
#include "settings/PenColourDot.h"
#include "settings/PenPreview.h"
#include "settings/PrefsWatch.h"
#include "settings/SettingRow.h"
#include "settings/SliderLine.h"

#include <QGridLayout>
#include <QLabel>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

constexpr int kToolWidth = 470;
constexpr int kMinWidth = 2;
constexpr int kMaxWidth = 24;
constexpr int kColumns = 6;
constexpr int kGridWidth = 208;

} // namespace

PenPane::PenPane(Prefs& prefs, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    auto* tools = new GatedSegmented([&prefs] { return prefs.penTool(); },
                                     [&prefs](int value) { prefs.setPenTool(value); },
                                     {{Loc::text(QStringLiteral("Pencil")), QStringLiteral("pencil.tip"), 0},
                                      {Loc::text(QStringLiteral("Line")), QStringLiteral("line.diagonal"), 1},
                                      {Loc::text(QStringLiteral("Arrow")), QStringLiteral("arrow.up.right"), 2},
                                      {Loc::text(QStringLiteral("Rectangle")), QStringLiteral("rectangle"), 3},
                                      {Loc::text(QStringLiteral("Ellipse")), QStringLiteral("circle"), 4},
                                      {Loc::text(QStringLiteral("Eraser")), QStringLiteral("eraser"), 5}},
                                     this);
    tools->setFixedWidth(kToolWidth);
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Default Tool")),
                                     Loc::text(QStringLiteral("Click the pen to draw on screen. Press and hold to "
                                                              "switch tools. Click again to close; drawing disappears.")),
                                     tools, this));

    QWidget* widthBox = SliderLine::make(m_width, m_widthText, this);
    m_width->setRange(kMinWidth, kMaxWidth);
    m_width->setAccessibleName(Prefs::name(Prefs::Key::penWidth));
    connect(m_width, &QSlider::valueChanged, this, [&prefs](int width) { prefs.setPenWidth(width); });
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Stroke Width")),
        Loc::text(QStringLiteral("With a tablet, pressure varies stroke width. Mouse lines stay the same width.")),
        widthBox, this));

    auto* colours = new QWidget(this);
    colours->setFixedWidth(kGridWidth + 2 * 6);
    auto* grid = new QGridLayout(colours);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(2);
    grid->setVerticalSpacing(2);
    for (int i = 0; i < PenPalette::count; ++i) {
        auto* dot = new PenColourDot(PenPalette::color(i), PenPalette::name(i), colours);
        connect(dot, &PenColourDot::clicked, this, [&prefs, i] { prefs.setPenColor(i); });
        grid->addWidget(dot, i / kColumns, i % kColumns, Qt::AlignLeft);
        m_dots.push_back(dot);
    }
    layout->addWidget(new SettingRow(Loc::text(QStringLiteral("Color")),
                                     Loc::text(QStringLiteral("You can also click the dot next to the pen to change it.")),
                                     colours, this));

    m_preview = new PenPreview(this);
    layout->addWidget(m_preview);

    PrefsWatch::on(this, prefs,
                   {Prefs::Key::penTool, Prefs::Key::penWidth, Prefs::Key::penColor},
                   [this, tools] {
                       tools->update();
                       refresh();
                   });
}

QString PenPane::widthText(double width)
{
    return Loc::fill(Loc::text(QStringLiteral("%@ pt")), qint64(std::isfinite(width) ? std::trunc(width) : 0));
}

void PenPane::refresh()
{
    const double width = m_prefs.penWidth();
    SliderLine::showValue(m_width, int(std::lround(width)));
    m_widthText->setText(widthText(width));
    for (size_t i = 0; i < m_dots.size(); ++i)
        m_dots[i]->setChosen(int(i) == m_prefs.penColor());
    m_preview->set(m_prefs.penTool(), m_prefs.penColor(), width);
}

} // namespace corvessa
