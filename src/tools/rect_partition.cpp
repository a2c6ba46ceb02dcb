#include "tools/rect_partition.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

// The quadrants around a lattice point (x, y), whose four cells are
// NW (x-1, y-1), NE (x, y-1), SW (x-1, y) and SE (x, y).
constexpr unsigned kNW = 1;
constexpr unsigned kNE = 2;
constexpr unsigned kSW = 4;
constexpr unsigned kSE = 8;
constexpr unsigned kAll = 15;

struct chord {
  int line;  // y of a horizontal chord, x of a vertical one
  int from;  // the lattice coordinate along the line where it starts ...
  int to;    // ... and ends, from < to
};

class cell_grid {
 public:
  cell_grid(const std::vector<char>& occupied, int width, int height)
      : occupied_(occupied),
        width_(width),
        height_(height),
        hcut_(static_cast<std::size_t>(height + 1) * width, 0),
        vcut_(static_cast<std::size_t>(width + 1) * height, 0) {}

  int width() const { return width_; }
  int height() const { return height_; }

  bool at(int c, int r) const {
    return c >= 0 && r >= 0 && c < width_ && r < height_ &&
           occupied_[static_cast<std::size_t>(r) * width_ + c] != 0;
  }
  unsigned quadrants(int x, int y) const {
    return (at(x - 1, y - 1) ? kNW : 0) | (at(x, y - 1) ? kNE : 0) | (at(x - 1, y) ? kSW : 0) |
           (at(x, y) ? kSE : 0);
  }

  // Cuts along the horizontal line y under cell (c, y - 1), and along the
  // vertical line x right of cell (x - 1, r).
  char& hcut(int c, int y) { return hcut_[static_cast<std::size_t>(y) * width_ + c]; }
  char& vcut(int x, int r) { return vcut_[static_cast<std::size_t>(r) * (width_ + 1) + x]; }
  bool hcut_at(int c, int y) const { return hcut_[static_cast<std::size_t>(y) * width_ + c] != 0; }
  bool vcut_at(int x, int r) const {
    return vcut_[static_cast<std::size_t>(r) * (width_ + 1) + x] != 0;
  }

  // A point where some piece turns inward (a reflex corner) or where a cut ends
  // inside a piece: one closed half-edge, or two closed ones at a right angle.
  // The half-edges N, E, S, W leave the point between its quadrants; one is
  // closed when a cut lies on it or it does not run between two occupied cells.
  bool unfinished(int x, int y) const {
    const unsigned q = quadrants(x, y);
    const bool n = (q & (kNW | kNE)) != (kNW | kNE) || vcut_at(x, y - 1);
    const bool s = (q & (kSW | kSE)) != (kSW | kSE) || vcut_at(x, y);
    const bool w = (q & (kNW | kSW)) != (kNW | kSW) || hcut_at(x - 1, y);
    const bool e = (q & (kNE | kSE)) != (kNE | kSE) || hcut_at(x, y);
    const int closed = n + s + w + e;
    return closed == 1 || (closed == 2 && n != s);
  }

 private:
  const std::vector<char>& occupied_;
  int width_;
  int height_;
  std::vector<char> hcut_;
  std::vector<char> vcut_;
};

bool reflex(unsigned q) {
  return std::popcount(q) == 3;
}
// The direction a reflex corner's horizontal edge goes on into the piece.
bool extends_right(unsigned q) {
  return ((kAll ^ q) & (kNW | kSW)) != 0;
}
bool extends_down(unsigned q) {
  return ((kAll ^ q) & (kNW | kNE)) != 0;
}

// Chords along the lines of one direction: from a reflex corner whose edge goes
// on forward to the next one whose edge comes back, through inner points only.
template <typename Quadrants, typename Forward>
void find_chords(int lines, int length, Quadrants quadrants_at, Forward forward,
                 std::vector<chord>& chords, std::vector<std::size_t>& line_start) {
  line_start.assign(static_cast<std::size_t>(lines) + 2, 0);
  for (int line = 0; line <= lines; ++line) {
    line_start[line] = chords.size();
    int start = -1;
    for (int along = 0; along <= length; ++along) {
      const unsigned q = quadrants_at(line, along);
      if (q == kAll) continue;
      if (!reflex(q)) {
        start = -1;
      } else if (forward(q)) {
        start = along;
      } else {
        if (start >= 0) chords.push_back({line, start, along});
        start = -1;
      }
    }
  }
  line_start[lines + 1] = chords.size();
}

