// Placing the robot and the target of a run before its first tick: a pose set
// as a loaded world file sets it, a target set as the right mouse button sets it
// (a planning run), or either drawn at random from the run's own generator, clear
// of the walls. Front ends read the values from their users and place them after
// start-up and the world's loading.
#pragma once

#include <optional>
#include <string>

struct simulation;

// A pose: x, y and heading as given, or random.
struct pose_request {
  bool random = false;
  double x = 0.0;
  double y = 0.0;
  double heading = 0.0;
  friend bool operator==(const pose_request&, const pose_request&) = default;
};

// A target: x and y as given, or random.
struct target_request {
  bool random = false;
  double x = 0.0;
  double y = 0.0;
  friend bool operator==(const target_request&, const target_request&) = default;
};

struct placement_request {
  std::optional<pose_request> pose;
  std::optional<target_request> target;
  bool empty() const { return !pose && !target; }
};

// How many draws a random pose or target may take before the world is taken to
// have no room for it.
constexpr int kPlacementDraws = 100000;

// Reads "X,Y,HEADING" or "random" (three finite numbers); false and the problem
// for anything else.
bool parse_pose_request(const std::string& text, pose_request& pose, std::string& problem);
// Reads "X,Y" or "random".
bool parse_target_request(const std::string& text, target_request& target, std::string& problem);

// Places the pose, then the target, then makes one planning run (the target's
// own when a target is placed). The pose's centre must lie where a tick's clamp
// keeps it; the target inside the world and on no wall. Empty when placed, else
// the problem, with nothing placed when the pose or the target is refused. A
// random pose is drawn as the robot's start-up draws it, again until the robot's
// disc touches no wall; a random target as a reached target's successor is
// drawn, again until it lies on no wall and farther than the reaching distance
// from the robot.
std::string place_for_run(simulation& sim, const placement_request& request);

// True when the point lies inside or on the edge of a wall.
bool point_on_wall(const simulation& sim, double x, double y);
// True when a disc of this radius around the point overlaps a wall.
bool disc_touches_wall(const simulation& sim, double x, double y, double radius);
