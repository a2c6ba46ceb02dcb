// Map images read as stored: every PNG bit depth and colour type against a PGM
// twin holding the same levels, whatever gamma or colour chunks say; and the
// files that are not images at all.
#include "tools/map_image.h"

#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <csetjmp>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "../core/file_result_check.h"
namespace {

struct png_kind {
  const char* name;
  int color_type;
  int depth;
  bool interlaced = false;
  bool gamma_one = false;  // a gAMA chunk of 1.0: linear light
  bool transparency = false;
};

int channels_of(int color_type) {
  switch (color_type) {
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      return 2;
    case PNG_COLOR_TYPE_RGB:
      return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA:
      return 4;
    default:
      return 1;
  }
}

// A picture as samples, channel by channel, with the palette for palette images.
struct samples {
  int width;
  int height;
  std::vector<unsigned> values;
  std::vector<png_color> palette;
  std::vector<png_byte> palette_alpha;
  png_color_16 transparent{};
};

void append(std::string* out, png_bytep data, png_size_t length) {
  out->append(reinterpret_cast<const char*>(data), length);
}

bool encode(const png_kind& kind, const samples& s, std::string& out) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const int channels = channels_of(kind.color_type);
  const int per_byte = kind.depth < 8 ? 8 / kind.depth : 1;
  const std::size_t row_bytes =
      kind.depth == 16 ? s.width * channels * 2u : (s.width * channels + per_byte - 1) / per_byte;
  std::vector<png_byte> pixels(row_bytes * s.height, 0);
  for (int y = 0; y < s.height; ++y) {
    for (int k = 0; k < s.width * channels; ++k) {
      const unsigned v = s.values[static_cast<std::size_t>(y) * s.width * channels + k];
      png_byte* row = pixels.data() + y * row_bytes;
      if (kind.depth == 16) {
        row[2 * k] = static_cast<png_byte>(v >> 8);
        row[2 * k + 1] = static_cast<png_byte>(v & 0xFF);
      } else if (kind.depth == 8) {
        row[k] = static_cast<png_byte>(v);
      } else {  // the first sample in the highest bits
        const int shift = 8 - kind.depth * (k % per_byte + 1);
        row[k / per_byte] |= static_cast<png_byte>(v << shift);
      }
    }
  }
  std::vector<png_bytep> rows(s.height);
  for (int y = 0; y < s.height; ++y) rows[y] = pixels.data() + y * row_bytes;
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t length) {
        append(static_cast<std::string*>(png_get_io_ptr(p)), data, length);
      },
      nullptr);
  png_set_IHDR(png, info, s.width, s.height, kind.depth, kind.color_type,
               kind.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (kind.color_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_PLTE(png, info, s.palette.data(), static_cast<int>(s.palette.size()));
  }
  if (kind.transparency) {
    if (kind.color_type == PNG_COLOR_TYPE_PALETTE) {
      png_set_tRNS(png, info, s.palette_alpha.data(), static_cast<int>(s.palette_alpha.size()),
                   nullptr);
    } else {
      png_color_16 colour = s.transparent;
      png_set_tRNS(png, info, nullptr, 0, &colour);
    }
  }
  if (kind.gamma_one) png_set_gAMA(png, info, 1.0);
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

// Random samples, and the PGM whose maximum is the PNG's white and whose values
// are its levels (0 where the PNG is transparent), with the transparent pixels.
void make_pair(const png_kind& kind, std::mt19937& rng, samples& s, std::string& pgm,
               std::vector<char>& transparent) {
  const unsigned maxval = (1u << kind.depth) - 1;
  const int channels = channels_of(kind.color_type);
  const bool colour = (kind.color_type & PNG_COLOR_MASK_COLOR) != 0;
  // Three 16-bit samples add up beyond a PGM's largest maximum: grey colours then.
  const bool grey_colours = colour && kind.depth == 16;
  s.width = 7;
  s.height = 5;
  if (kind.color_type == PNG_COLOR_TYPE_PALETTE) {
    for (unsigned k = 0; k <= maxval; ++k) {
      s.palette.push_back({static_cast<png_byte>(rng()), static_cast<png_byte>(rng()),
                           static_cast<png_byte>(rng())});
      if (kind.transparency) s.palette_alpha.push_back(k % 3 == 0 ? 255 : k % 3 == 1 ? 0 : 128);
    }
  }
  const unsigned white = kind.color_type == PNG_COLOR_TYPE_PALETTE ? 765
                         : grey_colours                            ? maxval
                         : colour                                  ? 3 * maxval
                                                                   : maxval;
  pgm = "P2\n" + std::to_string(s.width) + " " + std::to_string(s.height) + "\n" +
        std::to_string(white) + "\n";
  transparent.assign(static_cast<std::size_t>(s.width) * s.height, 0);
  for (int n = 0; n < s.width * s.height; ++n) {
    std::vector<unsigned> v(channels);
    for (auto& x : v) x = rng() % (maxval + 1);
    if (grey_colours) v[1] = v[2] = v[0];
    if (channels == 2 || channels == 4) v.back() = rng() % 3 == 0 ? rng() % maxval : maxval;
    if (n == 3 && kind.transparency && kind.color_type != PNG_COLOR_TYPE_PALETTE) {
      s.transparent = {
          0, static_cast<png_uint_16>(v[0]), static_cast<png_uint_16>(v[channels > 2 ? 1 : 0]),
          static_cast<png_uint_16>(v[channels > 2 ? 2 : 0]), static_cast<png_uint_16>(v[0])};
    }
    s.values.insert(s.values.end(), v.begin(), v.end());
  }
  for (int n = 0; n < s.width * s.height; ++n) {
    const unsigned* v = &s.values[static_cast<std::size_t>(n) * channels];
    unsigned level = v[0];
    bool clear = false;
    if (kind.color_type == PNG_COLOR_TYPE_PALETTE) {
      const png_color& c = s.palette[v[0]];
      level = c.red + c.green + c.blue;
      clear = kind.transparency && s.palette_alpha[v[0]] != 255;
    } else {
      if (colour && !grey_colours) level = v[0] + v[1] + v[2];
      if (channels == 2 || channels == 4) clear = v[channels - 1] != maxval;
      if (kind.transparency) {
        clear = colour ? v[0] == s.transparent.red && v[1] == s.transparent.green &&
                             v[2] == s.transparent.blue
                       : v[0] == s.transparent.gray;
      }
    }
    transparent[n] = clear;
    pgm += std::to_string(clear ? 0 : level) + (n % s.width == s.width - 1 ? "\n" : " ");
  }
}

TEST(MapImage, EveryPngDepthAndColourTypeReadsAsItsPgmTwin) {
  const std::vector<png_kind> kinds = {
      {"grey 1", PNG_COLOR_TYPE_GRAY, 1},
      {"grey 2", PNG_COLOR_TYPE_GRAY, 2},
      {"grey 4", PNG_COLOR_TYPE_GRAY, 4},
      {"grey 8", PNG_COLOR_TYPE_GRAY, 8},
      {"grey 16", PNG_COLOR_TYPE_GRAY, 16},
      {"grey 8 gamma 1", PNG_COLOR_TYPE_GRAY, 8, false, true},
      {"grey 16 gamma 1 interlaced", PNG_COLOR_TYPE_GRAY, 16, true, true},
      {"grey 4 tRNS", PNG_COLOR_TYPE_GRAY, 4, false, false, true},
      {"grey 16 tRNS", PNG_COLOR_TYPE_GRAY, 16, false, false, true},
      {"grey alpha 8", PNG_COLOR_TYPE_GRAY_ALPHA, 8},
      {"grey alpha 16", PNG_COLOR_TYPE_GRAY_ALPHA, 16},
      {"rgb 8", PNG_COLOR_TYPE_RGB, 8},
      {"rgb 8 gamma 1 interlaced", PNG_COLOR_TYPE_RGB, 8, true, true},
      {"rgb 16", PNG_COLOR_TYPE_RGB, 16},
      {"rgb 8 tRNS", PNG_COLOR_TYPE_RGB, 8, false, false, true},
      {"rgba 8", PNG_COLOR_TYPE_RGB_ALPHA, 8},
      {"rgba 16 gamma 1", PNG_COLOR_TYPE_RGB_ALPHA, 16, false, true},
      {"palette 1", PNG_COLOR_TYPE_PALETTE, 1},
      {"palette 2", PNG_COLOR_TYPE_PALETTE, 2},
      {"palette 4 interlaced", PNG_COLOR_TYPE_PALETTE, 4, true},
      {"palette 8", PNG_COLOR_TYPE_PALETTE, 8},
      {"palette 8 tRNS", PNG_COLOR_TYPE_PALETTE, 8, false, false, true},
  };
  std::mt19937 rng(21);
  for (const png_kind& kind : kinds) {
    samples s;
    std::string pgm;
    std::vector<char> transparent;
    make_pair(kind, rng, s, pgm, transparent);
    std::string png;
    ASSERT_TRUE(encode(kind, s, png)) << kind.name;
    map_image from_png;
    map_image from_pgm;
    std::string reason;
    ASSERT_TRUE(decode_map_image(png, from_png, reason)) << kind.name << ": " << reason;
    ASSERT_TRUE(decode_map_image(pgm, from_pgm, reason)) << kind.name << ": " << reason;
    ASSERT_EQ(from_png.width, s.width);
    ASSERT_EQ(from_png.height, s.height);
    for (std::size_t n = 0; n < transparent.size(); ++n) {
      ASSERT_EQ(!from_png.opaque(n), transparent[n] != 0) << kind.name << " pixel " << n;
      if (transparent[n]) continue;
      ASSERT_EQ(from_png.brightness(n), from_pgm.brightness(n)) << kind.name << " pixel " << n;
    }
  }
}

TEST(MapImage, SamplesAreNotTakenAsLinearLight) {
  // 0x8080 of 0xFFFF is exactly 128 of 255; gAMA 1.0 changes nothing either.
  const png_kind kinds[] = {{"grey 16", PNG_COLOR_TYPE_GRAY, 16},
                            {"grey 8 gamma 1", PNG_COLOR_TYPE_GRAY, 8, false, true}};
  for (const png_kind& kind : kinds) {
    samples s{1, 1, {kind.depth == 16 ? 0x8080u : 128u}, {}, {}, {}};
    std::string png;
    ASSERT_TRUE(encode(kind, s, png));
    map_image image;
    std::string reason;
    ASSERT_TRUE(decode_map_image(png, image, reason)) << reason;
    EXPECT_EQ(image.brightness(0), 128.0) << kind.name;
  }
  // PGM: v = sample * 255 / maxval, unrounded.
  map_image image;
  std::string reason;
  ASSERT_TRUE(decode_map_image("P2 3 1 1000 0 500 1000\n", image, reason)) << reason;
  EXPECT_EQ(image.brightness(1), 127.5);
  EXPECT_EQ(image.brightness(2), 255.0);
}

TEST(MapImage, BrokenImagesAreRefusedWithAReason) {
  samples s{4, 4, std::vector<unsigned>(16, 200), {}, {}, {}};
  std::string good;
  ASSERT_TRUE(encode({"grey 8", PNG_COLOR_TYPE_GRAY, 8}, s, good));
  std::string bad_crc = good;
  bad_crc[30] ^= 0x40;  // inside the header chunk
  // A header that claims 100,000 x 1 pixels, with a correct checksum.
  std::string wide = good.substr(0, 33);
  wide.replace(16, 4, std::string("\x00\x01\x86\xA0", 4));
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(wide.data() + 12), 17);
  for (int k = 0; k < 4; ++k) wide[29 + k] = static_cast<char>(crc >> (24 - 8 * k));
  const std::vector<std::pair<std::string, std::string>> cases = {
      {good.substr(0, good.size() / 2), "broken PNG image"},
      {good.substr(0, 20), "broken PNG image"},
      {bad_crc, "broken PNG image"},
      {wide + good.substr(33), "the image is 100000 x 4 pixels, more than 4096 on a side"},
      {"GIF89a", "not a PGM or PNG image"},
      {"P5 4097 1 255\n", "more than 4096 on a side"},
      {"P5 2 2 255\nab", "ends early"},
  };
  for (const auto& [bytes, expected] : cases) {
    map_image image;
    std::string reason;
    EXPECT_FALSE(decode_map_image(bytes, image, reason)) << expected;
    EXPECT_NE(reason.find(expected), std::string::npos) << reason;
    EXPECT_TRUE(image.level.empty());
  }
}

