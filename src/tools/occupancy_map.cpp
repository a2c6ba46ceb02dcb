#include "tools/occupancy_map.h"

#include <png.h>
#include <yaml-cpp/depthguard.h>
#include <yaml-cpp/yaml.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

namespace {

constexpr double kExtent = 10.0;
constexpr double kBoundary = 0.05;
constexpr std::uintmax_t kMaxYamlBytes = 1024 * 1024;
constexpr std::uintmax_t kMaxImageBytes = 256ULL * 1024 * 1024;

enum class cell : char { free, unknown, occupied };

struct map_settings {
  std::string image;
  double resolution = 0;
  double origin[3] = {0, 0, 0};
  double occupied_thresh = 0;
  double free_thresh = 0;
  bool negate = false;
};

bool read_small_file(const std::string& path, std::uintmax_t limit, std::string& text,
                     std::string& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = "cannot read " + path + ": no such file";
    return false;
  }
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || size > limit) {
    error = "cannot read " + path + ": " + (ec ? ec.message() : "the file is too large");
    return false;
  }
  std::ifstream in(path, std::ios::binary);
  text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  if (!in.good() && !in.eof()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

bool size_allowed(long long width, long long height, const std::string& path, std::string& error) {
  if (width <= 0 || height <= 0) {
    error = path + ": the image has no pixels";
    return false;
  }
  if (width > kMaxMapSide || height > kMaxMapSide) {
    error = path + ": the image is " + std::to_string(width) + " x " + std::to_string(height) +
            " pixels, more than " + std::to_string(kMaxMapSide) + " on a side";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// PGM, plain (P2) and raw (P5), 8 or 16 bits

class pgm_reader {
 public:
  explicit pgm_reader(const std::string& text) : text_(text) {}

  // The next header number, skipping white space and comments.
  bool number(long long& value) {
    skip_space_and_comments();
    if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      return false;
    }
    value = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      value = value * 10 + (text_[pos_++] - '0');
      if (value > 1'000'000'000) return false;
    }
    return true;
  }
  // After the header's last number: one white-space byte, then the samples.
  bool start_samples() {
    if (pos_ >= text_.size() || !std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      return false;
    }
    ++pos_;
    return true;
  }
  std::size_t pos() const { return pos_; }

 private:
  void skip_space_and_comments() {
    while (pos_ < text_.size()) {
      if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      } else if (text_[pos_] == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }
  const std::string& text_;
  std::size_t pos_ = 2;  // after the magic number
};

bool read_pgm(const std::string& path, const std::string& text, map_image& image,
              std::string& error) {
  const bool plain = text[1] == '2';
  pgm_reader reader(text);
  long long width = 0;
  long long height = 0;
  long long maxval = 0;
  if (!reader.number(width) || !reader.number(height) || !reader.number(maxval)) {
    error = path + ": broken PGM header";
    return false;
  }
  if (!size_allowed(width, height, path, error)) return false;
  if (maxval < 1 || maxval > 65535) {
    error = path + ": PGM maximum value " + std::to_string(maxval) + " is not 1 to 65535";
    return false;
  }
  const auto count = static_cast<std::size_t>(width * height);
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.gray.assign(count, 0);
  auto scaled = [maxval](long long v) {
    return static_cast<std::uint8_t>((v * 255 + maxval / 2) / maxval);
  };
  if (plain) {
    for (std::size_t n = 0; n < count; ++n) {
      long long v = 0;
      if (!reader.number(v) || v > maxval) {
        error = path + ": the PGM image ends early or holds a value above its maximum";
        return false;
      }
      image.gray[n] = scaled(v);
    }
    return true;
  }
  if (!reader.start_samples()) {
    error = path + ": broken PGM header";
    return false;
  }
  const std::size_t bytes = maxval < 256 ? 1 : 2;
  if (text.size() - reader.pos() < count * bytes) {
    error = path + ": the PGM image ends early";
    return false;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(text.data() + reader.pos());
  for (std::size_t n = 0; n < count; ++n) {
    const long long v = bytes == 1 ? data[n] : (data[2 * n] << 8) | data[2 * n + 1];
    if (v > maxval) {
      error = path + ": the PGM image holds a value above its maximum";
      return false;
    }
    image.gray[n] = scaled(v);
  }
  return true;
}

// ---------------------------------------------------------------------------
// PNG through libpng's simplified interface, converted to 8-bit gray

bool read_png(const std::string& path, const std::string& text, map_image& image,
              std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_memory(&png, text.data(), text.size()) == 0) {
    error = path + ": broken PNG image (" + png.message + ")";
    png_image_free(&png);
    return false;
  }
  if (!size_allowed(png.width, png.height, path, error)) {
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_GRAY;
  image.width = static_cast<int>(png.width);
  image.height = static_cast<int>(png.height);
  image.gray.assign(PNG_IMAGE_SIZE(png), 0);
  // A transparent pixel is composited onto white, that is free space.
  png_color background{255, 255, 255};
  if (png_image_finish_read(&png, &background, image.gray.data(), 0, nullptr) == 0) {
    error = path + ": broken PNG image (" + png.message + ")";
    png_image_free(&png);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// The YAML file

bool number_of(const YAML::Node& node, double& value) {
  if (!node.IsScalar()) return false;
  try {
    value = node.as<double>();
  } catch (const YAML::Exception&) {
    return false;
  }
  return std::isfinite(value);
}

bool read_settings(const std::string& yaml_path, map_settings& s, std::string& error) {
  std::string text;
  if (!read_small_file(yaml_path, kMaxYamlBytes, text, error)) return false;
  YAML::Node root;
  try {
    root = YAML::Load(text);
  } catch (const YAML::DeepRecursion&) {
    // The parser's own message for this case names the wrong fault ("bad file").
    error = yaml_path + ": not a YAML file (nested too deeply)";
    return false;
  } catch (const YAML::Exception& e) {
    error = yaml_path + ": not a YAML file (" + e.msg + ")";
    return false;
  }
  if (!root.IsMap()) {
    error = yaml_path + ": expected keys such as image, resolution and origin";
    return false;
  }
  const std::set<std::string> known = {"image",           "resolution",  "origin", "negate",
                                       "occupied_thresh", "free_thresh", "mode"};
  std::set<std::string> seen;
  for (const auto& entry : root) {
    const std::string key = entry.first.IsScalar() ? entry.first.Scalar() : std::string("?");
    if (!known.contains(key)) {
      error = yaml_path + ": unknown key '" + key + "'";
      return false;
    }
    seen.insert(key);
  }
  for (const char* key :
       {"image", "resolution", "origin", "negate", "occupied_thresh", "free_thresh"}) {
    if (!seen.contains(key)) {
      error = yaml_path + ": the key '" + key + "' is missing";
      return false;
    }
  }
  auto bad = [&](const std::string& what) {
    error = yaml_path + ": " + what;
    return false;
  };
  if (!root["image"].IsScalar() || root["image"].Scalar().empty()) {
    return bad("image must name the map's image file");
  }
  s.image = root["image"].Scalar();
  if (!number_of(root["resolution"], s.resolution) || !(s.resolution > 0)) {
    return bad("resolution must be a number above 0");
  }
  const YAML::Node origin = root["origin"];
  if (!origin.IsSequence() || origin.size() != 3 || !number_of(origin[0], s.origin[0]) ||
      !number_of(origin[1], s.origin[1]) || !number_of(origin[2], s.origin[2])) {
    return bad("origin must be three numbers [x, y, yaw]");
  }
  if (!number_of(root["occupied_thresh"], s.occupied_thresh) || s.occupied_thresh < 0 ||
      s.occupied_thresh > 1) {
    return bad("occupied_thresh must be a number from 0 to 1");
  }
  if (!number_of(root["free_thresh"], s.free_thresh) || s.free_thresh < 0 || s.free_thresh > 1) {
    return bad("free_thresh must be a number from 0 to 1");
  }
  if (s.free_thresh > s.occupied_thresh) return bad("free_thresh is above occupied_thresh");
  const std::string negate = root["negate"].IsScalar() ? root["negate"].Scalar() : "";
  if (negate == "0" || negate == "false") {
    s.negate = false;
  } else if (negate == "1" || negate == "true") {
    s.negate = true;
  } else {
    return bad("negate must be 0 or 1");
  }
  if (seen.contains("mode")) {
    const std::string mode = root["mode"].IsScalar() ? root["mode"].Scalar() : "";
    if (mode != "trinary" && mode != "scale") return bad("mode must be trinary or scale");
  }
  return true;
}

// ---------------------------------------------------------------------------
// From pixels to walls

std::vector<cell> classify(const map_image& image, const map_settings& s) {
  std::vector<cell> cells(image.gray.size());
  for (std::size_t n = 0; n < cells.size(); ++n) {
    const double v = image.gray[n];
    const double p = s.negate ? v / 255.0 : (255.0 - v) / 255.0;
    cells[n] = p > s.occupied_thresh ? cell::occupied
               : p < s.free_thresh   ? cell::free
                                     : cell::unknown;
  }
  return cells;
}

// The free pixel farthest (in steps, diagonals counting one) from any occupied
// pixel or the map's edge; the first such pixel row by row. False when none is free.
bool farthest_free_pixel(const std::vector<cell>& cells, int width, int height, int& px, int& py) {
  std::vector<std::uint16_t> dist(cells.size());
  auto at = [width](int x, int y) { return static_cast<std::size_t>(y) * width + x; };
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint16_t d = 0;
      if (cells[at(x, y)] != cell::occupied && x > 0 && y > 0) {
        d = static_cast<std::uint16_t>(
            1 + std::min({dist[at(x - 1, y)], dist[at(x, y - 1)], dist[at(x - 1, y - 1)],
                          x + 1 < width ? dist[at(x + 1, y - 1)] : std::uint16_t{0}}));
      }
      dist[at(x, y)] = d;
    }
  }
  for (int y = height - 1; y >= 0; --y) {
    for (int x = width - 1; x >= 0; --x) {
      std::uint16_t& d = dist[at(x, y)];
      if (d == 0) continue;
      if (x + 1 == width || y + 1 == height) {
        d = 0;
        continue;
      }
      d = std::min({d, static_cast<std::uint16_t>(dist[at(x + 1, y)] + 1),
                    static_cast<std::uint16_t>(dist[at(x, y + 1)] + 1),
                    static_cast<std::uint16_t>(dist[at(x + 1, y + 1)] + 1),
                    static_cast<std::uint16_t>(dist[at(x - 1, y + 1)] + 1)});
    }
  }
  int best = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (cells[at(x, y)] == cell::free && dist[at(x, y)] > best) {
        best = dist[at(x, y)];
        px = x;
        py = y;
      }
    }
  }
  return best >= 0;
}

}  // namespace

bool read_map_image(const std::string& path, map_image& image, std::string& error) {
  std::string text;
  if (!read_small_file(path, kMaxImageBytes, text, error)) return false;
  if (text.size() >= 2 && text[0] == 'P' && (text[1] == '2' || text[1] == '5')) {
    return read_pgm(path, text, image, error);
  }
  if (text.size() >= 8 && text.compare(0, 8, "\x89PNG\r\n\x1a\n") == 0) {
    return read_png(path, text, image, error);
  }
  error = path + ": not a PGM or PNG image";
  return false;
}

std::vector<map_rect> merge_occupied(const std::vector<char>& occupied, int width, int height) {
  std::vector<char> taken(occupied.size(), 0);
  auto at = [width](int x, int y) { return static_cast<std::size_t>(y) * width + x; };
  auto open = [&](int x, int y) { return occupied[at(x, y)] && !taken[at(x, y)]; };
  std::vector<map_rect> rects;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      if (!open(x, y)) continue;
      int w = 1;
      while (x + w < width && open(x + w, y)) ++w;
      int h = 1;
      while (y + h < height) {
        bool whole_row = true;
        for (int k = 0; k < w && whole_row; ++k) whole_row = open(x + k, y + h);
        if (!whole_row) break;
        ++h;
      }
      for (int j = 0; j < h; ++j)
        for (int k = 0; k < w; ++k) taken[at(x + k, y + j)] = 1;
      rects.push_back({x, y, w, h});
    }
  }
  return rects;
}

