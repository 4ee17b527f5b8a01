#include "platform/core/XdgPaths.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTextStream>

#include <pwd.h>
#include <unistd.h>

namespace corvessa {

namespace {

QString env(const char* name)
{
    return QString::fromLocal8Bit(qgetenv(name));
}

// An XDG base directory: the variable when it holds an absolute path, else the
// fallback below the home folder.
QString baseDir(const char* var, const char* fallback)
{
    const QString v = env(var);
    if (!v.isEmpty() && QDir::isAbsolutePath(v))
        return QDir::cleanPath(v);
    return QDir::cleanPath(XdgPaths::home() + QLatin1Char('/') + QLatin1String(fallback));
}

} // namespace

QString XdgPaths::home()
{
    const QString h = env("HOME");
    if (!h.isEmpty())
        return QDir::cleanPath(h);
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
        return QDir::cleanPath(QString::fromLocal8Bit(pw->pw_dir));
    return QDir::rootPath();
}

QString XdgPaths::configHome() { return baseDir("XDG_CONFIG_HOME", ".config"); }
QString XdgPaths::dataHome() { return baseDir("XDG_DATA_HOME", ".local/share"); }
QString XdgPaths::stateHome() { return baseDir("XDG_STATE_HOME", ".local/state"); }

QString XdgPaths::videosDir()
{
    // user-dirs.dirs holds lines like XDG_VIDEOS_DIR="$HOME/Videos".
    QFile f(configHome() + QStringLiteral("/user-dirs.dirs"));
    if (f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        static const QRegularExpression line(QStringLiteral("^\\s*XDG_VIDEOS_DIR\\s*=\\s*\"(.*)\"\\s*$"));
        QTextStream in(&f);
        while (!in.atEnd()) {
            const auto m = line.match(in.readLine());
            if (!m.hasMatch())
                continue;
            QString v = m.captured(1);
            v.replace(QStringLiteral("$HOME"), home());
            if (QDir::isAbsolutePath(v) && QDir::cleanPath(v) != home())
                return QDir::cleanPath(v);
        }
    }
    return home() + QStringLiteral("/Videos");
}

QString XdgPaths::defaultsFile() { return configHome() + QStringLiteral("/Recorder/defaults.json"); }
QString XdgPaths::logDir() { return stateHome() + QStringLiteral("/Recorder"); }
QString XdgPaths::logFile() { return logDir() + QStringLiteral("/recorder.log"); }
QString XdgPaths::appSupportDir() { return dataHome() + QStringLiteral("/Recorder"); }
QString XdgPaths::recoveryDir() { return appSupportDir() + QStringLiteral("/Recovery"); }
QString XdgPaths::profilesDir() { return appSupportDir() + QStringLiteral("/Profiles"); }

} // namespace corvessa
