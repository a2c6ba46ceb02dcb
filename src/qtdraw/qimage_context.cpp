#include "qtdraw/qimage_context.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <QString>

namespace {

QImage black_image(int width, int height) {
  if (width <= 0 || height <= 0) return QImage();
  QImage image(width, height, QImage::Format_RGB32);
  if (!image.isNull()) image.fill(qRgb(0, 0, 0));
  return image;
}

std::uint32_t* memory_of(QImage& image) {
  if (image.isNull()) return nullptr;
  return reinterpret_cast<std::uint32_t*>(image.bits());
}

}  // namespace

// Format_RGB32 stores each pixel as 0xFFRRGGBB, the rasteriser's layout.
static_assert(sizeof(QRgb) == sizeof(std::uint32_t));

qimage_context::qimage_context(int width, int height)
    : qimage_holder{black_image(width, height)},
      raster_context(memory_of(image_), image_.width(), image_.height(),
                     image_.bytesPerLine() / 4) {}

// bits() detaches the image from any copy handed out through image(), so the
// copy keeps its frame; the layout stays the same.
void qimage_context::before_drawing() {
  set_memory(memory_of(image_));
}

void qimage_context::text_out(int x, int y, std::string_view text) {
  if (width() == 0 || text.empty() || qGuiApp == nullptr) return;
  const QString string = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
  QPainter painter(&image_);
  const QFont font;
  painter.setFont(font);
  const QFontMetrics metrics(font);
  const QRect box(x, y, metrics.horizontalAdvance(string), metrics.height());
  painter.fillRect(box, Qt::white);
  painter.setPen(Qt::black);
  painter.drawText(x, y + metrics.ascent(), string);
  painter.end();
  set_memory(memory_of(image_));  // painting, too, detaches the image from its copies
}
