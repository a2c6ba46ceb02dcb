// The page's module: web_page (web/page.h) as the JavaScript class Page. Values
// cross as numbers, strings and typed arrays; counts of ticks cross as doubles,
// exact up to 2^53.
#include <emscripten/bind.h>
#include <emscripten/val.h>

#include <cstdint>
#include <string>
#include <variant>

#include "web/page.h"

using emscripten::val;

namespace {

std::uint64_t whole_ticks(double ticks) {
  if (!(ticks > 0)) return 0;
  if (ticks >= static_cast<double>(kMaxTicks)) return kMaxTicks;
  return static_cast<std::uint64_t>(ticks);
}

std::string bytes_of(const val& array) {
  return array.isUndefined() || array.isNull() ? std::string() : [&] {
    const std::vector<std::uint8_t> bytes =
        emscripten::convertJSArrayToNumberVector<std::uint8_t>(array);
    return std::string(bytes.begin(), bytes.end());
  }();
}

// A metric's value as JavaScript has it: a number, or null for none.
val metric_number(const metric_value& value) {
  if (const auto* count = std::get_if<std::uint64_t>(&value)) {
    return val(static_cast<double>(*count));
  }
  if (const auto* real = std::get_if<double>(&value)) return val(*real);
  return val::null();
}

// window.robosim.metrics: the table of run metrics, one object a metric
// (decimals null for a count), in the order stats() gives them.
val run_metrics_list() {
  val list = val::array();
  int index = 0;
  for (const run_metric& metric : run_metrics_table()) {
    val row = val::object();
    row.set("name", std::string(metric.name));
    row.set("description", std::string(metric.description));
    row.set("unit", std::string(metric.unit));
    row.set("decimals", metric.decimals == kWholeNumber ? val::null() : val(metric.decimals));
    list.set(index++, row);
  }
  return list;
}

class page_binding {
 public:
  page_binding(int width, int height, double seed)
      : page_(width, height, static_cast<std::uint32_t>(seed)) {}

  void resize(int width, int height) { page_.resize(width, height); }
  void tick() { page_.tick(); }
  void rate_timer() { page_.rate_timer(); }
  double run(double ticks) { return static_cast<double>(page_.run(whole_ticks(ticks))); }
  int tick_period() const { return page_.tick_period_ms(); }
  double tick_timer_arms() const { return static_cast<double>(page_.tick_timer_arms()); }

  void key_down(const std::string& code, const std::string& key, bool alt) {
    page_.key_down(code, key, alt);
  }
  void key_up(const std::string& code, const std::string& key, bool alt) {
    page_.key_up(code, key, alt);
  }
  void release_keys() { page_.release_keys(); }
  std::string press_keys(const std::string& list) {
    std::string error;
    page_.press_keys(list, error);
    return error;
  }

  void mouse_down(int button, int x, int y) { page_.mouse_down(button, x, y); }
  void mouse_move(int x, int y) { page_.mouse_move(x, y); }
  void mouse_up(int button, int x, int y) { page_.mouse_up(button, x, y); }

  std::string open_world(const std::string& name, const val& bytes) {
    std::string error;
    page_.open_world(name, bytes_of(bytes), error);
    return error;
  }
  val save_world() const {
    std::string text;
    std::string error;
    val result = val::object();
    if (page_.save_world(text, error)) {
      result.set("text", text);
    } else {
      result.set("error", error);
    }
    return result;
  }
  void exit() { page_.exit(); }
  bool ended() const { return page_.ended(); }

  std::string share_fragment() const { return page_.share_fragment(); }
  std::string open_shared(const std::string& fragment) {
    std::string error;
    page_.open_shared(fragment, error);
    return error;
  }

  void set_controller(bool on) { page_.set_controller(on); }
  bool drive(double speed, double turn) { return page_.drive(speed, turn); }
  val readings() const {
    const std::vector<float> values = page_.readings();
    val array = val::array();
    for (std::size_t i = 0; i < values.size(); ++i) array.set(i, values[i]);
    return array;
  }

