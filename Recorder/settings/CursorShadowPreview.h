#pragma once

#include "engine/compositor/CursorStyle.h"

#include <QImage>
#include <QWidget>

namespace corvessa {

// A small mock document page with the cursor drawn twice, released on the left
// and pressed on the right, each over the shadow a recording gives it: the
// picture comes from the compositor's own cursor layer. Always light, whatever
// the appearance. Main thread.
class CursorShadowPreview : public QWidget {
    Q_OBJECT
public:
    // The page in points, drawn at two pixels per point.
    static constexpr int pageWidth = 500;
    static constexpr int pageHeight = 250;
    static constexpr int pixelsPerPoint = 2;

    // Where a mark's click point goes on the page (points from the top left)
    // and how far its button is pressed.
    struct Mark {
        double press;
        QPointF hot;
    };
    static constexpr Mark released{0.0, {80, 62}};
    static constexpr Mark pressed{1.0, {320, 62}};

    explicit CursorShadowPreview(QWidget* parent = nullptr);

    void setLook(const CursorStyle::Look& look, double size, double up, double down);

    // The bare page, 1000 × 500 pixels at device pixel ratio 2; null when it
    // cannot be had.
    static QImage page();
    // The page with both marks; null when it cannot be made.
    static QImage render(const CursorStyle::Look& look, double size, double up, double down);

    const QImage& picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage m_picture;
};

} // namespace corvessa
