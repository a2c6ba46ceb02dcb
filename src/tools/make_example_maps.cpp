// Writes the project's three example occupancy maps into the folder given:
// floor-plan.pgm / .yaml (rooms along a corridor, with doors), cave.png / .yaml
// (a cave grown by a cellular automaton from a fixed seed) and warehouse.pgm /
// .yaml (a depot whose shelves are hollow outlines one pixel thick, as mapping
// runs draw them). The shipped files in maps/ were made with it:
// make_example_maps maps
// With a side in pixels after the folder it writes instead big-cave.png / .yaml,
// a finely grained cave of that size for benchmarks (about 10,000 walls at 700).
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "tools/world_generator.h"

namespace {

constexpr unsigned char kOccupied = 0;
constexpr unsigned char kFree = 254;
constexpr unsigned char kUnknown = 205;

struct picture {
  int width;
  int height;
  std::vector<unsigned char> gray;
  picture(int w, int h, unsigned char fill) : width(w), height(h), gray(w * h, fill) {}
  void fill(int x0, int y0, int x1, int y1, unsigned char value) {
    for (int y = y0; y < y1; ++y)
      for (int x = x0; x < x1; ++x)
        if (x >= 0 && x < width && y >= 0 && y < height) gray[y * width + x] = value;
  }
};

bool write_text(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  return static_cast<bool>(out);
}

std::string yaml_for(const std::string& image, double resolution,
                     const std::string& origin = "[0.0, 0.0, 0.0]") {
  return "image: " + image + "\nresolution: " + std::to_string(resolution) + "\norigin: " + origin +
         "\nnegate: 0\noccupied_thresh: 0.65\nfree_thresh: 0.196\n";
}

// 400 x 300 pixels of 5 cm: an outer wall, a corridor across the middle and four
// rooms on either side, each with a door onto the corridor, two rooms joined.
picture floor_plan() {
  picture p(400, 300, kUnknown);
  const int t = 6;  // wall thickness
  p.fill(10, 10, 390, 290, kOccupied);
  p.fill(10 + t, 10 + t, 390 - t, 290 - t, kFree);
  p.fill(10, 120, 390, 120 + t, kOccupied);  // corridor walls
  p.fill(10, 180, 390, 180 + t, kOccupied);
  for (int k = 1; k < 4; ++k) {  // room walls
    const int x = 10 + k * 95;
    p.fill(x, 10, x + t, 120, kOccupied);
    p.fill(x, 186, x + t, 290, kOccupied);
  }
  for (int k = 0; k < 4; ++k) {  // doors, 40 pixels (2 m) wide
    const int x = 40 + k * 95;
    p.fill(x, 120, x + 40, 120 + t, kFree);
    p.fill(x + 10, 180, x + 50, 180 + t, kFree);
  }
  p.fill(105, 50, 105 + t, 90, kFree);    // a door between the two upper-left rooms
  p.fill(150, 220, 190, 250, kOccupied);  // a table
  return p;
}

// Rock where most of the eight neighbours are rock, starting from random rock.
std::vector<char> smooth(const std::vector<char>& rock, int n) {
  std::vector<char> next(rock.size());
  for (int y = 0; y < n; ++y) {
    for (int x = 0; x < n; ++x) {
      int around = 0;
      for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx) {
          const int xx = x + dx;
          const int yy = y + dy;
          around += (xx < 0 || yy < 0 || xx >= n || yy >= n) ? 1 : rock[yy * n + xx];
        }
      next[y * n + x] = around >= 5;
    }
  }
  return next;
}

// 240 x 240 pixels: a 40 x 40 cave grown from random rock, each cell made 6 x 6
// pixels, its steps rounded off at full size; the world's rim is rock.
picture cave(int coarse = 40, int zoom = 6) {
  const int n = coarse * zoom;
  splitmix64 random(20240615);
  std::vector<char> rock(coarse * coarse);
  for (auto& r : rock) r = random.unit() < 0.46;
  for (int round = 0; round < 4; ++round) rock = smooth(rock, coarse);
  std::vector<char> fine(n * n);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) fine[y * n + x] = rock[(y / zoom) * coarse + x / zoom];
  for (int round = 0; round < 3; ++round) fine = smooth(fine, n);
  picture p(n, n, kFree);
  for (int i = 0; i < n * n; ++i) p.gray[i] = fine[i] ? kOccupied : kFree;
  return p;
}

