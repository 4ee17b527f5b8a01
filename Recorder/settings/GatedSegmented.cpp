#include "settings/GatedSegmented.h"

#include "toolbar/kit/Symbols.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace corvessa {

namespace {

constexpr int kPadding = 2;
constexpr int kSpacing = 2;
constexpr int kCellHeight = 22;
constexpr int kFontPixels = 12;
constexpr int kSymbolGap = 4;

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

QRect GatedSegmented::cellRect(int index) const
{
    const int n = int(m_items.size());
    if (n == 0 || index < 0 || index >= n)
        return {};
    // Equal shares of the width left after the padding and the gaps.
    const int inner = width() - 2 * kPadding - (n - 1) * kSpacing;
    const int start = kPadding + index * inner / n + index * kSpacing;
    const int end = kPadding + (index + 1) * inner / n + index * kSpacing;
    return QRect(start, kPadding, end - start, height() - 2 * kPadding);
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
        const int symbolWidth = item.symbol.isEmpty() ? 0 : kFontPixels + kSymbolGap;
        const int room = std::max(0, cell.width() - 8 - symbolWidth);
        const QString title = metrics.elidedText(item.title, Qt::ElideRight, room);
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
