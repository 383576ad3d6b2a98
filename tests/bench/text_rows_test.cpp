// SPDX-License-Identifier: MIT
// The window probe decides "painted with its lines" from pixels alone; these
// images are what it meets: the list before and after painting, and an
// unpainted window's leftovers.
#include "text_rows.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kBlack = 0x000000;
constexpr std::uint32_t kGrey = 0x808080;  // anti-aliased edges: neither dark nor light

struct Canvas {
    int width;
    int height;
    int stride;
    std::vector<std::uint32_t> pixels;

    Canvas(int w, int h, std::uint32_t fill, int padding = 0)
        : width(w),
          height(h),
          stride(w + padding),
          pixels(static_cast<std::size_t>(stride * h), fill) {}
    void paint(int x0, int y0, int w, int h, std::uint32_t colour) {
        for (int y = y0; y < y0 + h; ++y) {
            for (int x = x0; x < x0 + w; ++x)
                pixels[static_cast<std::size_t>(y * stride + x)] = colour;
        }
    }
    // A line of "text": glyph stems a few pixels apart over the line's height.
    void text(int top, int lineHeight) {
        for (int x = 2; x < width - 2; x += 4) paint(x, top, 1, lineHeight, kBlack);
    }
    [[nodiscard]] int lines(int tallest = 40) const {
        return tq::bench::countTextLines({pixels.data(), width, height, stride}, tallest);
    }
};

TEST(TextLines, CountsLinesSeparatedByOneBlankRow) {
    Canvas list(120, 60, kWhite);
    EXPECT_EQ(list.lines(), 0);
    list.text(0, 12);
    EXPECT_EQ(list.lines(), 1);
    list.text(13, 12);  // a single background row between two lines
    list.text(27, 10);
    EXPECT_EQ(list.lines(), 3);
}

TEST(TextLines, AntiAliasedGreyAloneIsNoText) {
    Canvas list(120, 40, kWhite);
    list.paint(0, 2, 120, 3, kGrey);  // a faint rule, or a glyph's soft edge
    EXPECT_EQ(list.lines(), 0);
    list.text(6, 10);
    list.paint(0, 16, 120, 1, kGrey);  // soft edge right under the line
    list.text(17, 10);
    EXPECT_EQ(list.lines(), 2) << "a row without a dark pixel separates lines";
    list.paint(0, 16, 120, 1, kBlack);
    EXPECT_EQ(list.lines(), 1);
}

TEST(TextLines, UnpaintedAreasAreNeverText) {
    // Xvfb's root weave shows through a window that has not painted yet.
    Canvas weave(120, 60, kWhite);
    for (int y = 0; y < 60; ++y) {
        for (int x = (y % 2); x < 120; x += 2) weave.paint(x, y, 1, 1, kBlack);
    }
    EXPECT_EQ(weave.lines(), -1);
    Canvas black(120, 60, kBlack);
    EXPECT_EQ(black.lines(), -1);
    // A dark block taller than any line of text.
    Canvas block(120, 60, kWhite);
    block.paint(0, 5, 4, 45, kBlack);
    EXPECT_EQ(block.lines(), -1);
    EXPECT_EQ(block.lines(50), 1);
}

TEST(TextLines, ReadsRowsAtTheirStride) {
    // X pads image rows; the padding holds garbage that must not be read.
    Canvas padded(100, 30, kWhite, 4);
    for (int y = 0; y < 30; ++y) padded.paint(100, y, 4, 1, kBlack);
    EXPECT_EQ(padded.lines(), 0);
    padded.text(3, 8);
    padded.text(15, 8);
    EXPECT_EQ(padded.lines(), 2);
}

}  // namespace
