#include "core/world_field.h"

#include <cmath>
#include <vector>

#include "core/console.h"
#include "core/impact_array.h"
#include "core/map.h"
#include "core/portable_math.h"
#include "core/simulation.h"

void compute_impact_vector(const simulation& sim, double x, double y, point& out) {
  const world_state& world = sim.world;
  out = point{0.0, 0.0};
  if (world.num_impacts == 0) return;
  // Only impacts closer than sqrt(width * height) count; ties go to the newest.
  const point* nearest = impact_array_nearest(sim, x, y, world.height * world.width);
  if (nearest != nullptr) out = point{x - nearest->x, y - nearest->y};
}

void compute_waypoint_vector(const simulation& sim, double x, double y, point& out) {
  const world_state& world = sim.world;
  out = point{0.0, 0.0};
  if (world.num_waypoints == 0) return;
  const waypoint_node* current = nullptr;
  for (const waypoint_node* waypoint = world.waypoints; waypoint != nullptr;
       waypoint = waypoint->next) {
    if (waypoint->index == world.cur_waypoint) current = waypoint;
  }
  if (current == nullptr) {
    write_console(sim, "waypoint not found\n");
    return;
  }
  out = point{x - current->x, y - current->y};
}

void compute_grad_point(const simulation& sim, double x, double y, double& angle,
                        double& magnitude) {
  const world_state& world = sim.world;
  double fx = 0.0;
  double fy = 0.0;
  magnitude = 0.0;

  point v;
  compute_impact_vector(sim, x, y, v);
  double m = vect_mag(v.x, v.y);
  if (m > 0) {
    const double falloff = portable_pow(m, 1.5);
    const double rx = world.scale1 * v.x / falloff;
    const double ry = world.scale1 * v.y / falloff;
    fx += rx;
    fy += ry;
    magnitude += vect_mag(rx, ry);
  }

  compute_waypoint_vector(sim, x, y, v);
  m = vect_mag(v.x, v.y);
  if (m > 0) {
    const double ax = world.scale2 * v.x;
    const double ay = world.scale2 * v.y;
    fx -= ax;
    fy -= ay;
    magnitude -= vect_mag(ax, ay);
  }

  compute_map_nav(sim, v, x, y);
  m = vect_mag(v.x, v.y);
  if (m > 0) {
    const double nx = world.scale3 * v.x / m;
    const double ny = world.scale3 * v.y / m;
    fx += nx;
    fy += ny;
    magnitude += vect_mag(nx, ny);
  }

  angle = portable_atan2(fy, fx);
}
