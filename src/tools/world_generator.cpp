#include "tools/world_generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <vector>

namespace {

constexpr double kExtent = 10.0;    // the world every generated file is made for
constexpr double kBoundary = 0.05;  // thickness of the four boundary walls
constexpr double kInside = kExtent - 2 * kBoundary;
constexpr double kTwoPi = 6.283185307179586;
constexpr int kMaxMazeSide = 300;
constexpr std::uint64_t kMaxPillars = kWorldFileMaxWalls - 4;
constexpr int kFieldsPerSide = 4;   // pillars lie in 4 x 4 fields ...
constexpr double kFieldSide = 1.2;  // ... this wide, with lanes between them
constexpr double kMaxPillarSide = 0.3;

void add_wall(world_file_data& world, double x, double y, double width, double height) {
  world.walls.push_back(world_file_wall{x, y, width, height});
}

// The default world's boundary walls, in the order its list holds them.
void add_boundary(world_file_data& world) {
  add_wall(world, kExtent - kBoundary, 0, kBoundary, kExtent);  // right
  add_wall(world, 0, 0, kBoundary, kExtent);                    // left
  add_wall(world, 0, kExtent - kBoundary, kExtent, kBoundary);  // bottom
  add_wall(world, 0, 0, kExtent, kBoundary);                    // top
}

bool parse_number(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  return ec == std::errc{} && stop == end;
}

// "A:B" into A and B at the last colon.
bool split_seed(std::string_view text, std::string_view& head, std::uint64_t& seed) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  head = text.substr(0, colon);
  return parse_number(text.substr(colon + 1), seed);
}

// A perfect maze: every cell reachable from every other by exactly one way.
// open_east[c][r] / open_south[c][r]: no wall between (c, r) and its neighbour.
struct maze_cells {
  int columns;
  int rows;
  std::vector<char> open_east;
  std::vector<char> open_south;
  std::size_t at(int c, int r) const { return static_cast<std::size_t>(c) * rows + r; }
};

maze_cells carve_maze(int columns, int rows, splitmix64& random) {
  maze_cells maze{columns, rows, std::vector<char>(static_cast<std::size_t>(columns) * rows, 0),
                  std::vector<char>(static_cast<std::size_t>(columns) * rows, 0)};
  std::vector<char> visited(static_cast<std::size_t>(columns) * rows, 0);
  std::vector<std::pair<int, int>> stack{{0, 0}};
  visited[maze.at(0, 0)] = 1;
  constexpr std::array<std::array<int, 2>, 4> steps{{{1, 0}, {-1, 0}, {0, 1}, {0, -1}}};
  while (!stack.empty()) {
    const auto [c, r] = stack.back();
    std::array<int, 4> ways{};
    int count = 0;
    for (int k = 0; k < 4; ++k) {
      const int nc = c + steps[k][0];
      const int nr = r + steps[k][1];
      if (nc >= 0 && nc < columns && nr >= 0 && nr < rows && !visited[maze.at(nc, nr)]) {
        ways[count++] = k;
      }
    }
    if (count == 0) {
      stack.pop_back();
      continue;
    }
    const int k = ways[random.below(static_cast<std::uint64_t>(count))];
    const int nc = c + steps[k][0];
    const int nr = r + steps[k][1];
    if (steps[k][0] == 1) maze.open_east[maze.at(c, r)] = 1;
    if (steps[k][0] == -1) maze.open_east[maze.at(nc, nr)] = 1;
    if (steps[k][1] == 1) maze.open_south[maze.at(c, r)] = 1;
    if (steps[k][1] == -1) maze.open_south[maze.at(nc, nr)] = 1;
    visited[maze.at(nc, nr)] = 1;
    stack.emplace_back(nc, nr);
  }
  return maze;
}

// Calls add_run(first, end) for each run of closed cells [first, end) among 0..count-1.
template <typename IsOpen, typename AddRun>
void for_each_closed_run(int count, IsOpen is_open, AddRun add_run) {
  for (int i = 0; i < count;) {
    if (is_open(i)) {
      ++i;
      continue;
    }
    const int start = i;
    while (i < count && !is_open(i)) ++i;
    add_run(start, i);
  }
}

