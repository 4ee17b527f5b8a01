#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <map>
#include <string>

namespace corvessa::test {

// Points HOME and the XDG folders at a fresh temporary directory for the life of
// the object, reopens the standard defaults store there, and restores everything
// afterwards.
class TempHome {
public:
    TempHome();
    ~TempHome();
    TempHome(const TempHome&) = delete;
    TempHome& operator=(const TempHome&) = delete;

    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.filePath(relative); }

private:
    QTemporaryDir m_dir;
    std::map<std::string, std::pair<bool, QByteArray>> m_saved;
};

} // namespace corvessa::test
