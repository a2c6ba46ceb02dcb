// The images of occupancy maps: PGM (plain P2 and raw P5, any maximum value up to
// 65535) and PNG (every bit depth and colour type), read as stored. A pixel's
// brightness is v = 255 * level / white: for grey images the sample itself over
// the largest sample (maxval, 2^depth - 1 for PNG), for colour images the sum of
// the red, green and blue samples over three times the largest one, that is the
// mean of the three channels. No gamma, colour profile or significant-bits chunk
// changes a sample. A pixel that is not fully opaque (an alpha sample below its
// largest value, or the colour that a tRNS chunk makes transparent) has no level
// and counts as unknown.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/file_error.h"

// Images larger than this on either side are refused.
constexpr int kMaxMapSide = 4096;

struct map_image {
  // The level of a pixel that is not fully opaque.
  static constexpr std::uint32_t kTransparent = UINT32_MAX;

  int width = 0;
  int height = 0;
  std::uint32_t white = 255;         // the level of a white pixel, at least 1
  std::vector<std::uint32_t> level;  // row by row from the top, 0 black to white

  bool opaque(std::size_t n) const { return level[n] != kTransparent; }
  // 0 to 255; only for opaque pixels.
  double brightness(std::size_t n) const { return 255.0 * level[n] / white; }
};

// Decodes a PGM or PNG image (told apart by their first bytes) held in memory.
// false, with the reason (without a file name), for anything else.
bool decode_map_image(std::string_view bytes, map_image& image, std::string& reason);

// Reads a whole regular file of at most limit bytes, without blocking on a named
// pipe and without reading a device. Otherwise a failure of the file system
// whose message is the reason alone: what the system says (with its errno), or
// why the file was refused (a folder is EISDIR; a device or a file too large
// has no errno).
file_result read_map_file(const std::string& path, std::uintmax_t limit, std::string& bytes);
