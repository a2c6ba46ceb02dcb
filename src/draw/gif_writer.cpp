#include "draw/gif_writer.h"

#include <gif_lib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "draw/trail_draw.h"

namespace {

constexpr std::uint32_t rgb_of(unsigned r, unsigned g, unsigned b) {
  return (r << 16) | (g << 8) | b;
}

constexpr std::size_t kCachedOtherColours = 4096;
constexpr int kFirstGrey = 6;
constexpr int kFirstRed = kFirstGrey + gif_palette::kGreyLevels;
constexpr int kFirstBlue = kFirstRed + gif_palette::kLatticeLevels;
static_assert(kFirstBlue + gif_palette::kLatticeLevels == gif_palette::kSize);

constexpr std::uint8_t kWallEntry = 3;
constexpr std::uint8_t kGreenEntry = 4;
constexpr std::uint8_t kTrailEntry = 5;
constexpr std::uint32_t kWallRgb = rgb_of(0, 128, 200);
constexpr std::uint32_t kGreenRgb = rgb_of(0, 255, 0);
constexpr std::uint32_t kTrailRgb =
    rgb_of(red_of(kTrailColour), green_of(kTrailColour), blue_of(kTrailColour));

// The kept lattice level k (1 to kLatticeLevels), spread evenly up to 255.
unsigned lattice_level(int k) {
  return static_cast<unsigned>(
      std::lround(static_cast<double>(k) * 255.0 / gif_palette::kLatticeLevels));
}

unsigned grey_level(int k) {
  return static_cast<unsigned>(k) * 17u;
}

// For every level 0 to 255, the nearest of the given levels (the first on a tie).
template <typename Level>
void fill_nearest(std::uint8_t (&table)[256], int first_entry, int count, Level level) {
  for (unsigned wanted = 0; wanted < 256; ++wanted) {
    int best = 0;
    unsigned best_distance = 256;
    for (int k = 0; k < count; ++k) {
      const unsigned have = level(k);
      const unsigned distance = have > wanted ? have - wanted : wanted - have;
      if (distance < best_distance) {
        best_distance = distance;
        best = k;
      }
    }
    table[wanted] = static_cast<std::uint8_t>(first_entry + best);
  }
}

// giflib's errors in words; the sink's failure is reported separately.
std::string gif_error_text(int code) {
  const char* text = GifErrorString(code);
  return text != nullptr ? text : "unknown GIF error";
}

}  // namespace

// ---------------------------------------------------------------- the palette

gif_palette::gif_palette() {
  colours_[kTransparent] = rgb_of(255, 0, 255);  // never shown
  colours_[kWhite] = rgb_of(255, 255, 255);
  colours_[kBlack] = rgb_of(0, 0, 0);
  colours_[kWallEntry] = kWallRgb;
  colours_[kGreenEntry] = kGreenRgb;
  colours_[kTrailEntry] = kTrailRgb;
  for (int k = 0; k < kGreyLevels; ++k) {
    const unsigned g = grey_level(k + 1);
    colours_[kFirstGrey + k] = rgb_of(g, g, g);
  }
  for (int k = 0; k < kLatticeLevels; ++k) {
    const unsigned level = lattice_level(k + 1);
    colours_[kFirstRed + k] = rgb_of(level, 0, 0);
    colours_[kFirstBlue + k] = rgb_of(0, 0, level);
  }

  // Levels above 0 keep their hue; 0 is black.
  fill_nearest(red_level_, kFirstRed, kLatticeLevels, [](int k) { return lattice_level(k + 1); });
  fill_nearest(blue_level_, kFirstBlue, kLatticeLevels, [](int k) { return lattice_level(k + 1); });
  red_level_[0] = blue_level_[0] = kBlack;
  // Greys: black, the 14 levels and white.
  fill_nearest(grey_level_, 0, kGreyLevels + 2, [](int k) { return grey_level(k); });
  for (std::uint8_t& entry : grey_level_) {
    const int k = entry;  // 0 black, 1..14 the greys, 15 white
    entry = k == 0 ? kBlack : (k == kGreyLevels + 1 ? kWhite : kFirstGrey + k - 1);
  }
}

std::uint8_t gif_palette::index_of(std::uint32_t pixel) const {
  std::uint8_t entry = 0;
  return quick_index(pixel, entry) ? entry : nearest(pixel);
}

bool gif_palette::quick_index(std::uint32_t pixel, std::uint8_t& entry) const {
  const unsigned r = (pixel >> 16) & 0xFFu;
  const unsigned g = (pixel >> 8) & 0xFFu;
  const unsigned b = pixel & 0xFFu;
  const std::uint32_t rgb = pixel & 0xFFFFFFu;
  if (g == 0 && b == 0) {
    entry = red_level_[r];
  } else if (g == 0 && r == 0) {
    entry = blue_level_[b];
  } else if (r == g && g == b) {
    entry = grey_level_[r];
  } else if (rgb == kWallRgb) {
    entry = kWallEntry;
  } else if (rgb == kGreenRgb) {
    entry = kGreenEntry;
  } else if (rgb == kTrailRgb) {
    entry = kTrailEntry;
  } else {
    return false;
  }
  return true;
}

