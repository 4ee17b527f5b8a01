#include "settings/ShortcutsPane.h"

#include "prefs/KeyBinding.h"
#include "prefs/widgets/KeyRecorderButton.h"
#include "prefs/Loc.h"
#include "prefs/Prefs.h"
#include "prefs/ShortcutCapture.h"
#include "settings/PrefsSwitch.h"
#include "settings/PrefsWatch.h"
#include "settings/SettingRow.h"
#include "settings/SettingsLayout.h"
#include "settings/ShortcutKeyFilter.h"
#include "toolbar/kit/Symbols.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QToolButton>
#include <QVBoxLayout>

namespace corvessa {

namespace {

QLabel* note(const QString& text, const QColor& colour, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setContentsMargins(SettingsLayout::controlIndent, 10, 0, 0);
    QFont callout = label->font();
    callout.setPixelSize(12);
    label->setFont(callout);
    SettingsLayout::setTextColour(label, colour);
    return label;
}

} // namespace

ShortcutsPane::ShortcutsPane(Prefs& prefs, HotKeyCenter& center, QWidget* parent)
    : QWidget(parent)
    , m_prefs(prefs)
    , m_capture(new ShortcutCapture(prefs, center, this))
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(new SettingRow(
        Loc::text(QStringLiteral("Show Shortcut Hints")),
        Loc::text(QStringLiteral("Shows the shortcuts for what you're doing above the toolbar, and updates when you "
                                 "change them here. Press Esc to leave the magnifier, pen, or teleprompter.")),
        new PrefsSwitch(prefs, Prefs::Key::showShortcutHints),
        this));

    for (HotKeyAction action : HotKeyActions::allCases()) {
        auto* box = new QWidget(this);
        auto* line = new QHBoxLayout(box);
        line->setContentsMargins(0, 0, 0, 0);
        line->addWidget(new KeyRecorderButton(action, prefs, *m_capture, box));
        auto* resetButton = new QToolButton(box);
        resetButton->setAutoRaise(true);
        resetButton->setIcon(Symbols::icon(QStringLiteral("arrow.counterclockwise")));
        resetButton->setToolTip(Loc::text(QStringLiteral("Reset to Defaults")));
        resetButton->setAccessibleName(QStringLiteral("reset.") + HotKeyActions::rawValue(action));
        connect(resetButton, &QToolButton::clicked, this, [this, action] { reset(action); });
        line->addWidget(resetButton);
        line->addStretch();
        layout->addWidget(new SettingRow(HotKeyActions::title(action), {}, box, this));
    }

    m_message = note({}, SettingsLayout::orange, this);
    layout->addWidget(m_message);
    layout->addWidget(note(Loc::text(QStringLiteral(
                               "Click the button, then press your new shortcut. It must include ⌘ or ⌃.")),
                           palette().color(QPalette::PlaceholderText), this));
    PrefsWatch::on(this, prefs, {Prefs::Key::hotkeyMessage}, [this] {
        const auto& message = m_prefs.hotkeyMessage();
        m_message->setText(message.value_or(QString()));
        m_message->setVisible(message.has_value());
        // The line sits under all fifteen rows: scrolled off while the user
        // works on a row higher up, it would say nothing.
        if (message)
            SettingsLayout::bringIntoView(m_message);
    });
    m_filter = new ShortcutKeyFilter(*m_capture, this, this);
}

ShortcutsPane::~ShortcutsPane()
{
    m_filter->setActive(false);
}

void ShortcutsPane::reset(HotKeyAction action)
{
    m_capture->set(action, KeyBinding::defaultFor(action).keyCode, KeyBinding::control | KeyBinding::option);
}

void ShortcutsPane::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    m_filter->setActive(true);
}

void ShortcutsPane::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    m_filter->setActive(false);
    m_capture->setRecording(std::nullopt);
}

} // namespace corvessa