// The outline of a rectangle, one pixel thick, inside [x0, x1) x [y0, y1).
void outline(picture& p, int x0, int y0, int x1, int y1) {
  p.fill(x0, y0, x1, y0 + 1, kOccupied);
  p.fill(x0, y1 - 1, x1, y1, kOccupied);
  p.fill(x0, y0, x0 + 1, y1, kOccupied);
  p.fill(x1 - 1, y0, x1, y1, kOccupied);
}

// 600 x 300 pixels of 5 cm (30 x 15 m): a depot with an office of two rooms in
// one corner, twelve pairs of shelves standing back to back with a gap of two
// pixels between them, each shelf only its outline one pixel thick (the laser saw
// its sides, not its inside), pillars along the loading area and single specks
// of sensor noise on the floor.
picture warehouse() {
  picture p(600, 300, kUnknown);
  p.fill(8, 8, 592, 292, kOccupied);  // the outer wall, 3 pixels
  p.fill(11, 11, 589, 289, kFree);
  p.fill(11, 110, 130, 112, kOccupied);  // the office: two rooms ...
  p.fill(130, 11, 132, 200, kOccupied);
  p.fill(11, 198, 130, 200, kOccupied);
  p.fill(130, 50, 132, 80, kFree);  // ... each with a door of 1.5 m
  p.fill(130, 140, 132, 170, kFree);
  for (int row = 0; row < 4; ++row) {
    const int y = 30 + 58 * row;
    for (int column = 0; column < 3; ++column) {
      const int x = 170 + 130 * column;
      outline(p, x, y, x + 90, y + 10);
      outline(p, x, y + 12, x + 90, y + 22);
    }
  }
  for (int k = 0; k < 3; ++k) p.fill(200 + 130 * k, 250, 206 + 130 * k, 256, kOccupied);
  splitmix64 random(20240921);
  for (int speck = 0; speck < 30;) {
    const int x = 12 + static_cast<int>(random.below(576));
    const int y = 12 + static_cast<int>(random.below(276));
    unsigned char& pixel = p.gray[static_cast<std::size_t>(y) * p.width + x];
    if (pixel != kFree) continue;
    pixel = kOccupied;
    ++speck;
  }
  return p;
}

bool write_pgm(const std::string& path, const picture& p) {
  std::string text = "P5\n# made by make_example_maps\n" + std::to_string(p.width) + " " +
                     std::to_string(p.height) + "\n255\n";
  text.append(p.gray.begin(), p.gray.end());
  return write_text(path, text);
}

bool write_png(const std::string& path, const picture& p) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(p.width);
  image.height = static_cast<png_uint_32>(p.height);
  image.format = PNG_FORMAT_GRAY;
  return png_image_write_to_file(&image, path.c_str(), 0, p.gray.data(), 0, nullptr) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: make_example_maps FOLDER [SIDE]\n");
    return 2;
  }
  const std::string dir = argv[1];
  if (argc == 3) {
    const int side = std::atoi(argv[2]);
    if (side < 8 || side > 4096) {
      std::fprintf(stderr, "make_example_maps: SIDE is 8 to 4096 pixels\n");
      return 2;
    }
    if (!write_png(dir + "/big-cave.png", cave(side / 2, 2)) ||
        !write_text(dir + "/big-cave.yaml", yaml_for("big-cave.png", 0.05))) {
      std::fprintf(stderr, "make_example_maps: cannot write into %s\n", dir.c_str());
      return 1;
    }
    return 0;
  }
  const bool ok =
      write_pgm(dir + "/floor-plan.pgm", floor_plan()) &&
      write_text(dir + "/floor-plan.yaml", yaml_for("floor-plan.pgm", 0.05)) &&
      write_png(dir + "/cave.png", cave()) &&
      write_text(dir + "/cave.yaml", yaml_for("cave.png", 0.1)) &&
      write_pgm(dir + "/warehouse.pgm", warehouse()) &&
      write_text(dir + "/warehouse.yaml", yaml_for("warehouse.pgm", 0.05, "[-15.0, -7.5, 0.0]"));
  if (!ok) {
    std::fprintf(stderr, "make_example_maps: cannot write into %s\n", dir.c_str());
    return 1;
  }
  return 0;
}
