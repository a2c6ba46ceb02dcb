#include "shell/placement.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/map.h"
#include "core/robot.h"
#include "core/simulation.h"
#include "core/utility.h"
#include "core/world.h"
#include "core/world_file.h"

namespace {

std::string trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

// A decimal number such as 2, -0.5 or 1e-3: digits, a sign, a point and an
// exponent only (no hexadecimal, no words such as inf or nan).
bool parse_decimal(const std::string& item, double& value) {
  if (item.empty() || item.find_first_not_of("0123456789+-.eE") != std::string::npos) return false;
  char* end = nullptr;
  value = std::strtod(item.c_str(), &end);  // the C locale's point (front ends set LC_NUMERIC)
  return end == item.c_str() + item.size() && std::isfinite(value);
}

// Exactly `count` finite numbers separated by commas.
bool parse_numbers(const std::string& text, std::size_t count, std::vector<double>& numbers) {
  numbers.clear();
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = text.find(',', start);
    const std::string item =
        trimmed(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    double value = 0.0;
    if (!parse_decimal(item, value)) return false;
    numbers.push_back(value);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return numbers.size() == count;
}

// The shortest text that reads back as the value.
std::string number_text(double value) {
  char text[40];
  // At least the digits before the point, so that 10 is not written 1e+01.
  const double size = std::fabs(value);
  const int whole_digits = size >= 1 ? static_cast<int>(std::floor(std::log10(size))) + 1 : 1;
  for (int digits = std::min(whole_digits, 17); digits <= 17; ++digits) {
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    if (std::strtod(text, nullptr) == value) break;
  }
  return text;
}

std::string outside(const char* what, double value, double low, double high, const char* where) {
  return std::string(what) + " must be from " + number_text(low) + " to " + number_text(high) +
         where + ", got " + number_text(value);
}

// The problem with a pose given by its numbers, empty when there is none.
std::string pose_problem(const simulation& sim, const pose_request& pose) {
  const world_state& world = sim.world;
  const robot_state& robot = sim.robot;
  // Where the clamping of a tick keeps the robot's centre.
  const double low_x = robot.size_x / 2;
  const double low_y = robot.size_y / 2;
  const char* where = " (where a tick keeps the robot)";
  if (pose.x < low_x || pose.x > world.width - low_x) {
    return outside("the pose's x", pose.x, low_x, world.width - low_x, where);
  }
  if (pose.y < low_y || pose.y > world.height - low_y) {
    return outside("the pose's y", pose.y, low_y, world.height - low_y, where);
  }
  return {};
}

std::string target_problem(const simulation& sim, const target_request& target) {
  const world_state& world = sim.world;
  if (target.x < 0 || target.x > world.width) {
    return outside("the target's x", target.x, 0.0, world.width, " (inside the world)");
  }
  if (target.y < 0 || target.y > world.height) {
    return outside("the target's y", target.y, 0.0, world.height, " (inside the world)");
  }
  if (point_on_wall(sim, target.x, target.y)) {
    return "the target (" + number_text(target.x) + ", " + number_text(target.y) +
           ") lies on a wall";
  }
  return {};
}

// As the robot's start-up draws its pose, drawn again while the disc touches a wall.
bool draw_pose(simulation& sim, pose_request& pose) {
  const world_state& world = sim.world;
  const robot_state& robot = sim.robot;
  for (int draw = 0; draw < kPlacementDraws; ++draw) {
    pose.x = f_rand(sim, 0.5, world.width - 0.5);
    pose.y = f_rand(sim, robot.size_y, world.height - robot.size_y);
    pose.heading = f_rand(sim, 0, kTwoPi);
    if (!disc_touches_wall(sim, pose.x, pose.y, robot.diameter / 2)) return true;
  }
  return false;
}

// As a reached target's successor is drawn (y first), drawn again while it lies
// on a wall or would be reached at once.
bool draw_target(simulation& sim, target_request& target) {
  const world_state& world = sim.world;
  const robot_state& robot = sim.robot;
  for (int draw = 0; draw < kPlacementDraws; ++draw) {
    target.y = f_rand(sim, 1, world.height - 1);
    target.x = f_rand(sim, 1, world.width - 1);
    const bool reached = vect_mag(target.x - robot.x, target.y - robot.y) < kTargetReachedDistance;
    if (!reached && !point_on_wall(sim, target.x, target.y)) return true;
  }
  return false;
}

}  // namespace

bool parse_pose_request(const std::string& text, pose_request& pose, std::string& problem) {
  if (trimmed(text) == "random") {
    pose = pose_request{.random = true};
    return true;
  }
  std::vector<double> numbers;
  if (!parse_numbers(text, 3, numbers)) {
    problem = "expected X,Y,HEADING (three numbers) or random, got '" + text + "'";
    return false;
  }
  pose = pose_request{.x = numbers[0], .y = numbers[1], .heading = numbers[2]};
  return true;
}

bool parse_target_request(const std::string& text, target_request& target, std::string& problem) {
  if (trimmed(text) == "random") {
    target = target_request{.random = true};
    return true;
  }
  std::vector<double> numbers;
  if (!parse_numbers(text, 2, numbers)) {
    problem = "expected X,Y (two numbers) or random, got '" + text + "'";
    return false;
  }
  target = target_request{.x = numbers[0], .y = numbers[1]};
  return true;
}

bool point_on_wall(const simulation& sim, double x, double y) {
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    // A wall read from a file may have a negative extent.
    const double left = std::min(wall->x, wall->x + wall->width);
    const double right = std::max(wall->x, wall->x + wall->width);
    const double top = std::min(wall->y, wall->y + wall->height);
    const double bottom = std::max(wall->y, wall->y + wall->height);
    if (x >= left && x <= right && y >= top && y <= bottom) return true;
  }
  return false;
}

bool disc_touches_wall(const simulation& sim, double x, double y, double radius) {
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    const double left = std::min(wall->x, wall->x + wall->width);
    const double right = std::max(wall->x, wall->x + wall->width);
    const double top = std::min(wall->y, wall->y + wall->height);
    const double bottom = std::max(wall->y, wall->y + wall->height);
    const double nearest_x = std::clamp(x, left, right);
    const double nearest_y = std::clamp(y, top, bottom);
    if (vect_mag(x - nearest_x, y - nearest_y) <= radius) return true;
  }
  return false;
}

std::string place_for_run(simulation& sim, const placement_request& request) {
  if (request.pose && !request.pose->random) {
    if (std::string problem = pose_problem(sim, *request.pose); !problem.empty()) return problem;
  }
  if (request.target && !request.target->random) {
    if (std::string problem = target_problem(sim, *request.target); !problem.empty()) {
      return problem;
    }
  }
  if (request.pose) {
    pose_request pose = *request.pose;
    if (pose.random && !draw_pose(sim, pose)) {
      return "no pose clear of the walls was found in " + std::to_string(kPlacementDraws) +
             " draws";
    }
    // As a loaded world file sets it.
    sim.robot.x = pose.x;
    sim.robot.y = pose.y;
    sim.robot.heading = world_loaded_heading(pose.heading);
  }
  if (request.target) {
    target_request target = *request.target;
    if (target.random && !draw_target(sim, target)) {
      return "no target clear of the walls was found in " + std::to_string(kPlacementDraws) +
             " draws";
    }
    // As the right mouse button sets it: with its planning run.
    world_set_target(sim, target.x, target.y);
  } else if (request.pose) {
    world_compute_map_grid(sim);
  }
  return {};
}
