// The GIF encoder: its palette, and films decoded back with giflib, laid over one
// another as a viewer shows them, and compared with the frames that went in.
#include "draw/gif_writer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "draw/trail_draw.h"
#include "gif_decode.h"

namespace {

constexpr std::uint32_t rgb(unsigned r, unsigned g, unsigned b) {
  return 0xFF000000u | (r << 16) | (g << 8) | b;
}

struct frame {
  int width;
  int height;
  std::vector<std::uint32_t> pixels;

  frame(int w, int h, std::uint32_t fill) : width(w), height(h), pixels(std::size_t(w) * h, fill) {}
  void fill_box(int left, int top, int right, int bottom, std::uint32_t colour) {
    for (int y = top; y < bottom; ++y)
      for (int x = left; x < right; ++x) pixels[std::size_t(y) * width + x] = colour;
  }
};

// A film written to memory.
struct film {
  std::string bytes;
  gif_writer writer;
  film(int width, int height)
      : writer(width, height, [this](const std::uint8_t* data, std::size_t size) {
          bytes.append(reinterpret_cast<const char*>(data), size);
          return true;
        }) {}
};

// What the palette makes of a frame: every pixel's entry's colour.
std::vector<std::uint32_t> through_palette(const gif_palette& palette, const frame& f) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t p : f.pixels) out.push_back(palette.colour(palette.index_of(p)));
  return out;
}

unsigned channel(std::uint32_t c, int shift) {
  return (c >> shift) & 0xFFu;
}

// ---------------------------------------------------------------- palette

TEST(GifPalette, SceneColoursAreExactAndEveryEntryIsDistinct) {
  const gif_palette palette;
  for (std::uint32_t colour :
       {rgb(255, 255, 255), rgb(0, 0, 0), rgb(0, 128, 200), rgb(0, 255, 0), rgb(0, 0, 255),
        rgb(255, 0, 0), rgb(red_of(kTrailColour), green_of(kTrailColour), blue_of(kTrailColour))}) {
    EXPECT_EQ(palette.colour(palette.index_of(colour)), colour & 0xFFFFFFu) << std::hex << colour;
  }
  std::set<std::uint32_t> entries;
  for (int i = 0; i < gif_palette::kSize; ++i) entries.insert(palette.colour(i));
  EXPECT_EQ(entries.size(), 256u);
}

TEST(GifPalette, LatticeLevelsKeepTheirHueAndAreAtMostOneOff) {
  const gif_palette palette;
  int exact = 0;
  for (unsigned level = 0; level < 256; ++level) {
    const std::uint32_t red = palette.colour(palette.index_of(rgb(level, 0, 0)));
    const std::uint32_t blue = palette.colour(palette.index_of(rgb(0, 0, level)));
    EXPECT_EQ(channel(red, 8) | channel(red, 0), 0u) << level;
    EXPECT_EQ(channel(blue, 16) | channel(blue, 8), 0u) << level;
    EXPECT_LE(std::abs(int(channel(red, 16)) - int(level)), 1) << level;
    EXPECT_LE(std::abs(int(channel(blue, 0)) - int(level)), 1) << level;
    EXPECT_EQ(channel(red, 16) == 0, level == 0) << "only level 0 is black: " << level;
    if (channel(red, 16) == level) ++exact;
  }
  EXPECT_EQ(exact, 1 + gif_palette::kLatticeLevels);
}

TEST(GifPalette, GreysAreAtMostEightOffAndNoColourIsTransparent) {
  const gif_palette palette;
  for (unsigned g = 0; g < 256; ++g) {
    const std::uint32_t c = palette.colour(palette.index_of(rgb(g, g, g)));
    EXPECT_TRUE(channel(c, 16) == channel(c, 8) && channel(c, 8) == channel(c, 0)) << g;
    EXPECT_LE(std::abs(int(channel(c, 0)) - int(g)), 8) << g;
  }
  std::mt19937 random(7);
  for (int i = 0; i < 20000; ++i) {
    const std::uint32_t colour = random() & 0xFFFFFFu;
    const std::uint8_t entry = palette.index_of(colour);
    EXPECT_NE(entry, gif_palette::kTransparent);
    // The fast paths agree with the full search wherever they answer.
    std::uint8_t quick = 0;
    if (palette.quick_index(colour, quick)) continue;
    EXPECT_EQ(entry, palette.nearest(colour));
  }
  EXPECT_EQ(palette.index_of(rgb(255, 0, 255)), palette.nearest(rgb(255, 0, 255)));
  EXPECT_NE(palette.index_of(rgb(255, 0, 255)), gif_palette::kTransparent);
}

// ---------------------------------------------------------------- films

