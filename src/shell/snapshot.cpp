#include "shell/snapshot.h"

#include <cmath>
#include <vector>

#include "core/simulation.h"
#include "shell/simulator.h"

namespace {

constexpr char kMagic[8] = {'R', 'S', 'I', 'M', 'S', 'N', 'A', 'P'};
// Far beyond any real run, so that a corrupt count cannot ask for endless memory
// before the bytes run out (each item also needs its bytes).
constexpr std::uint64_t kMaxItems = std::uint64_t{1} << 32;

std::uint64_t fnv1a(std::string_view bytes) {
  std::uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

[[noreturn]] void corrupt(const std::string& what) {
  throw snapshot_error("the snapshot is corrupt: " + what);
}

// The fields of each record, in order, for both directions: `io` writes them
// from a const record or reads them into a record.
struct writer_io {
  snapshot_writer& out;
  template <typename T>
  void operator()(const T& value) {
    out.put(value);
  }
};

struct reader_io {
  snapshot_reader& in;
  void operator()(bool& value) { value = in.get_flag(); }
  template <typename T>
  void operator()(T& value) {
    value = in.get<T>();
  }
};

template <typename Io, typename Object>
void draw_object_fields(Io& io, Object& o) {
  auto kind = static_cast<std::uint8_t>(o.kind);
  io(kind);
  if constexpr (!std::is_const_v<Object>) {
    if (kind > static_cast<std::uint8_t>(draw_object_kind::pen)) corrupt("a drawing object");
    o.kind = static_cast<draw_object_kind>(kind);
  }
  io(o.colour);
  io(o.id);
}

template <typename Io, typename World>
void world_fields(Io& io, World& w) {
  for (auto* o :
       {&w.white_brush, &w.black_brush, &w.green_brush, &w.blue_brush, &w.red_brush, &w.wall_brush,
        &w.white_pen, &w.black_pen, &w.green_pen, &w.blue_pen, &w.wall_pen}) {
    draw_object_fields(io, *o);
  }
  io(w.width);
  io(w.height);
  io(w.cur_waypoint);
  io(w.show_walls);
  io(w.target_x);
  io(w.target_y);
  io(w.target_set);
  io(w.show_grad);
  io(w.scale1);
  io(w.scale2);
  io(w.scale3);
  for (auto& column : w.map)
    for (auto& cell : column) io(cell);
}

template <typename Io, typename Robot>
void robot_fields(Io& io, Robot& r) {
  io(r.size_x);
  io(r.size_y);
  io(r.x);
  io(r.y);
  io(r.vel_x);
  io(r.vel_y);
  io(r.heading);
  io(r.turn);
  io(r.speed);
  io(r.sensor_dist);
  io(r.sensor_size);
  io(r.num_sensors);
  for (auto& hit : r.sensor_hit) io(hit);
  for (auto& value : r.sensor_value) io(value);
  io(r.aux_count);
  io(r.diameter);
  io(r.motion_speed);
  io(r.motion_turn);
  for (auto& seen : r.vision_seen) io(seen);
  for (auto& p : r.vision_point) {
    io(p.x);
    io(p.y);
  }
  io(r.show_vision);
  io(r.grad_angle);
  io(r.grad_mag);
  io(r.heading_error);
}

template <typename Io, typename Sim>
void simulation_fields(Io& io, Sim& s) {
  world_fields(io, s.world);
  robot_fields(io, s.robot);
  io(s.manual_mode);
  io(s.last_push_back.wall_pushed);
  io(s.last_push_back.least_distance);
  io(s.last_push_back.crossing_prevented);
  io(s.last_push_back.step_shortened);
  io(s.display_x);
  io(s.display_y);
  io(s.robot_memory.last_waypoint_time);
  io(s.robot_memory.last_x);
  io(s.robot_memory.last_y);
  for (auto& v : s.automode.nav_average) io(v);
  for (auto& v : s.automode.stime) io(v);
  for (auto& v : s.automode.limits) io(v);
  io(s.automode.first_run);
  io(s.planner_stats.runs);
  io(s.planner_stats.random_targets);
  io(s.planner_stats.gave_up);
  for (auto& word : s.rng.words) io(word);
  io(s.rng.front);
  io(s.rng.rear);
  io(s.clock.simulated);
  io(s.clock.simulated_now);
  io(s.draw_objects.next_id);
  io(s.draw_objects.live);
}

template <typename Io, typename Driver>
void driver_fields(Io& io, Driver& d) {
  for (auto& key : d.keys) io(key);
  io(d.timer_val);
  io(d.updates);
  io(d.updates_per_second);
  io(d.show_stats);
}

template <typename Io, typename Event>
void target_event_fields(Io& io, Event& e) {
  io(e.tick);
  io(e.time_ms);
  io(e.ticks_since);
  io(e.distance_since);
  io(e.distance_when_set);
  io(e.x);
  io(e.y);
}

template <typename Io, typename Spell>
void stuck_spell_fields(Io& io, Spell& s) {
  io(s.first_tick);
  io(s.last_tick);
  io(s.start_ms);
  io(s.end_ms);
  io(s.x);
  io(s.y);
}

template <typename Io, typename Observer>
void metrics_fields(Io& io, Observer& m) {
  io(m.started);
  io(m.keep_events);
  io(m.record.ticks);
  io(m.record.targets_reached);
  io(m.record.distance);
  io(m.record.contacts);
  io(m.record.least_push_distance);
  io(m.record.largest_step);
  io(m.record.wall_crossings_prevented);
  io(m.record.steps_shortened);
  io(m.record.stuck_spells);
  io(m.record.stuck_ms);
  io(m.record.longest_stuck_ms);
  io(m.robot_x);
  io(m.robot_y);
  io(m.target_x);
  io(m.target_y);
  io(m.target_distance_when_set);
  io(m.reach_pending);
  io(m.last_reach_tick);
  io(m.distance_at_last_reach);
  io(m.span.first_tick);
  io(m.span.start_ms);
  io(m.span.x);
  io(m.span.y);
  io(m.last_ms);
}

template <typename Io, typename Trail>
void trail_fields(Io& io, Trail& t) {
  io(t.recording);
  io(t.last_seen.x);
  io(t.last_seen.y);
  io(t.spacing_factor);
}

// ---------------------------------------------------------------------------
// Lists and vectors

template <typename Node>
std::uint64_t list_length(const Node* node) {
  std::uint64_t n = 0;
  for (; node != nullptr; node = node->next) ++n;
  return n;
}

void write_lists(snapshot_writer& out, const world_state& w) {
  out.put(list_length(w.walls));
  for (const wall_node* n = w.walls; n != nullptr; n = n->next) {
    out.put(n->x);
    out.put(n->y);
    out.put(n->width);
    out.put(n->height);
  }
  out.put(list_length(w.waypoints));
  for (const waypoint_node* n = w.waypoints; n != nullptr; n = n->next) {
    out.put(n->x);
    out.put(n->y);
    out.put(n->angle);
    out.put(n->index);
  }
  out.put(list_length(w.impacts));
  for (const impact_node* n = w.impacts; n != nullptr; n = n->next) {
    out.put(n->x);
    out.put(n->y);
  }
  out.put(list_length(w.markers));
  for (const marker_node* n = w.markers; n != nullptr; n = n->next) {
    out.put(n->x);
    out.put(n->y);
  }
}

// Builds each list in file order (head first) and sets its count.
template <typename Node, typename Fill>
Node* read_list(snapshot_reader& in, std::size_t item_bytes, std::int32_t* count, Fill fill) {
  const std::uint64_t n = in.get_count(item_bytes);
  if (count != nullptr) {
    if (n > static_cast<std::uint64_t>(INT32_MAX)) corrupt("a list too long to count");
    *count = static_cast<std::int32_t>(n);
  }
  Node* head = nullptr;
  Node** tail = &head;
  for (std::uint64_t i = 0; i < n; ++i) {
    *tail = new Node{};
    fill(**tail);
    tail = &(*tail)->next;
  }
  return head;
}

void read_lists(snapshot_reader& in, world_state& w) {
  w.walls = read_list<wall_node>(in, 32, &w.num_walls, [&in](wall_node& n) {
    n.x = in.get<double>();
    n.y = in.get<double>();
    n.width = in.get<double>();
    n.height = in.get<double>();
  });
  w.waypoints = read_list<waypoint_node>(in, 28, &w.num_waypoints, [&in](waypoint_node& n) {
    n.x = in.get<double>();
    n.y = in.get<double>();
    n.angle = in.get<double>();
    n.index = in.get<std::int32_t>();
  });
  w.impacts = read_list<impact_node>(in, 16, &w.num_impacts, [&in](impact_node& n) {
    n.x = in.get<double>();
    n.y = in.get<double>();
  });
  w.markers = read_list<marker_node>(in, 16, nullptr, [&in](marker_node& n) {
    n.x = in.get<double>();
    n.y = in.get<double>();
  });
}

template <typename T, typename Fields>
void write_vector(snapshot_writer& out, const std::vector<T>& items, Fields fields) {
  writer_io io{out};
  out.put(static_cast<std::uint64_t>(items.size()));
  for (const T& item : items) fields(io, item);
}

template <typename T, typename Fields>
void read_vector(snapshot_reader& in, std::size_t item_bytes, std::vector<T>& items,
                 Fields fields) {
  reader_io io{in};
  const std::uint64_t n = in.get_count(item_bytes);
  items.assign(static_cast<std::size_t>(n), T{});
  for (T& item : items) fields(io, item);
}

void check_generator(const random_generator& rng) {
  const int k = random_generator::kWords;
  if (rng.front < 0 || rng.front >= k || rng.rear < 0 || rng.rear >= k ||
      (rng.front - rng.rear + k) % k != 3) {
    corrupt("the random generator's positions");
  }
}

}  // namespace

void snapshot_writer::put_text(std::string_view text) {
  put(static_cast<std::uint64_t>(text.size()));
  payload_.append(text);
}

std::string snapshot_writer::finish() const {
  snapshot_writer frame;
  frame.payload_.assign(kMagic, sizeof kMagic);
  frame.put(kSnapshotVersion);
  frame.put(static_cast<std::uint64_t>(payload_.size()));
  frame.payload_.append(payload_);
  frame.put(fnv1a(payload_));
  return frame.payload_;
}

snapshot_reader::snapshot_reader(std::string_view snapshot) {
  constexpr std::size_t kHead = sizeof kMagic + sizeof(std::uint32_t) + sizeof(std::uint64_t);
  if (snapshot.size() < kHead || std::memcmp(snapshot.data(), kMagic, sizeof kMagic) != 0) {
    throw snapshot_error("not a robosim snapshot");
  }
  std::uint32_t version = 0;
  std::memcpy(&version, snapshot.data() + sizeof kMagic, sizeof version);
  if (version != kSnapshotVersion) {
    throw snapshot_error("a snapshot of format version " + std::to_string(version) +
                         ", but this robosim reads version " + std::to_string(kSnapshotVersion));
  }
  std::uint64_t length = 0;
  std::memcpy(&length, snapshot.data() + sizeof kMagic + sizeof version, sizeof length);
  if (length != snapshot.size() - kHead - sizeof(std::uint64_t) ||
      snapshot.size() < kHead + sizeof(std::uint64_t)) {
    corrupt("its length does not match");
  }
  payload_ = snapshot.substr(kHead, static_cast<std::size_t>(length));
  std::uint64_t hash = 0;
  std::memcpy(&hash, snapshot.data() + kHead + length, sizeof hash);
  if (hash != fnv1a(payload_)) corrupt("its check sum does not match");
}

const char* snapshot_reader::take(std::size_t bytes) {
  if (payload_.size() - pos_ < bytes) corrupt("it ends early");
  const char* at = payload_.data() + pos_;
  pos_ += bytes;
  return at;
}

bool snapshot_reader::get_flag() {
  const auto byte = get<std::uint8_t>();
  if (byte > 1) corrupt("a flag that is neither true nor false");
  return byte == 1;
}

std::uint64_t snapshot_reader::get_count(std::size_t min_item_bytes) {
  const auto n = get<std::uint64_t>();
  if (n > kMaxItems || (min_item_bytes > 0 && n > (payload_.size() - pos_) / min_item_bytes)) {
    corrupt("a count beyond its bytes");
  }
  return n;
}

std::string snapshot_reader::get_text() {
  const std::uint64_t n = get_count(1);
  return std::string(take(static_cast<std::size_t>(n)), static_cast<std::size_t>(n));
}

void snapshot_reader::expect_end() const {
  if (pos_ != payload_.size()) corrupt("bytes are left over");
}

void write_run_state(snapshot_writer& out, const simulated_run& run) {
  writer_io io{out};
  const simulator& app = run.app_;
  simulation_fields(io, app.sim);
  write_lists(out, app.sim.world);
  driver_fields(io, app.driver);
  io(app.driver.program_drive.has_value());
  io(app.driver.program_drive.value_or(drive_command{}).speed);
  io(app.driver.program_drive.value_or(drive_command{}).turn);
  io(app.mouse.mouse_is_down);
  io(app.mouse.right_mouse_down);
  metrics_fields(io, app.metrics);
  write_vector(out, app.metrics.record.targets,
               [](writer_io& w, const target_event& e) { target_event_fields(w, e); });
  write_vector(out, app.metrics.record.stuck,
               [](writer_io& w, const stuck_spell& s) { stuck_spell_fields(w, s); });
  trail_fields(io, app.trail);
  write_vector(out, app.trail.points, [](writer_io& w, const point& p) {
    w(p.x);
    w(p.y);
  });
  io(run.client_width_);
  io(run.client_height_);
  io(run.quit_);
  io(run.now_);
  io(run.tick_period_);
  io(run.tick_due_);
  io(run.rate_period_);
  io(run.rate_due_);
  io(run.ticks_);
}

void read_run_state(snapshot_reader& in, simulated_run& run) {
  // Read into a fresh simulator first: a corrupt snapshot leaves `run` alone.
  reader_io io{in};
  simulator app;
  simulation_fields(io, app.sim);
  check_generator(app.sim.rng);
  read_lists(in, app.sim.world);
  driver_fields(io, app.driver);
  const bool driving = in.get_flag();
  drive_command command;
  io(command.speed);
  io(command.turn);
  if (driving) app.driver.program_drive = command;
  io(app.mouse.mouse_is_down);
  io(app.mouse.right_mouse_down);
  metrics_fields(io, app.metrics);
  read_vector(in, 56, app.metrics.record.targets,
              [](reader_io& r, target_event& e) { target_event_fields(r, e); });
  read_vector(in, 48, app.metrics.record.stuck,
              [](reader_io& r, stuck_spell& s) { stuck_spell_fields(r, s); });
  trail_fields(io, app.trail);
  read_vector(in, 16, app.trail.points, [](reader_io& r, point& p) {
    r(p.x);
    r(p.y);
  });
  if (app.trail.recording && app.trail.points.empty()) corrupt("a trail without points");
  simulated_run timers(0, 0);
  io(timers.client_width_);
  io(timers.client_height_);
  io(timers.quit_);
  io(timers.now_);
  io(timers.tick_period_);
  io(timers.tick_due_);
  io(timers.rate_period_);
  io(timers.rate_due_);
  io(timers.ticks_);
  if (timers.tick_period_ == 0) corrupt("a tick period of 0");

  run.app_ = app;
  run.client_width_ = timers.client_width_;
  run.client_height_ = timers.client_height_;
  run.quit_ = timers.quit_;
  run.now_ = timers.now_;
  run.tick_period_ = timers.tick_period_;
  run.tick_due_ = timers.tick_due_;
  run.rate_period_ = timers.rate_period_;
  run.rate_due_ = timers.rate_due_;
  run.ticks_ = timers.ticks_;
}
