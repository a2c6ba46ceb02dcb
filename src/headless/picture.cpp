#include "headless/picture.h"

#include <QBuffer>
#include <QByteArray>

#include "core/world.h"
#include "draw/world_draw.h"
#include "qtdraw/qimage_context.h"
#include "shell/driver.h"

bool render_world_png(int width, int height, std::string& png, std::string& error) {
  display_x = width;
  display_y = height;
  qimage_context image(width, height);
  world_draw(image);
  if (show_stats) image.text_out(1, 1, statistics_line());

  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.image().save(&buffer, "PNG")) {
    error = "the picture could not be encoded as PNG";
    return false;
  }
  png.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return true;
}
