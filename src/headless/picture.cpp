#include "headless/picture.h"

#include <QBuffer>
#include <QByteArray>

#include "draw/world_draw.h"
#include "shell/simulator.h"

scene_picture::scene_picture(simulator& app, int width, int height)
    : app_(app), image_(width, height) {
  app.sim.display_x = width;
  app.sim.display_y = height;
}

void scene_picture::draw() {
  if (trail_recording(app_)) {
    // Catches a jump made by keys since the last tick (a reset, say), so that it
    // is not drawn as a line.
    trail_note_robot(app_);
    world_draw_with_trail(app_.sim, image_, trail_points(app_));
  } else {
    world_draw(app_.sim, image_);
  }
  if (app_.driver.show_stats) image_.text_out(1, 1, statistics_line(app_));
}

const std::uint32_t* scene_picture::pixels() const {
  return image_.pixels();
}

std::ptrdiff_t scene_picture::stride() const {
  return image_.stride();
}

bool scene_picture::encode_png(std::string& png, std::string& error) const {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image_.image().save(&buffer, "PNG")) {
    error = "the picture could not be encoded as PNG";
    return false;
  }
  png.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return true;
}
