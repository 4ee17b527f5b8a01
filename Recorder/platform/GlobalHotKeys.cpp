#include "platform/GlobalHotKeys.h"

#include "platform/synthetic/SyntheticGlobalHotKeys.h"
#include "platform/x11/X11GlobalHotKeys.h"

#include <cstdio>

namespace corvessa {

namespace {

// Main thread only, like the service itself.
std::shared_ptr<GlobalHotKeys>& currentService()
{
    static std::shared_ptr<GlobalHotKeys> service;
    return service;
}

} // namespace

std::shared_ptr<GlobalHotKeys> GlobalHotKeys::current()
{
    std::shared_ptr<GlobalHotKeys>& service = currentService();
    if (!service) {
        auto x11 = std::make_shared<X11GlobalHotKeys>();
        if (x11->isConnected()) {
            service = std::move(x11);
        } else {
            std::fprintf(stderr, "[hotkeys] no X display: global shortcuts are off\n");
            service = std::make_shared<SyntheticGlobalHotKeys>();
        }
    }
    return service;
}

void GlobalHotKeys::setCurrent(std::shared_ptr<GlobalHotKeys> service)
{
    currentService() = std::move(service);
}

} // namespace corvessa
