// Animated GIF pictures of the scene, encoded frame by frame as they are drawn, so
// that a film of any length needs the memory of a few frames only. The headless
// runner and the Python module both write their animations through it.
//
// Every frame uses one global palette that holds the scene's colours exactly
// (white, black, the wall colour, green, blue, red, the trail colour) with the
// field lattice's red and blue levels and the grey levels of anti-aliased text
// quantised just enough to fit 256 entries; gif_palette below has the details.
// The first frame is stored whole; every later one stores only the rectangle in
// which it differs from the frame before, and inside that rectangle marks the
// unchanged pixels transparent whenever that makes the frame smaller.
//
// The LZW coding is giflib's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

struct GifFileType;

// The 256 colours every frame uses, as 0x00RRGGBB:
//   0         transparent (marks an unchanged pixel; no pixel is ever given it)
//   1 to 5    white, black, the wall colour (0,128,200), green (0,255,0), the trail colour
//   6 to 19   14 greys, 17 to 238 in steps of 17, for anti-aliased text
//   20 to 137 118 red levels (L,0,0), L = round(k * 255 / 118) for k = 1 to 118
//   138 to 255 the same 118 blue levels (0,0,L)
// Pure red and pure blue are the top levels, so every colour of the scene apart
// from the lattice's and the text's levels is exact. A lattice level that is not
// kept becomes the nearest kept level of its hue (at most 1 off; level 0 is black
// itself), a grey the nearest grey (at most 8 off), and any other colour the
// nearest entry by squared RGB distance.
class gif_palette {
 public:
  static constexpr int kSize = 256;
  static constexpr std::uint8_t kTransparent = 0;
  static constexpr std::uint8_t kWhite = 1;
  static constexpr std::uint8_t kBlack = 2;
  static constexpr int kGreyLevels = 14;
  static constexpr int kLatticeLevels = 118;  // per hue, not counting black

  gif_palette();

  // The entry for a pixel 0x..RRGGBB (the top byte is ignored).
  std::uint8_t index_of(std::uint32_t pixel) const;
  // The same for the scene's own colours, the lattice's levels and greys, which
  // take a few comparisons; false for any other colour.
  bool quick_index(std::uint32_t pixel, std::uint8_t& entry) const;
  // The entry nearest to any colour by squared RGB distance (a search of all).
  std::uint8_t nearest(std::uint32_t pixel) const;
  // The colour of an entry, 0x00RRGGBB.
  std::uint32_t colour(int index) const { return colours_[index & 0xFF]; }

 private:
  std::uint32_t colours_[kSize];
  std::uint8_t red_level_[256];   // entry for (L,0,0)
  std::uint8_t blue_level_[256];  // entry for (0,0,L)
  std::uint8_t grey_level_[256];  // entry for (L,L,L)
};

class gif_writer {
 public:
  // Receives the file's bytes in order; returns false when they could not be
  // written, which ends the writing.
  using byte_sink = std::function<bool(const std::uint8_t* bytes, std::size_t size)>;

  static constexpr int kMaxSide = 65535;
  // GIF counts delays in hundredths of a second, at most this many per frame.
  static constexpr int kMaxDelayCentiseconds = 65535;

  // Starts a GIF89a of width x height pixels that loops forever, and writes its
  // header and palette at once. A side outside 1 to kMaxSide is an error.
  gif_writer(int width, int height, byte_sink sink);
  ~gif_writer();
  gif_writer(const gif_writer&) = delete;
  gif_writer& operator=(const gif_writer&) = delete;

  // Adds the next frame: width x height pixels 0x..RRGGBB in rows `stride`
  // pixels apart, shown from time_ms on (in milliseconds on any clock; times do
  // not go back). A frame's delay is only known when the next one comes, so each
  // frame reaches the sink with the next call or with finish().
  //
  // Delays are whole hundredths of a second: each frame is shown until its
  // successor's start time rounded to 10 ms, counted from the first frame, so the
  // rounding never adds up and the film's total length is right to 5 ms.
  bool add_frame(const std::uint32_t* pixels, std::ptrdiff_t stride, double time_ms);
  // Shows the last frame until end_time_ms and ends the file.
  bool finish(double end_time_ms);

  bool ok() const { return error_.empty(); }
  // Why writing stopped; empty while all is well.
  const std::string& error() const { return error_; }
  std::uint64_t frames() const { return frames_; }
  const gif_palette& palette() const { return palette_; }

 private:
  struct box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
  };

  bool fail(const std::string& message);
  void to_indices(const std::uint32_t* pixels, std::ptrdiff_t stride);
  std::uint8_t lookup(std::uint32_t rgb);
  box changed_box() const;
  bool encode(const box& area, bool transparent, std::vector<std::uint8_t>& out);
  bool write_pending(double until_ms);
  static int output(GifFileType* gif, const std::uint8_t* bytes, int size);

  gif_palette palette_;
  byte_sink sink_;
  GifFileType* gif_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  std::string error_;
  std::uint64_t frames_ = 0;
  bool finished_ = false;

  // Where giflib's output goes: the sink, or one of the trial encodings.
  std::vector<std::uint8_t>* capture_ = nullptr;

  std::vector<std::uint8_t> previous_;  // the picture as a viewer shows it now
  std::vector<std::uint8_t> current_;   // the frame being added
  std::vector<std::uint8_t> row_;       // one row of the transparent trial
  std::vector<std::uint8_t> plain_;     // the trial encodings
  std::vector<std::uint8_t> masked_;
  std::unordered_map<std::uint32_t, std::uint8_t> other_colours_;  // their nearest entries

  // The frame encoded but not yet written, waiting for its delay.
  std::vector<std::uint8_t> pending_;
  bool pending_transparent_ = false;
  bool has_pending_ = false;
  double first_time_ms_ = 0.0;
  std::int64_t pending_start_cs_ = 0;  // its start, rounded, from the first frame
};
