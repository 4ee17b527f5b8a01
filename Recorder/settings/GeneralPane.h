#pragma once

#include <QWidget>

class QComboBox;
class QLabel;
class QPushButton;

namespace corvessa {

class Prefs;
class ProfileStore;

// The first pane: the compact toolbar, the interface language, the recordings
// folder, the sound cues with their previews, the countdown, and the profiles.
// Main thread.
class GeneralPane : public QWidget {
    Q_OBJECT
public:
    GeneralPane(Prefs& prefs, ProfileStore& profiles, QWidget* parent = nullptr);

private:
    QWidget* languagePicker();
    QWidget* folderControl();
    QWidget* switchWithPreview(QWidget* toggle, std::function<void()> preview);
    void refreshFolder();
    void chooseFolder();

    Prefs& m_prefs;
    QLabel* m_folderText = nullptr;
    QPushButton* m_folderButton = nullptr;
};

} // namespace corvessa
