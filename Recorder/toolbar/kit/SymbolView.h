#pragma once

#include "toolbar/kit/IconTile.h"

#include <QColor>
#include <QString>
#include <QWidget>

namespace corvessa {

// One symbol drawn in a colour in a fixed 24 × 24 pt frame, with an optional
// small badge symbol over its bottom-right corner. Main thread.
class SymbolView : public QWidget {
public:
    static constexpr int frame = 24;

    SymbolView(const QString& symbol, double points, const QColor& colour, QWidget* parent = nullptr);

    void setBadge(const QString& symbol, double points, const QColor& colour);
    QString symbol() const { return m_symbol; }
    QColor colour() const { return m_colour; }
    QString badge() const { return m_badge; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_symbol;
    double m_points;
    QColor m_colour;
    QString m_badge;
    double m_badgePoints = 0;
    QColor m_badgeColour;
    // Made once: each keeps its tinted picture between paints.
    IconTile::IconPainter m_painter;
    IconTile::IconPainter m_badgePainter;
};

} // namespace corvessa
