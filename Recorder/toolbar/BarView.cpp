#include "toolbar/BarView.h"

#include "model/RecorderModel.h"
#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "toolbar/RecordingGlow.h"
#include "toolbar/RecordingTimeLabel.h"
#include "toolbar/Symbols.h"
#include "toolbar/TileButton.h"
#include "toolbar/TipModifier.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLayoutItem>
#include <QPainter>
#include <QTimer>

#include <cmath>

namespace corvessa {

BarView::BarView(RecorderModel& model, Prefs& prefs, Services services, QWidget* parent)
    : GlassPanel(cornerRadius, margin, parent)
    , m_model(model)
    , m_prefs(prefs)
    , m_services(std::move(services))
    , m_layout(new QHBoxLayout(this))
{
    setObjectName(QStringLiteral("bar"));
    m_layout->setSpacing(2);
    // Inside the card, which the panel's own contents margins already keep off the
    // shadow's margin.
    m_layout->setContentsMargins(12, 6, 12, 6);
    m_layout->setSizeConstraint(QLayout::SetFixedSize);
    m_glow = new RecordingGlow(this);
    m_glow->hide();

    connect(&m_model, &RecorderModel::changed, this, [this](RecorderModel::Field field) {
        if (field == RecorderModel::Field::elapsed)
            updateElapsed();
        else
            scheduleRebuild();
    });
    connect(&m_prefs, &Prefs::changed, this, [this](const QString& name) {
        static const QStringList shown{QStringLiteral("compactRecordingBar"), QStringLiteral("focusMode"),
                                       QStringLiteral("penTool"), QStringLiteral("penColor"),
                                       QStringLiteral("cameraMirrored"), QStringLiteral("bindings")};
        if (shown.contains(name))
            scheduleRebuild();
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, [this] { scheduleRebuild(); });
    rebuild();
}

BarView::~BarView() = default;

BarView::Row BarView::rowFor(const RecorderPhase& phase, bool compact)
{
    using K = RecorderPhase::Kind;
    switch (phase.kind) {
    case K::ready:
        return Row::ready;
    case K::countdown:
        return Row::countdown;
    case K::recording:
    case K::paused:
        return compact ? Row::compact : Row::recording;
    case K::finishing:
        return Row::finishing;
    case K::saved:
        return Row::saved;
    case K::failed:
        return Row::failed;
    }
    return Row::ready;
}

QColor BarView::red()
{
    return QColor::fromRgbF(1.0f, 0.23f, 0.19f);
}

QColor BarView::green()
{
    return QColor::fromRgbF(0.2f, 0.78f, 0.35f);
}

QColor BarView::warning()
{
    return QColor::fromRgbF(1.0f, 0.78f, 0.0f);
}

void BarView::scheduleRebuild()
{
    if (m_rebuildPending)
        return;
    m_rebuildPending = true;
    // Coalesces the changes of one turn, and never deletes a control from
    // inside its own click handler.
    QTimer::singleShot(0, this, [this] { rebuildWhenReleased(); });
}

void BarView::rebuildWhenReleased()
{
    if (!m_rebuildPending)
        return;
    // A control pressed but not yet released would lose its click with the
    // row it stands in (a status change arriving between the two halves of a
    // click): wait for the release.
    if (QGuiApplication::mouseButtons() != Qt::NoButton && underMouse()) {
        QTimer::singleShot(50, this, [this] { rebuildWhenReleased(); });
        return;
    }
    rebuild();
}

void BarView::rebuild()
{
    m_rebuildPending = false;
    while (QLayoutItem* item = m_layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            // Off the bar at once; deleted later, as it may be running a handler.
            w->hide();
            w->setParent(nullptr);
            w->deleteLater();
        }
        delete item;
    }
    m_time = nullptr;
    m_statusBox = nullptr;

    m_row = rowFor(m_model.phase(), m_prefs.compactRecordingBar());
    switch (m_row) {
    case Row::ready:
        buildReady();
        break;
    case Row::countdown:
        buildCountdown();
        break;
    case Row::recording:
    case Row::compact:
        buildLive(m_row == Row::compact);
        break;
    case Row::finishing:
        buildFinishing();
        break;
    case Row::saved:
        buildSaved();
        break;
    case Row::failed:
        buildFailed();
        break;
    }
    const bool live = m_model.phase().isLive();
    m_glow->setPaused(m_model.phase().is(RecorderPhase::Kind::paused));
    m_glow->setVisible(live);
    m_layout->activate();
    reportSize();
}

void BarView::add(QWidget* element)
{
    m_layout->addWidget(element, 0, Qt::AlignVCenter);
    // Shown now rather than on a later turn, as the layout would: the row then
    // takes its final size at once instead of growing control by control, each
    // step another resize for the window manager to carry out.
    if (isVisible() && !element->testAttribute(Qt::WA_WState_ExplicitShowHide))
        element->show();
}

void BarView::updateElapsed()
{
    if (m_time)
        m_time->setValue(RecordingTimeLabel::time(m_model.elapsed()));
    if (m_statusBox)
        m_statusBox->setAccessibleDescription(RecordingTimeLabel::time(m_model.elapsed()));
}

void BarView::resizeEvent(QResizeEvent* event)
{
    GlassPanel::resizeEvent(event);
    m_glow->setGeometry(cardRect().toRect());
    m_glow->raise();
    reportSize();
}

void BarView::reportSize()
{
    const QSize now = size();
    if (now == m_reportedSize)
        return;
    m_reportedSize = now;
    if (sizeChanged)
        sizeChanged();
}

QRect BarView::avoidRect() const
{
    // The visible bar in global coordinates: the window's frame less the margin.
    const QWidget* w = window();
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size()).adjusted(margin, margin, -margin, -margin);
}

