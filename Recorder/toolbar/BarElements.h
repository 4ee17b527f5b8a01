#pragma once

#include "model/MenuRow.h"
#include "toolbar/BarServices.h"

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace corvessa {

class Prefs;
class RecorderModel;
class TileButton;
enum class HotKeyAction;

// Makes the controls every row of the toolbar is built from: icon tiles,
// action labels, dividers, texts, glyphs, menu tiles and tips, in the bar's
// font and colours. Holds only what it reads; the rows own what it makes.
// Main thread.
class BarElements {
public:
    BarElements(RecorderModel& model, Prefs& prefs, const BarServices& services, const QWidget& bar);

    RecorderModel& model() const { return m_model; }
    Prefs& prefs() const { return m_prefs; }
    const BarServices& services() const { return m_services; }

    // The toolbar's colours.
    static QColor red();
    static QColor green();
    QColor primary() const;
    QColor secondary() const;
    QFont font() const;

    // A symbol on a 40 pt tile.
    TileButton* icon(const QString& symbol, bool selected, const QColor& tint, double size,
                     std::function<void()> action, const QString& name) const;
    // A symbol and a title on a tile at least 76 pt wide.
    TileButton* actionLabel(const QString& symbol, const QString& title, std::function<void()> action,
                            const QString& name) const;
    QWidget* divider() const;
    // A text in the bar's font: on one line at its natural width, or, when it
    // `wraps`, whole on as many lines at most `maxWidth` wide as it needs (the
    // bar grows with it; its controls keep their height).
    QWidget* textLabel(const QString& text, double points, const QColor& colour, int maxWidth, bool wraps) const;
    // A 20 pt symbol in a 40 × 36 pt box.
    QWidget* glyphBox(const QString& symbol, const QColor& colour) const;
    // The saved and failed rows' way back to the ready row.
    QWidget* closeButton(const QString& tip) const;
    // The screen notice, else the camera notice, in orange; none without either.
    QWidget* noticeLine(double maxWidth) const;
    // A popup-area tile over `content` whose menu is `specs`.
    QWidget* menuTile(QWidget* content, int width, std::function<MenuRows()> specs, const QString& name) const;
    // Lays a tap-or-hold layer over `control`; a tap runs `tap`, a hold `hold`
    // with the control's global rectangle.
    void tapOrHold(QWidget* control, std::function<void()> tap, std::function<void(const QRect&)> hold = {}) const;
    void tip(QWidget* control, const QString& english, std::optional<HotKeyAction> action = std::nullopt) const;
    // The widest a row may be for the bar's card to fit its screen, kept
    // BarSideCard::edgeInset from both edges.
    int rowRoom() const;

private:
    RecorderModel& m_model;
    Prefs& m_prefs;
    const BarServices& m_services;
    const QWidget& m_bar;
};

} // namespace corvessa