// Edges between horizontal chords (left) and the vertical chords (right) that
// cross or touch them, as lists per horizontal chord.
struct crossing_graph {
  std::vector<std::size_t> first;  // edges of left vertex i: [first[i], first[i + 1])
  std::vector<int> right;
};

crossing_graph crossings(const std::vector<chord>& horizontal,
                         const std::vector<std::size_t>& line_start,
                         const std::vector<chord>& vertical) {
  std::vector<std::pair<int, int>> edges;
  for (std::size_t j = 0; j < vertical.size(); ++j) {
    const chord& v = vertical[j];
    for (int y = v.from; y <= v.to; ++y) {
      // The horizontal chords on line y lie apart, in order of their start.
      const auto begin = horizontal.begin() + static_cast<std::ptrdiff_t>(line_start[y]);
      const auto end = horizontal.begin() + static_cast<std::ptrdiff_t>(line_start[y + 1]);
      auto it =
          std::upper_bound(begin, end, v.line, [](int x, const chord& h) { return x < h.from; });
      if (it == begin) continue;
      --it;
      if (it->to >= v.line)
        edges.emplace_back(static_cast<int>(it - horizontal.begin()), static_cast<int>(j));
    }
  }
  crossing_graph graph;
  graph.first.assign(horizontal.size() + 1, 0);
  for (const auto& [i, j] : edges) ++graph.first[i + 1];
  for (std::size_t i = 0; i < horizontal.size(); ++i) graph.first[i + 1] += graph.first[i];
  graph.right.resize(edges.size());
  std::vector<std::size_t> fill(graph.first.begin(), graph.first.end() - 1);
  for (const auto& [i, j] : edges) graph.right[fill[i]++] = j;
  return graph;
}

// A maximum matching by Hopcroft and Karp, its searches without recursion.
class matching {
 public:
  matching(const crossing_graph& graph, std::size_t right_count)
      : graph_(graph),
        left_(graph.first.size() - 1, -1),
        right_(right_count, -1),
        level_(left_.size()),
        next_edge_(left_.size()),
        via_(left_.size()) {
    while (layer()) {
      for (std::size_t u = 0; u < left_.size(); ++u) next_edge_[u] = graph_.first[u];
      for (std::size_t u = 0; u < left_.size(); ++u) {
        if (left_[u] < 0) augment(static_cast<int>(u));
      }
    }
  }
  int left_partner(std::size_t u) const { return left_[u]; }
  int right_partner(std::size_t v) const { return right_[v]; }

 private:
  static constexpr int kUnreached = std::numeric_limits<int>::max();

  bool layer() {
    std::vector<int> queue;
    for (std::size_t u = 0; u < left_.size(); ++u) {
      level_[u] = left_[u] < 0 ? 0 : kUnreached;
      if (left_[u] < 0) queue.push_back(static_cast<int>(u));
    }
    bool free_right_reached = false;
    for (std::size_t k = 0; k < queue.size(); ++k) {
      const int u = queue[k];
      for (std::size_t e = graph_.first[u]; e < graph_.first[u + 1]; ++e) {
        const int w = right_[graph_.right[e]];
        if (w < 0) {
          free_right_reached = true;
        } else if (level_[w] == kUnreached) {
          level_[w] = level_[u] + 1;
          queue.push_back(w);
        }
      }
    }
    return free_right_reached;
  }

  void augment(int start) {
    std::vector<int>& stack = stack_;
    stack.assign(1, start);
    while (!stack.empty()) {
      const int u = stack.back();
      if (next_edge_[u] == graph_.first[u + 1]) {
        level_[u] = kUnreached;  // a dead end in this phase
        stack.pop_back();
        continue;
      }
      const int v = graph_.right[next_edge_[u]++];
      const int w = right_[v];
      if (w < 0) {
        // Flip the path: each left vertex on the stack takes the right vertex it went to.
        via_[u] = v;
        for (const int x : stack) {
          left_[x] = via_[x];
          right_[via_[x]] = x;
        }
        return;
      }
      if (level_[w] == level_[u] + 1) {
        via_[u] = v;
        stack.push_back(w);
      }
    }
  }

  const crossing_graph& graph_;
  std::vector<int> left_;
  std::vector<int> right_;
  std::vector<int> level_;
  std::vector<std::size_t> next_edge_;
  std::vector<int> via_;
  std::vector<int> stack_;
};

