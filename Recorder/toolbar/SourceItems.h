#pragma once

#include <QFont>
#include <QString>

class QLabel;
class QWidget;

namespace corvessa {

class BarElements;

// The toolbar's camera, microphone and system-audio items, each a tile with
// its icon, name and level and a menu, and the compact row's audio controls.
// Built afresh from the model each time a row is. Main thread.
class SourceItems {
public:
    explicit SourceItems(const BarElements& elements);

    QWidget* cameraItem() const;
    QWidget* micItem() const;
    QWidget* systemItem() const;
    QWidget* compactAudio(bool isMic) const;

    // How a source item's name is shown in `width` points.
    struct FittedName {
        QString text;
        double points = 12;
    };
    static constexpr double namePoints = 12;
    static constexpr double smallestNamePoints = 10;
    static FittedName fitName(const QString& text, const QFont& font, int width);

private:
    // The width of a source item's name (54 to 104 pt), and of the item.
    int nameWidth(const QString& text) const;
    int itemWidth(const QString& text) const;
    // A source item's name in `width` points: at 12 pt, a little smaller when
    // that fits it whole, else cut with "…".
    QLabel* nameLabel(const QString& text, const QColor& colour) const;

    const BarElements& m_elements;
};

} // namespace corvessa
