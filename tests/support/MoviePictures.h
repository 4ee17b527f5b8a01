#pragma once

#include <QColor>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>

namespace corvessa::test {

// The pictures of a recorded movie, read back through ffmpeg for checks on
// what a recording shows.
class MoviePictures {
public:
    // Hands each picture of `movie`, as RGB scaled to `size`, to `picture` in
    // order, one at a time; `inputOptions` go before the input (e.g. "-sseof",
    // "-0.5"). The number of pictures, or -1 when ffmpeg is missing or failed.
    static int each(const QString& movie, const QSize& size, const std::function<void(const QImage&)>& picture,
                     const QStringList& inputOptions = {});
    // A picture from the movie's last half second; null when it cannot be read.
    static QImage last(const QString& movie, const QSize& size);
    // How far apart two colours are: the sum of their channels' differences.
    static int distance(const QColor& a, const QColor& b);
};

} // namespace corvessa::test
