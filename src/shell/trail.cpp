#include "shell/trail.h"

#include <vector>

#include "core/robot.h"
#include "draw/trail_draw.h"

namespace {

// The robot's marker test: farther than diameter / 8, compared squared.
constexpr double kSpacingOfDiameterSquared = 0.015625;

std::vector<point> points;
bool recording = false;
point last_seen;              // the robot at the last call
double spacing_factor = 1.0;  // 4 to the number of thinnings (squared spacing)

double squared_distance(const point& a, const point& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// Every other point of each piece goes; a piece's first and last points stay.
void thin() {
  std::vector<point> kept;
  kept.reserve(points.size() / 2 + 16);
  std::size_t ordinal = 0;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const point& p = points[i];
    if (is_trail_break(p)) {
      kept.push_back(p);
      ordinal = 0;
      continue;
    }
    const bool last_of_piece = i + 1 == points.size() || is_trail_break(points[i + 1]);
    if (ordinal % 2 == 0 || last_of_piece) kept.push_back(p);
    ++ordinal;
  }
  // Countless short pieces (a script that resets the world again and again) do
  // not thin: then the oldest half goes.
  if (kept.size() > kMaxTrailPoints / 4 * 3) {
    std::size_t from = kept.size() - kMaxTrailPoints / 2;
    while (from < kept.size() && is_trail_break(kept[from])) ++from;
    kept.erase(kept.begin(), kept.begin() + static_cast<std::ptrdiff_t>(from));
  }
  points.swap(kept);
  spacing_factor *= 4.0;
}

void keep(const point& p) {
  points.push_back(p);
  if (points.size() >= kMaxTrailPoints) thin();
}

}  // namespace

void trail_start() {
  trail_reset();
  recording = true;
  last_seen = point{robot.x, robot.y};
  points.push_back(last_seen);
}

bool trail_recording() {
  return recording;
}

void trail_note_robot() {
  if (!recording) return;
  const point now{robot.x, robot.y};
  const double diameter_squared = robot.diameter * robot.diameter;
  if (squared_distance(now, last_seen) > diameter_squared) {
    keep(kTrailBreak);
    keep(now);
  } else if (squared_distance(now, points.back()) >
             diameter_squared * kSpacingOfDiameterSquared * spacing_factor) {
    keep(now);
  }
  last_seen = now;
}

std::span<const point> trail_points() {
  return points;
}

void trail_reset() {
  points.clear();
  points.shrink_to_fit();
  recording = false;
  last_seen = point{};
  spacing_factor = 1.0;
}
