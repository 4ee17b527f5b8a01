#include "toolbar/ToolControls.h"

#include "engine/compositor/PenPalette.h"
#include "model/RecorderModel.h"
#include "prefs/HotKeyAction.h"
#include "prefs/Prefs.h"
#include "toolbar/AnchorClick.h"
#include "toolbar/BarElements.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/RecordingRowTexts.h"
#include "toolbar/kit/SymbolView.h"
#include "toolbar/kit/TileButton.h"
#include "toolbar/ToolMenu.h"

#include <QHBoxLayout>
#include <QPainter>

namespace corvessa {

namespace {

// The pen colour swatch: a white-ringed dot of the current colour.
class PenSwatch : public QWidget {
public:
    explicit PenSwatch(QColor colour)
        : m_colour(colour)
    {
        setFixedSize(28, 36);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRectF dot(width() / 2.0 - 8, height() / 2.0 - 8, 16, 16);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor::fromRgbF(0, 0, 0, 0.35f));
        p.drawEllipse(dot.adjusted(-1, -1, 1, 1));
        p.setBrush(m_colour);
        p.setPen(QPen(Qt::white, 2));
        p.drawEllipse(dot);
    }

private:
    QColor m_colour;
};

} // namespace

ToolControls::ToolControls(const BarElements& elements)
    : m_elements(elements)
{
}

QWidget* ToolControls::toolsCluster() const
{
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    row->addWidget(magnifierButton());
    row->addWidget(penControls());
    row->addWidget(prompterButton());
    return box;
}

QWidget* ToolControls::magnifierButton() const
{
    const ToolActions& tools = m_elements.services().tools;
    const bool region = m_elements.prefs().focusMode() == 1;
    const bool on = m_elements.model().focusOn();
    TileButton* button = m_elements.icon(region ? QStringLiteral("plus.viewfinder") : QStringLiteral("plus.magnifyingglass"),
                                         on, on ? IconTile::orange() : m_elements.secondary(), 17, {},
                                         QStringLiteral("magnifier"));
    m_elements.tip(button, region ? QStringLiteral("Magnifier · Select Region") : QStringLiteral("Magnifier"),
                   HotKeyAction::focus);
    // A hold opens the magnifier's settings card beside the button.
    m_elements.tapOrHold(button, [&tools] {
        if (tools.tapMagnifier)
            tools.tapMagnifier();
        else if (tools.toggleFocus)
            tools.toggleFocus();
    }, [&tools](const QRect& anchor) {
        if (tools.openMagnifierPanel)
            tools.openMagnifierPanel(anchor);
    });
    return button;
}

QWidget* ToolControls::penControls() const
{
    const ToolActions& tools = m_elements.services().tools;
    RecorderModel& model = m_elements.model();
    auto* box = new QWidget;
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);
    const bool on = model.penOn();
    TileButton* pen = m_elements.icon(RecordingRowTexts::penSymbol(m_elements.prefs().penTool()), on,
                                      on ? IconTile::orange() : m_elements.secondary(), 17, {}, QStringLiteral("pen"));
    m_elements.tip(pen, QStringLiteral("Pen"), HotKeyAction::pen);
    // A hold opens the pen-tool menu.
    m_elements.tapOrHold(
        pen,
        [&tools, &model] {
            if (tools.setPen)
                tools.setPen(!model.penOn());
        },
        [&tools](const QRect& anchor) {
            if (tools.showPenMenu)
                tools.showPenMenu(anchor);
        });
    row->addWidget(pen);
    auto* swatch = new PenSwatch(PenPalette::color(PenPalette::clampedIndex(m_elements.prefs().penColor())));
    swatch->setObjectName(QStringLiteral("penColor"));
    m_elements.tip(swatch, QStringLiteral("Pen Color"));
    auto* click = new AnchorClick([&tools](const QRect& anchor) {
        if (tools.openPenPalette)
            tools.openPenPalette(anchor);
    }, swatch);
    click->setGeometry(swatch->rect());
    row->addWidget(swatch);
    return box;
}

QWidget* ToolControls::prompterButton() const
{
    const ToolActions& tools = m_elements.services().tools;
    const bool shown = tools.teleprompterShown && tools.teleprompterShown();
    auto* button = m_elements.icon(QStringLiteral("text.justify.left"), shown,
                                   shown ? IconTile::orange() : m_elements.secondary(), 17, [&tools] {
        if (tools.toggleTeleprompter)
            tools.toggleTeleprompter();
    }, QStringLiteral("prompter"));
    m_elements.tip(button, QStringLiteral("Teleprompter"), HotKeyAction::prompter);
    return button;
}

QWidget* ToolControls::toolsButton() const
{
    RecorderModel& model = m_elements.model();
    const bool active = model.focusOn() || model.penOn();
    auto* glyph = new SymbolView(QStringLiteral("wand.and.sparkles"), 17,
                                 active ? IconTile::orange() : m_elements.secondary());
    const ToolActions& tools = m_elements.services().tools;
    QWidget* tile = m_elements.menuTile(glyph, 40, [&model, &tools] { return ToolMenu::tools(model, tools); },
                                        QStringLiteral("Tools"));
    tile->setObjectName(QStringLiteral("tools"));
    return tile;
}

} // namespace corvessa
