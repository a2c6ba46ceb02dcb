#include "tools/map_image.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

bool size_allowed(long long width, long long height, std::string& reason) {
  if (width <= 0 || height <= 0) {
    reason = "the image has no pixels";
    return false;
  }
  if (width > kMaxMapSide || height > kMaxMapSide) {
    reason = "the image is " + std::to_string(width) + " x " + std::to_string(height) +
             " pixels, more than " + std::to_string(kMaxMapSide) + " on a side";
    return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// PGM, plain (P2) and raw (P5), one or two bytes a sample

class pgm_reader {
 public:
  explicit pgm_reader(std::string_view text) : text_(text) {}

  // The next header number, skipping white space and comments.
  bool number(long long& value) {
    skip_space_and_comments();
    if (pos_ >= text_.size() || !std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      return false;
    }
    value = 0;
    while (pos_ < text_.size() && std::isdigit(static_cast<unsigned char>(text_[pos_]))) {
      value = value * 10 + (text_[pos_++] - '0');
      if (value > 1'000'000'000) return false;
    }
    return true;
  }
  // After the header's last number: one white-space byte, then the samples.
  bool start_samples() {
    if (pos_ >= text_.size() || !std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      return false;
    }
    ++pos_;
    return true;
  }
  std::size_t pos() const { return pos_; }

 private:
  void skip_space_and_comments() {
    while (pos_ < text_.size()) {
      if (std::isspace(static_cast<unsigned char>(text_[pos_]))) {
        ++pos_;
      } else if (text_[pos_] == '#') {
        while (pos_ < text_.size() && text_[pos_] != '\n') ++pos_;
      } else {
        break;
      }
    }
  }
  std::string_view text_;
  std::size_t pos_ = 2;  // after the magic number
};

bool decode_pgm(std::string_view text, map_image& image, std::string& reason) {
  const bool plain = text[1] == '2';
  pgm_reader reader(text);
  long long width = 0;
  long long height = 0;
  long long maxval = 0;
  if (!reader.number(width) || !reader.number(height) || !reader.number(maxval)) {
    reason = "broken PGM header";
    return false;
  }
  if (!size_allowed(width, height, reason)) return false;
  if (maxval < 1 || maxval > 65535) {
    reason = "PGM maximum value " + std::to_string(maxval) + " is not 1 to 65535";
    return false;
  }
  const auto count = static_cast<std::size_t>(width * height);
  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.white = static_cast<std::uint32_t>(maxval);
  image.level.assign(count, 0);
  if (plain) {
    for (std::size_t n = 0; n < count; ++n) {
      long long v = 0;
      if (!reader.number(v) || v > maxval) {
        reason = "the PGM image ends early or holds a value above its maximum";
        return false;
      }
      image.level[n] = static_cast<std::uint32_t>(v);
    }
    return true;
  }
  if (!reader.start_samples()) {
    reason = "broken PGM header";
    return false;
  }
  const std::size_t bytes = maxval < 256 ? 1 : 2;
  if (text.size() - reader.pos() < count * bytes) {
    reason = "the PGM image ends early";
    return false;
  }
  const auto* data = reinterpret_cast<const unsigned char*>(text.data() + reader.pos());
  for (std::size_t n = 0; n < count; ++n) {
    const unsigned v = bytes == 1 ? data[n] : (unsigned{data[2 * n]} << 8) | data[2 * n + 1];
    if (v > maxval) {
      reason = "the PGM image holds a value above its maximum";
      return false;
    }
    image.level[n] = v;
  }
  return true;
}

// ---------------------------------------------------------------------------
// PNG through libpng's own reading, with no transformation but the unpacking of
// samples narrower than a byte (their values unchanged), so that every sample is
// read as stored. libpng reports errors by longjmp: only the two functions that
// call setjmp run libpng's reading, and they hold nothing that has a destructor.

struct png_reading {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::string_view bytes;
  std::size_t pos = 0;
  char message[200] = "";

  png_reading() = default;
  png_reading(const png_reading&) = delete;
  png_reading& operator=(const png_reading&) = delete;
  ~png_reading() {
    if (png != nullptr) png_destroy_read_struct(&png, info != nullptr ? &info : nullptr, nullptr);
  }
};

void png_take_bytes(png_structp png, png_bytep out, png_size_t length) {
  auto* reading = static_cast<png_reading*>(png_get_io_ptr(png));
  if (length > reading->bytes.size() - reading->pos) png_error(png, "the file ends early");
  std::memcpy(out, reading->bytes.data() + reading->pos, length);
  reading->pos += length;
}

[[noreturn]] void png_stop(png_structp png, png_const_charp message) {
  auto* reading = static_cast<png_reading*>(png_get_error_ptr(png));
  std::snprintf(reading->message, sizeof reading->message, "%s", message);
  png_longjmp(png, 1);
}

void png_ignore_warning(png_structp, png_const_charp) {}

bool png_read_header(png_reading& r) {
  if (setjmp(png_jmpbuf(r.png)) != 0) return false;
  png_read_info(r.png, r.info);
  return true;
}

bool png_read_samples(png_reading& r, png_bytepp rows) {
  if (setjmp(png_jmpbuf(r.png)) != 0) return false;
  png_set_packing(r.png);
  png_set_interlace_handling(r.png);
  png_read_update_info(r.png, r.info);
  png_read_image(r.png, rows);
  return true;
}

// What turns a decoded row into levels.
struct png_layout {
  int color_type = 0;
  int channels = 1;
  int bytes_per_sample = 1;
  unsigned maxval = 255;
  png_colorp palette = nullptr;
  int palette_size = 0;
  png_bytep palette_alpha = nullptr;  // tRNS of a palette image
  int palette_alpha_size = 0;
  png_color_16p transparent = nullptr;  // tRNS of a grey or RGB image
};

unsigned sample_at(const png_byte* pixel, int k, int bytes_per_sample) {
  if (bytes_per_sample == 1) return pixel[k];
  return (unsigned{pixel[2 * k]} << 8) | pixel[2 * k + 1];
}

bool png_row_levels(const png_layout& layout, const png_byte* row, int width, std::uint32_t* levels,
                    std::string& reason) {
  const int stride = layout.channels * layout.bytes_per_sample;
  for (int x = 0; x < width; ++x) {
    const png_byte* pixel = row + static_cast<std::size_t>(x) * stride;
    auto s = [&](int k) { return sample_at(pixel, k, layout.bytes_per_sample); };
    std::uint32_t level = 0;
    bool opaque = true;
    switch (layout.color_type) {
      case PNG_COLOR_TYPE_GRAY:
        level = s(0);
        opaque = layout.transparent == nullptr || s(0) != layout.transparent->gray;
        break;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        level = s(0);
        opaque = s(1) == layout.maxval;
        break;
      case PNG_COLOR_TYPE_RGB:
        level = s(0) + s(1) + s(2);
        opaque = layout.transparent == nullptr || s(0) != layout.transparent->red ||
                 s(1) != layout.transparent->green || s(2) != layout.transparent->blue;
        break;
      case PNG_COLOR_TYPE_RGB_ALPHA:
        level = s(0) + s(1) + s(2);
        opaque = s(3) == layout.maxval;
        break;
      default: {  // palette
        const int index = pixel[0];
        if (index >= layout.palette_size) {
          reason = "broken PNG image (a pixel names palette entry " + std::to_string(index) +
                   " of " + std::to_string(layout.palette_size) + ")";
          return false;
        }
        const png_color& colour = layout.palette[index];
        level = std::uint32_t{colour.red} + colour.green + colour.blue;
        opaque = index >= layout.palette_alpha_size || layout.palette_alpha[index] == 255;
      }
    }
    levels[x] = opaque ? level : map_image::kTransparent;
  }
  return true;
}

bool png_failed(const png_reading& r, std::string& reason) {
  reason = std::string("broken PNG image (") + (r.message[0] != 0 ? r.message : "unreadable") + ")";
  return false;
}

bool decode_png(std::string_view bytes, map_image& image, std::string& reason) {
  png_reading r;
  r.bytes = bytes;
  r.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &r, png_stop, png_ignore_warning);
  if (r.png == nullptr) return png_failed(r, reason);
  r.info = png_create_info_struct(r.png);
  if (r.info == nullptr) return png_failed(r, reason);
  png_set_read_fn(r.png, &r, png_take_bytes);
  // Well above the side allowed, so that this code, not libpng, tells the size;
  // ancillary chunks (text, profiles) may not take more than 8 MiB each.
  png_set_user_limits(r.png, 1u << 20, 1u << 20);
  png_set_chunk_malloc_max(r.png, 8u << 20);
  if (!png_read_header(r)) return png_failed(r, reason);

  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int depth = 0;
  png_layout layout;
  png_get_IHDR(r.png, r.info, &width, &height, &depth, &layout.color_type, nullptr, nullptr,
               nullptr);
  if (!size_allowed(width, height, reason)) return false;
  layout.bytes_per_sample = depth == 16 ? 2 : 1;
  layout.maxval = (1u << depth) - 1;
  layout.channels = png_get_channels(r.png, r.info);
  if (layout.color_type == PNG_COLOR_TYPE_PALETTE &&
      png_get_PLTE(r.png, r.info, &layout.palette, &layout.palette_size) == 0) {
    reason = "broken PNG image (a palette image without a palette)";
    return false;
  }
  int trans_count = 0;
  if (png_get_valid(r.png, r.info, PNG_INFO_tRNS) != 0) {
    png_get_tRNS(r.png, r.info, &layout.palette_alpha, &trans_count, &layout.transparent);
    if (layout.color_type == PNG_COLOR_TYPE_PALETTE) {
      layout.palette_alpha_size = trans_count;
      layout.transparent = nullptr;
    }
  }

  // One byte per sample below eight bits once unpacked.
  const std::size_t row_bytes = static_cast<std::size_t>(width) * layout.channels *
                                static_cast<std::size_t>(layout.bytes_per_sample);
  // Not initialised: only what libpng decodes is read.
  std::unique_ptr<png_byte[]> pixels(new png_byte[row_bytes * height]);
  std::unique_ptr<png_bytep[]> rows(new png_bytep[height]);
  for (png_uint_32 y = 0; y < height; ++y) rows[y] = pixels.get() + y * row_bytes;
  if (!png_read_samples(r, rows.get())) return png_failed(r, reason);
  if (png_get_rowbytes(r.png, r.info) != row_bytes) {
    reason = "broken PNG image (unexpected row layout)";
    return false;
  }

  image.width = static_cast<int>(width);
  image.height = static_cast<int>(height);
  image.white = layout.color_type == PNG_COLOR_TYPE_PALETTE       ? 3 * 255
                : (layout.color_type & PNG_COLOR_MASK_COLOR) != 0 ? 3 * layout.maxval
                                                                  : layout.maxval;
  image.level.assign(static_cast<std::size_t>(width) * height, 0);
  for (png_uint_32 y = 0; y < height; ++y) {
    if (!png_row_levels(layout, rows[y], image.width,
                        image.level.data() + static_cast<std::size_t>(y) * width, reason)) {
      return false;
    }
  }
  return true;
}

std::string file_kind(mode_t mode) {
  if (S_ISFIFO(mode)) return "a named pipe (FIFO)";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  if (S_ISSOCK(mode)) return "a socket";
  return "a file of an unusual kind";
}

std::string size_text(std::uintmax_t bytes) {
  constexpr std::uintmax_t kMiB = 1024 * 1024;
  if (bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
  return std::to_string(bytes) + " bytes";
}

}  // namespace

bool decode_map_image(std::string_view bytes, map_image& image, std::string& reason) {
  image = map_image{};
  bool ok = false;
  if (bytes.size() >= 2 && bytes[0] == 'P' && (bytes[1] == '2' || bytes[1] == '5')) {
    ok = decode_pgm(bytes, image, reason);
  } else if (bytes.size() >= 8 && bytes.substr(0, 8) == "\x89PNG\r\n\x1a\n") {
    ok = decode_png(bytes, image, reason);
  } else {
    reason = "not a PGM or PNG image";
  }
  if (!ok) image = map_image{};
  return ok;
}

file_result read_map_file(const std::string& path, std::uintmax_t limit, std::string& bytes) {
  auto fail = [&path](int code, std::string reason) {
    return file_system_error(path, code, std::move(reason));
  };
  // Without blocking: a named pipe with no writer must not hang the import.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return fail(errno, "");
  struct fd_closer {
    int fd;
    ~fd_closer() { ::close(fd); }
  } closer{fd};
  struct stat info {};
  if (::fstat(fd, &info) != 0) return fail(errno, "");
  if (S_ISDIR(info.st_mode)) return fail(EISDIR, "");
  if (!S_ISREG(info.st_mode)) return fail(0, "not a regular file but " + file_kind(info.st_mode));
  if (static_cast<std::uintmax_t>(info.st_size) > limit) {
    return fail(0, "the file is larger than " + size_text(limit));
  }
  // One byte beyond the size read tells a file that grew meanwhile.
  bytes.assign(static_cast<std::size_t>(info.st_size) + 1, '\0');
  std::size_t filled = 0;
  for (;;) {
    if (filled == bytes.size()) {
      if (bytes.size() > limit) return fail(0, "the file is larger than " + size_text(limit));
      bytes.resize(std::min<std::uintmax_t>(bytes.size() * 2, limit + 1));
    }
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(errno, "");
    }
    if (got == 0) break;
    filled += static_cast<std::size_t>(got);
  }
  bytes.resize(filled);
  return {};
}
