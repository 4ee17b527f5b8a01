#pragma once

#include "capture/VideoDimensions.h"
#include "prefs/KeyBinding.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <optional>
#include <variant>

namespace corvessa {

// The user's settings while the program runs and between runs. What is known
// of each stored setting (its user-defaults key, default, start-up check,
// migration of older stored forms and profile check) is one row of PrefsTable;
// the start-up read, snapshot() and apply() walk that table. Every assignment is
// written through to user defaults at once and announced with changed(key).
//
// Setters publish and store exactly what they are given: values are brought into
// range only at the next start-up (or by a profile apply). Code that would break
// on a wild value uses the checked accessors (engineFps(), bitRateMbps(), and
// VideoQuality::index() for the tier).
//
// One shared instance; main thread only.
class Prefs : public QObject {
    Q_OBJECT
public:
    // What changed() announces. The enumerators are the property names; the
    // stored settings come first, in the order of the settings table.
    enum class Key {
        fps, qualityTier, customMbps, outputSize, countdown, soundTick, soundStart, soundEnd, compactRecordingBar,
        cursorTheme, cursorArt, cursorArrow, cursorSize, cursorSizeSys, shadowUp, shadowDown, focusFrac, focusLive,
        focusCrisp, focusSpeed, focusMode, penTool, penWidth, penColor, cameraRes, cameraSizeID, cameraFPS,
        cameraFrameRate, cameraBurn, cameraMirrored, cameraShape, cameraRadius, cameraPreviewW, showShortcutHints,
        soundPause, soundLaunch,
        // Not in the table: a bookmark, a JSON map and two run-time values.
        saveFolder, bindings, hotkeyMessage, isRecording,
    };
    Q_ENUM(Key)
    static constexpr int storedCount = int(Key::soundLaunch) + 1;
    // A stored setting's value; its type is the setting's (text for cameraSizeID).
    using Value = std::variant<int, double, bool, QString>;

    // The property name, as observers and profiles know it ("fps", "outputSize", "bindings").
    static QString name(Key key);

    static Prefs& shared();
    // Drops the shared instance and reads a new one from the current defaults
    // store. For tests that switch HOME; references to the old instance dangle.
    static void resetShared();

    ~Prefs() override;

    // Any stored setting by its key, for code that handles settings alike (the
    // settings panes' switches). set() is what every named setter does; the
    // value must have the setting's type.
    const Value& value(Key key) const { return m_values.at(size_t(key)); }
    void set(Key key, Value value);

    // ---- Persisted settings ----

    // The recordings folder's path, "" when none is usable. Changed only through
    // setSaveFolder() and hasValidSaveFolder().
    const QString& saveFolder() const { return m_saveFolder; }

    int fps() const { return get<int>(Key::fps); }
    void setFps(int value) { set(Key::fps, value); }
    // 0 Low, 1 Medium, 2 High, 3 Custom; any other value counts as Custom.
    int qualityTier() const { return get<int>(Key::qualityTier); }
    void setQualityTier(int value) { set(Key::qualityTier, value); }
    double customMbps() const { return get<double>(Key::customMbps); }
    void setCustomMbps(double value) { set(Key::customMbps, value); }
    // Short side of the output in pixels; below 1 is native size.
    int outputSize() const { return get<int>(Key::outputSize); }
    void setOutputSize(int value) { set(Key::outputSize, value); }

    int cameraRes() const { return get<int>(Key::cameraRes); }
    void setCameraRes(int value) { set(Key::cameraRes, value); }
    // A size id such as "1280x720".
    const QString& cameraSizeID() const { return get<QString>(Key::cameraSizeID); }
    void setCameraSizeID(const QString& value) { set(Key::cameraSizeID, value); }
    double cameraFrameRate() const { return get<double>(Key::cameraFrameRate); }
    void setCameraFrameRate(double value) { set(Key::cameraFrameRate, value); }
    bool cameraBurn() const { return get<bool>(Key::cameraBurn); }
    void setCameraBurn(bool value) { set(Key::cameraBurn, value); }
    bool cameraMirrored() const { return get<bool>(Key::cameraMirrored); }
    void setCameraMirrored(bool value) { set(Key::cameraMirrored, value); }
    int cameraShape() const { return get<int>(Key::cameraShape); }
    void setCameraShape(int value) { set(Key::cameraShape, value); }
    double cameraRadius() const { return get<double>(Key::cameraRadius); }
    void setCameraRadius(double value) { set(Key::cameraRadius, value); }
    double cameraPreviewW() const { return get<double>(Key::cameraPreviewW); }
    void setCameraPreviewW(double value) { set(Key::cameraPreviewW, value); }
    int cameraFPS() const { return get<int>(Key::cameraFPS); }
    void setCameraFPS(int value) { set(Key::cameraFPS, value); }

