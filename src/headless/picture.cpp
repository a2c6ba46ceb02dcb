#include "headless/picture.h"

#include <QBuffer>
#include <QByteArray>

#include "qtdraw/qimage_context.h"

file_result encode_png(const qimage_context& image, std::string& png) {
  QByteArray bytes;
  QBuffer buffer(&bytes);
  if (!buffer.open(QIODevice::WriteOnly) || !image.image().save(&buffer, "PNG")) {
    return content_error({}, "the picture could not be encoded as PNG");
  }
  png.assign(bytes.constData(), static_cast<std::size_t>(bytes.size()));
  return {};
}
