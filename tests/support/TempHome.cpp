#include "support/TempHome.h"

#include "platform/core/UserDefaults.h"

#include <cstdlib>

namespace corvessa::test {

namespace {
const char* const kVars[] = {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR"};
}

TempHome::TempHome()
{
    for (const char* v : kVars)
        m_saved[v] = {qEnvironmentVariableIsSet(v), qgetenv(v)};
    const QByteArray home = m_dir.path().toLocal8Bit();
    qputenv("HOME", home);
    qunsetenv("XDG_CONFIG_HOME");
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_STATE_HOME");
    UserDefaults::reopenStandard();
}

TempHome::~TempHome()
{
    for (const auto& [name, value] : m_saved) {
        if (value.first)
            qputenv(name.c_str(), value.second);
        else
            qunsetenv(name.c_str());
    }
    UserDefaults::reopenStandard();
}

} // namespace corvessa::test
