#pragma once

#include "model/RangeMode.h"
#include "model/RecorderPhase.h"
#include "toolbar/GlassPanel.h"
#include "model/MenuRow.h"
#include "toolbar/ToolActions.h"

#include <QColor>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QHBoxLayout;
class QLabel;
class QWindow;

namespace corvessa {

class FloatingMenu;
class IconTile;
class Prefs;
class RecorderModel;
class RecordingGlow;
class RecordingTimeLabel;
class Scheduler;
class TileButton;
class TipWindow;
enum class HotKeyAction;

// The floating toolbar's content: one row of controls on the glass card, the
// row following the recording phase (the ready row, an empty placeholder for
// the countdown, the recording or compact row, "Saving…", the saved and the
// failed line). Reads the model and the preferences and calls their
// operations; holds no state of its own beyond its widgets, which it rebuilds
// when what they show changes, and the saved movie whose folder could not be
// shown. A press on the card outside every control is
// left to the window, which drags the bar. Main thread.
class BarView : public GlassPanel {
public:
    // The transparent margin around the card where the shadow falls.
    static constexpr int margin = 30;
    static constexpr double cornerRadius = 24;

    enum class Row { ready, countdown, recording, compact, finishing, saved, failed };

    // What the bar calls outside the model.
    struct Services {
        Scheduler* scheduler = nullptr;
        TipWindow* tips = nullptr;
        FloatingMenu* menu = nullptr;
        ToolActions tools;
        std::function<void()> showSettings;
        // Selects the saved movie and the camera files in the file manager,
        // then tells `done` whether anything was shown.
        std::function<void(const QStringList& paths, std::function<void(bool shown)> done)> reveal;
        // Asks, with the recording paused, whether to restart (true) or cancel.
        std::function<void(bool restart)> confirmDiscard;
        // Keeps a window of the bar's (the screens menu) out of recordings.
        std::function<void(QWindow*)> registerWindow;
    };

    // Called whenever the bar's size changes; the shell re-places the window.
    static inline std::function<void()> sizeChanged;

    BarView(RecorderModel& model, Prefs& prefs, Services services, QWidget* parent = nullptr);
    ~BarView() override;

    static Row rowFor(const RecorderPhase& phase, bool compact);
    Row row() const { return m_row; }
    // Rebuilds the row now (normally it happens on the next turn of the event
    // loop after the model or a preference changed).
    void rebuild();

    // The toolbar's colours.
    static QColor red();
    static QColor green();
    // The colour of a source without permission.
    static QColor warning();

    // How a source item's name is shown in `width` points.
    struct FittedName {
        QString text;
        double points = 12;
    };
    static constexpr double namePoints = 12;
    static constexpr double smallestNamePoints = 10;
    static FittedName fitName(const QString& text, const QFont& font, int width);

private:
    void scheduleRebuild();
    void rebuildWhenReleased();
    void buildReady();
    void buildCountdown();
    void buildLive(bool compact);
    void buildFinishing();
    void buildSaved();
    void revealDone(const QString& movie, bool shown);
    void buildFailed();

    // Row elements.
    TileButton* icon(const QString& symbol, bool selected, const QColor& tint, double size,
                     std::function<void()> action, const QString& name);
    TileButton* actionLabel(const QString& symbol, const QString& title, std::function<void()> action,
                            const QString& name);
    QWidget* divider();
    QWidget* rangeItem(const QString& title, const QString& symbol, RangeMode mode, const QString& name);
    QWidget* textLabel(const QString& text, double points, const QColor& colour, int maxWidth, int maxLines);
    QWidget* glyphBox(const QString& symbol, const QColor& colour);
    QColor primary() const;
    QColor secondary() const;
    // The width of a source item's name (54 to 104 pt), and of the item.
    int nameWidth(const QString& text) const;
    int itemWidth(const QString& text) const;
    // A source item's name in `width` points: at 12 pt, a little smaller when
    // that fits it whole, else cut with "…".
    QLabel* nameLabel(const QString& text, const QColor& colour);
    QWidget* cameraItem();
    QWidget* micItem();
    QWidget* systemItem();
    QWidget* compactAudio(bool isMic);
    QWidget* toolsCluster();
    QWidget* magnifierButton();
    QWidget* penControls();
    QWidget* prompterButton();
    QWidget* toolsButton();
    QWidget* layoutToggle();
    QWidget* recordingStatus();
    QWidget* noticeLine(double maxWidth, int maxLines);
    QWidget* closeButton(const QString& tip);
    // A popup-area tile over `content` whose menu is `specs`.
    QWidget* menuTile(QWidget* content, int width, std::function<MenuRows()> specs, const QString& name);
    // Lays a tap-or-hold layer over `control`; a tap runs `tap`, a hold `hold`
    // with the control's global rectangle.
    void tapOrHold(QWidget* control, std::function<void()> tap, std::function<void(const QRect&)> hold = {});
    void tip(QWidget* control, const QString& english, std::optional<HotKeyAction> action = std::nullopt);
    void add(QWidget* element);

    void updateElapsed();
    void reportSize();
    QRect avoidRect() const;

    RecorderModel& m_model;
    Prefs& m_prefs;
    Services m_services;
    Row m_row = Row::ready;
    QHBoxLayout* m_layout;
    QPointer<RecordingGlow> m_glow;
    QPointer<RecordingTimeLabel> m_time;
    QPointer<QWidget> m_statusBox;
    bool m_rebuildPending = false;
    // The saved movie whose folder neither a file manager nor a folder handler showed.
    QString m_revealFailed;
    QSize m_reportedSize;

protected:
    void resizeEvent(QResizeEvent* event) override;
};

} // namespace corvessa
