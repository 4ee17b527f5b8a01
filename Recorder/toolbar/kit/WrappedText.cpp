#include "toolbar/kit/WrappedText.h"

#include <QPainter>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace corvessa {

namespace {

// Paths break before a slash, never after it: "…opened:" then
// "/home/…/Videos", or "/home/user" then "/Videos", never a line ending in
// a lone "/". A zero-width space before each slash inside a word allows the
// break there, a word joiner after it forbids the one after.
QString breakable(const QString& text)
{
    static const QChar zeroWidthSpace(0x200B), wordJoiner(0x2060);
    if (!text.contains(u'/'))
        return text;
    QString out;
    out.reserve(text.size() * 2);
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == u'/') {
            if (i > 0 && !text.at(i - 1).isSpace() && text.at(i - 1) != u'/')
                out += zeroWidthSpace;
            out += c;
            if (i + 1 < text.size() && !text.at(i + 1).isSpace())
                out += wordJoiner;
            continue;
        }
        out += c;
    }
    return out;
}

// Lays `text` out in lines at most `width` wide; the layout's height is its
// lines', its natural width the widest line's.
void layOut(QTextLayout& layout, int width)
{
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    double y = 0;
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(width);
        line.setPosition(QPointF(0, y));
        y += line.height();
    }
    layout.endLayout();
}

} // namespace

QSize WrappedText::measure(const QString& text, const QFont& font, int maxWidth, int* lines)
{
    // Inside the label's margins, a pixel either side.
    QTextLayout layout(breakable(text), font);
    layOut(layout, std::max(maxWidth - 2, 1));
    double width = 0, height = 0;
    for (int i = 0; i < layout.lineCount(); ++i) {
        width = std::max(width, layout.lineAt(i).naturalTextWidth());
        height = layout.lineAt(i).rect().bottom();
    }
    if (lines)
        *lines = std::max(layout.lineCount(), 1);
    return {std::min(int(std::ceil(width)) + 2, std::max(maxWidth, 3)), int(std::ceil(height)) + 2};
}

WrappedText::WrappedText(const QString& text, const QFont& font, const QColor& colour, int maxWidth, QWidget* parent)
    : QLabel(text, parent)
    , m_maxWidth(std::max(maxWidth, 1))
{
    setFont(font);
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, colour);
    setPalette(pal);
    setWordWrap(true);
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    // A pixel either side for the antialiased edges of the glyphs.
    setContentsMargins(1, 1, 1, 1);
    setFixedSize(measure(text, font, m_maxWidth, &m_lines));
}

QStringList WrappedText::lineTexts(const QString& text, const QFont& font, int maxWidth)
{
    const QString laid = breakable(text);
    QTextLayout layout(laid, font);
    layOut(layout, std::max(maxWidth - 2, 1));
    QStringList lines;
    for (int i = 0; i < layout.lineCount(); ++i) {
        QString line = laid.mid(layout.lineAt(i).textStart(), layout.lineAt(i).textLength());
        line.remove(QChar(0x200B)).remove(QChar(0x2060));
        lines << line;
    }
    return lines;
}

void WrappedText::setMaxWidth(int maxWidth)
{
    m_maxWidth = std::max(maxWidth, 1);
    setFixedSize(measure(text(), font(), m_maxWidth, &m_lines));
}

void WrappedText::paintEvent(QPaintEvent*)
{
    const QRect inside = contentsRect();
    QTextLayout layout(breakable(text()), font());
    layOut(layout, inside.width());
    QPainter p(this);
    p.setPen(palette().color(QPalette::WindowText));
    layout.draw(&p, inside.topLeft());
}

} // namespace corvessa
