#include "prefs/RecorderModelServices.h"

namespace corvessa {

namespace {
RecorderModelServices* g_shared = nullptr;
}

RecorderModelServices* RecorderModelServices::shared()
{
    return g_shared;
}

void RecorderModelServices::setShared(RecorderModelServices* services)
{
    g_shared = services;
}

} // namespace corvessa
