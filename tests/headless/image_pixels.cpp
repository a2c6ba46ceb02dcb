// Writes the pixels a picture or a film shows, so that runs can be compared by what
// they show rather than by the bytes of their files (which change with the zlib or
// encoder version, the compression level, the order of the palette...).
//
//   image_pixels FILE.png  ->  "png WIDTH HEIGHT\n" and the pixels as RGBA, rows packed
//   image_pixels FILE.gif  ->  "gif WIDTH HEIGHT FRAMES N LOOPS 0|1\n" and for every
//                              frame "frame I DELAY CENTISECONDS\n" and the picture shown
//                              after it as RGB, rows packed
//
// Exit code 1, with a message, for a file that cannot be read or decoded.
#include <QImage>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "../draw/gif_decode.h"

namespace {

int fail(const std::string& message) {
  std::fprintf(stderr, "image_pixels: %s\n", message.c_str());
  return 1;
}

bool ends_with(const std::string& text, const std::string& end) {
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

int write_png_pixels(const std::string& path) {
  QImage image;
  if (!image.load(QString::fromStdString(path), "PNG")) return fail("cannot decode " + path);
  image = image.convertToFormat(QImage::Format_RGBA8888);
  std::printf("png %d %d\n", image.width(), image.height());
  for (int y = 0; y < image.height(); ++y) {
    std::fwrite(image.constScanLine(y), 4, static_cast<std::size_t>(image.width()), stdout);
  }
  return 0;
}

int write_gif_pixels(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return fail("cannot read " + path);
  const std::string bytes{std::istreambuf_iterator<char>(in), {}};
  const decoded_gif gif = decode_gif(bytes);
  if (!gif.ok) return fail("cannot decode " + path + ": " + gif.error);
  std::printf("gif %d %d frames %zu loops %d\n", gif.width, gif.height, gif.frames.size(),
              gif.loops_forever ? 1 : 0);
  std::string rgb;
  try {
    for_each_picture(gif, [&](std::size_t i, const std::vector<std::uint32_t>& picture) {
      std::printf("frame %zu delay %d\n", i, gif.frames[i].delay_cs);
      rgb.clear();
      for (const std::uint32_t pixel : picture) {
        rgb.push_back(static_cast<char>(pixel >> 16));
        rgb.push_back(static_cast<char>(pixel >> 8));
        rgb.push_back(static_cast<char>(pixel));
      }
      std::fwrite(rgb.data(), 1, rgb.size(), stdout);
    });
  } catch (const std::out_of_range&) {
    return fail(path + ": a pixel's colour is outside its palette");
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return fail("usage: image_pixels FILE.png|FILE.gif");
  const std::string path = argv[1];
  const int status = ends_with(path, ".png")   ? write_png_pixels(path)
                     : ends_with(path, ".gif") ? write_gif_pixels(path)
                                               : fail(path + ": neither .png nor .gif");
  return std::fflush(stdout) == 0 && !std::ferror(stdout) ? status : fail("cannot write");
}