std::uint8_t gif_palette::nearest(std::uint32_t pixel) const {
  const std::uint32_t rgb = pixel & 0xFFFFFFu;
  auto channel = [](std::uint32_t c, int shift) { return static_cast<int>((c >> shift) & 0xFFu); };
  int best = kWhite;
  long best_distance = -1;
  for (int i = 1; i < kSize; ++i) {
    const int dr = channel(rgb, 16) - channel(colours_[i], 16);
    const int dg = channel(rgb, 8) - channel(colours_[i], 8);
    const int db = channel(rgb, 0) - channel(colours_[i], 0);
    const long distance =
        static_cast<long>(dr) * dr + static_cast<long>(dg) * dg + static_cast<long>(db) * db;
    if (best_distance < 0 || distance < best_distance) {
      best_distance = distance;
      best = i;
    }
  }
  return static_cast<std::uint8_t>(best);
}

// ---------------------------------------------------------------- the writer

gif_writer::gif_writer(int width, int height, byte_sink sink) : sink_(std::move(sink)) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide) {
    fail("a GIF must be 1 to " + std::to_string(kMaxSide) + " pixels a side");
    return;
  }
  width_ = width;
  height_ = height;
  const auto pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
  previous_.assign(pixels, gif_palette::kTransparent);
  current_.assign(pixels, gif_palette::kTransparent);
  row_.resize(static_cast<std::size_t>(width));

  int code = 0;
  gif_ = EGifOpen(this, &gif_writer::output, &code);
  if (gif_ == nullptr) {
    fail("cannot start the GIF: " + gif_error_text(code));
    return;
  }
  EGifSetGifVersion(gif_, true);

  GifColorType colours[gif_palette::kSize];
  for (int i = 0; i < gif_palette::kSize; ++i) {
    const std::uint32_t c = palette_.colour(i);
    colours[i] = GifColorType{static_cast<GifByteType>(c >> 16), static_cast<GifByteType>(c >> 8),
                              static_cast<GifByteType>(c)};
  }
  ColorMapObject* map = GifMakeMapObject(gif_palette::kSize, colours);
  if (map == nullptr) {
    fail("cannot start the GIF: out of memory");
    return;
  }
  const bool header_written =
      EGifPutScreenDesc(gif_, width, height, 8, gif_palette::kWhite, map) == GIF_OK;
  GifFreeMapObject(map);  // giflib keeps a copy
  if (!header_written) {
    fail("cannot write the GIF header: " + gif_error_text(gif_->Error));
    return;
  }

  // Loop forever: the application extension browsers know, with a count of 0.
  static const GifByteType kLoopName[] = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
  static const GifByteType kLoopForever[] = {1, 0, 0};
  if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
      EGifPutExtensionBlock(gif_, sizeof kLoopName, kLoopName) != GIF_OK ||
      EGifPutExtensionBlock(gif_, sizeof kLoopForever, kLoopForever) != GIF_OK ||
      EGifPutExtensionTrailer(gif_) != GIF_OK) {
    fail("cannot write the GIF header: " + gif_error_text(gif_->Error));
  }
}

gif_writer::~gif_writer() {
  if (gif_ != nullptr) {
    // An unfinished file is abandoned: nothing more reaches the sink.
    sink_ = nullptr;
    int code = 0;
    EGifCloseFile(gif_, &code);
  }
}

bool gif_writer::fail(const std::string& message) {
  if (error_.empty()) error_ = message;
  return false;
}

int gif_writer::output(GifFileType* gif, const std::uint8_t* bytes, int size) {
  auto* self = static_cast<gif_writer*>(gif->UserData);
  if (size <= 0) return 0;
  if (self->capture_ != nullptr) {
    self->capture_->insert(self->capture_->end(), bytes, bytes + size);
    return size;
  }
  if (!self->sink_ || !self->ok()) return 0;
  if (!self->sink_(bytes, static_cast<std::size_t>(size))) {
    self->fail("cannot write the GIF");
    return 0;
  }
  return size;
}

std::uint8_t gif_writer::lookup(std::uint32_t rgb) {
  std::uint8_t entry = 0;
  if (palette_.quick_index(rgb, entry)) return entry;
  const auto known = other_colours_.find(rgb);
  if (known != other_colours_.end()) return known->second;
  entry = palette_.nearest(rgb);
  // A bounded cache: a frame of countless odd colours is slow, never large.
  if (other_colours_.size() < kCachedOtherColours) other_colours_.emplace(rgb, entry);
  return entry;
}

