#include "app/MenuRenderer.h"

#include "prefs/KeyBinding.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>

namespace corvessa {

namespace {

// Marks the submenus made here, so a rebuild removes exactly those.
constexpr const char* kRendered = "corvessaRenderedMenu";

QString shownTitle(const QString& title)
{
    QString text = title;
    return text.replace(QLatin1Char('&'), QStringLiteral("&&"));
}

void dropRenderedSubmenus(QWidget* owner)
{
    for (QMenu* sub : owner->findChildren<QMenu*>(Qt::FindDirectChildrenOnly)) {
        if (sub->property(kRendered).toBool())
            sub->deleteLater();
    }
}

void addEntry(QWidget* owner, const MenuNode& entry)
{
    if (entry.separator) {
        if (auto* menu = qobject_cast<QMenu*>(owner))
            menu->addSeparator();
        return;
    }
    if (entry.isSubmenu) {
        auto* sub = new QMenu(shownTitle(entry.title), owner);
        sub->setProperty(kRendered, true);
        sub->setObjectName(entry.identifier);
        sub->menuAction()->setObjectName(entry.identifier);
        sub->setEnabled(entry.enabled);
        if (entry.provider)
            MenuRenderer::attach(sub, entry.provider);
        else
            MenuRenderer::render(sub, entry.submenu);
        owner->addAction(sub->menuAction());
        return;
    }
    auto* action = new QAction(owner);
    KeyBinding::setMenuKey(*action, shownTitle(entry.title), entry.keyText);
    action->setObjectName(entry.identifier);
    action->setCheckable(entry.checkable);
    action->setChecked(entry.checked);
    action->setEnabled(entry.enabled);
    if (entry.action) {
        QObject::connect(action, &QAction::triggered, action, [run = entry.action] { run(); });
    }
    owner->addAction(action);
}

} // namespace

void MenuRenderer::render(QMenu* menu, const MenuNodes& entries)
{
    menu->clear();
    dropRenderedSubmenus(menu);
    for (const MenuNode& entry : entries)
        addEntry(menu, entry);
}

void MenuRenderer::render(QMenuBar* bar, const MenuNodes& entries)
{
    bar->clear();
    dropRenderedSubmenus(bar);
    for (const MenuNode& entry : entries)
        addEntry(bar, entry);
}

void MenuRenderer::attach(QMenu* menu, std::function<MenuNodes()> provider)
{
    render(menu, provider());
    QObject::connect(menu, &QMenu::aboutToShow, menu, [menu, provider] { render(menu, provider()); });
}

} // namespace corvessa
