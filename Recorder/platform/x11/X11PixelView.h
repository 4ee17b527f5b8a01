#pragma once

#include <cstddef>
#include <cstdint>

namespace corvessa {

// 32-bit pixels of a rectangle read from the server, valid until the reader
// that made it reads again. A view; the reader owns the memory.
struct X11PixelView {
    uint8_t* data = nullptr;
    size_t bytesPerRow = 0;
    int width = 0;
    int height = 0;
    explicit operator bool() const { return data != nullptr; }
};

} // namespace corvessa
