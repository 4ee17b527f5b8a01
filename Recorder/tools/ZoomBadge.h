#pragma once

#include <QString>
#include <QWidget>

namespace corvessa {

// The zoom HUD's badge: white semibold text centred on a dark rounded card
// filling the view. Main thread.
class ZoomBadge final : public QWidget {
public:
    static constexpr double cornerRadius = 12;
    static constexpr double cardAlpha = 0.72;

    explicit ZoomBadge(QWidget* parent = nullptr);

    const QString& text() const { return m_text; }
    void setText(const QString& text);
    // The text's width in the badge's font.
    double textWidth(const QString& text) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_text;
};

} // namespace corvessa
