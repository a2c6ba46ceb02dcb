// Counts pixels of one colour in a rectangle of a picture, for the end-to-end
// test's screenshots.
//
//   pixel_probe FILE X Y W H R G B [TOLERANCE]
//
// Prints the number of pixels in the rectangle (clipped to the picture) whose red,
// green and blue each lie within TOLERANCE (default 0) of R, G, B.
#include <QImage>
#include <QRect>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

bool parse_int(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < -1000000 || parsed > 1000000) return false;
  value = static_cast<int>(parsed);
  return true;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 9 && argc != 10) {
    std::fprintf(stderr, "usage: pixel_probe FILE X Y W H R G B [TOLERANCE]\n");
    return 2;
  }
  int v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  for (int k = 0; k < argc - 2; ++k) {
    if (!parse_int(argv[k + 2], v[k])) {
      std::fprintf(stderr, "pixel_probe: not a number: %s\n", argv[k + 2]);
      return 2;
    }
  }
  const QImage image =
      QImage(QString::fromLocal8Bit(argv[1])).convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) {
    std::fprintf(stderr, "pixel_probe: cannot read %s\n", argv[1]);
    return 2;
  }
  const QRect area = QRect(v[0], v[1], v[2], v[3]).intersected(image.rect());
  const int tolerance = v[7];
  long count = 0;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
    for (int x = area.left(); x <= area.right(); ++x) {
      const QRgb p = row[x];
      if (std::abs(qRed(p) - v[4]) <= tolerance && std::abs(qGreen(p) - v[5]) <= tolerance &&
          std::abs(qBlue(p) - v[6]) <= tolerance)
        ++count;
    }
  }
  std::printf("%ld\n", count);
  return 0;
}
