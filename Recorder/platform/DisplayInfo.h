#pragma once

#include "platform/core/GlobalRect.h"

#include <QSize>
#include <QString>

#include <cstdint>

namespace corvessa {

// One connected display as the program sees it.
struct DisplayInfo {
    uint32_t id = 0;        // idForName(name): stable across runs and reconnections
    QString name;           // the RandR output name, e.g. "DP-1"
    QString uuid;           // per-device key: EDID vendor-product-serial in hex, else the output name
    GlobalRect frame;       // in global points, like every rectangle the program keeps
    GlobalRect visibleFrame; // the frame less panels and docks; the frame when unknown
    QString label;          // the monitor's own name (EDID), else the output name
    double scale = 1;       // device pixel ratio (pixels per point)
    double refreshRate = 0; // Hz; 0 when unknown
    bool isPrimary = false;

    // The frame's size in pixels.
    QSize pixelSize() const;

    // 32-bit FNV-1a of the name's UTF-8 bytes.
    static uint32_t idForName(const QString& outputName);

    bool operator==(const DisplayInfo&) const = default;
};

} // namespace corvessa