void BarView::tip(QWidget* control, const QString& english, std::optional<HotKeyAction> action)
{
    control->setAccessibleName(Loc::text(english));
    if (m_services.tips)
        TipModifier::attach(control, *m_services.tips, Loc::text(english), action);
}

// ---- Row elements shared by the rows ----

TileButton* BarView::icon(const QString& symbol, bool selected, const QColor& tint, double size,
                          std::function<void()> action, const QString& name)
{
    auto painter = Symbols::painter(symbol, size);
    auto* tile = new TileButton(
        [painter, tint](QPainter& p, const QRectF& box, const QColor& colour) {
            painter(p, box, tint.isValid() ? tint : colour);
        },
        40, std::move(action));
    tile->setSelected(selected);
    tile->setObjectName(name);
    return tile;
}

TileButton* BarView::actionLabel(const QString& symbol, const QString& title, std::function<void()> action,
                                 const QString& name)
{
    QFont font = this->font();
    font.setPointSizeF(13);
    const double w = QFontMetricsF(font).horizontalAdvance(title);
    const int width = std::max(int(std::ceil(w)) + 16 + 7 + 28, 76);
    auto glyph = Symbols::painter(symbol, 16);
    auto* tile = new TileButton(
        [glyph, title, font, w](QPainter& p, const QRectF& box, const QColor&) {
            // The tile centres a 24 pt box; the label is laid out from the
            // tile's own centre instead.
            const double tileMid = box.center().x();
            const double total = 16 + 7 + w;
            const double left = tileMid - total / 2;
            const QColor text = QGuiApplication::palette().color(QPalette::WindowText);
            glyph(p, QRectF(left, box.center().y() - 8, 16, 16), text);
            p.setFont(font);
            p.setPen(text);
            p.drawText(QRectF(left + 16 + 7, box.top() - 6, w + 1, box.height() + 12),
                       Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, title);
        },
        width, std::move(action));
    tile->setObjectName(name);
    return tile;
}

QWidget* BarView::divider()
{
    auto* line = new QWidget;
    line->setFixedSize(1 + 8, 20);
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->setAttribute(Qt::WA_TranslucentBackground);
    // Painted by a child so the padding stays clear.
    auto* bar = new QWidget(line);
    bar->setGeometry(4, 0, 1, 20);
    bar->setAutoFillBackground(true);
    QPalette pal = bar->palette();
    QColor c = pal.color(QPalette::WindowText);
    c.setAlphaF(0.18f);
    pal.setColor(QPalette::Window, c);
    bar->setPalette(pal);
    return line;
}

QWidget* BarView::closeButton(const QString& tipText)
{
    QColor secondary = palette().color(QPalette::WindowText);
    secondary.setAlphaF(0.5f);
    auto* button = icon(QStringLiteral("xmark"), false, secondary, 15, [this] { m_model.backToReady(); },
                        QStringLiteral("close"));
    tip(button, tipText);
    return button;
}

} // namespace corvessa
