#include "support/MoviePictures.h"

#include <QProcess>
#include <QStandardPaths>

#include <cstdlib>

namespace corvessa::test {

int MoviePictures::each(const QString& movie, const QSize& size, const std::function<void(const QImage&)>& picture,
                        const QStringList& inputOptions)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty() || size.isEmpty())
        return -1;
    QProcess p;
    p.setProcessChannelMode(QProcess::SeparateChannels);
    p.start(ffmpeg, QStringList{QStringLiteral("-v"), QStringLiteral("error")} + inputOptions
                        + QStringList{QStringLiteral("-i"), movie, QStringLiteral("-vf"),
                                      QStringLiteral("scale=%1:%2").arg(size.width()).arg(size.height()),
                                      QStringLiteral("-f"), QStringLiteral("rawvideo"), QStringLiteral("-pix_fmt"),
                                      QStringLiteral("rgb24"), QStringLiteral("-")});
    if (!p.waitForStarted(30000))
        return -1;
    // Read as it comes, so a long movie never sits in memory whole.
    const qsizetype frameBytes = qsizetype(size.width()) * size.height() * 3;
    QByteArray pending;
    int count = 0;
    const auto drain = [&] {
        pending += p.readAllStandardOutput();
        while (pending.size() >= frameBytes) {
            picture(QImage(reinterpret_cast<const uchar*>(pending.constData()), size.width(), size.height(),
                           size.width() * 3, QImage::Format_RGB888)
                        .copy());
            pending.remove(0, frameBytes);
            ++count;
        }
    };
    while (p.state() != QProcess::NotRunning) {
        p.waitForReadyRead(1000);
        drain();
    }
    drain();
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 ? count : -1;
}

QImage MoviePictures::last(const QString& movie, const QSize& size)
{
    QImage found;
    each(movie, size, [&](const QImage& picture) {
        if (found.isNull())
            found = picture;
    }, {QStringLiteral("-sseof"), QStringLiteral("-0.5")});
    return found;
}

int MoviePictures::distance(const QColor& a, const QColor& b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

} // namespace corvessa::test
