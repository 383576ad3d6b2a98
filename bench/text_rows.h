// SPDX-License-Identifier: MIT
// Lines of dark text on a light background, counted in a grabbed image: how
// a probe outside the program tells that a list has been painted with its
// lines.
#pragma once

#include <cstdint>

namespace tq::bench {

// 32-bit pixels 0x00RRGGBB, row after row, stride pixels apart.
struct PixelArea {
    const std::uint32_t* pixels;
    int width;
    int height;
    int stride;
};

inline int luminance(std::uint32_t pixel) {
    const auto red = static_cast<int>((pixel >> 16) & 0xFF);
    const auto green = static_cast<int>((pixel >> 8) & 0xFF);
    const auto blue = static_cast<int>(pixel & 0xFF);
    return (red * 299 + green * 587 + blue * 114) / 1000;
}

// The number of text lines: bands of rows holding dark pixels, with rows of
// light background between them. -1 while the area is no painted light
// background (under two thirds of it light, or a band taller than a line of
// text can be), so that an unpainted window's leftovers never count as text.
inline int countTextLines(const PixelArea& area, int tallestLine = 40) {
    constexpr int kDark = 100;
    constexpr int kLight = 160;
    long light = 0;
    int lines = 0;
    int bandHeight = 0;
    for (int y = 0; y < area.height; ++y) {
        const std::uint32_t* row = area.pixels + static_cast<long>(y) * area.stride;
        bool dark = false;
        for (int x = 0; x < area.width; ++x) {
            const int level = luminance(row[x]);
            if (level < kDark) dark = true;
            if (level >= kLight) ++light;
        }
        if (dark) {
            if (bandHeight == 0) ++lines;
            if (++bandHeight > tallestLine) return -1;
        } else {
            bandHeight = 0;
        }
    }
    const long all = static_cast<long>(area.width) * area.height;
    if (all == 0 || light * 3 < all * 2) return -1;
    return lines;
}

}  // namespace tq::bench