TEST(MapImage, FilesThatAreNotRegularSayWhatTheyAre) {
  namespace fs = std::filesystem;
  const fs::path dir =
      fs::temp_directory_path() / ("robosim_map_files_" + std::to_string(::getpid()));
  fs::remove_all(dir);
  fs::create_directories(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  fs::create_symlink("/dev/zero", dir / "zero");
  fs::create_symlink("/dev/null", dir / "null");
  std::ofstream(dir / "big") << std::string(2000, 'x');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"folder", "Is a directory"},
      {"fifo", "not a regular file but a named pipe (FIFO)"},
      {"zero", "not a regular file but a character device"},
      {"null", "not a regular file but a character device"},
      {"missing", "No such file or directory"},
      {"big", "the file is larger than 1000 bytes"},
  };
  for (const auto& [name, expected] : cases) {
    std::string bytes;
    const file_result read = read_map_file((dir / name).string(), 1000, bytes);
    EXPECT_EQ(failure_of(read), expected) << name;
    EXPECT_EQ(read.error().kind, file_error_kind::file_system) << name;
    EXPECT_EQ(read.error().path, (dir / name).string()) << name;
  }
  std::string bytes;
  std::ofstream(dir / "small") << "P2 1 1 1 1\n";
  EXPECT_TRUE(succeeded(read_map_file((dir / "small").string(), 1000, bytes)));
  EXPECT_EQ(bytes, "P2 1 1 1 1\n");
  fs::remove_all(dir);
}

}  // namespace