// The inner walls, each run of wall along one grid line merged into one wall.
void add_maze_walls(const maze_cells& maze, world_file_data& world) {
  const double cw = kInside / maze.columns;
  const double ch = kInside / maze.rows;
  const double t = std::min(0.05, 0.2 * std::min(cw, ch));
  for (int c = 0; c + 1 < maze.columns; ++c) {  // vertical lines right of column c
    const double x = kBoundary + (c + 1) * cw - t / 2;
    for_each_closed_run(
        maze.rows, [&](int r) { return maze.open_east[maze.at(c, r)] != 0; },
        [&](int start, int end) {
          add_wall(world, x, kBoundary + start * ch - t / 2, t, (end - start) * ch + t);
        });
  }
  for (int r = 0; r + 1 < maze.rows; ++r) {  // horizontal lines below row r
    const double y = kBoundary + (r + 1) * ch - t / 2;
    for_each_closed_run(
        maze.columns, [&](int c) { return maze.open_south[maze.at(c, r)] != 0; },
        [&](int start, int end) {
          add_wall(world, kBoundary + start * cw - t / 2, y, (end - start) * cw + t, t);
        });
  }
}

bool generate_maze(std::string_view size, std::uint64_t seed, world_file_data& world,
                   std::string& error) {
  const std::size_t cross = size.find('x');
  std::uint64_t columns = 0;
  std::uint64_t rows = 0;
  if (cross == std::string_view::npos || !parse_number(size.substr(0, cross), columns) ||
      !parse_number(size.substr(cross + 1), rows)) {
    error = "expected maze:COLUMNSxROWS:SEED, such as maze:8x8:1";
    return false;
  }
  if (columns < 1 || rows < 1 || columns > kMaxMazeSide || rows > kMaxMazeSide) {
    error = "a maze has 1 to " + std::to_string(kMaxMazeSide) + " cells a side";
    return false;
  }
  splitmix64 random(seed);
  const maze_cells maze = carve_maze(static_cast<int>(columns), static_cast<int>(rows), random);
  add_boundary(world);
  add_maze_walls(maze, world);
  world.x = kBoundary + kInside / static_cast<double>(columns) / 2;
  world.y = kBoundary + kInside / static_cast<double>(rows) / 2;
  world.heading = 0.0;
  return true;
}

bool generate_pillars(std::string_view count_text, std::uint64_t seed, world_file_data& world,
                      std::string& error) {
  std::uint64_t count = 0;
  if (!parse_number(count_text, count)) {
    error = "expected pillars:COUNT:SEED, such as pillars:2000:1";
    return false;
  }
  if (count < 1 || count > kMaxPillars) {
    error = "pillars: COUNT is 1 to " + std::to_string(kMaxPillars);
    return false;
  }
  splitmix64 random(seed);
  add_boundary(world);
  const double tile = kInside / kFieldsPerSide;
  const double fields_area = kFieldsPerSide * kFieldsPerSide * kFieldSide * kFieldSide;
  const double side =
      std::min(kMaxPillarSide, 0.5 * std::sqrt(fields_area / static_cast<double>(count)));
  for (std::uint64_t n = 0; n < count; ++n) {
    const auto field = static_cast<int>(n % (kFieldsPerSide * kFieldsPerSide));
    const double fx = kBoundary + (field % kFieldsPerSide + 0.5) * tile - kFieldSide / 2;
    const double fy = kBoundary + (field / kFieldsPerSide + 0.5) * tile - kFieldSide / 2;
    const double x = random.between(fx, fx + kFieldSide - side);
    const double y = random.between(fy, fy + kFieldSide - side);
    add_wall(world, x, y, side, side);
  }
  // Where the lanes between the four middle fields cross.
  world.x = kBoundary + 2 * tile;
  world.y = kBoundary + 2 * tile;
  world.heading = random.between(0.0, kTwoPi);
  return true;
}

}  // namespace

std::uint64_t splitmix64::next() {
  std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

double splitmix64::unit() {
  return static_cast<double>(next() >> 11) * 0x1.0p-53;
}

std::uint64_t splitmix64::below(std::uint64_t n) {
  // Rejection keeps every value equally likely.
  const std::uint64_t limit = UINT64_MAX - UINT64_MAX % n;
  std::uint64_t value = next();
  while (value >= limit) value = next();
  return value % n;
}

bool generate_world(std::string_view description, world_file_data& world, std::string& error) {
  world = world_file_data{};
  std::string_view body;
  std::uint64_t seed = 0;
  bool ok = false;
  if (description.starts_with("maze:") && split_seed(description.substr(5), body, seed)) {
    ok = generate_maze(body, seed, world, error);
  } else if (description.starts_with("pillars:") && split_seed(description.substr(8), body, seed)) {
    ok = generate_pillars(body, seed, world, error);
  } else {
    error = "expected maze:COLUMNSxROWS:SEED or pillars:COUNT:SEED";
  }
  if (!ok) {
    world = world_file_data{};
    return false;
  }
  world.wall_count = static_cast<std::int32_t>(world.walls.size());
  return true;
}
