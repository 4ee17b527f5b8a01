#pragma once

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace corvessa {

// A compact segmented picker: equally wide cells on a faint rounded track, the
// chosen one shaded. Where a title (a translation) is too long for an equal
// share, it takes the room it needs and the other cells share the rest; with
// too little room for every title, the symbols go before any title is cut. It keeps no value of its own: `selection` reads the
// current choice whenever the picker paints, and a click hands the cell's value
// to `select` (even when it is already chosen). Cells are told apart by
// position, so two cells of one value are shaded together. Main thread.
class GatedSegmented : public QWidget {
    Q_OBJECT
public:
    struct Item {
        QString title;  // shown unchanged: callers translate
        QString symbol; // a symbol drawn before the title; empty for text only
        int value = 0;
    };

    GatedSegmented(std::function<int()> selection, std::function<void(int)> select, std::vector<Item> items,
                   QWidget* parent = nullptr);

    const std::vector<Item>& items() const { return m_items; }
    // Whether the cell at `index` is drawn chosen.
    bool isChosen(int index) const;
    // The cell under a point, -1 for none.
    int cellAt(const QPoint& point) const;
    QRect cellRect(int index) const;
    // The title as drawn in its cell (elided only when nothing else makes room).
    QString shownTitle(int index) const;
    bool showsSymbol(int index) const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Cells {
        std::vector<int> widths;
        bool symbols = true;
    };
    // The width a cell's content needs, with or without its symbol.
    int need(const Item& item, bool symbols) const;
    Cells cells() const;

    std::function<int()> m_selection;
    std::function<void(int)> m_select;
    std::vector<Item> m_items;
};

} // namespace corvessa
