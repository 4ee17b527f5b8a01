#pragma once

#include "model/RangeMode.h"
#include "model/RecorderPhase.h"
#include "toolbar/BarElements.h"
#include "toolbar/BarRow.h"
#include "toolbar/BarServices.h"
#include "toolbar/kit/GlassPanel.h"
#include "toolbar/RecordingTimeLabel.h"
#include "toolbar/SourceItems.h"
#include "toolbar/ToolControls.h"

#include <QPointer>
#include <QString>

#include <functional>
#include <memory>

class QHBoxLayout;

namespace corvessa {

class Prefs;
class RecorderModel;
class RecordingGlow;
class TileButton;

// The floating toolbar's content: the glass card showing the row of the
// recording phase (the ready row, an empty placeholder for the countdown, the
// recording or compact row, "Saving…", the saved and the failed line). Each
// row is a widget of its own that builds its controls from the model and the
// preferences and keeps what it must remember; the bar switches between them
// as the phase changes, asks the shown one to rebuild when what it shows
// changes, and lays the recording glow over the card while a recording is
// live. A press on the card outside every control is left to the window,
// which drags the bar. Main thread.
class BarView : public GlassPanel {
public:
    // The transparent margin around the card where the shadow falls.
    static constexpr int margin = 30;
    static constexpr double cornerRadius = 24;

    enum class Row { ready, countdown, recording, compact, finishing, saved, failed };

    // What the bar calls outside the model.
    using Services = BarServices;

    // Called whenever the bar's size changes; the shell re-places the window.
    static inline std::function<void()> sizeChanged;

    BarView(RecorderModel& model, Prefs& prefs, Services services, QWidget* parent = nullptr);
    ~BarView() override;

    static Row rowFor(const RecorderPhase& phase, bool compact);
    Row row() const { return m_row; }
    // Rebuilds the row now (normally it happens on the next turn of the event
    // loop after the model or a preference changed).
    void rebuild();

    // The controls the rows are made of, in the bar's font and colours.
    const BarElements& elements() const { return m_elements; }
    TileButton* icon(const QString& symbol, bool selected, const QColor& tint, double size,
                     std::function<void()> action, const QString& name) const
    {
        return m_elements.icon(symbol, selected, tint, size, std::move(action), name);
    }
    TileButton* actionLabel(const QString& symbol, const QString& title, std::function<void()> action,
                            const QString& name) const
    {
        return m_elements.actionLabel(symbol, title, std::move(action), name);
    }
    QWidget* rangeItem(const QString& title, const QString& symbol, RangeMode mode, const QString& name) const;
    QWidget* cameraItem() const { return SourceItems(m_elements).cameraItem(); }
    QWidget* micItem() const { return SourceItems(m_elements).micItem(); }
    QWidget* systemItem() const { return SourceItems(m_elements).systemItem(); }
    QWidget* compactAudio(bool isMic) const { return SourceItems(m_elements).compactAudio(isMic); }
    QWidget* toolsCluster() const { return ToolControls(m_elements).toolsCluster(); }
    QWidget* magnifierButton() const { return ToolControls(m_elements).magnifierButton(); }
    QWidget* penControls() const { return ToolControls(m_elements).penControls(); }
    QWidget* prompterButton() const { return ToolControls(m_elements).prompterButton(); }
    // The elapsed-time text.
    static QString time(double seconds) { return RecordingTimeLabel::time(seconds); }

    // How a source item's name is shown in `width` points.
    using FittedName = SourceItems::FittedName;
    static constexpr double namePoints = SourceItems::namePoints;
    static constexpr double smallestNamePoints = SourceItems::smallestNamePoints;
    static FittedName fitName(const QString& text, const QFont& font, int width)
    {
        return SourceItems::fitName(text, font, width);
    }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void scheduleRebuild();
    void rebuildWhenReleased();
    BarRow* makeRow(Row row);
    void reportSize();

    RecorderModel& m_model;
    Prefs& m_prefs;
    Services m_services;
    BarElements m_elements;
    Row m_row = Row::ready;
    QHBoxLayout* m_layout;
    QPointer<BarRow> m_rowView;
    QPointer<RecordingGlow> m_glow;
    bool m_rebuildPending = false;
    QSize m_reportedSize;
};

} // namespace corvessa
