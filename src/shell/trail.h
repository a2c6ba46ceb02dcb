// The robot's trail: the path the robot has driven, kept for the headless
// pictures while a front end asks for it (the window never does). It is kept as
// points at least the marker spacing apart (an eighth of the robot's diameter,
// 0.0625), so it costs next to nothing per tick.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/utility.h"

struct simulator;

// When the trail reaches this many points it is thinned: every other point of
// each piece goes and the spacing doubles, so a run of any length keeps at most
// this many (1 MiB) and a frame never draws more.
constexpr std::size_t kMaxTrailPoints = 65536;

// The trail as it is kept.
struct trail_state {
  std::vector<point> points;
  bool recording = false;
  point last_seen;              // the robot at the last call
  double spacing_factor = 1.0;  // 4 to the number of thinnings (squared spacing)

  // The points are the robot's places, or breaks (both coordinates NaN).
  template <typename Self, typename Visit>
  static void fields(Self& t, Visit& visit) {
    visit(t.recording, "recording");
    visit(t.last_seen, "last_seen", kFinite);
    visit(t.spacing_factor, "spacing_factor", real_limit{1.0, kFinite.high}.or_infinity());
    visit(t.points, "points", kFinite.or_nan());
  }
  // Fewer points than thinning leaves, only while recording, from at least one;
  // the spacing 4 to the number of thinnings (trail.cpp).
  static void relations(const trail_state& t, field_check& check);
  friend bool operator==(const trail_state&, const trail_state&) = default;
};

// Starts a new trail at the robot's position now; from then on the driver's tick
// calls trail_note_robot().
void trail_start(simulator& app);
bool trail_recording(const simulator& app);

// Keeps the robot's position when it lies more than the spacing from the last
// point kept. A jump of more than the robot's diameter since the last call (a
// reset, a loaded world, a robot placed by hand) ends the piece and starts a new
// one there, drawn unconnected. Does nothing while the trail is not recording.
void trail_note_robot(simulator& app);

// True when the robot lies farther than its diameter from where the trail last
// saw it: the next note ends the piece and starts a new one there. False while
// the trail is not recording.
bool trail_jumped(const simulator& app);

// The points kept, oldest first, pieces separated by a point whose coordinates
// are NaN (see draw/trail_draw.h). The robot's position now is not among them.
std::span<const point> trail_points(const simulator& app);

// No trail, not recording: the start of a program.
void trail_reset(simulator& app);
