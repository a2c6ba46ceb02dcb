#include "web/page.h"

#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/simulation.h"
#include "core/world_file.h"
#include "shell/key_names.h"
#include "shell/mouse_edit.h"
#include "shell/run_metrics.h"
#include "shell/scene.h"
#include "shell/trace.h"

namespace {

// The share fragment carries the world file's text with its line breaks as ';'
// and its spaces as ',', characters a URL fragment keeps as they are.
constexpr char kShareLineBreak = ';';
constexpr char kShareSpace = ',';
constexpr std::string_view kShareWorld = "world=";
constexpr std::string_view kShareTarget = "target=";

int positive_or_zero(int value) {
  return value > 0 ? value : 0;
}

// A canvas pixel in memory: red, green, blue, alpha, from the image's 0xFFRRGGBB.
static_assert(std::endian::native == std::endian::little);
constexpr std::uint32_t canvas_pixel(std::uint32_t image_pixel) {
  return (image_pixel & 0xFF00FF00u) | ((image_pixel >> 16) & 0xFFu) |
         ((image_pixel & 0xFFu) << 16);
}

bool parse_number(std::string_view text, double& value) {
  if (text.empty() || text.size() > 64) return false;
  const std::string copy(text);
  char* end = nullptr;
  value = std::strtod(copy.c_str(), &end);
  return end == copy.c_str() + copy.size() && std::isfinite(value);
}

// "x,y" with both finite.
bool parse_point(std::string_view text, double& x, double& y) {
  const std::size_t comma = text.find(',');
  return comma != std::string_view::npos && parse_number(text.substr(0, comma), x) &&
         parse_number(text.substr(comma + 1), y);
}

}  // namespace

web_page::web_page(int width, int height, std::uint32_t seed)
    : run_(std::make_unique<simulated_run>(positive_or_zero(width), positive_or_zero(height))),
      seed_(seed),
      width_(positive_or_zero(width)),
      height_(positive_or_zero(height)) {
  run_->leave_rate_timer_to_caller();
  run_->start(seed, app().driver.timer_val, false);
  run_->start_metrics(false);
}

void web_page::resize(int width, int height) {
  width_ = positive_or_zero(width);
  height_ = positive_or_zero(height);
  if (ended_) return;
  memdc_setup(app(), *this);
}

void web_page::tick() {
  if (ended_) return;
  run_->tick();
}

void web_page::rate_timer() {
  if (ended_) return;
  timer_message(app(), *this, kRateTimerId);
}

std::uint64_t web_page::run(std::uint64_t ticks) {
  std::uint64_t done = 0;
  while (done < ticks && !ended_) {
    run_->tick();
    ++done;
    if (broken_value() != nullptr) break;
  }
  return done;
}

int web_page::tick_period_ms() const {
  return app().driver.timer_val;
}

void web_page::key_down(std::string_view code, std::string_view key, bool alt_held) {
  if (ended_) return;
  if (const auto virtual_key = keys_.press(code, key, alt_held))
    ::key_down(app(), *this, *virtual_key);
}

void web_page::key_up(std::string_view code, std::string_view key, bool alt_held) {
  if (ended_) return;
  if (const auto virtual_key = keys_.release(code, key, alt_held)) ::key_up(app(), *virtual_key);
}

void web_page::release_keys() {
  for (const unsigned virtual_key : keys_.release_all()) {
    if (!ended_) ::key_up(app(), virtual_key);
  }
}

bool web_page::press_keys(std::string_view list, std::string& error) {
  std::vector<unsigned> codes;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const std::string_view name = list.substr(0, comma);
    list = comma == std::string_view::npos ? std::string_view{} : list.substr(comma + 1);
    if (const int code = key_code_of(name); code >= 0) {
      codes.push_back(static_cast<unsigned>(code));
      continue;
    }
    // Letters and digits run together: one key each.
    for (const char c : name) {
      const int code = key_code_of(std::string_view(&c, 1));
      if (code < 0) {
        error = "keys: \"" + std::string(name) + "\" is not a key; keys are " + kKeyNameList +
                ", separated by commas, or letters and digits run together";
        return false;
      }
      codes.push_back(static_cast<unsigned>(code));
    }
  }
  for (const unsigned code : codes) {
    if (ended_) break;
    ::key_down(app(), *this, code);
    ::key_up(app(), code);
  }
  return true;
}

