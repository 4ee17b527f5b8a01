#pragma once

#include "engine/compositor/CursorArt.h"
#include "engine/compositor/CursorTheme.h"

#include <QPointF>
#include <QSizeF>

#include <vector>

namespace corvessa {

// Turns the user's three cursor settings into what the compositor draws.
class CursorStyle {
public:
    // How the cursor is drawn.
    struct Look {
        CursorArt::Sprite sprite;
        double baseSize = 52;     // the sprite's side in points at cursor size 1.0 (sprites are square)
        double pressAngle = 0.2;  // tilt in radians at full press
        double shadowScale = 1.0; // shadow size factor
        bool isSystem = false;    // an arrow: the compositor may draw the live system shapes instead

        bool operator==(const Look&) const = default;
    };

    // The built-in arrow: its natural size and hot spot in points, drawn at six
    // times that size, 16 pixels from the left and top edges of a 256-pixel canvas.
    static constexpr QSizeF arrowSize{17, 24};
    static constexpr QPointF arrowHot{3, 2};
    static constexpr int canvasSide = 256;
    static constexpr double canvasScale = 6;
    static constexpr double canvasInset = 16;

    // Base sizes: one canvas pixel of the built-in arrow is 1/6 point, so at size
    // 1.0 it shows at its natural size; the extra arrows are 22 points; art 52.
    static constexpr double systemArrowBaseSize = 128.0 / 3;
    static constexpr double arrowBaseSize = 22;
    static constexpr double artBaseSize = 52;

    // The built-in arrow, "System Default", drawn once. Any thread.
    static const CursorArt::Sprite& systemArrow();
    // The bundled extra arrows ("cursor/arrows.json", "arrow-N.png"), loaded once;
    // may be empty. Any thread.
    static const std::vector<CursorArt::Sprite>& arrows();
    // The arrow catalogue of a folder; empty when it gives nothing.
    static std::vector<CursorArt::Sprite> loadArrows(const QString& folder);

    // The look for the settings, indices clamped into the lists. System: the
    // built-in arrow followed by the extra arrows; art and hidden: the art.
    static Look look(CursorTheme theme, int art, int arrow);
    // The same over given lists (art must not be empty).
    static Look look(CursorTheme theme, int art, int arrow, const std::vector<CursorArt::Sprite>& artList,
                     const std::vector<CursorArt::Sprite>& arrowList);

    // The cursor size setting made safe to draw with: not finite gives 1;
    // otherwise clamped to 0.5...5 for the system arrow (its own larger range)
    // and 0.5...2 for art.
    static double clampedSize(CursorTheme theme, double size);
};

} // namespace corvessa
