#pragma once

#include <QCursor>
#include <QPixmap>

namespace corvessa {

// The pen overlay's pencil pointer: a white-haloed pencil on a 32 x 32 point
// image whose tip, at the image's lower left, is the hot spot. Main thread.
class PenCursor {
public:
    static constexpr int side = 32;

    PenCursor() = delete;

    // Made once, on first use.
    static const QCursor& drawing();
    // The picture at a device pixel ratio.
    static QPixmap image(double ratio);
};

} // namespace corvessa
