#pragma once

#include "engine/compositor/CursorArt.h"
#include "engine/compositor/MouseTrack.h"

#include <QImage>
#include <QPoint>
#include <QSizeF>

namespace corvessa {

// The drawn cursor as one small premultiplied ARGB picture: the sprite (tilted
// while the button is pressed) over its soft shadow, or a captured system shape.
// `hot` is the pixel corner of `image` that goes on the cursor position.
class CursorLayer {
public:
    // How a theme sprite is drawn.
    struct Sprite {
        double side = 52;        // the square's side in output pixels
        double press = 0;        // press step 0...1
        double pressAngle = 0.2; // tilt at full press, radians, counter-clockwise
        bool plain = false;      // the native arrow: no tilt and no shadow
        double shadowSize = 1;   // output pixels per shadow unit
        double shadowUp = 0.58;  // shadow opacity with the button up
        double shadowDown = 0.7; // and down
    };

    // What a layer is cached under: the picture it shows, whole-pixel sizes,
    // sixteenths of a press and hundredths of opacities and angle.
    struct Key {
        int shape = -1;       // the system shape's index, or -1 for the theme sprite
        qint64 picture = 0;   // the sprite picture's identity
        int width = 0;
        int height = 0;
        int press = 0;        // 0...16
        bool plain = false;
        int shadow = 0;
        int shadowUp = 0;
        int shadowDown = 0;
        int angle = 0;
        bool operator==(const Key&) const = default;
    };

    QImage image;
    QPoint hot;

    bool isNull() const { return image.isNull(); }

    static Key spriteKey(const CursorArt::Sprite& sprite, const Sprite& how);
    static Key shapeKey(int index, const QSizeF& size);

    // The theme sprite drawn as `how` says.
    static CursorLayer sprite(const CursorArt::Sprite& sprite, const Sprite& how);
    // A captured system shape at `size` output pixels, untilted and without shadow.
    static CursorLayer shape(const MouseTrack::Shape& shape, const QSizeF& size);
};

} // namespace corvessa
