// The simulation driver: start-up, the tick, the one-second rate count, the key
// table, the driving keys and shut-down. It talks to the window system only
// through the small platform interface below, so the window, the headless runner
// and the tests drive the same code.
#pragma once

#include <cstdint>
#include <memory>

class draw_context;

constexpr int kTickTimerId = 101;
constexpr int kRateTimerId = 102;
constexpr int kRatePeriodMs = 1000;

// Virtual-key codes used by the key table.
enum virtual_key : unsigned {
  vk_escape = 27,
  vk_space = 32,
  vk_up = 38,
  vk_down = 40,
};

// What the driver needs of a window system.
class platform {
 public:
  virtual ~platform() = default;
  // Starts, or re-arms with a new period, the periodic timer with this id.
  virtual void set_timer(int id, int period_ms) = 0;
  // Asks for the whole client area to be repainted (without erasing it).
  virtual void request_repaint() = 0;
  // Asks the event loop to end with this exit code.
  virtual void request_quit(int exit_code) = 0;
  // The client area's size in pixels.
  virtual void client_size(int& width, int& height) = 0;
  // A new off-screen image of the given size to draw into.
  virtual std::unique_ptr<draw_context> create_image(int width, int height) = 0;
};

extern bool keys[256];
extern std::int32_t timer_val;
extern std::int32_t updates;
extern std::int32_t updates_per_second;
extern bool manual_mode;
extern bool show_stats;
extern std::int32_t display_x;
extern std::int32_t display_y;
// The off-screen image every world drawing goes into.
extern std::unique_ptr<draw_context> memdc;

// Start-up with the random generator seeded from the calendar time.
void system_startup(platform& window);
// The same with a given seed, for reproducible runs.
void system_startup(platform& window, unsigned seed);
// Measures the client area and creates a new off-screen image of that size.
void memdc_setup(platform& window);
void timer_message(platform& window, unsigned timer_id);
void key_down(platform& window, unsigned key_code);
void key_up(unsigned key_code);
void check_keys();
void manual_motion(double speed, double turn);
void system_shutdown();

// Puts every driver global back to its program-start value, for tests and for
// running several simulations in one process.
void driver_reset();