    int cursorArrow() const { return get<int>(Key::cursorArrow); }
    void setCursorArrow(int value) { set(Key::cursorArrow, value); }
    int cursorTheme() const { return get<int>(Key::cursorTheme); }
    void setCursorTheme(int value) { set(Key::cursorTheme, value); }
    int cursorArt() const { return get<int>(Key::cursorArt); }
    void setCursorArt(int value) { set(Key::cursorArt, value); }
    double shadowUp() const { return get<double>(Key::shadowUp); }
    void setShadowUp(double value) { set(Key::shadowUp, value); }
    double shadowDown() const { return get<double>(Key::shadowDown); }
    void setShadowDown(double value) { set(Key::shadowDown, value); }
    double cursorSizeSys() const { return get<double>(Key::cursorSizeSys); }
    void setCursorSizeSys(double value) { set(Key::cursorSizeSys, value); }
    double cursorSize() const { return get<double>(Key::cursorSize); }
    void setCursorSize(double value) { set(Key::cursorSize, value); }

    double focusFrac() const { return get<double>(Key::focusFrac); }
    void setFocusFrac(double value) { set(Key::focusFrac, value); }
    bool showShortcutHints() const { return get<bool>(Key::showShortcutHints); }
    void setShowShortcutHints(bool value) { set(Key::showShortcutHints, value); }
    // 0 follow the cursor, 1 selected region.
    int focusMode() const { return get<int>(Key::focusMode); }
    void setFocusMode(int value) { set(Key::focusMode, value); }
    bool focusLive() const { return get<bool>(Key::focusLive); }
    void setFocusLive(bool value) { set(Key::focusLive, value); }
    bool focusCrisp() const { return get<bool>(Key::focusCrisp); }
    void setFocusCrisp(bool value) { set(Key::focusCrisp, value); }
    int focusSpeed() const { return get<int>(Key::focusSpeed); }
    void setFocusSpeed(int value) { set(Key::focusSpeed, value); }

    int penTool() const { return get<int>(Key::penTool); }
    void setPenTool(int value) { set(Key::penTool, value); }
    double penWidth() const { return get<double>(Key::penWidth); }
    void setPenWidth(double value) { set(Key::penWidth, value); }
    int penColor() const { return get<int>(Key::penColor); }
    void setPenColor(int value) { set(Key::penColor, value); }

    bool countdown() const { return get<bool>(Key::countdown); }
    void setCountdown(bool value) { set(Key::countdown, value); }
    bool soundTick() const { return get<bool>(Key::soundTick); }
    void setSoundTick(bool value) { set(Key::soundTick, value); }
    bool soundStart() const { return get<bool>(Key::soundStart); }
    void setSoundStart(bool value) { set(Key::soundStart, value); }
    bool soundEnd() const { return get<bool>(Key::soundEnd); }
    void setSoundEnd(bool value) { set(Key::soundEnd, value); }
    bool soundPause() const { return get<bool>(Key::soundPause); }
    void setSoundPause(bool value) { set(Key::soundPause, value); }
    bool soundLaunch() const { return get<bool>(Key::soundLaunch); }
    void setSoundLaunch(bool value) { set(Key::soundLaunch, value); }
    bool compactRecordingBar() const { return get<bool>(Key::compactRecordingBar); }
    void setCompactRecordingBar(bool value) { set(Key::compactRecordingBar, value); }