// The chords of a largest set in which none crosses or touches another (Konig):
// the left vertices reached from free left vertices by alternating paths, and
// the right vertices not reached.
void choose_chords(const crossing_graph& graph, const matching& match, std::size_t right_count,
                   std::vector<char>& left_chosen, std::vector<char>& right_chosen) {
  const std::size_t left_count = graph.first.size() - 1;
  left_chosen.assign(left_count, 0);
  std::vector<char> right_reached(right_count, 0);
  std::vector<int> queue;
  for (std::size_t u = 0; u < left_count; ++u) {
    if (match.left_partner(u) < 0) {
      left_chosen[u] = 1;
      queue.push_back(static_cast<int>(u));
    }
  }
  for (std::size_t k = 0; k < queue.size(); ++k) {
    const int u = queue[k];
    for (std::size_t e = graph.first[u]; e < graph.first[u + 1]; ++e) {
      const int v = graph.right[e];
      if (right_reached[v]) continue;
      right_reached[v] = 1;
      const int w = match.right_partner(v);
      if (w >= 0 && !left_chosen[w]) {
        left_chosen[w] = 1;
        queue.push_back(w);
      }
    }
  }
  right_chosen.assign(right_count, 0);
  for (std::size_t v = 0; v < right_count; ++v) right_chosen[v] = !right_reached[v];
}

// Cuts from (x, y) along the horizontal line, one cell edge at a time, until
// the point reached needs nothing more.
void cut_across(cell_grid& grid, int x, int y, int step) {
  for (;;) {
    const int c = step > 0 ? x : x - 1;
    if (c < 0 || c >= grid.width() || !grid.at(c, y - 1) || !grid.at(c, y) || grid.hcut_at(c, y)) {
      return;
    }
    grid.hcut(c, y) = 1;
    x += step;
    if (!grid.unfinished(x, y)) return;
  }
}

std::vector<map_rect> pieces(const cell_grid& grid) {
  std::vector<char> taken(static_cast<std::size_t>(grid.width()) * grid.height(), 0);
  auto is_taken = [&](int c, int r) {
    return taken[static_cast<std::size_t>(r) * grid.width() + c] != 0;
  };
  std::vector<map_rect> rects;
  for (int r = 0; r < grid.height(); ++r) {
    for (int c = 0; c < grid.width(); ++c) {
      if (!grid.at(c, r) || is_taken(c, r)) continue;
      int w = 1;
      while (grid.at(c + w, r) && !grid.vcut_at(c + w, r)) ++w;
      int h = 1;
      while (grid.at(c, r + h) && !grid.hcut_at(c, r + h)) ++h;
      for (int j = 0; j < h; ++j) {
        for (int k = 0; k < w; ++k)
          taken[static_cast<std::size_t>(r + j) * grid.width() + c + k] = 1;
      }
      rects.push_back({c, r, w, h});
    }
  }
  return rects;
}

}  // namespace

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

std::vector<map_rect> partition_occupied(const std::vector<char>& occupied, int width, int height) {
  cell_grid grid(occupied, width, height);
  std::vector<chord> horizontal;
  std::vector<chord> vertical;
  std::vector<std::size_t> horizontal_start;
  std::vector<std::size_t> vertical_start;
  find_chords(
      height, width, [&](int y, int x) { return grid.quadrants(x, y); }, extends_right, horizontal,
      horizontal_start);
  find_chords(
      width, height, [&](int x, int y) { return grid.quadrants(x, y); }, extends_down, vertical,
      vertical_start);

  const crossing_graph graph = crossings(horizontal, horizontal_start, vertical);
  const matching match(graph, vertical.size());
  std::vector<char> horizontal_chosen;
  std::vector<char> vertical_chosen;
  choose_chords(graph, match, vertical.size(), horizontal_chosen, vertical_chosen);
  for (std::size_t i = 0; i < horizontal.size(); ++i) {
    if (!horizontal_chosen[i]) continue;
    for (int c = horizontal[i].from; c < horizontal[i].to; ++c)
      grid.hcut(c, horizontal[i].line) = 1;
  }
  for (std::size_t j = 0; j < vertical.size(); ++j) {
    if (!vertical_chosen[j]) continue;
    for (int r = vertical[j].from; r < vertical[j].to; ++r) grid.vcut(vertical[j].line, r) = 1;
  }

  // Every reflex corner still unfinished gets a cut of its own.
  for (int y = 1; y < height; ++y) {
    for (int x = 1; x < width; ++x) {
      const unsigned q = grid.quadrants(x, y);
      if (reflex(q) && grid.unfinished(x, y)) cut_across(grid, x, y, extends_right(q) ? 1 : -1);
    }
  }
  return pieces(grid);
}
