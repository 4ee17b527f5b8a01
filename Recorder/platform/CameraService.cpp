#include "platform/CameraService.h"

#include "platform/synthetic/SyntheticCameraService.h"
#include "platform/v4l2/V4L2CameraService.h"

#include <QByteArray>

#include <mutex>

namespace corvessa {

namespace {
std::mutex g_mutex;
std::shared_ptr<CameraService> g_current;
} // namespace

std::shared_ptr<CameraService> CameraService::current()
{
    std::lock_guard lock(g_mutex);
    if (!g_current) {
        // A machine without a camera still gets the real service: it lists
        // nothing and notices a camera plugged in later.
        if (qgetenv("CORVESSA_CAMERA") == "synthetic")
            g_current = std::make_shared<SyntheticCameraService>();
        else
            g_current = std::make_shared<V4L2CameraService>();
    }
    return g_current;
}

void CameraService::setCurrent(std::shared_ptr<CameraService> service)
{
    std::lock_guard lock(g_mutex);
    g_current = std::move(service);
}

} // namespace corvessa
