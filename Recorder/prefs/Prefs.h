#pragma once

#include "capture/VideoDimensions.h"
#include "prefs/KeyBinding.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace corvessa {

// The user's settings while the program runs and between runs. Every setting is
// read once at start-up from user defaults, with its own default, range check
// and, for a few keys, a migration of older stored forms; every assignment is
// written through to user defaults at once and announced with changed(name),
// where name is the setting's property name ("fps", "outputSize", "bindings").
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
    static Prefs& shared();
    // Drops the shared instance and reads a new one from the current defaults
    // store. For tests that switch HOME; references to the old instance dangle.
    static void resetShared();

    ~Prefs() override;

    // ---- Persisted settings (user-defaults key in quotes where it differs) ----

    // The recordings folder's path, "" when none is usable. Changed only through
    // setSaveFolder() and hasValidSaveFolder().
    const QString& saveFolder() const { return m_saveFolder; }

    int fps() const { return m_fps; }
    void setFps(int value);
    // 0 Low, 1 Medium, 2 High, 3 Custom; any other value counts as Custom.
    int qualityTier() const { return m_qualityTier; }
    void setQualityTier(int value);
    double customMbps() const { return m_customMbps; }
    void setCustomMbps(double value);
    // Short side of the output in pixels ("outputShort"); below 1 is native size.
    int outputSize() const { return m_outputSize; }
    void setOutputSize(int value);

    int cameraRes() const { return m_cameraRes; }
    void setCameraRes(int value);
    // A size id such as "1280x720".
    const QString& cameraSizeID() const { return m_cameraSizeID; }
    void setCameraSizeID(const QString& value);
    double cameraFrameRate() const { return m_cameraFrameRate; }
    void setCameraFrameRate(double value);
    bool cameraBurn() const { return m_cameraBurn; }
    void setCameraBurn(bool value);
    bool cameraMirrored() const { return m_cameraMirrored; }
    void setCameraMirrored(bool value);
    int cameraShape() const { return m_cameraShape; }
    void setCameraShape(int value);
    double cameraRadius() const { return m_cameraRadius; }
    void setCameraRadius(double value);
    // "previewW".
    double cameraPreviewW() const { return m_cameraPreviewW; }
    void setCameraPreviewW(double value);
    int cameraFPS() const { return m_cameraFPS; }
    void setCameraFPS(int value);

    int cursorArrow() const { return m_cursorArrow; }
    void setCursorArrow(int value);
    int cursorTheme() const { return m_cursorTheme; }
    void setCursorTheme(int value);
    int cursorArt() const { return m_cursorArt; }
    void setCursorArt(int value);
    double shadowUp() const { return m_shadowUp; }
    void setShadowUp(double value);
    double shadowDown() const { return m_shadowDown; }
    void setShadowDown(double value);
    double cursorSizeSys() const { return m_cursorSizeSys; }
    void setCursorSizeSys(double value);
    double cursorSize() const { return m_cursorSize; }
    void setCursorSize(double value);

    // "focusFrac2".
    double focusFrac() const { return m_focusFrac; }
    void setFocusFrac(double value);
    // "showShortcutHints2".
    bool showShortcutHints() const { return m_showShortcutHints; }
    void setShowShortcutHints(bool value);
    // 0 follow the cursor, 1 selected region.
    int focusMode() const { return m_focusMode; }
    void setFocusMode(int value);
    bool focusLive() const { return m_focusLive; }
    void setFocusLive(bool value);
    bool focusCrisp() const { return m_focusCrisp; }
    void setFocusCrisp(bool value);
    int focusSpeed() const { return m_focusSpeed; }
    void setFocusSpeed(int value);

    int penTool() const { return m_penTool; }
    void setPenTool(int value);
    double penWidth() const { return m_penWidth; }
    void setPenWidth(double value);
    int penColor() const { return m_penColor; }
    void setPenColor(int value);

    bool countdown() const { return m_countdown; }
    void setCountdown(bool value);
    bool soundTick() const { return m_soundTick; }
    void setSoundTick(bool value);
    bool soundStart() const { return m_soundStart; }
    void setSoundStart(bool value);
    bool soundEnd() const { return m_soundEnd; }
    void setSoundEnd(bool value);
    bool soundPause() const { return m_soundPause; }
    void setSoundPause(bool value);
    bool soundLaunch() const { return m_soundLaunch; }
    void setSoundLaunch(bool value);
    bool compactRecordingBar() const { return m_compactRecordingBar; }
    void setCompactRecordingBar(bool value);

    // The shortcuts ("hotkeys"). Every change stores the whole map.
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

    // The latest message about shortcuts, shown under the shortcut list.
    const std::optional<QString>& hotkeyMessage() const { return m_hotkeyMessage; }
    void setHotkeyMessage(const std::optional<QString>& value);
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
    void changed(const QString& name);

private:
    Prefs();

    template <typename T>
    void assign(T& member, const T& value, const QString& name, const QString& storeKey);
    void putSaveFolder(const QString& value);
    void storeBindings();

    QString m_saveFolder;
    int m_fps = 30;
    int m_qualityTier = 2;
    double m_customMbps = 7.5;
    int m_outputSize = 1080;
    int m_cameraRes = 720;
    QString m_cameraSizeID = QStringLiteral("1280x720");
    double m_cameraFrameRate = 15;
    bool m_cameraBurn = true;
    bool m_cameraMirrored = false;
    int m_cameraShape = 2;
    double m_cameraRadius = 0.12;
    double m_cameraPreviewW = 250;
    int m_cameraFPS = 15;
    int m_cursorArrow = 0;
    int m_cursorTheme = 1;
    int m_cursorArt = 0;
    double m_shadowUp = 0.58;
    double m_shadowDown = 0.7;
    double m_cursorSizeSys = 3.0;
    double m_cursorSize = 1.0;
    double m_focusFrac = 0.29;
    bool m_showShortcutHints = true;
    int m_focusMode = 0;
    bool m_focusLive = true;
    bool m_focusCrisp = false;
    int m_focusSpeed = 0;
    int m_penTool = 0;
    double m_penWidth = 13;
    int m_penColor = 0;
    bool m_countdown = true;
    bool m_soundTick = true;
    bool m_soundStart = true;
    bool m_soundEnd = true;
    bool m_soundPause = true;
    bool m_soundLaunch = true;
    bool m_compactRecordingBar = false;
    KeyBindingMap m_bindings;

    std::optional<QString> m_hotkeyMessage;
    bool m_isRecording = false;
};

} // namespace corvessa