    // The shortcuts, stored under "hotkeys". Every change stores the whole map.
    const KeyBindingMap& bindings() const { return m_bindings; }
    void setBindings(const KeyBindingMap& value);
    void setBinding(HotKeyAction action, const KeyBinding& binding);
    void removeBinding(HotKeyAction action);

    // ---- Profiles ----

    // The settings that travel with a profile, as one flat JSON object keyed by
    // property name ("outputSize", "focusFrac", "cameraPreviewW"), with the
    // teleprompter's "prompterSpeed", "prompterOpacity" and "prompterFont" and the
    // shortcuts as a nested object under "hotkeys". Not in it: the save folder,
    // the shortcut-hints switch, the pause and launch sounds, the run-time values.
    QJsonObject snapshot() const;

    // Assigns, through the setters, every value of such an object that passes its
    // check: integers must lie in their range (fractions are truncated first),
    // numbers are clamped into theirs, flags must be booleans, and a value of the
    // wrong type or out of range is skipped on its own while the rest still apply.
    // Camera size and resolution, and camera frame rate and fps, are assigned in
    // pairs. Shortcuts replace only the actions the object names and are then
    // registered again (failures are left to the next registration). Reports
    // nothing; a caller that must not apply during a recording checks first.
    void apply(const QJsonObject& settings);

    // ---- Run-time values, never stored ----

    // The latest message about shortcuts, shown under the shortcut list. It is
    // kept as the way to word it, not as words: read after a language change,
    // it comes in the new language.
    std::optional<QString> hotkeyMessage() const;
    void setHotkeyMessage(std::function<QString()> wording);
    // A text that reads the same in every language, or none.
    void setHotkeyMessage(const std::optional<QString>& text);
    // Whether a recording is under way (countdown, recording, paused, finishing).
    bool isRecording() const { return m_isRecording; }
    void setIsRecording(bool value);

    // The message for shortcuts that could not be registered at launch: the
    // translated "These shortcuts are used by other apps:", the titles joined by
    // "、", then the translated ". Please change them in Settings.".
    static QString shortcutsTakenMessage(const QStringList& titles);

    // ---- Derived values ----

    // outputSize when it is 1 or more; none means record at native size.
    std::optional<int> maxShortSide() const;
    // The frame rate handed to the engine: fps when it is 1...120, else 30.
    int engineFps() const;
    // The base video bit rate of the chosen tier in megabits per second.
    double bitRateMbps() const;

    // The output size in pixels for a short-side choice: the recorded display's
    // capabilities when the recorder model knows them, else the primary display,
    // else 1728 x 1080.
    static VideoDimensions outputPixels(int shortSide);
    // The part of outputPixels() that works on a screen's pixel size.
    static VideoDimensions screenOutputPixels(double pixelWidth, double pixelHeight, int shortSide);

    // ---- Recordings folder ----

    // Whether the recordings folder can be used now; keeps saveFolder in step
    // with the bookmark.
    bool hasValidSaveFolder();
    // The recordings folder last found gone or not writable in this run (at
    // start-up or later), so the question for another one can name it; "" once
    // a usable folder is in place. Kept in memory only.
    const QString& unusableSaveFolder() const { return m_unusableSaveFolder; }
    // Remembers a folder the user has just chosen. A folder that cannot be used
    // (missing, not a directory, not writable) leaves the previous choice in
    // place. Returns whether the chosen folder is now the recordings folder.
    bool setSaveFolder(const QString& folder);
    // The folder as shown to the user ("~/Videos"), or the translated
    // "Not Configured".
    QString saveFolderDisplay();
    // Where a folder chooser starts: the recordings folder, else the videos
    // folder when it exists, else the home folder.
    QString folderChooserStart();

signals:
    void changed(corvessa::Prefs::Key key);

private:
    Prefs();

    template <typename T>
    const T& get(Key key) const { return std::get<T>(m_values[size_t(key)]); }
    void putSaveFolder(const QString& value);
    void storeBindings();

    std::array<Value, storedCount> m_values;
    QString m_saveFolder;
    QString m_unusableSaveFolder;
    KeyBindingMap m_bindings;

    std::function<QString()> m_hotkeyMessage;
    bool m_isRecording = false;
};

} // namespace corvessa