void web_page::mouse_down(int button, int x, int y) {
  if (ended_) return;
  if (button == kLeftButton) {
    ::mouse_down(app(), x, y);
  } else if (button == kRightButton) {
    right_button_down(app(), x, y);
  }
}

void web_page::mouse_move(int x, int y) {
  if (ended_) return;
  ::mouse_move(app(), x, y);
}

void web_page::mouse_up(int button, int x, int y) {
  if (ended_) return;
  if (button == kLeftButton) {
    ::mouse_up(app(), x, y);
  } else if (button == kRightButton) {
    right_button_up(app());
  }
}

bool web_page::open_world(std::string_view name, std::string_view bytes, std::string& error) {
  const std::string prefix = "cannot load \"" + std::string(name) + "\": ";
  if (ended_) {
    error = prefix + "the simulation has ended";
    return false;
  }
  if (bytes.size() > kWorldFileMaxBytes) {
    error = prefix + "the file is larger than " + std::to_string(kWorldFileMaxBytes) +
            " bytes, too large for a world file";
    return false;
  }
  if (const file_result read = world_read_text(app().sim, bytes); !read) {
    error = prefix + read.message();
    return false;
  }
  return true;
}

bool web_page::save_world(std::string& text, std::string& error) const {
  if (ended_) {
    error = "cannot save: the simulation has ended";
    return false;
  }
  if (const file_result made = world_text_to_save(app().sim, text); !made) {
    error = "cannot save: " + made.message();
    return false;
  }
  return true;
}

void web_page::exit() {
  if (ended_) return;
  ended_ = true;
  system_shutdown(app());
  mouse_edit_reset(app());
}

std::string web_page::share_fragment() const {
  const simulation& sim = app().sim;
  // The walls in the order that a load turns back into the list's order.
  world_file_data data;
  data.x = sim.robot.x;
  data.y = sim.robot.y;
  data.heading = sim.robot.heading;
  data.wall_count = sim.world.num_walls;
  for (const wall_node* wall = sim.world.walls; wall != nullptr; wall = wall->next) {
    data.walls.push_back({wall->x, wall->y, wall->width, wall->height});
  }
  std::string text;
  if (!world_data_to_text(data, text)) return {};
  while (!text.empty() && text.back() == '\n') text.pop_back();
  for (char& c : text) {
    if (c == '\n') c = kShareLineBreak;
    if (c == ' ') c = kShareSpace;
  }
  std::string fragment = std::string(kShareWorld) + text;
  if (sim.world.target_set && std::isfinite(sim.world.target_x) &&
      std::isfinite(sim.world.target_y)) {
    char target[128];
    std::snprintf(target, sizeof target, "&%.*s%.6f,%.6f", static_cast<int>(kShareTarget.size()),
                  kShareTarget.data(), sim.world.target_x, sim.world.target_y);
    fragment += target;
  }
  return fragment;
}

bool web_page::open_shared(std::string_view fragment, std::string& error) {
  const std::string prefix = "cannot open the shared world: ";
  std::optional<std::string> world_text;
  std::optional<std::pair<double, double>> target;
  while (!fragment.empty()) {
    const std::size_t amp = fragment.find('&');
    const std::string_view part = fragment.substr(0, amp);
    fragment = amp == std::string_view::npos ? std::string_view{} : fragment.substr(amp + 1);
    if (part.substr(0, kShareWorld.size()) == kShareWorld) {
      std::string text(part.substr(kShareWorld.size()));
      for (char& c : text) {
        if (c == kShareLineBreak) c = '\n';
        if (c == kShareSpace) c = ' ';
      }
      world_text = std::move(text);
    } else if (part.substr(0, kShareTarget.size()) == kShareTarget) {
      double x = 0.0;
      double y = 0.0;
      if (!parse_point(part.substr(kShareTarget.size()), x, y)) {
        error = prefix + "the target is not two finite numbers \"x,y\"";
        return false;
      }
      target.emplace(x, y);
    }
  }
  if (!world_text) {
    error = prefix + "the link holds no world";
    return false;
  }
  world_file_data data;
  world_file_error parse_error;
  if (!world_parse_text(*world_text, data, parse_error)) {
    error = prefix + parse_error.message;
    return false;
  }
  if (ended_) {
    error = prefix + "the simulation has ended";
    return false;
  }
  world_apply_data(app().sim, data);
  if (target) world_set_target(app().sim, target->first, target->second);
  return true;
}

