#pragma once

#include <QList>
#include <QStringList>
#include <QUrl>

#include <functional>
#include <memory>

namespace corvessa {

// Shows files to the user in the desktop's file manager. Backend:
// FileManagerReveal (org.freedesktop.FileManager1 on the session bus, else the
// folders opened by the desktop's default handler), which serves on any
// machine; tests install their own. Main thread; calls return at once.
class FileReveal {
public:
    // How a request went, told once on the main thread: true when a file
    // manager or a folder's handler took it.
    using Done = std::function<void(bool shown)>;

    virtual ~FileReveal() = default;

    // Shows the files selected in their folders.
    virtual void showItems(const QStringList& paths, Done done = {}) = 0;
    // Opens a folder in whatever handles folders.
    virtual void openFolder(const QString& path, Done done = {}) = 0;

    // The folders holding the files, each once, in the order of the files.
    static QList<QUrl> folders(const QStringList& paths);

    // The process-wide service; setCurrent(nullptr) goes back to the automatic choice.
    static std::shared_ptr<FileReveal> current();
    static void setCurrent(std::shared_ptr<FileReveal> reveal);
};

} // namespace corvessa
