// Looks at the end-to-end test's screenshots:
//
//   pixel_probe FILE X Y W H R G B [TOLERANCE]
//     prints the number of pixels in the rectangle (clipped to the picture) whose
//     red, green and blue each lie within TOLERANCE (default 0) of R, G, B;
//   pixel_probe --same FILE1 FILE2 X Y W H [R G B]
//     exits with 0 when the two pictures are the same in the rectangle, else 1;
//   pixel_probe --changed FILE1 FILE2 X Y W H [R G B]
//     prints "LEFT RIGHT", the first and last column in which the two pictures
//     differ inside the rectangle, or "none".
//   Given a colour, these two look only at where it is: a pixel differs when it
//   has the colour in one picture and not in the other.
//
// Exit code 2: bad arguments or a picture that cannot be read.
#include <QImage>
#include <QRect>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool parse_int(const char* text, int& value) {
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || parsed < -1000000 || parsed > 1000000) return false;
  value = static_cast<int>(parsed);
  return true;
}

bool parse_ints(char** texts, int n, int* values) {
  for (int k = 0; k < n; ++k) {
    if (!parse_int(texts[k], values[k])) {
      std::fprintf(stderr, "pixel_probe: not a number: %s\n", texts[k]);
      return false;
    }
  }
  return true;
}

QImage load(const char* path) {
  const QImage image = QImage(QString::fromLocal8Bit(path)).convertToFormat(QImage::Format_RGB32);
  if (image.isNull()) std::fprintf(stderr, "pixel_probe: cannot read %s\n", path);
  return image;
}

int count_colour(char** argv, int argc) {
  int v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  if (!parse_ints(argv + 2, argc - 2, v)) return 2;
  const QImage image = load(argv[1]);
  if (image.isNull()) return 2;
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

// --same and --changed: the columns of the rectangle in which the pictures differ.
int compare_pictures(int argc, char** argv) {
  const bool same_mode = std::strcmp(argv[1], "--same") == 0;
  const bool by_colour = argc == 11;
  int v[7] = {0, 0, 0, 0, 0, 0, 0};
  if (!parse_ints(argv + 4, argc - 4, v)) return 2;
  const QRgb colour = qRgb(v[4], v[5], v[6]);
  const auto has_colour = [colour](QRgb pixel) { return (pixel & 0xFFFFFFu) == (colour & 0xFFFFFFu); };
  const auto differ = [&](QRgb a, QRgb b) {
    return by_colour ? has_colour(a) != has_colour(b) : a != b;
  };
  const QImage first = load(argv[2]);
  const QImage second = load(argv[3]);
  if (first.isNull() || second.isNull()) return 2;
  const QRect area =
      QRect(v[0], v[1], v[2], v[3]).intersected(first.rect()).intersected(second.rect());
  int left = -1;
  int right = -1;
  for (int y = area.top(); y <= area.bottom(); ++y) {
    const auto* a = reinterpret_cast<const QRgb*>(first.constScanLine(y));
    const auto* b = reinterpret_cast<const QRgb*>(second.constScanLine(y));
    for (int x = area.left(); x <= area.right(); ++x) {
      if (!differ(a[x], b[x])) continue;
      if (left < 0 || x < left) left = x;
      if (x > right) right = x;
    }
  }
  if (same_mode) return left < 0 ? 0 : 1;
  if (left < 0) {
    std::printf("none\n");
  } else {
    std::printf("%d %d\n", left, right);
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if ((argc == 8 || argc == 11) &&
      (std::strcmp(argv[1], "--same") == 0 || std::strcmp(argv[1], "--changed") == 0))
    return compare_pictures(argc, argv);
  if (argc == 9 || argc == 10) return count_colour(argv, argc);
  std::fprintf(stderr,
               "usage: pixel_probe FILE X Y W H R G B [TOLERANCE]\n"
               "       pixel_probe --same|--changed FILE1 FILE2 X Y W H [R G B]\n");
  return 2;
}
