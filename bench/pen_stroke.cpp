// What one pointer move of a long pen stroke costs, on a private Xvfb at
// 1920x1080 without a compositing manager (the canvas then keeps the desktop
// live around its ink): 2,000 moves of 4 pixels each, zigzagging across the
// screen with the pencil at width 6, each handled as the event loop handles a
// real one (the view's handling, its repaint and the flush to the server, and
// whatever the canvas tells the server besides). Prints microseconds per move:
// wall time, this process's CPU and the X server's CPU; then the same for a
// stroke with the eraser over the ink.
//
// Options: --moves N.
#include "engine/compositor/PenBoard.h"
#include "platform/DisplayList.h"
#include "prefs/Prefs.h"
#include "tools/PenOverlay.h"
#include "tools/PenView.h"

#include "BenchRig.h"

#include <QApplication>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <cstring>

using namespace corvessa;
using benchrig::Clock;
using benchrig::otherCpu;
using benchrig::processCpu;

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kStep = 4; // pixels per move, a brisk hand at 120 events a second

// The i-th point of a zigzag across the screen: rows 40 pixels apart, so the
// stroke's ink spreads over the whole canvas as the moves go on.
QPoint zigzag(int i)
{
    const int span = kWidth - 200;
    const int along = i * kStep;
    const int row = along / span;
    const int x = row % 2 == 0 ? 100 + along % span : 100 + span - along % span;
    return {x, 100 + (row * 40) % (kHeight - 200)};
}

void send(QWidget* view, QEvent::Type type, const QPoint& p, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(p), QPointF(p), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(view, &event);
}

struct Figures {
    double wallUs = 0, cpuUs = 0, serverUs = 0;
};

// One stroke of `moves` moves, each followed by one pass of the event loop.
Figures stroke(QWidget* view, int moves, int offset, pid_t server)
{
    const double cpu0 = processCpu();
    const double server0 = otherCpu(server);
    const auto wall0 = Clock::now();
    send(view, QEvent::MouseButtonPress, zigzag(offset), Qt::LeftButton, Qt::LeftButton);
    QCoreApplication::processEvents();
    for (int i = 1; i <= moves; ++i) {
        send(view, QEvent::MouseMove, zigzag(offset + i), Qt::NoButton, Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    send(view, QEvent::MouseButtonRelease, zigzag(offset + moves), Qt::LeftButton, Qt::NoButton);
    QCoreApplication::processEvents();
    // Until the server has carried out every request.
    benchrig::spin(0.3);
    const double wall = std::chrono::duration<double>(Clock::now() - wall0).count() - 0.3;
    return {wall / moves * 1e6, (processCpu() - cpu0) / moves * 1e6, (otherCpu(server) - server0) / moves * 1e6};
}

} // namespace

int main(int argc, char** argv)
{
    int moves = 2000;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--moves") && i + 1 < argc)
            moves = std::atoi(argv[++i]);
    }
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + QStringLiteral("/.config")).toUtf8());
    benchrig::Children children;
    if (benchrig::startXvfb(children, "1920x1080x24").isEmpty())
        return 1;
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);

    Prefs::shared().setPenTool(0);
    Prefs::shared().setPenWidth(6);
    const auto display = DisplayList::current()->primary();
    if (!display) {
        std::fprintf(stderr, "no display\n");
        return 1;
    }
    PenOverlay overlay;
    overlay.show(*display);
    PenView* view = overlay.view();
    const auto shownBy = Clock::now() + std::chrono::seconds(10);
    while (!(view->windowHandle() && view->windowHandle()->isExposed()) && Clock::now() < shownBy)
        benchrig::spin(0.05);
    benchrig::spin(0.5);

    std::printf("pen stroke of %d moves of %d px at width 6, %dx%d, no compositing manager\n", moves, kStep, kWidth,
                kHeight);
    const Figures pencil = stroke(view, moves, 0, children.pids.front());
    std::printf("pencil: %.1f us wall, %.1f us CPU, %.1f us X server CPU per move\n", pencil.wallUs, pencil.cpuUs,
                pencil.serverUs);
    Prefs::shared().setPenTool(5);
    const Figures eraser = stroke(view, moves, moves / 2, children.pids.front());
    std::printf("eraser: %.1f us wall, %.1f us CPU, %.1f us X server CPU per move\n", eraser.wallUs, eraser.cpuUs,
                eraser.serverUs);
    overlay.hide();
    return 0;
}
