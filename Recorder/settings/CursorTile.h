#pragma once

#include <QAbstractButton>
#include <QImage>

namespace corvessa {

// One tile of the cursor pane's grid: the cursor's picture 66 points high over
// its name, on a rounded plate that is tinted and outlined in the accent colour
// when chosen. Main thread.
class CursorTile : public QAbstractButton {
    Q_OBJECT
public:
    CursorTile(const QImage& picture, const QString& name, QWidget* parent = nullptr);

    void setChosen(bool chosen);
    bool isChosen() const { return m_chosen; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
    bool m_chosen = false;
};

} // namespace corvessa
