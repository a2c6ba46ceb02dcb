// Reading GIF files back in tests: giflib's DGifSlurp decodes every frame, and
// for_each_picture() lays them over one another as a viewer shows them (each
// frame's rectangle over the picture before in its own palette or the global one,
// its transparent pixels leaving the old ones; after it is shown, its rectangle
// is left in place, cleared to the background or restored, as its disposal says).
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

struct decoded_frame {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;
  int delay_cs = -1;     // -1: no graphics control block
  int transparent = -1;  // -1: none
  int disposal = -1;
  bool local_palette = false;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB, the frame's own; empty: the global one
  std::vector<std::uint8_t> indices;   // width * height
};

struct decoded_gif {
  bool ok = false;
  std::string error;
  std::string version;  // "GIF89a"
  int width = 0;
  int height = 0;
  int background = 0;
  std::vector<std::uint32_t> palette;  // 0x00RRGGBB
  bool loops_forever = false;
  std::vector<decoded_frame> frames;
};

namespace gif_decode_detail {
struct reader {
  const std::uint8_t* data;
  std::size_t size;
  std::size_t at;
};
inline int read_bytes(GifFileType* gif, GifByteType* out, int wanted) {
  auto* r = static_cast<reader*>(gif->UserData);
  const std::size_t left = r->size - r->at;
  const std::size_t n =
      static_cast<std::size_t>(wanted) < left ? static_cast<std::size_t>(wanted) : left;
  std::memcpy(out, r->data + r->at, n);
  r->at += n;
  return static_cast<int>(n);
}
inline void read_palette(const ColorMapObject* map, std::vector<std::uint32_t>& palette) {
  if (map == nullptr) return;
  for (int i = 0; i < map->ColorCount; ++i) {
    const GifColorType& c = map->Colors[i];
    palette.push_back((std::uint32_t{c.Red} << 16) | (std::uint32_t{c.Green} << 8) | c.Blue);
  }
}
}  // namespace gif_decode_detail

inline decoded_gif decode_gif(const std::string& bytes) {
  decoded_gif result;
  gif_decode_detail::reader r{reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), 0};
  int code = 0;
  GifFileType* gif = DGifOpen(&r, &gif_decode_detail::read_bytes, &code);
  if (gif == nullptr) {
    result.error = GifErrorString(code);
    return result;
  }
  if (DGifSlurp(gif) != GIF_OK) {
    result.error = GifErrorString(gif->Error);
    DGifCloseFile(gif, &code);
    return result;
  }
  result.version = bytes.substr(0, 6);
  result.width = gif->SWidth;
  result.height = gif->SHeight;
  result.background = gif->SBackGroundColor;
  gif_decode_detail::read_palette(gif->SColorMap, result.palette);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    decoded_frame frame;
    frame.left = image.ImageDesc.Left;
    frame.top = image.ImageDesc.Top;
    frame.width = image.ImageDesc.Width;
    frame.height = image.ImageDesc.Height;
    frame.local_palette = image.ImageDesc.ColorMap != nullptr;
    gif_decode_detail::read_palette(image.ImageDesc.ColorMap, frame.palette);
    GraphicsControlBlock control;
    if (DGifSavedExtensionToGCB(gif, i, &control) == GIF_OK) {
      frame.delay_cs = control.DelayTime;
      frame.transparent = control.TransparentColor;
      frame.disposal = control.DisposalMode;
    }
    for (int e = 0; e < image.ExtensionBlockCount; ++e) {
      const ExtensionBlock& block = image.ExtensionBlocks[e];
      if (block.Function == APPLICATION_EXT_FUNC_CODE && block.ByteCount == 11 &&
          std::memcmp(block.Bytes, "NETSCAPE2.0", 11) == 0 && e + 1 < image.ExtensionBlockCount) {
        const ExtensionBlock& data = image.ExtensionBlocks[e + 1];
        result.loops_forever =
            data.ByteCount == 3 && data.Bytes[0] == 1 && data.Bytes[1] == 0 && data.Bytes[2] == 0;
      }
    }
    frame.indices.assign(image.RasterBits,
                         image.RasterBits + static_cast<std::size_t>(frame.width) * frame.height);
    result.frames.push_back(std::move(frame));
  }
  DGifCloseFile(gif, &code);
  result.ok = true;
  return result;
}

// Calls visit(i, picture) for every frame i with the picture shown after it,
// 0x00RRGGBB, rows packed. Pixels no frame has covered yet are the background.
// An index outside its palette throws std::out_of_range.
inline void for_each_picture(
    const decoded_gif& gif,
    const std::function<void(std::size_t, const std::vector<std::uint32_t>&)>& visit) {
  const std::uint32_t background =
      gif.background < static_cast<int>(gif.palette.size()) ? gif.palette[gif.background] : 0;
  std::vector<std::uint32_t> picture(static_cast<std::size_t>(gif.width) * gif.height, background);
  std::vector<std::uint32_t> before;
  for (std::size_t i = 0; i < gif.frames.size(); ++i) {
    const decoded_frame& f = gif.frames[i];
    const std::vector<std::uint32_t>& palette = f.local_palette ? f.palette : gif.palette;
    if (f.disposal == DISPOSE_PREVIOUS) before = picture;
    // The frame's rectangle cut to the picture.
    const int x_end = std::min(f.left + f.width, gif.width);
    const int y_end = std::min(f.top + f.height, gif.height);
    for (int py = f.top; py < y_end; ++py) {
      for (int px = f.left; px < x_end; ++px) {
        const int index =
            f.indices[static_cast<std::size_t>(py - f.top) * f.width + (px - f.left)];
        if (index == f.transparent) continue;
        picture[static_cast<std::size_t>(py) * gif.width + px] = palette.at(index);
      }
    }
    visit(i, picture);
    if (f.disposal == DISPOSE_PREVIOUS) {
      picture = before;
    } else if (f.disposal == DISPOSE_BACKGROUND) {
      for (int py = f.top; py < y_end; ++py) {
        for (int px = f.left; px < x_end; ++px) {
          picture[static_cast<std::size_t>(py) * gif.width + px] = background;
        }
      }
    }
  }
}
