#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QLabel;
class QVBoxLayout;

namespace corvessa {

class Prefs;
class ProfileStore;

// The user's whole interface to profiles, a block of controls for the settings
// window's General pane: the profiles with their active and default marks,
// saving the current settings as a new profile, and per profile loading,
// updating, renaming, marking as default, revealing and deleting; below them the
// store's status line and the profiles folder with "Change…" and "Show in Finder" (it reads "Show in Folder").
//
// It keeps no state of its own: it is rebuilt whenever the store, the recording
// flag or the interface language changes, and every status line comes from the
// store. Its dialogs (a name prompt and a folder chooser) are modal and are our
// own windows, so the settings window can keep them out of recordings through
// the dialog presenter.
//
// Main thread only.
class ProfilesPanel : public QWidget {
    Q_OBJECT
public:
    // Called with each dialog just before it is shown modally, to place it and
    // register it as one of the program's own windows.
    using DialogPresenter = std::function<void(QWidget* dialog)>;
    // Shows a folder (select false) or a file in its folder (select true) in the
    // file manager, then tells (on the main thread) whether anything showed it.
    using Revealer = std::function<void(const QString& path, bool select, std::function<void(bool shown)> done)>;

    ProfilesPanel(ProfileStore& store, Prefs& prefs, QWidget* parent = nullptr);
    ~ProfilesPanel() override;

    void setDialogPresenter(DialogPresenter presenter);
    void setRevealer(Revealer revealer);

    // The folder as shown: the home folder as "~", the rest unchanged.
    static QString displayPath(const QString& folder);

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Shows a folder or a file; says on the status line when nothing could.
    void reveal(const QString& path, bool select);

    void rebuild();
    QWidget* header();
    QWidget* list();
    QWidget* row(const QString& name);
    QWidget* folderRow();
    void updateFolderText();

    // The name prompt; none when it was cancelled.
    std::optional<QString> askForName(const QString& title, const QString& informative, const QString& accept,
                                      const QString& proposed);
    void newProfile();
    void renameProfile(const QString& name);
    void updateProfile(const QString& name);
    void chooseFolder();

    ProfileStore& m_store;
    Prefs& m_prefs;
    DialogPresenter m_presenter;
    Revealer m_revealer;
    QVBoxLayout* m_layout = nullptr;
    QWidget* m_content = nullptr;
    QLabel* m_folderLabel = nullptr;
};

} // namespace corvessa
