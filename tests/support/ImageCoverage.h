#pragma once

#include <QImage>
#include <QRect>

namespace corvessa::test {

// The smallest rectangle holding every pixel with any alpha.
inline QRect touched(const QImage& img)
{
    QRect r;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            if (qAlpha(img.pixel(x, y)) != 0)
                r = r.united(QRect(x, y, 1, 1));
    return r;
}

inline bool isBlank(const QImage& img)
{
    return touched(img).isEmpty();
}

} // namespace corvessa::test
