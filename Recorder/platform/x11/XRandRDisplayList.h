#pragma once

#include "platform/DisplayList.h"
#include "platform/core/ScreenCoordinates.h"

#include <QByteArray>
#include <QRectF>
#include <QString>

#include <memory>

namespace corvessa {

// The X server's displays through RandR: every connected output driven by a
// CRTC. displays() keeps the list it read and reads it again only when the
// server has told of a change (XRandRChangeWatch) or Qt's screens changed, so
// the many callers on the main thread never wait on a busy server; it may be
// used from any thread (one lock). Without change notices every call reads
// afresh. outputs() always reads afresh on a short connection of its own. When
// the display cannot be opened the list is empty.
class XRandRDisplayList : public DisplayList {
public:
    // displayName: the X display to ask, e.g. ":1"; empty means $DISPLAY.
    explicit XRandRDisplayList(QString displayName = {});
    ~XRandRDisplayList() override;
    XRandRDisplayList(const XRandRDisplayList&) = delete;
    XRandRDisplayList& operator=(const XRandRDisplayList&) = delete;

    std::vector<DisplayInfo> displays() const override;
    // How often displays() has asked the server so far.
    int serverReads() const;

    // Whether the X display can be opened.
    static bool isAvailable(const QString& displayName = {});

    // One output in the X server's layout: points with y down.
    struct Output {
        QString name;
        QByteArray edid;
        QRectF frame;
        QRectF pixels; // where its pixels lie on the root window; empty: the same as frame
        // The root's work area (root pixels, y down; the same for every output):
        // what panels and docks leave free. Empty when no window manager says.
        QRectF workArea;
        double scale = 1;
        double refreshRate = 0;
        bool isPrimary = false;
    };
    // The display list for a layout: frames turned into global points, the
    // primary first and the others by position. When no output is marked primary, the first one is taken as such.
    // The visible frame is the work area's part of each output.
    static std::vector<DisplayInfo> fromOutputs(std::vector<Output> outputs);

    // The server's outputs as they are now, before the conversion to global
    // points; empty when the display cannot be opened.
    std::vector<Output> outputs() const;
    // The conversions for a layout: its primary output (the marked one, else the
    // first) and every output's pixels and points.
    static ScreenCoordinates coordinates(const std::vector<Output>& outputs);

    // "VVVV-PPPP-SSSSSSSS": the EDID's manufacturer id, product code and serial
    // number in hex. The output name when the EDID is short, has no valid header or
    // carries none of the three.
    static QString uuidFromEdid(const QByteArray& edid, const QString& outputName);
    // The monitor's name from the EDID's name descriptor (tag 0xFC), e.g. "DELL
    // U2720Q"; the output name when there is none or it is not printable ASCII.
    static QString labelFromEdid(const QByteArray& edid, const QString& outputName);

    // Refresh rate of a mode timing in Hz; 0 when the timing is incomplete.
    // Interlaced modes show twice the frames, double-scanned ones half.
    static double refreshRate(unsigned long dotClock, unsigned hTotal, unsigned vTotal, bool interlace = false,
                              bool doubleScan = false);

private:
    struct Cache;

    QString m_displayName;
    std::unique_ptr<Cache> m_cache;
};

} // namespace corvessa
