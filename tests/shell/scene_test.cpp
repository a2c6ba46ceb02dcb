// Pictures and films of the scene (shell/scene.h, shell/film.h): a picture at
// any size and with any switches is, pixel for pixel, what the window's drawing
// draws once the simulation's own size and switches are set to it, and the
// run is left exactly as it was; a film's frames are the pictures of their
// ticks, and its failures carry the sink's errno.
#include "shell/scene.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "../draw/gif_decode.h"
#include "core/world_file.h"
#include "draw/raster_context.h"
#include "draw/world_draw.h"
#include "shell/film.h"
#include "shell/simulated_run.h"
#include "shell/snapshot.h"
#include "shell/trail.h"

namespace {

std::unique_ptr<simulated_run> run_in(const char* world, std::uint32_t seed, int ticks) {
  auto run = std::make_unique<simulated_run>(640, 480);
  set_console_sink(run->sim(), [](std::string_view) {});
  run->start(seed, 10, false);
  if (world != nullptr) {
    const file_result loaded =
        world_read_file(run->sim(), std::string(ROBOSIM_SOURCE_DIR) + "/worlds/" + world);
    if (!loaded) throw std::runtime_error(loaded.message());
  }
  for (int i = 0; i < ticks; ++i) run->tick();
  return run;
}

std::string state_of(const simulated_run& run) {
  snapshot_writer out;
  write_run_state(out, run);
  return out.finish();
}

std::vector<std::uint32_t> pixels_of(const raster_context& image) {
  std::vector<std::uint32_t> pixels;
  for (int y = 0; y < image.height(); ++y) {
    const std::uint32_t* row = image.pixels() + y * image.stride();
    pixels.insert(pixels.end(), row, row + image.width());
  }
  return pixels;
}

// The picture as the front ends drew it before there was a scene: on a copy of
// the simulator, its client area and switches set to the picture's, the robot
// noted on the trail, then the window's world_draw.
std::vector<std::uint32_t> literal_picture(const simulator& app, const scene_options& options,
                                           int width, int height) {
  simulator changed = app;
  changed.sim.display_x = width;
  changed.sim.display_y = height;
  changed.sim.world.show_grad = options.grad;
  changed.sim.robot.show_vision = options.vision;
  raster_context image(width, height);
  if (options.trail && trail_recording(changed)) {
    trail_note_robot(changed);
    world_draw_with_trail(changed.sim, image, trail_points(changed));
  } else {
    world_draw(changed.sim, image);
  }
  return pixels_of(image);
}

struct scene_case {
  const char* world;
  std::uint32_t seed;
  int ticks;
  bool trail;
  bool jump;  // the robot placed elsewhere after the last tick
};

TEST(Scene, APictureIsTheWindowsDrawingAtItsSizePixelForPixelAndChangesNothing) {
  const scene_case cases[] = {
      {nullptr, 7, 0, false, false},        {"maze.dat", 3, 400, true, false},
      {"cave.dat", 11, 900, true, true},    {"warehouse.dat", 5, 300, false, false},
      {"pillars.dat", 2, 600, true, false},
  };
  const int sizes[][2] = {{640, 480}, {1, 1}, {37, 29}, {75, 75}, {1000, 300}, {150, 700}};
  for (const scene_case& c : cases) {
    auto run = run_in(c.world, c.seed, 0);
    if (c.trail) trail_start(run->app());
    for (int i = 0; i < c.ticks; ++i) run->tick();
    if (c.jump) {
      run->sim().robot.x = 2.0;
      run->sim().robot.y = 2.0;
    }
    const simulator& app = run->app();
    const std::string before = state_of(*run);
    for (const auto& size : sizes) {
      for (int switches = 0; switches < 4; ++switches) {
        scene_options options;
        options.grad = (switches & 1) != 0;
        options.vision = (switches & 2) != 0;
        SCOPED_TRACE(std::string(c.world == nullptr ? "default" : c.world) + " " +
                     std::to_string(size[0]) + "x" + std::to_string(size[1]) + " switches " +
                     std::to_string(switches));
        raster_context picture(size[0], size[1]);
        draw_scene(app, options, picture);
        ASSERT_EQ(pixels_of(picture), literal_picture(app, options, size[0], size[1]));
      }
    }
    EXPECT_EQ(state_of(*run), before) << "the picture changed the run";
  }
}

TEST(Scene, LimitsOfPicturesAndFilms) {
  struct size_case {
    std::int64_t width, height;
    bool allowed;
  };
  for (const size_case& c : {size_case{1, 1, true},
                             {0, 5, false},
                             {5, -1, false},
                             {kMaxImageSide, 4096, true},
                             {kMaxImageSide, 4097, false},
                             {kMaxImageSide + 1, 1, false},
                             {8192, 8192, true},
                             {INT64_MAX, INT64_MAX, false}}) {
    EXPECT_EQ(picture_size_allowed(c.width, c.height), c.allowed) << c.width << "x" << c.height;
  }
  EXPECT_TRUE(film_frames_allowed(0, 1));
  EXPECT_TRUE(film_frames_allowed(99'999, 1));
  EXPECT_FALSE(film_frames_allowed(100'000, 1));
  EXPECT_FALSE(film_frames_allowed(10, 0));
  EXPECT_TRUE(film_frames_allowed(kMaxTicks, smallest_gif_step(kMaxTicks)));
  EXPECT_FALSE(film_frames_allowed(kMaxTicks, smallest_gif_step(kMaxTicks) - 1));
}

TEST(Film, FramesAreThePicturesOfTheirTicksAndTheRuleIsTheRunnersOne) {
  auto run = run_in("maze.dat", 3, 0);
  auto twin = std::make_unique<simulated_run>(*run);  // the same run, pictures taken by hand
  std::string bytes;
  film_recorder film(
      std::make_unique<raster_context>(64, 48), 10, 1.0,
      [&bytes](const std::uint8_t* data, std::size_t size) {
        bytes.append(reinterpret_cast<const char*>(data), size);
        return 0;
      },
      "film.gif");
  std::vector<std::vector<std::uint32_t>> expected;
  for (std::uint64_t tick = 0;; ++tick) {
    const bool last = tick == 25;
    if (film.frame_due(tick, last)) {
      ASSERT_TRUE(film.add_frame(run->app(), scene_options_of(run->app()), run->now_ms()));
      raster_context picture(64, 48);
      draw_scene(twin->app(), scene_options_of(twin->app()), picture);
      expected.push_back(pixels_of(picture));
    }
    if (last) break;
    run->tick();
    twin->tick();
  }
  ASSERT_TRUE(film.finish(run->now_ms(), 10));
  EXPECT_EQ(film.frames(), 4u);  // ticks 0, 10, 20 and 25
  const decoded_gif gif = decode_gif(bytes);
  ASSERT_TRUE(gif.ok) << gif.error;
  ASSERT_EQ(gif.frames.size(), 4u);
  std::vector<int> delays;
  for (const decoded_frame& frame : gif.frames) delays.push_back(frame.delay_cs);
  EXPECT_EQ(delays, (std::vector<int>{10, 10, 5, 10}));
  for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& shown) {
    ASSERT_LT(i, expected.size());
    for (std::size_t p = 0; p < shown.size(); ++p) {
      // Without the lattice every colour of the scene is exact in the palette.
      ASSERT_EQ(shown[p], expected[i][p] & 0xFFFFFFu) << "frame " << i << " pixel " << p;
    }
  });
  EXPECT_EQ(state_of(*run), state_of(*twin)) << "filming changed the run";
}

TEST(Film, AFailingSinkEndsTheFilmWithItsErrno) {
  auto run = run_in(nullptr, 1, 0);
  int calls = 0;
  film_recorder film(
      std::make_unique<raster_context>(32, 32), 1, 1.0,
      [&calls](const std::uint8_t*, std::size_t) { return ++calls > 1 ? ENOSPC : 0; },
      "out/film.gif");
  file_result added = film.add_frame(run->app(), scene_options{}, 0);
  run->tick();
  if (added) added = film.add_frame(run->app(), scene_options{}, 10);
  if (added) added = film.finish(10, 10);
  ASSERT_FALSE(added);
  EXPECT_EQ(added.error().kind, file_error_kind::file_system);
  EXPECT_EQ(added.error().error_number, ENOSPC);
  EXPECT_EQ(added.error().path, "out/film.gif");
  EXPECT_EQ(added.message(), "cannot write out/film.gif: No space left on device");
  // Nothing more reaches the sink.
  const int calls_then = calls;
  EXPECT_FALSE(film.add_frame(run->app(), scene_options{}, 20));
  EXPECT_EQ(calls, calls_then);
}

}  // namespace