void web_page::set_controller(bool on) {
  if (ended_) return;
  if (on) {
    app().sim.manual_mode = true;
  } else {
    app().driver.program_drive.reset();
  }
}

bool web_page::drive(double speed, double turn) {
  if (!std::isfinite(speed) || !(std::abs(turn) <= kMaxDriveTurn)) return false;
  if (!ended_ && app().sim.manual_mode) app().driver.program_drive = drive_command{speed, turn};
  return true;
}

std::vector<float> web_page::readings() const {
  std::vector<float> values(kObservationSize);
  robot_observation(app().sim.robot, app().sim.world, values.data());
  return values;
}

const std::uint8_t* web_page::draw() {
  if (!image_ || image_->width() != width_ || image_->height() != height_) {
    image_.reset();
    image_.emplace(width_, height_);
    canvas_bytes_.assign(static_cast<std::size_t>(image_->width()) * image_->height() * 4, 0);
  }
  if (!ended_) {
    scene_options options = scene_options_of(app());
    options.arrows = &arrows_;
    draw_scene(app(), options, *image_);
  }
  const std::uint32_t* row = image_->pixels();
  auto* out = canvas_bytes_.data();
  for (int y = 0; row != nullptr && y < image_->height(); ++y, row += image_->stride()) {
    for (int x = 0; x < image_->width(); ++x) {
      const std::uint32_t pixel = canvas_pixel(row[x]);
      std::memcpy(out, &pixel, sizeof pixel);
      out += sizeof pixel;
    }
  }
  return canvas_bytes_.data();
}

std::string web_page::statistics_line() const {
  return ::statistics_line(app());
}

run_figures web_page::figures() const {
  return run_figures_of(app(), run_->now_ms());
}

std::string web_page::trace(std::uint64_t ticks) {
  std::string text = std::string(kTraceHeader) + "\n";
  append_trace_row(text, app().sim, run_->ticks(), run_->now_ms());
  for (std::uint64_t i = 0; i < ticks && !ended_; ++i) {
    run_->tick();
    append_trace_row(text, app().sim, run_->ticks(), run_->now_ms());
    if (broken_value() != nullptr) break;
  }
  return text;
}

const char* web_page::broken_value() const {
  return first_non_finite_value(app().sim);
}

page_state web_page::state() const {
  const simulation& sim = app().sim;
  page_state state;
  state.x = sim.robot.x;
  state.y = sim.robot.y;
  state.heading = sim.robot.heading;
  state.speed = sim.robot.speed;
  state.turn = sim.robot.turn;
  state.target_x = sim.world.target_x;
  state.target_y = sim.world.target_y;
  state.manual_mode = sim.manual_mode;
  state.timer_val = app().driver.timer_val;
  state.show_stats = app().driver.show_stats;
  state.show_walls = sim.world.show_walls;
  state.show_grad = sim.world.show_grad;
  state.show_vision = sim.robot.show_vision;
  state.walls = sim.world.num_walls;
  state.impacts = sim.world.num_impacts;
  state.waypoints = sim.world.num_waypoints;
  state.planning_runs = sim.planner_stats.runs;
  state.scale1 = sim.world.scale1;
  state.scale2 = sim.world.scale2;
  state.scale3 = sim.world.scale3;
  state.tick = run_->ticks();
  state.time_ms = run_->now_ms();
  state.targets_reached = run_metrics(app()).targets_reached;
  state.updates_per_second = app().driver.updates_per_second;
  state.seed = seed_;
  state.width = width_;
  state.height = height_;
  state.ended = ended_;
  return state;
}

void web_page::set_timer(int id, int period_ms) {
  run_->set_timer(id, period_ms);
  if (id == kTickTimerId) ++tick_timer_arms_;
}

void web_page::request_quit(int exit_code) {
  run_->request_quit(exit_code);
  ended_ = true;
}

void web_page::client_size(int& width, int& height) {
  width = width_;
  height = height_;
}

std::unique_ptr<draw_context> web_page::create_image(int /*width*/, int /*height*/) {
  return nullptr;
}