TEST(GifWriter, FilmDecodesToItsFramesThroughThePalette) {
  // A moving disc-like box, a lattice-like field of levels and a text-like grey
  // patch, changing from frame to frame.
  const int w = 97;
  const int h = 61;
  std::vector<frame> frames;
  std::mt19937 random(11);
  for (int i = 0; i < 12; ++i) {
    frame f(w, h, rgb(255, 255, 255));
    f.fill_box(0, 0, w, 3, rgb(0, 128, 200));
    if (i % 3 != 2) f.fill_box(5 + i * 6, 20, 15 + i * 6, 30, rgb(0, 255, 0));
    for (int cell = 0; cell < 6; ++cell) {
      const unsigned level = random() % 256;
      f.fill_box(cell * 8, 40, cell * 8 + 8, 48, i % 2 ? rgb(level, 0, 0) : rgb(0, 0, level));
    }
    const unsigned grey = random() % 256;
    f.fill_box(70, 5, 80, 12, rgb(grey, grey, grey));
    if (i == 7) f.pixels[std::size_t(h - 1) * w + w - 1] = rgb(12, 200, 77);  // an odd colour
    frames.push_back(f);
  }
  frames.push_back(frames.back());  // a frame with no change at all

  film out(w, h);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    ASSERT_TRUE(out.writer.add_frame(frames[i].pixels.data(), w, 100.0 * double(i)));
  }
  ASSERT_TRUE(out.writer.finish(100.0 * double(frames.size())));
  EXPECT_EQ(out.writer.frames(), frames.size());

  const decoded_gif gif = decode_gif(out.bytes);
  ASSERT_TRUE(gif.ok) << gif.error;
  EXPECT_EQ(gif.version, "GIF89a");
  EXPECT_EQ(gif.width, w);
  EXPECT_EQ(gif.height, h);
  EXPECT_TRUE(gif.loops_forever);
  ASSERT_EQ(gif.palette.size(), 256u);
  for (int i = 0; i < 256; ++i) EXPECT_EQ(gif.palette[i], out.writer.palette().colour(i));
  ASSERT_EQ(gif.frames.size(), frames.size());

  const gif_palette& palette = out.writer.palette();
  for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& picture) {
    EXPECT_EQ(picture, through_palette(palette, frames[i])) << "frame " << i;
    EXPECT_EQ(gif.frames[i].delay_cs, 10) << i;
    EXPECT_EQ(gif.frames[i].disposal, DISPOSE_DO_NOT) << i;
    EXPECT_FALSE(gif.frames[i].local_palette);
  });
  // The first frame is whole and opaque; the unchanged last one is one
  // transparent pixel.
  EXPECT_EQ(gif.frames[0].width, w);
  EXPECT_EQ(gif.frames[0].height, h);
  EXPECT_EQ(gif.frames[0].transparent, -1);
  EXPECT_EQ(gif.frames.back().width * gif.frames.back().height, 1);
  EXPECT_EQ(gif.frames.back().indices[0], gif.frames.back().transparent);
}

TEST(GifWriter, LaterFramesStoreOnlyTheChangedRectangle) {
  const int w = 200;
  const int h = 150;
  frame a(w, h, rgb(255, 255, 255));
  frame b = a;
  b.fill_box(40, 30, 45, 33, rgb(255, 0, 0));  // pixels 40..44 x 30..32
  b.pixels[std::size_t(60) * w + 120] = rgb(0, 0, 255);

  film out(w, h);
  ASSERT_TRUE(out.writer.add_frame(a.pixels.data(), w, 0));
  ASSERT_TRUE(out.writer.add_frame(b.pixels.data(), w, 10));
  ASSERT_TRUE(out.writer.finish(20));
  const decoded_gif gif = decode_gif(out.bytes);
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), 2u);
  const decoded_frame& second = gif.frames[1];
  EXPECT_EQ(second.left, 40);
  EXPECT_EQ(second.top, 30);
  EXPECT_EQ(second.width, 81);
  EXPECT_EQ(second.height, 31);
}