void gif_writer::to_indices(const std::uint32_t* pixels, std::ptrdiff_t stride) {
  for (int y = 0; y < height_; ++y) {
    const std::uint32_t* row = pixels + y * stride;
    std::uint8_t* out = current_.data() + static_cast<std::size_t>(y) * width_;
    // Runs of one colour are the rule, so the last lookup is remembered.
    std::uint32_t last_pixel = ~row[0];
    std::uint8_t last_entry = 0;
    for (int x = 0; x < width_; ++x) {
      const std::uint32_t pixel = row[x] & 0xFFFFFFu;
      if (pixel != last_pixel) {
        last_pixel = pixel;
        last_entry = lookup(pixel);
      }
      out[x] = last_entry;
    }
  }
}

gif_writer::box gif_writer::changed_box() const {
  const auto w = static_cast<std::size_t>(width_);
  int top = -1;
  int bottom = -1;
  int left = width_;
  int right = -1;
  for (int y = 0; y < height_; ++y) {
    const std::uint8_t* now = current_.data() + y * w;
    const std::uint8_t* before = previous_.data() + y * w;
    if (std::memcmp(now, before, w) == 0) continue;
    if (top < 0) top = y;
    bottom = y;
    int first = 0;
    while (now[first] == before[first]) ++first;
    int last = width_ - 1;
    while (now[last] == before[last]) --last;
    left = std::min(left, first);
    right = std::max(right, last);
  }
  if (top < 0) return box{};
  return box{left, top, right - left + 1, bottom - top + 1};
}

bool gif_writer::encode(const box& area, bool transparent, std::vector<std::uint8_t>& out) {
  out.clear();
  capture_ = &out;
  bool done = EGifPutImageDesc(gif_, area.left, area.top, area.width, area.height, false,
                               nullptr) == GIF_OK;
  const auto w = static_cast<std::size_t>(width_);
  for (int y = area.top; done && y < area.top + area.height; ++y) {
    const std::uint8_t* now = current_.data() + y * w + area.left;
    const std::uint8_t* before = previous_.data() + y * w + area.left;
    for (int x = 0; x < area.width; ++x) {
      row_[x] = (transparent && now[x] == before[x]) ? gif_palette::kTransparent : now[x];
    }
    done = EGifPutLine(gif_, row_.data(), area.width) == GIF_OK;
  }
  capture_ = nullptr;
  if (!done) return fail("cannot encode a GIF frame: " + gif_error_text(gif_->Error));
  return true;
}

bool gif_writer::write_pending(double until_ms) {
  const auto end_cs = static_cast<std::int64_t>(std::llround((until_ms - first_time_ms_) / 10.0));
  const std::int64_t delay =
      std::clamp<std::int64_t>(end_cs - pending_start_cs_, 0, kMaxDelayCentiseconds);
  GraphicsControlBlock control{};
  control.DisposalMode = DISPOSE_DO_NOT;
  control.UserInputFlag = false;
  control.DelayTime = static_cast<int>(delay);
  control.TransparentColor =
      pending_transparent_ ? gif_palette::kTransparent : NO_TRANSPARENT_COLOR;
  GifByteType extension[4];
  EGifGCBToExtension(&control, extension);
  if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, sizeof extension, extension) != GIF_OK) {
    return fail("cannot write the GIF");
  }
  if (!sink_ || !sink_(pending_.data(), pending_.size())) return fail("cannot write the GIF");
  pending_start_cs_ = end_cs;
  has_pending_ = false;
  return true;
}

bool gif_writer::add_frame(const std::uint32_t* pixels, std::ptrdiff_t stride, double time_ms) {
  if (!ok()) return false;
  if (finished_) return fail("the GIF is already finished");
  if (pixels == nullptr || stride < width_) return fail("a GIF frame has no pixels");
  if (frames_ == 0) first_time_ms_ = time_ms;
  if (has_pending_ && !write_pending(time_ms)) return false;

  to_indices(pixels, stride);
  if (frames_ == 0) {
    if (!encode(box{0, 0, width_, height_}, false, pending_)) return false;
    pending_transparent_ = false;
  } else {
    box area = changed_box();
    if (area.width == 0) {
      // Nothing changed: one transparent pixel carries the frame's delay.
      area = box{0, 0, 1, 1};
      if (!encode(area, true, pending_)) return false;
      pending_transparent_ = true;
    } else {
      if (!encode(area, false, plain_) || !encode(area, true, masked_)) return false;
      pending_transparent_ = masked_.size() < plain_.size();
      pending_.swap(pending_transparent_ ? masked_ : plain_);
    }
  }
  previous_.swap(current_);
  has_pending_ = true;
  ++frames_;
  return true;
}

bool gif_writer::finish(double end_time_ms) {
  if (!ok()) return false;
  if (finished_) return fail("the GIF is already finished");
  if (frames_ == 0) return fail("a GIF needs at least one frame");
  if (has_pending_ && !write_pending(end_time_ms)) return false;
  finished_ = true;
  int code = 0;
  const int result = EGifCloseFile(gif_, &code);
  gif_ = nullptr;
  if (result != GIF_OK) return fail("cannot end the GIF: " + gif_error_text(code));
  return ok();
}
