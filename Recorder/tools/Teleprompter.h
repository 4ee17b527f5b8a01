#pragma once

#include "platform/core/GlobalRect.h"
#include "prefs/TeleprompterServices.h"
#include "toolbar/kit/FloatingKit.h"
#include "tools/PrompterPanel.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QRectF>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

class QWindow;

namespace corvessa {

class FloatingSurfaces;
class UserDefaults;

// The teleprompter: a dark floating panel with an editable script that
// scrolls upwards at `speed` points per second while `playing`. Its script,
// speed, opacity and font size live in user defaults, and so does the panel's
// frame. The panel is made on the first show and then only shown and hidden.
// It registers itself as the TeleprompterServices of the program while it
// exists. Main thread.
class Teleprompter : public QObject, public TeleprompterServices {
    Q_OBJECT
public:
    static inline const QString textKey = QStringLiteral("prompterText");
    // The longest script, in characters: some three hours read aloud, laid out
    // in well under a second, and stored in at most 1.2 MB (a character takes
    // at most six bytes in the settings file), far from its 16 MiB limit.
    static constexpr qsizetype maxTextLength = 200000;
    // The script is stored this long after the last edit, and when the panel
    // is hidden or the program ends.
    static constexpr int textSaveDelayMs = 1000;
    // The panel's frame, stored as its GlobalRect's x, y, width and height.
    static inline const QString frameKey = QStringLiteral("prompterFrame");
    static constexpr double tickSeconds = 1.0 / 60;
    // The end counts as reached this close to it.
    static constexpr double endSlack = 0.5;
    // What the sliders offer; other values (a profile, an older store) are kept
    // as long as they leave the script readable (see the sanitised values).
    static constexpr double sliderMinSpeed = 10, sliderMaxSpeed = 200;
    static constexpr double sliderMinFont = 14, sliderMaxFont = 72;
    static constexpr double sliderMinOpacity = 0.3, sliderMaxOpacity = 1.0;
    // Limits that keep the panel and the script visible.
    static constexpr double minOpacity = 0.1;
    static constexpr double minFontSize = 6, maxFontSize = 400;
    static constexpr double defaultWidth = 460, defaultHeight = 300;
    static constexpr double minWidth = 340, minHeight = 160;

    struct Setup {
        // Makes the panel a floating surface and keeps it out of recordings (Stealth::track).
        FloatingKit kit;
        // Whether a recording phase is active: then the panel comes up without
        // taking the keyboard from the recorded program.
        std::function<bool()> recordingActive;
    };

    explicit Teleprompter(Setup setup = {});
    Teleprompter(Setup setup, UserDefaults& defaults);
    ~Teleprompter() override;
    Teleprompter(const Teleprompter&) = delete;
    Teleprompter& operator=(const Teleprompter&) = delete;

    // Non-finite values give the default; speed below 0 is 0; opacity is held
    // to minOpacity ... 1 and the font size to minFontSize ... maxFontSize.
    static double sanitizedSpeed(double value);
    static double sanitizedOpacity(double value);
    static double sanitizedFontSize(double value);

    // TeleprompterServices: each setter stores the sanitised value at once.
    double speed() const override { return m_speed; }
    void setSpeed(double value) override;
    double opacity() const override { return m_opacity; }
    void setOpacity(double value) override;
    double fontSize() const override { return m_fontSize; }
    void setFontSize(double value) override;

    const QString& text() const { return m_text; }
    // The editor's change: kept, and stored textSaveDelayMs later.
    void setText(const QString& text);
    // Stores a script change that is still waiting.
    void saveText();
    // What is stored of a script: no control characters but tabs and line
    // breaks, at most maxTextLength characters.
    static QString storable(const QString& text);

    bool isShown() const { return m_shown; }
    // Makes the panel when needed and brings it up.
    void show();
    // Stops scrolling, orders the panel out and clears isShown.
    void hide();

    bool playing() const { return m_playing; }
    void setPlaying(bool playing);
    // Back to the top of the script; playing goes on.
    void rewind();
    // One scroll step after `seconds`: moves by seconds × speed, at most to the
    // end of the script, and stops playing at the end.
    void advance(double seconds);
    // How far the script is scrolled, in points (fractions kept).
    double scrollOffset() const { return m_offset; }

    PrompterPanel* panel() const { return m_panel; }

    // Called with the new value whenever isShown changes.
    std::function<void(bool)> onShownChanged;

signals:
    // Something the panel shows changed (playing, speed, opacity, font size).
    void changed();

private:
    void createPanel();
    void setShown(bool shown);
    void tick();
    void storeFrame();
    GlobalRect restoredFrame() const;

    Setup m_setup;
    UserDefaults& m_defaults;
    bool m_shown = false;
    bool m_playing = false;
    double m_speed;
    double m_opacity;
    double m_fontSize;
    QString m_text;
    QPointer<PrompterPanel> m_panel;
    QTimer m_timer;
    QTimer m_frameSave;
    QTimer m_textSave;
    bool m_textUnsaved = false;
    QElapsedTimer m_last;
    double m_offset = 0;
    // The scroll bar's value as last set here; another value means the user scrolled.
    int m_shownOffset = 0;
};

} // namespace corvessa