TEST(GifWriter, TransparencyOnlyWhereItMakesTheFrameSmaller) {
  const int w = 120;
  const int h = 80;
  std::mt19937 random(3);
  auto noise = [&random] {
    const unsigned level = random() % 256;
    return random() % 2 ? rgb(level, 0, 0) : rgb(0, 0, level);
  };

  // Noise that stays, with two changed corners: marking the noise transparent
  // leaves almost nothing to store.
  frame noisy(w, h, 0);
  for (auto& p : noisy.pixels) p = noise();
  frame corners = noisy;
  corners.pixels.front() = rgb(0, 255, 0);
  corners.pixels.back() = rgb(0, 255, 0);

  // Noise replaced by white, apart from the pixels that happened to be white
  // already: the plain white rectangle is smaller than one riddled with holes.
  frame speckled(w, h, 0);
  for (auto& p : speckled.pixels) p = random() % 5 == 0 ? rgb(255, 255, 255) : noise();
  frame white(w, h, rgb(255, 255, 255));

  film out(w, h);
  ASSERT_TRUE(out.writer.add_frame(noisy.pixels.data(), w, 0));
  ASSERT_TRUE(out.writer.add_frame(corners.pixels.data(), w, 10));
  ASSERT_TRUE(out.writer.add_frame(speckled.pixels.data(), w, 20));
  ASSERT_TRUE(out.writer.add_frame(white.pixels.data(), w, 30));
  ASSERT_TRUE(out.writer.finish(40));
  const decoded_gif gif = decode_gif(out.bytes);
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), 4u);
  EXPECT_EQ(gif.frames[1].transparent, gif_palette::kTransparent);
  EXPECT_EQ(gif.frames[3].transparent, -1);
  for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& picture) {
    const frame* expected[] = {&noisy, &corners, &speckled, &white};
    EXPECT_EQ(picture, through_palette(out.writer.palette(), *expected[i])) << i;
  });
}

TEST(GifWriter, RoundingOfDelaysDoesNotAddUp) {
  // Frames 15 ms apart: GIF counts hundredths, so the delays alternate 2, 1, 2, 1
  // (from 0, 15, 30, 45 ... rounded: 0, 2, 3, 5, 6, 8 ...) and the film lasts
  // what it should.
  const int w = 4;
  const int h = 4;
  film out(w, h);
  const int count = 40;
  for (int i = 0; i < count; ++i) {
    frame f(w, h, rgb(0, 0, unsigned(i * 6)));
    ASSERT_TRUE(out.writer.add_frame(f.pixels.data(), w, 1000.0 + 15.0 * i));
  }
  ASSERT_TRUE(out.writer.finish(1000.0 + 15.0 * count));
  const decoded_gif gif = decode_gif(out.bytes);
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), std::size_t(count));
  int total = 0;
  for (int i = 0; i < count; ++i) {
    const int expected = int(std::lround(15.0 * (i + 1) / 10.0) - std::lround(15.0 * i / 10.0));
    EXPECT_EQ(gif.frames[i].delay_cs, expected) << i;
    total += gif.frames[i].delay_cs;
  }
  EXPECT_EQ(total, 60);  // 600 ms
}

TEST(GifWriter, LongDelaysAreCappedAtGifsLimit) {
  film out(2, 2);
  frame f(2, 2, rgb(255, 255, 255));
  ASSERT_TRUE(out.writer.add_frame(f.pixels.data(), 2, 0));
  ASSERT_TRUE(out.writer.finish(1e9));
  const decoded_gif gif = decode_gif(out.bytes);
  ASSERT_TRUE(gif.ok);
  EXPECT_EQ(gif.frames.at(0).delay_cs, gif_writer::kMaxDelayCentiseconds);
}

TEST(GifWriter, FailuresStopTheWritingAndSayWhy) {
  for (auto [w, h] : {std::pair{0, 10}, std::pair{10, -1}, std::pair{70000, 1}}) {
    gif_writer bad(w, h, [](const std::uint8_t*, std::size_t) { return true; });
    EXPECT_FALSE(bad.ok()) << w << "x" << h;
    EXPECT_FALSE(bad.error().empty());
  }

  // A sink that takes the header and then refuses (a full disk).
  std::size_t calls = 0;
  std::size_t refused_after = 0;
  gif_writer writer(8, 8, [&](const std::uint8_t*, std::size_t) {
    ++calls;
    return refused_after == 0;
  });
  ASSERT_TRUE(writer.ok());
  frame f(8, 8, rgb(255, 255, 255));
  ASSERT_TRUE(writer.add_frame(f.pixels.data(), 8, 0));
  refused_after = calls;
  f.pixels[3] = rgb(0, 0, 0);
  EXPECT_FALSE(writer.add_frame(f.pixels.data(), 8, 10));  // writes the first frame
  EXPECT_FALSE(writer.ok());
  EXPECT_NE(writer.error().find("cannot write"), std::string::npos) << writer.error();
  const std::size_t calls_at_failure = calls;
  EXPECT_FALSE(writer.add_frame(f.pixels.data(), 8, 20));
  EXPECT_FALSE(writer.finish(30));
  EXPECT_EQ(calls, calls_at_failure);

  gif_writer empty(8, 8, [](const std::uint8_t*, std::size_t) { return true; });
  EXPECT_FALSE(empty.finish(0)) << "a GIF needs a frame";
}

}  // namespace
