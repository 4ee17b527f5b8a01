#include "platform/x11/X11ConnectionLoss.h"

#include <QString>
#include <QtGlobal>

#include <mutex>
#include <utility>
#include <unordered_map>

#include <dlfcn.h>

#include <X11/Xlib.h>

namespace corvessa {

namespace {

// libX11 1.7 and later call a connection's exit handler after the I/O error
// handler; the default one exits. Looked up at run time, so an older library
// still loads (and exits on a loss, as it always did).
using ExitHandler = void (*)(Display*, void*);
using SetExitHandler = void (*)(Display*, ExitHandler, void*);

struct Connection {
    int opens = 0; // a freed Display's address may be handed out again before forget()
    bool lost = false;
};

struct Registry {
    std::mutex mutex;
    std::unordered_map<Display*, Connection> connections;
    XIOErrorHandler previous = nullptr;
    std::function<void()> toolkitLoss; // taken (and so run once) by the first report
    QtMessageHandler previousMessages = nullptr;
};

// Never destroyed: a connection may break while the program exits.
Registry& registry()
{
    static auto* r = new Registry;
    return *r;
}

SetExitHandler setExitHandler()
{
    static const auto f = reinterpret_cast<SetExitHandler>(dlsym(RTLD_DEFAULT, "XSetIOErrorExitHandler"));
    return f;
}

// Called with the display unlocked: nothing here may call Xlib on it.
void markLost(Display* display, void*)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    if (const auto it = r.connections.find(display); it != r.connections.end())
        it->second.lost = true;
}

void reportToolkitLoss()
{
    Registry& r = registry();
    std::function<void()> handler;
    {
        std::lock_guard lock(r.mutex);
        handler = std::exchange(r.toolkitLoss, nullptr);
    }
    if (handler)
        handler();
}

int handleIOError(Display* display)
{
    Registry& r = registry();
    XIOErrorHandler previous = nullptr;
    {
        std::lock_guard lock(r.mutex);
        if (r.connections.contains(display))
            return 0; // the exit handler, markLost, follows
        previous = r.previous;
    }
    reportToolkitLoss();
    return previous ? previous(display) : 0;
}

// Ours first, with the one found behind it kept for the connections we did
// not open. Set again at every open: a toolkit that set its own since then
// keeps it, behind ours.
void installIOErrorHandler(Registry& r)
{
    const XIOErrorHandler current = XSetIOErrorHandler(&handleIOError);
    if (current != &handleIOError) {
        std::lock_guard lock(r.mutex);
        r.previous = current;
    }
}

// Qt's xcb connection says this just before it calls exit().
void handleMessage(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke")))
        reportToolkitLoss();
    if (const QtMessageHandler previous = registry().previousMessages)
        previous(type, context, message);
}

} // namespace

void X11ConnectionLoss::watch(_XDisplay* display)
{
    if (!display)
        return;
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        Connection& c = r.connections[display];
        c.opens += 1;
        c.lost = false;
    }
    if (const SetExitHandler set = setExitHandler())
        set(display, &markLost, nullptr);
    installIOErrorHandler(r);
}

void X11ConnectionLoss::forget(_XDisplay* display)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.connections.find(display);
    if (it != r.connections.end() && --it->second.opens <= 0)
        r.connections.erase(it);
}

bool X11ConnectionLoss::isLost(_XDisplay* display)
{
    Registry& r = registry();
    std::lock_guard lock(r.mutex);
    const auto it = r.connections.find(display);
    return it != r.connections.end() && it->second.lost;
}

bool X11ConnectionLoss::isSurvivable()
{
    return setExitHandler() != nullptr;
}

void X11ConnectionLoss::onToolkitLoss(std::function<void()> handler)
{
    Registry& r = registry();
    {
        std::lock_guard lock(r.mutex);
        r.toolkitLoss = std::move(handler);
    }
    // Installed once; Qt hands back its default handler when none was set,
    // so the chain ends there.
    static const QtMessageHandler previous = qInstallMessageHandler(&handleMessage);
    r.previousMessages = previous;
    installIOErrorHandler(r);
}

} // namespace corvessa
