// The ready row and the rows of the countdown, saving, saved and failed phases.
#include "toolbar/BarView.h"

#include "model/RecorderModel.h"
#include "prefs/HotKeyAction.h"
#include "prefs/Loc.h"
#include "toolbar/FloatingWindow.h"
#include "toolbar/IconTile.h"
#include "toolbar/RecordButton.h"
#include "toolbar/SymbolView.h"
#include "toolbar/TileButton.h"

#include <QDir>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QHBoxLayout>
#include <QLabel>
#include <QAction>
#include <QMenu>
#include <QProgressBar>
#include <QWindow>

#include <cmath>

namespace corvessa {

QColor BarView::primary() const
{
    return palette().color(QPalette::WindowText);
}

QColor BarView::secondary() const
{
    QColor c = primary();
    c.setAlphaF(0.5f);
    return c;
}

QWidget* BarView::textLabel(const QString& text, double points, const QColor& colour, int maxWidth, int maxLines)
{
    auto* label = new QLabel(text);
    QFont f = font();
    f.setPointSizeF(points);
    label->setFont(f);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    if (maxLines <= 1) {
        label->setWordWrap(false);
        return label;
    }
    label->setWordWrap(true);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // At most maxWidth wide, as tall as its lines need, never more than maxLines.
    const QFontMetricsF metrics(f);
    const int natural = int(std::ceil(metrics.horizontalAdvance(text))) + 2;
    const int width = std::min(natural, maxWidth);
    label->setFixedWidth(width);
    // Rounded: a single line is a little taller than the line spacing in some
    // fonts, and must not count as two.
    const int lines = std::min(maxLines, std::max(1, label->heightForWidth(width) > 0
                                                        ? int(std::lround(label->heightForWidth(width) / metrics.lineSpacing()))
                                                        : 1));
    label->setFixedHeight(int(std::ceil(lines * metrics.lineSpacing())) + 2);
    label->resize(label->width(), label->minimumHeight());
    return label;
}

QWidget* BarView::glyphBox(const QString& symbol, const QColor& colour)
{
    auto* box = new QWidget;
    box->setFixedSize(40, 36);
    box->setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* glyph = new SymbolView(symbol, 20, colour, box);
    glyph->move((40 - SymbolView::frame) / 2, (36 - SymbolView::frame) / 2);
    return box;
}

void BarView::buildReady()
{
    auto* close = icon(QStringLiteral("xmark"), false, secondary(), 15, [this] {
        if (m_model.onHideBar)
            m_model.onHideBar();
    }, QStringLiteral("close"));
    tip(close, QStringLiteral("Close Toolbar"), HotKeyAction::toggleBar);
    add(close);
    add(rangeItem(QStringLiteral("Record Screen"), QStringLiteral("display"), RangeMode::display,
                  QStringLiteral("display")));
    add(rangeItem(QStringLiteral("Record Window"), QStringLiteral("macwindow"), RangeMode::window,
                  QStringLiteral("window")));
    add(rangeItem(QStringLiteral("Record Area"), QStringLiteral("rectangle.dashed"), RangeMode::area,
                  QStringLiteral("area")));
    add(divider());
    auto* record = new RecordButton(Loc::text(QStringLiteral("Record")));
    record->setObjectName(QStringLiteral("record"));
    connect(record, &QAbstractButton::clicked, this, [this] { m_model.record(); });
    tip(record, QStringLiteral("Start Recording"), HotKeyAction::start);
    add(record);
    add(divider());
    add(cameraItem());
    add(micItem());
    add(systemItem());
    if (const auto& hint = m_model.hint()) {
        auto* box = new QWidget;
        box->setObjectName(QStringLiteral("hint"));
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        auto* glyph = new SymbolView(QStringLiteral("headphones"), 12, IconTile::orange());
        row->addWidget(glyph);
        row->addWidget(textLabel(*hint, 12, IconTile::orange(), 230 - SymbolView::frame - 4, 2));
        add(box);
    }
    add(divider());
    add(toolsCluster());
    auto* settings = icon(QStringLiteral("gearshape"), false, secondary(), 17, [this] {
        if (m_services.showSettings)
            m_services.showSettings();
    }, QStringLiteral("settings"));
    tip(settings, QStringLiteral("Settings"));
    add(settings);
}

QWidget* BarView::rangeItem(const QString& title, const QString& symbol, RangeMode mode, const QString& name)
{
    const bool selected = m_model.rangeMode() == mode;
    const QColor tint = selected && !m_model.rangeReady() ? IconTile::orange() : primary();
    const auto screens = m_model.screens();
    TileButton* button = icon(symbol, selected, tint, 18, {}, name);
    tip(button, title);
    if (mode == RangeMode::display && screens.size() >= 2) {
        button->setAction([this, button, screens] {
            auto* menu = new QMenu(button);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            for (const auto& screen : screens) {
                QAction* action = menu->addAction(screen.name);
                const bool current = m_model.rangeMode() == RangeMode::display
                                     && screen.id == m_model.effectiveDisplayID();
                action->setCheckable(current);
                action->setChecked(current);
                const uint32_t id = screen.id;
                connect(action, &QAction::triggered, this, [this, id] { m_model.selectDisplay(id); });
            }
            FloatingWindow::track(menu, m_services.registerWindow);
            menu->popup(button->mapToGlobal(QPoint(0, IconTile::height)));
        });
    } else {
        button->setAction([this, mode] { m_model.chooseRange(mode); });
    }
    return button;
}

void BarView::buildCountdown()
{
    // Nothing shows while the digits run, but the bar keeps its height.
    auto* placeholder = new QWidget;
    placeholder->setFixedSize(1, 36);
    placeholder->setObjectName(QStringLiteral("placeholder"));
    add(placeholder);
}

void BarView::buildFinishing()
{
    add(glyphBox(QStringLiteral("hourglass"), secondary()));
    auto* box = new QWidget;
    box->setObjectName(QStringLiteral("saving"));
    box->setMinimumSize(140, 36);
    auto* row = new QHBoxLayout(box);
    row->setContentsMargins(8, 0, 8, 0);
    row->setSpacing(8);
    auto* busy = new QProgressBar;
    busy->setRange(0, 0);
    busy->setTextVisible(false);
    busy->setFixedSize(32, 6);
    row->addWidget(busy);
    row->addWidget(textLabel(Loc::text(QStringLiteral("Saving…")), 13, primary(), 0, 1));
    add(box);
}

void BarView::buildSaved()
{
    add(glyphBox(QStringLiteral("checkmark.circle.fill"), green()));
    const QString movie = m_model.phase().url;
    const auto& notice = m_model.screenNotice() ? m_model.screenNotice() : m_model.cameraNotice();
    if (m_revealFailed == movie) {
        // Said in place of a notice the user has read already.
        const QString folder = QDir::toNativeSeparators(QFileInfo(movie).absolutePath());
        QWidget* text = textLabel(Loc::fill(Loc::text(QStringLiteral("The folder could not be opened: %@")), folder), 12,
                                  IconTile::orange(), 300, 3);
        text->setObjectName(QStringLiteral("revealFailed"));
        add(text);
    } else if (notice) {
        QWidget* text = textLabel(*notice, 12, IconTile::orange(), 300, 3);
        text->setObjectName(QStringLiteral("notice"));
        add(text);
    }
    auto* show = actionLabel(QStringLiteral("folder"), Loc::text(QStringLiteral("Show in Finder")), [this, movie] {
        QStringList paths{movie};
        for (const QString& file : m_model.cameraFiles())
            paths << file;
        if (!m_services.reveal) {
            m_model.backToReady();
            return;
        }
        // The row stays until the files are shown, so that a failure can be said on it.
        m_services.reveal(paths, [bar = QPointer<BarView>(this), movie](bool shown) {
            if (bar)
                bar->revealDone(movie, shown);
        });
    }, QStringLiteral("showInFolder"));
    tip(show, QStringLiteral("Show in Finder"));
    add(show);
    add(closeButton(QStringLiteral("Close")));
}

void BarView::revealDone(const QString& movie, bool shown)
{
    // The user may have moved on (closed the row, started recording) meanwhile.
    if (!m_model.phase().is(RecorderPhase::Kind::saved) || m_model.phase().url != movie)
        return;
    if (shown) {
        m_model.backToReady();
        return;
    }
    m_revealFailed = movie;
    scheduleRebuild();
}

void BarView::buildFailed()
{
    add(glyphBox(QStringLiteral("exclamationmark.triangle.fill"), red()));
    QWidget* message = textLabel(m_model.phase().message, 13, primary(), 340, 2);
    message->setObjectName(QStringLiteral("message"));
    message->setFixedHeight(std::max(message->height(), 36));
    add(message);
    add(closeButton(QStringLiteral("OK")));
}

} // namespace corvessa