bool import_occupancy_map(const std::string& yaml_path, world_file_data& world,
                          std::string& error) {
  world = world_file_data{};
  map_settings settings;
  if (!read_settings(yaml_path, settings, error)) return false;
  std::filesystem::path image_path = settings.image;
  if (image_path.is_relative()) {
    image_path = std::filesystem::path(yaml_path).parent_path() / image_path;
  }
  map_image image;
  if (!read_map_image(image_path.string(), image, error)) return false;

  const std::vector<cell> cells = classify(image, settings);
  std::vector<char> occupied(cells.size());
  for (std::size_t n = 0; n < cells.size(); ++n) occupied[n] = cells[n] == cell::occupied;
  const std::vector<map_rect> rects = merge_occupied(occupied, image.width, image.height);
  if (rects.size() + 4 > kWorldFileMaxWalls) {
    error = yaml_path + ": the map gives " + std::to_string(rects.size() + 4) +
            " walls, more than a world file holds (" + std::to_string(kWorldFileMaxWalls) + ")";
    return false;
  }
  int px = 0;
  int py = 0;
  if (!farthest_free_pixel(cells, image.width, image.height, px, py)) {
    error = yaml_path + ": the map has no free pixel to put the robot on";
    return false;
  }

  const double scale = kExtent / std::max(image.width, image.height);
  const double left = (kExtent - image.width * scale) / 2;
  const double top = (kExtent - image.height * scale) / 2;
  world.walls = {{kExtent - kBoundary, 0, kBoundary, kExtent},
                 {0, 0, kBoundary, kExtent},
                 {0, kExtent - kBoundary, kExtent, kBoundary},
                 {0, 0, kExtent, kBoundary}};
  for (const map_rect& r : rects) {
    world.walls.push_back(
        {left + r.x * scale, top + r.y * scale, r.width * scale, r.height * scale});
  }
  world.wall_count = static_cast<std::int32_t>(world.walls.size());
  world.x = left + (px + 0.5) * scale;
  world.y = top + (py + 0.5) * scale;
  world.heading = 0.0;
  return true;
}