  // A view of the pixels in the module's memory, valid until the next call.
  val draw() {
    const std::uint8_t* bytes = page_.draw();
    const page_state state = page_.state();
    const std::size_t size = static_cast<std::size_t>(state.width) * state.height * 4;
    return val(emscripten::typed_memory_view(size, bytes));
  }
  std::string statistics_line() const { return page_.statistics_line(); }
  // Every run metric by its name, as the headless runner's JSON summary has it
  // (at full precision).
  val stats() const {
    const run_figures figures = page_.figures();
    val out = val::object();
    for (const run_metric& metric : run_metrics_table()) {
      out.set(metric.name, metric_number(metric_read(metric, figures)));
    }
    return out;
  }
  std::string trace(double ticks) { return page_.trace(whole_ticks(ticks)); }
  std::string broken_value() const {
    const char* broken = page_.broken_value();
    return broken != nullptr ? broken : "";
  }

  val state() const {
    const page_state s = page_.state();
    val out = val::object();
    out.set("x", s.x);
    out.set("y", s.y);
    out.set("heading", s.heading);
    out.set("speed", s.speed);
    out.set("turn", s.turn);
    out.set("target_x", s.target_x);
    out.set("target_y", s.target_y);
    out.set("manual_mode", s.manual_mode);
    out.set("timer_val", s.timer_val);
    out.set("show_stats", s.show_stats);
    out.set("show_walls", s.show_walls);
    out.set("show_grad", s.show_grad);
    out.set("show_vision", s.show_vision);
    out.set("walls", s.walls);
    out.set("impacts", s.impacts);
    out.set("waypoints", s.waypoints);
    out.set("planning_runs", static_cast<double>(s.planning_runs));
    out.set("scale1", s.scale1);
    out.set("scale2", s.scale2);
    out.set("scale3", s.scale3);
    out.set("tick", static_cast<double>(s.tick));
    out.set("time_ms", static_cast<double>(s.time_ms));
    out.set("targets_reached", static_cast<double>(s.targets_reached));
    out.set("updates_per_second", s.updates_per_second);
    out.set("seed", static_cast<double>(s.seed));
    out.set("width", s.width);
    out.set("height", s.height);
    out.set("ended", s.ended);
    return out;
  }

 private:
  web_page page_;
};

}  // namespace

EMSCRIPTEN_BINDINGS(robot_simulator) {
  emscripten::class_<page_binding>("Page")
      .constructor<int, int, double>()
      .function("resize", &page_binding::resize)
      .function("tick", &page_binding::tick)
      .function("rateTimer", &page_binding::rate_timer)
      .function("run", &page_binding::run)
      .function("tickPeriod", &page_binding::tick_period)
      .function("tickTimerArms", &page_binding::tick_timer_arms)
      .function("keyDown", &page_binding::key_down)
      .function("keyUp", &page_binding::key_up)
      .function("releaseKeys", &page_binding::release_keys)
      .function("pressKeys", &page_binding::press_keys)
      .function("mouseDown", &page_binding::mouse_down)
      .function("mouseMove", &page_binding::mouse_move)
      .function("mouseUp", &page_binding::mouse_up)
      .function("openWorld", &page_binding::open_world)
      .function("saveWorld", &page_binding::save_world)
      .function("exit", &page_binding::exit)
      .function("ended", &page_binding::ended)
      .function("shareFragment", &page_binding::share_fragment)
      .function("openShared", &page_binding::open_shared)
      .function("setController", &page_binding::set_controller)
      .function("drive", &page_binding::drive)
      .function("readings", &page_binding::readings)
      .function("draw", &page_binding::draw)
      .function("statisticsLine", &page_binding::statistics_line)
      .function("stats", &page_binding::stats)
      .function("trace", &page_binding::trace)
      .function("brokenValue", &page_binding::broken_value)
      .function("state", &page_binding::state);
  emscripten::function("runMetrics", &run_metrics_list);
}
