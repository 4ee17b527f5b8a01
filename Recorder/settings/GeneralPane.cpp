#include "settings/GeneralPane.h"

#include "platform/DialogPlacement.h"
#include "prefs/Cues.h"
#include "prefs/widgets/FolderChooser.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/widgets/ProfilesPanel.h"
#include "settings/PrefsSwitch.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindow>

namespace corvessa {

namespace {

constexpr int kLanguageWidth = 200;
constexpr int kFolderTextWidth = 320;
constexpr int kPreviewSpacing = 12;

} // namespace

GeneralPane::GeneralPane(Prefs& prefs, ProfileStore& profiles, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    const auto row = [&](const char* title, const char* desc, QWidget* control) {
        layout->addWidget(new SettingRow(Loc::text(QString::fromUtf8(title)), Loc::text(QString::fromUtf8(desc)),
                                         control, this));
    };

    row(Loc::mark("Compact Recording Toolbar"),
        Loc::mark("Use a compact horizontal toolbar with time, pause, stop, and vertical audio meters. Switch anytime "
                  "while recording; your choice is remembered."),
        new PrefsSwitch(prefs, Prefs::Key::compactRecordingBar));
    row(Loc::mark("Language"),
        Loc::mark("Changes apply to new windows right away. Quit and reopen Corvessa to switch everything, including "
                  "the system permission prompts."),
        languagePicker());
    row(Loc::mark("Save Location"), Loc::mark("Your finished videos are saved to this folder."), folderControl());
    row(Loc::mark("Launch Sound"),
        Loc::mark("Plays a soft sound when Corvessa starts and the toolbar appears. It isn't recorded in the video."),
        switchWithPreview(new PrefsSwitch(prefs, Prefs::Key::soundLaunch),
                          [] { Cues::play(Cues::Kind::launch); }));
    row(Loc::mark("Countdown Before Start"),
        Loc::mark("After you click Record, a 3, 2, 1 countdown plays before recording starts."),
        new PrefsSwitch(prefs, Prefs::Key::countdown));
    row(Loc::mark("Countdown Tick Sound"),
        Loc::mark("The countdown ticks once a second, with a different sound at the end. Turn on the countdown first."),
        switchWithPreview(new PrefsSwitch(prefs, Prefs::Key::soundTick),
                          [] { Cues::previewCountdown(); }));
    row(Loc::mark("Start Recording Alert"),
        Loc::mark("Plays a sound before recording starts. It isn't recorded in the video."),
        switchWithPreview(new PrefsSwitch(prefs, Prefs::Key::soundStart),
                          [] { Cues::play(Cues::Kind::start); }));
    row(Loc::mark("Pause / Resume Alert"),
        Loc::mark("A dull thud when you pause and a bright bell when you resume, so you always know the state. It "
                  "isn't recorded in the video."),
        switchWithPreview(new PrefsSwitch(prefs, Prefs::Key::soundPause), [] {
            Cues::play(Cues::Kind::pause);
            QTimer::singleShot(600, [] { Cues::play(Cues::Kind::start); });
        }));
    row(Loc::mark("End Recording Alert"), Loc::mark("Plays a sound after saving. It isn't recorded in the video."),
        switchWithPreview(new PrefsSwitch(prefs, Prefs::Key::soundEnd),
                          [] { Cues::play(Cues::Kind::end); }));

    auto* divider = new QFrame(this);
    divider->setFrameShape(QFrame::HLine);
    divider->setFrameShadow(QFrame::Sunken);
    layout->addSpacing(8);
    layout->addWidget(divider);
    layout->addSpacing(8);

    auto* panel = new ProfilesPanel(profiles, prefs, this);
    panel->setDialogPresenter([](QWidget* dialog) {
        dialog->winId();
        DialogPlacement::present(dialog->windowHandle());
    });
    layout->addWidget(panel);
}

QWidget* GeneralPane::languagePicker()
{
    auto* picker = new QComboBox(this);
    picker->setAccessibleName(QStringLiteral("language"));
    picker->setFixedWidth(kLanguageWidth);
    picker->addItem(Loc::text(QStringLiteral("Follow System")), QStringLiteral("auto"));
    for (const Loc::Lang& lang : Loc::available())
        picker->addItem(lang.name, lang.code);
    const int current = picker->findData(Loc::preference());
    picker->setCurrentIndex(current >= 0 ? current : 0);
    // Only the user's choice switches: the window is rebuilt in the new
    // language once this call has returned.
    connect(picker, &QComboBox::activated, this,
            [picker](int index) { Loc::choose(picker->itemData(index).toString()); });
    return picker;
}

QWidget* GeneralPane::folderControl()
{
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    m_folderText = new QLabel(box);
    m_folderText->setMaximumWidth(kFolderTextWidth);
    m_folderText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    SettingsLayout::greyText(m_folderText);
    m_folderButton = new QPushButton(box);
    connect(m_folderButton, &QPushButton::clicked, this, &GeneralPane::chooseFolder);
    layout->addWidget(m_folderText);
    layout->addWidget(m_folderButton);
    refreshFolder();
    return box;
}

QWidget* GeneralPane::switchWithPreview(QWidget* toggle, std::function<void()> preview)
{
    auto* box = new QWidget(this);
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(kPreviewSpacing);
    toggle->setParent(box);
    layout->addWidget(toggle);
    auto* button = new QPushButton(Loc::text(QStringLiteral("Preview")), box);
    // Plays whatever the switch says.
    connect(button, &QPushButton::clicked, box, [preview = std::move(preview)] { preview(); });
    layout->addWidget(button);
    layout->addStretch();
    return box;
}

void GeneralPane::refreshFolder()
{
    const bool valid = m_prefs.hasValidSaveFolder();
    // Cut at the beginning, so the last folder names stay readable.
    const QString shown = m_prefs.saveFolderDisplay();
    m_folderText->setText(m_folderText->fontMetrics().elidedText(shown, Qt::ElideLeft, kFolderTextWidth));
    m_folderText->setToolTip(shown);
    m_folderButton->setText(valid ? Loc::text(QStringLiteral("Change…")) : Loc::text(QStringLiteral("Choose…")));
}

void GeneralPane::chooseFolder()
{
    if (const auto folder = FolderChooser::ask(window(), m_prefs))
        m_prefs.setSaveFolder(*folder);
    refreshFolder();
}

} // namespace corvessa
