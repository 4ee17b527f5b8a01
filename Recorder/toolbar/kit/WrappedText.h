#pragma once

#include <QLabel>
#include <QSize>
#include <QStringList>

namespace corvessa {

// A label that shows its whole text on as many lines as it needs, no wider
// than its most: broken between words, and inside a word only when the word
// alone is wider (a long compound); a path breaks before one of its slashes.
// It takes the size its lines need,
// so nothing is ever cut; the bar's card grows with it. Main thread.
class WrappedText : public QLabel {
public:
    WrappedText(const QString& text, const QFont& font, const QColor& colour, int maxWidth, QWidget* parent = nullptr);

    // The size the text takes in `font` at most `maxWidth` wide, and its lines.
    static QSize measure(const QString& text, const QFont& font, int maxWidth, int* lines = nullptr);
    int lines() const { return m_lines; }
    // The text of each line `text` takes in `font` at most `maxWidth` wide.
    static QStringList lineTexts(const QString& text, const QFont& font, int maxWidth);
    // Lays the text out again at most `maxWidth` wide.
    void setMaxWidth(int maxWidth);
    // The narrowest a text is made to fit a row.
    static constexpr int narrowest = 140;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_maxWidth;
    int m_lines = 1;
};

} // namespace corvessa
