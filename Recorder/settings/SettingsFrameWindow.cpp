#include "settings/SettingsFrameWindow.h"

#include "settings/SettingsView.h"
#include "toolbar/kit/Symbols.h"

#include <QAction>
#include <QActionGroup>
#include <QKeyEvent>
#include <QLayout>
#include <QStackedWidget>
#include <QToolBar>

namespace corvessa {

SettingsFrameWindow::SettingsFrameWindow(Prefs& prefs, const SettingsServices& services, QWidget* parent)
    : QMainWindow(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint)
{
    setAttribute(Qt::WA_DeleteOnClose, false);
    setContextMenuPolicy(Qt::NoContextMenu);
    m_tabs = new QToolBar(this);
    m_tabs->setObjectName(QStringLiteral("settingsTabs"));
    m_tabs->setMovable(false);
    m_tabs->setFloatable(false);
    m_tabs->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_tabs->setIconSize(QSize(20, 20));
    addToolBar(Qt::TopToolBarArea, m_tabs);

    m_pages = new QStackedWidget(this);
    setCentralWidget(m_pages);
    m_group = new QActionGroup(this);
    m_group->setExclusive(true);
    for (SettingsPane pane : SettingsPanes::allCases) {
        auto* view = new SettingsView(pane, prefs, services, m_pages);
        m_views.push_back(view);
        m_pages->addWidget(view);
        const QString title = SettingsPanes::title(pane);
        QAction* tab = m_tabs->addAction(Symbols::icon(SettingsPanes::icon(pane)), title);
        tab->setObjectName(QStringLiteral("tab.") + SettingsPanes::rawValue(pane));
        tab->setCheckable(true);
        m_group->addAction(tab);
        connect(tab, &QAction::triggered, this, [this, pane] { selectPane(pane); });
    }
    selectPane(SettingsPane::general);
    fitInto(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
}

void SettingsFrameWindow::fitInto(const QSize& room)
{
    // The tabs and the menus above the page keep their height.
    for (SettingsView* view : m_views)
        view->limitPage(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    layout()->activate();
    const int above = sizeHint().height() - m_views.front()->pageSize().height();
    for (SettingsView* view : m_views)
        view->limitPage(QSize(room.width(), room.height() - above));
    layout()->activate();
    // The tab bar folds what does not fit behind its extension button.
    setFixedSize(sizeHint().boundedTo(room));
}

void SettingsFrameWindow::selectPane(SettingsPane pane)
{
    const int index = SettingsPanes::index(pane);
    m_group->actions().at(index)->setChecked(true);
    m_pages->setCurrentIndex(index);
    setWindowTitle(SettingsPanes::title(pane));
}

SettingsPane SettingsFrameWindow::selectedPane() const
{
    return SettingsPanes::allCases[selectedIndex()];
}

int SettingsFrameWindow::selectedIndex() const
{
    return std::max(0, m_pages->currentIndex());
}

void SettingsFrameWindow::keyPressEvent(QKeyEvent* event)
{
    // A capture in the shortcut list takes Esc before it gets here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        close();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

} // namespace corvessa
