#include "app/MainMenu.h"

#include "app/MenuBuilders.h"
#include "app/MenuRenderer.h"
#include "prefs/LocNotifier.h"

#include <QLayout>
#include <QMainWindow>
#include <QMenuBar>

namespace corvessa {

QMenuBar* MainMenu::install(QWidget* window, std::shared_ptr<const MenuBuilders> builders)
{
    QMenuBar* bar = nullptr;
    if (auto* main = qobject_cast<QMainWindow*>(window)) {
        bar = main->menuBar();
    } else {
        bar = new QMenuBar(window);
        if (window->layout())
            window->layout()->setMenuBar(bar);
        else
            bar->setGeometry(0, 0, window->width(), bar->sizeHint().height());
    }
    // The bar shows in the window itself, not in a desktop-wide menu.
    bar->setNativeMenuBar(false);
    MenuRenderer::render(bar, builders->mainMenu());
    QObject::connect(&LocNotifier::instance(), &LocNotifier::languageChanged, bar,
                     [bar, builders] { MenuRenderer::render(bar, builders->mainMenu()); });
    return bar;
}

} // namespace corvessa
