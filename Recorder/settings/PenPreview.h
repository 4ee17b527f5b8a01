#pragma once

#include "engine/compositor/PenStroke.h"

#include <QWidget>

namespace corvessa {

// A sample stroke of the chosen pen tool, colour and width, drawn by the same
// renderer as the ink on a faint rounded card 110 points high; the eraser
// shows a grey ring of its size instead. Main thread.
class PenPreview : public QWidget {
    Q_OBJECT
public:
    static constexpr int canvasHeight = 110;

    explicit PenPreview(QWidget* parent = nullptr);

    void set(int tool, int color, double width);

    // The sample stroke for a canvas of this size, its points placed on the
    // canvas as global points are on the primary display.
    static PenStroke sample(int tool, int color, double width, const QSizeF& canvas);
    // The eraser ring's radius for a width.
    static double eraserRadius(double width);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int m_tool = 0;
    int m_color = 0;
    double m_width = 13;
};

} // namespace corvessa
