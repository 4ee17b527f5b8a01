#include "settings/SettingsView.h"

#include "platform/DesktopSettingsProgram.h"
#include "prefs/HotKeyCenter.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ProfileStore.h"
#include "settings/AboutPane.h"
#include "settings/AudioPane.h"
#include "settings/CameraControlsDialog.h"
#include "settings/CameraPane.h"
#include "settings/CursorPane.h"
#include "settings/GeneralPane.h"
#include "settings/MagnifierPane.h"
#include "settings/PenPane.h"
#include "settings/PermissionsPane.h"
#include "settings/PrefsWatch.h"
#include "settings/RecordingPane.h"
#include "settings/SettingsLayout.h"
#include "settings/ShortcutsPane.h"

#include <QGraphicsOpacityEffect>
#include <QScrollArea>
#include <QVBoxLayout>

#include <cmath>

namespace corvessa {

namespace {

QWidget* banner(QWidget* parent)
{
    return SettingsLayout::warningLine(QStringLiteral("lock.fill"), 14,
                                       Loc::text(QStringLiteral("Recording in progress. Settings on this page take "
                                                                "effect on your next recording and can't be changed "
                                                                "now.")),
                                       parent);
}

} // namespace

SettingsView::SettingsView(SettingsPane pane, Prefs& prefs, const SettingsServices& services, QWidget* parent)
    : QWidget(parent)
    , m_pane(pane)
    , m_prefs(prefs)
{
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    m_scroll = scroll;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    limitPage(QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    outer->addWidget(scroll);

    auto* column = new QWidget(scroll);
    auto* stack = new QVBoxLayout(column);
    stack->setContentsMargins(28, 20, 28, 20);
    stack->setSpacing(10);
    if (SettingsPanes::locksWhileRecording(pane)) {
        m_banner = banner(column);
        stack->addWidget(m_banner);
    }
    m_content = makeContent(services);
    m_content->setParent(column);
    stack->addWidget(m_content);
    stack->addStretch();
    scroll->setWidget(column);

    if (m_banner)
        PrefsWatch::on(this, prefs, {Prefs::Key::isRecording}, [this] { refreshLock(); });
}

void SettingsView::limitPage(const QSize& most)
{
    // Never so small that nothing of a row shows.
    constexpr int kSmallest = 160;
    const QSize wanted(int(std::ceil(SettingsLayout::windowWidth())), SettingsLayout::pageHeight);
    const QSize page = wanted.boundedTo(most).expandedTo(QSize(kSmallest, kSmallest)).boundedTo(wanted);
    m_scroll->setFixedSize(page);
    m_scroll->setHorizontalScrollBarPolicy(page.width() < wanted.width() ? Qt::ScrollBarAsNeeded
                                                                         : Qt::ScrollBarAlwaysOff);
}

QSize SettingsView::pageSize() const
{
    return m_scroll->maximumSize();
}

bool SettingsView::isLocked() const
{
    return SettingsPanes::locksWhileRecording(m_pane) && m_prefs.isRecording();
}

QWidget* SettingsView::makeContent(const SettingsServices& services)
{
    switch (m_pane) {
    case SettingsPane::general:
        return new GeneralPane(m_prefs, services.profiles ? *services.profiles : ProfileStore::shared());
    case SettingsPane::recording:
        return new RecordingPane(m_prefs, services.model);
    case SettingsPane::audio:
        // Without a recorder model the pane has nothing to show.
        return services.model ? static_cast<QWidget*>(new AudioPane(*services.model)) : new QWidget;
    case SettingsPane::cursor:
        return new CursorPane(m_prefs);
    case SettingsPane::focus:
        return new MagnifierPane(m_prefs);
    case SettingsPane::pen:
        return new PenPane(m_prefs);
    case SettingsPane::shortcuts:
        return new ShortcutsPane(m_prefs, services.hotKeys ? *services.hotKeys : HotKeyCenter::shared());
    case SettingsPane::camera:
        return new CameraPane(m_prefs, services.model,
                              [model = services.model, registerWindow = services.registerWindow](QWidget* from) {
                                  CameraControlsDialog::open(from, model, registerWindow);
                              });
    case SettingsPane::permissions:
        return new PermissionsPane(Permissions::current(), services.model, DesktopSettingsProgram::find());
    case SettingsPane::about:
        return new AboutPane(LinkActions(services.openLink));
    }
    // Every pane has its case above.
    return nullptr;
}

void SettingsView::refreshLock()
{
    const bool locked = isLocked();
    m_banner->setVisible(locked);
    m_content->setEnabled(!locked);
    if (locked) {
        auto* faint = new QGraphicsOpacityEffect(m_content);
        faint->setOpacity(0.5);
        m_content->setGraphicsEffect(faint);
    } else {
        m_content->setGraphicsEffect(nullptr);
    }
}

} // namespace corvessa
