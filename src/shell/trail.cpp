#include "shell/trail.h"

#include <cmath>
#include <vector>

#include "core/simulation.h"
#include "draw/trail_draw.h"
#include "shell/simulator.h"

namespace {

double squared_distance(const point& a, const point& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return dx * dx + dy * dy;
}

// Every other point of each piece goes; a piece's first and last points stay.
void thin(trail_state& trail) {
  std::vector<point>& points = trail.points;
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
  trail.spacing_factor *= 4.0;
}

void keep(trail_state& trail, const point& p) {
  trail.points.push_back(p);
  if (trail.points.size() >= kMaxTrailPoints) thin(trail);
}

}  // namespace

void trail_state::relations(const trail_state& t, field_check& check) {
  if (!t.recording) {
    check.require(t == trail_state{}, "a trail that is not recorded holds points");
    return;
  }
  check.require(!t.points.empty() && t.points.size() < kMaxTrailPoints,
                "a trail of more points than thinning leaves, or of none");
  int exponent = 0;
  const bool power_of_four =
      std::frexp(t.spacing_factor, &exponent) == 0.5 && (exponent - 1) % 2 == 0;
  check.require(power_of_four || std::isinf(t.spacing_factor),
                "a trail's spacing that thinning does not give");
  for (const point& p : t.points) {
    if (std::isnan(p.x) != std::isnan(p.y)) {
      check.require(false, "a trail's point that is half a break");
      return;
    }
  }
}

void trail_start(simulator& app) {
  trail_reset(app);
  trail_state& trail = app.trail;
  trail.recording = true;
  trail.last_seen = point{app.sim.robot.x, app.sim.robot.y};
  trail.points.push_back(trail.last_seen);
}

bool trail_recording(const simulator& app) {
  return app.trail.recording;
}

bool trail_jumped(const simulator& app) {
  const robot_state& robot = app.sim.robot;
  return app.trail.recording && squared_distance(point{robot.x, robot.y}, app.trail.last_seen) >
                                    robot.diameter * robot.diameter;
}

void trail_note_robot(simulator& app) {
  trail_state& trail = app.trail;
  if (!trail.recording) return;
  const robot_state& robot = app.sim.robot;
  const point now{robot.x, robot.y};
  const double diameter_squared = robot.diameter * robot.diameter;
  if (trail_jumped(app)) {
    keep(trail, kTrailBreak);
    keep(trail, now);
  } else if (squared_distance(now, trail.points.back()) >
             diameter_squared * kMarkerSpacingSquared * trail.spacing_factor) {
    keep(trail, now);
  }
  trail.last_seen = now;
}

std::span<const point> trail_points(const simulator& app) {
  return app.trail.points;
}

void trail_reset(simulator& app) {
  app.trail = trail_state{};
}
