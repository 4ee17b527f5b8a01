#include "settings/PenPreview.h"

#include "engine/compositor/PenRender.h"
#include "engine/compositor/PenTool.h"
#include "settings/SettingsLayout.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace corvessa {

namespace {

constexpr int kOuter = 8;
constexpr int kPencilPoints = 61;

} // namespace

PenPreview::PenPreview(QWidget* parent)
    : QWidget(parent)
{
    setFixedHeight(canvasHeight + 2 * kOuter);
}

void PenPreview::set(int tool, int color, double width)
{
    m_tool = tool;
    m_color = color;
    m_width = width;
    update();
}

PenStroke PenPreview::sample(int tool, int color, double width, const QSizeF& canvas)
{
    PenStroke stroke;
    stroke.tool = PenTools::fromRawValueOrPencil(tool);
    stroke.color = color;
    stroke.width = width;
    const double w = canvas.width();
    const double h = canvas.height();
    switch (stroke.tool) {
    case PenTool::pencil:
        for (int i = 0; i < kPencilPoints; ++i) {
            const double t = i / double(kPencilPoints - 1);
            stroke.pts.emplace_back((w - 60) * t + 30, h / 2 + 22 * std::sin(2 * std::numbers::pi * 1.5 * t));
        }
        break;
    case PenTool::line:
    case PenTool::arrow:
        stroke.pts = {{40, h - 30}, {w - 40, 30}};
        break;
    case PenTool::rect:
    case PenTool::ellipse:
        stroke.pts = {{60, h - 24}, {w - 60, 24}};
        break;
    case PenTool::eraser:
        break;
    }
    stroke.pressures.assign(stroke.pts.size(), 1.0);
    return stroke;
}

double PenPreview::eraserRadius(double width)
{
    return std::max(width * 2, 10.0);
}

void PenPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF canvas(0, kOuter, width(), canvasHeight);
    SettingsLayout::paintPreviewCard(p, *this, canvas);

    // The sample's points are placed as global points are: the painter flips to
    // match, so they draw as they are.
    p.translate(0, canvas.bottom());
    p.scale(1, -1);
    const PenStroke stroke = sample(m_tool, m_color, m_width, canvas.size());
    PenRender::draw(stroke, p, [](const GlobalPoint& pt) { return pt.yUp(); }, 1);
    if (stroke.tool == PenTool::eraser) {
        const double r = eraserRadius(m_width);
        p.setPen(QPen(QColor::fromRgbF(0.5f, 0.5f, 0.5f), 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(canvas.width() / 2, canvas.height() / 2), r, r);
    }
}

} // namespace corvessa
