#include "toolbar/ReadyRow.h"

#include "model/RecorderModel.h"
#include "prefs/HotKeyAction.h"
#include "prefs/Loc.h"
#include "toolbar/BarElements.h"
#include "toolbar/kit/FloatingWindow.h"
#include "toolbar/kit/IconTile.h"
#include "toolbar/RecordButton.h"
#include "toolbar/SourceItems.h"
#include "toolbar/kit/SymbolView.h"
#include "toolbar/kit/TileButton.h"
#include "toolbar/ToolControls.h"

#include <QAction>
#include <QHBoxLayout>
#include <QMenu>

namespace corvessa {

void ReadyRow::build()
{
    RecorderModel& model = m_elements.model();
    const BarServices& services = m_elements.services();
    auto* close = m_elements.icon(QStringLiteral("xmark"), false, m_elements.secondary(), 15, [&model] {
        if (model.onHideBar)
            model.onHideBar();
    }, QStringLiteral("close"));
    m_elements.tip(close, QStringLiteral("Close Toolbar"), HotKeyAction::toggleBar);
    add(close);
    add(rangeItem(m_elements, QStringLiteral("Record Screen"), QStringLiteral("display"), RangeMode::display,
                  QStringLiteral("display")));
    add(rangeItem(m_elements, QStringLiteral("Record Window"), QStringLiteral("macwindow"), RangeMode::window,
                  QStringLiteral("window")));
    add(rangeItem(m_elements, QStringLiteral("Record Area"), QStringLiteral("rectangle.dashed"), RangeMode::area,
                  QStringLiteral("area")));
    add(m_elements.divider());
    auto* record = new RecordButton(Loc::text(QStringLiteral("Record")));
    record->setObjectName(QStringLiteral("record"));
    connect(record, &QAbstractButton::clicked, this, [&model] { model.record(); });
    m_elements.tip(record, QStringLiteral("Start Recording"), HotKeyAction::start);
    add(record);
    add(m_elements.divider());
    const SourceItems sources(m_elements);
    add(sources.cameraItem());
    add(sources.micItem());
    add(sources.systemItem());
    if (const auto& hint = model.hint()) {
        auto* box = new QWidget;
        box->setObjectName(QStringLiteral("hint"));
        auto* row = new QHBoxLayout(box);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(4);
        // The hints say what the program cannot do (no screen, a Wayland
        // session): no headphones over them.
        auto* glyph = new SymbolView(QStringLiteral("info.circle"), 12, IconTile::orange());
        row->addWidget(glyph);
        row->addWidget(m_elements.textLabel(*hint, 12, IconTile::orange(), 230 - SymbolView::frame - 4, true));
        if (model.hintStays()) {
            auto* dismiss = m_elements.icon(QStringLiteral("xmark"), false, m_elements.secondary(), 11,
                                            [&model] { model.dismissHint(); }, QStringLiteral("dismissHint"));
            m_elements.tip(dismiss, QStringLiteral("Close"));
            row->addWidget(dismiss);
        }
        add(box);
    }
    add(m_elements.divider());
    add(ToolControls(m_elements).toolsCluster());
    auto* settings = m_elements.icon(QStringLiteral("gearshape"), false, m_elements.secondary(), 17, [&services] {
        if (services.showSettings)
            services.showSettings();
    }, QStringLiteral("settings"));
    m_elements.tip(settings, QStringLiteral("Settings"));
    add(settings);
}

QWidget* ReadyRow::rangeItem(const BarElements& elements, const QString& title, const QString& symbol,
                             RangeMode mode, const QString& name)
{
    RecorderModel& model = elements.model();
    const bool selected = model.rangeMode() == mode;
    const QColor tint = selected && !model.rangeReady() ? IconTile::orange() : elements.primary();
    const auto screens = model.screens();
    TileButton* button = elements.icon(symbol, selected, tint, 18, {}, name);
    elements.tip(button, title);
    if (mode == RangeMode::display && screens.size() >= 2) {
        const BarServices& services = elements.services();
        button->setAction([&model, &services, button, screens] {
            auto* menu = new QMenu(button);
            menu->setAttribute(Qt::WA_DeleteOnClose);
            for (const auto& screen : screens) {
                QAction* action = menu->addAction(screen.name);
                const bool current = model.rangeMode() == RangeMode::display
                                     && screen.id == model.effectiveDisplayID();
                action->setCheckable(current);
                action->setChecked(current);
                const uint32_t id = screen.id;
                QObject::connect(action, &QAction::triggered, button, [&model, id] { model.selectDisplay(id); });
            }
            FloatingWindow::track(menu, services.registerWindow);
            menu->popup(button->mapToGlobal(QPoint(0, IconTile::height)));
        });
    } else {
        button->setAction([&model, mode] { model.chooseRange(mode); });
    }
    return button;
}

} // namespace corvessa
