#include "prefs/widgets/KeyRecorderButton.h"

#include "prefs/Loc.h"
#include "prefs/LocNotifier.h"
#include "prefs/Prefs.h"
#include "prefs/ShortcutCapture.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QKeyEvent>
#include <QPalette>

#include <algorithm>

namespace corvessa {

namespace {

// The system orange of the other platform's controls, kept for the capture state.
const QColor kCaptureColor(255, 149, 0);

// A face whose glyphs really are all one width. The theme's fixed font comes
// first, but platforms without a theme hand back the proportional one, and the
// "monospace" alias may resolve to a proportional face when the machine's
// fonts do not match what it names; so every candidate is checked against the
// face it resolves to, down to the first fixed-pitch family installed.
QFont monospacedFont()
{
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    if (QFontInfo(font).fixedPitch())
        return font;
    font.setFamilies({QStringLiteral("monospace")});
    font.setStyleHint(QFont::TypeWriter);
    font.setFixedPitch(true);
    if (QFontInfo(font).fixedPitch())
        return font;
    for (const QString& family : QFontDatabase::families()) {
        if (!QFontDatabase::isFixedPitch(family) || QFontDatabase::isPrivateFamily(family))
            continue;
        QFont candidate = font;
        candidate.setFamilies({family});
        if (QFontInfo(candidate).fixedPitch())
            return candidate;
    }
    return font; // no fixed-pitch face installed at all
}

} // namespace

KeyRecorderButton::KeyRecorderButton(HotKeyAction action, Prefs& prefs, ShortcutCapture& capture, QWidget* parent)
    : QPushButton(parent)
    , m_action(action)
    , m_prefs(prefs)
    , m_capture(capture)
{
    // Body size in the monospaced face, so Ctrl+Alt+P and Ctrl+Alt+W line up in the list.
    QFont font = monospacedFont();
    const QFont body = QApplication::font();
    if (body.pointSizeF() > 0)
        font.setPointSizeF(body.pointSizeF());
    setFont(font);

    connect(this, &QPushButton::clicked, this, &KeyRecorderButton::toggleCapture);
    connect(&m_capture, &ShortcutCapture::recordingChanged, this, &KeyRecorderButton::refresh);
    connect(&m_prefs, &Prefs::changed, this, [this](Prefs::Key key) {
        if (key == Prefs::Key::bindings)
            refresh();
    });
    connect(&LocNotifier::instance(), &LocNotifier::languageChanged, this, &KeyRecorderButton::refresh);
    refresh();
}

bool KeyRecorderButton::isCapturing() const
{
    return m_capture.recording() == m_action;
}

void KeyRecorderButton::toggleCapture()
{
    // Clicking another button while one captures moves the capture here.
    m_capture.setRecording(isCapturing() ? std::nullopt : std::optional(m_action));
    m_prefs.setHotkeyMessage(std::nullopt);
}

void KeyRecorderButton::refresh()
{
    QPalette palette = QApplication::palette(this);
    if (isCapturing()) {
        setText(Loc::text(QStringLiteral("Press New Shortcut…")));
        palette.setColor(QPalette::Button, kCaptureColor);
        palette.setColor(QPalette::ButtonText, Qt::white);
    } else {
        const KeyBindingMap& bindings = m_prefs.bindings();
        auto it = bindings.find(m_action);
        setText(it != bindings.end() ? it->second.display() : Loc::text(QStringLiteral("Not Set")));
    }
    // A long combination ("Ctrl+Alt+Shift+Super+F12") widens its button rather
    // than being cut.
    setFixedWidth(std::max(buttonWidth, fontMetrics().horizontalAdvance(text()) + textMargins));
    setPalette(palette);
}

bool KeyRecorderButton::event(QEvent* event)
{
    if (m_capture.recording()) {
        switch (event->type()) {
        case QEvent::ShortcutOverride:
            // Menu and window shortcuts must not eat the combination being typed.
            event->accept();
            return true;
        case QEvent::KeyPress:
            // Before QWidget::event, which would turn Tab into a focus move.
            if (m_capture.handle(*static_cast<QKeyEvent*>(event)))
                return true;
            break;
        default:
            break;
        }
    }
    return QPushButton::event(event);
}

} // namespace corvessa
