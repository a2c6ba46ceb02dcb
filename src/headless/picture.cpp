#include "headless/picture.h"

#include <QBuffer>
#include <QByteArray>

#include "core/world.h"
#include "draw/world_draw.h"
#include "shell/driver.h"
#include "shell/trail.h"

scene_picture::scene_picture(int width, int height) : image_(width, height) {
  display_x = width;
  display_y = height;
}

void scene_picture::draw() {
  if (trail_recording()) {
    // Catches a jump made by keys since the last tick (a reset, say), so that it
    // is not drawn as a line.
    trail_note_robot();
    world_draw_with_trail(image_, trail_points());
  } else {
    world_draw(image_);
  }
  if (show_stats) image_.text_out(1, 1, statistics_line());
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
