#pragma once

#include <QAbstractButton>

namespace corvessa {

// The toolbar's Start Recording button: white text on a blue rounded card,
// the blue at 75 % while pressed. Main thread.
class RecordButton : public QAbstractButton {
public:
    static constexpr int minimumWidth = 64;
    static constexpr int height = 36;
    static constexpr int padding = 12;
    static constexpr double cornerRadius = 10;

    explicit RecordButton(const QString& text, QWidget* parent = nullptr);

    // The card's fill now.
    QColor fill() const;
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace corvessa
