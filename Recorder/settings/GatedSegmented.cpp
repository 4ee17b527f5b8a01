#include "settings/GatedSegmented.h"

#include "toolbar/kit/Symbols.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <numeric>

namespace corvessa {

namespace {

constexpr int kPadding = 2;
constexpr int kSpacing = 2;
constexpr int kCellHeight = 22;
constexpr int kFontPixels = 12;
constexpr int kSymbolGap = 4;
// Room kept beside a cell's content.
constexpr int kTextInset = 8;

} // namespace

GatedSegmented::GatedSegmented(std::function<int()> selection, std::function<void(int)> select,
                               std::vector<Item> items, QWidget* parent)
    : QWidget(parent)
    , m_selection(std::move(selection))
    , m_select(std::move(select))
    , m_items(std::move(items))
{
    QFont f = font();
    f.setPixelSize(kFontPixels);
    setFont(f);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

bool GatedSegmented::isChosen(int index) const
{
    return index >= 0 && index < int(m_items.size()) && m_selection && m_selection() == m_items[index].value;
}

int GatedSegmented::need(const Item& item, bool symbols) const
{
    const QFontMetrics metrics(font());
    const int symbol = symbols && !item.symbol.isEmpty() ? kFontPixels + kSymbolGap : 0;
    return metrics.horizontalAdvance(item.title) + kTextInset + symbol;
}

GatedSegmented::Cells GatedSegmented::cells() const
{
    Cells cells;
    const int n = int(m_items.size());
    if (n == 0)
        return cells;
    const int inner = std::max(0, width() - 2 * kPadding - (n - 1) * kSpacing);
    // Equal shares of the width left after the padding and the gaps, while
    // every title fits its share.
    int widest = 0;
    for (const Item& item : m_items)
        widest = std::max(widest, need(item, true));
    if (widest * n <= inner) {
        for (int i = 0; i < n; ++i)
            cells.widths.push_back((i + 1) * inner / n - i * inner / n);
        return cells;
    }
    // A longer title (a translation) takes the room it needs, the others share
    // the rest; with too little room for all, the symbols give theirs first.
    const auto needs = [&](bool symbols) {
        std::vector<int> widths;
        for (const Item& item : m_items)
            widths.push_back(need(item, symbols));
        return widths;
    };
    const auto total = [](const std::vector<int>& widths) { return std::accumulate(widths.begin(), widths.end(), 0); };
    std::vector<int> widths = needs(true);
    if (total(widths) > inner) {
        cells.symbols = false;
        widths = needs(false);
    }
    const int slack = inner - total(widths);
    // Spread what is left (or, as a last resort, what is missing) evenly.
    for (int i = 0; i < n; ++i)
        widths[i] = std::max(0, widths[i] + (i + 1) * slack / n - i * slack / n);
    cells.widths = std::move(widths);
    return cells;
}

QRect GatedSegmented::cellRect(int index) const
{
    const int n = int(m_items.size());
    if (n == 0 || index < 0 || index >= n)
        return {};
    const Cells laid = cells();
    int start = kPadding;
    for (int i = 0; i < index; ++i)
        start += laid.widths[i] + kSpacing;
    return QRect(start, kPadding, laid.widths[index], height() - 2 * kPadding);
}

QString GatedSegmented::shownTitle(int index) const
{
    if (index < 0 || index >= int(m_items.size()))
        return {};
    const Item& item = m_items[index];
    const int symbolWidth = showsSymbol(index) ? kFontPixels + kSymbolGap : 0;
    const int room = std::max(0, cellRect(index).width() - kTextInset - symbolWidth);
    return QFontMetrics(font()).elidedText(item.title, Qt::ElideRight, room);
}

bool GatedSegmented::showsSymbol(int index) const
{
    return index >= 0 && index < int(m_items.size()) && !m_items[index].symbol.isEmpty() && cells().symbols;
}

int GatedSegmented::cellAt(const QPoint& point) const
{
    for (int i = 0; i < int(m_items.size()); ++i) {
        if (cellRect(i).contains(point))
            return i;
    }
    return -1;
}

QSize GatedSegmented::sizeHint() const
{
    const QFontMetrics metrics(font());
    int w = 2 * kPadding;
    for (const Item& item : m_items)
        w += metrics.horizontalAdvance(item.title) + 20 + (item.symbol.isEmpty() ? 0 : kFontPixels + kSymbolGap);
    w += std::max(0, int(m_items.size()) - 1) * kSpacing;
    return QSize(w, kCellHeight + 2 * kPadding);
}

void GatedSegmented::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor label = palette().color(QPalette::WindowText);
    QColor track = label;
    track.setAlphaF(0.07);
    QPainterPath trackPath;
    trackPath.addRoundedRect(QRectF(rect()), 8, 8);
    p.fillPath(trackPath, track);

    const QFontMetrics metrics(font());
    for (int i = 0; i < int(m_items.size()); ++i) {
        const Item& item = m_items[i];
        const QRect cell = cellRect(i);
        const bool chosen = isChosen(i);
        if (chosen) {
            QColor shade = label;
            shade.setAlphaF(0.16);
            QPainterPath cellPath;
            cellPath.addRoundedRect(QRectF(cell), 6, 6);
            p.fillPath(cellPath, shade);
        }
        QColor text = label;
        text.setAlphaF(chosen ? 1.0 : 0.85);
        const int symbolWidth = showsSymbol(i) ? kFontPixels + kSymbolGap : 0;
        const QString title = shownTitle(i);
        const int contentWidth = symbolWidth + metrics.horizontalAdvance(title);
        int x = cell.center().x() - contentWidth / 2;
        if (symbolWidth > 0) {
            const QPixmap symbol = Symbols::pixmap(item.symbol, kFontPixels, text, devicePixelRatioF());
            p.drawPixmap(QPoint(x, cell.center().y() - kFontPixels / 2), symbol);
            x += symbolWidth;
        }
        p.setPen(text);
        p.drawText(QRect(x, cell.top(), cell.right() - x, cell.height()), Qt::AlignLeft | Qt::AlignVCenter, title);
    }
}

void GatedSegmented::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    const int index = cellAt(event->position().toPoint());
    if (index < 0)
        return;
    if (m_select)
        m_select(m_items[index].value);
    update();
}

} // namespace corvessa
