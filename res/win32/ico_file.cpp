#include "res/win32/ico_file.h"

namespace res {
namespace {

void Put16(std::vector<std::uint8_t>& out, std::uint32_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

void Patch32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF);
}

constexpr std::size_t kEntryBytes = 16;
constexpr std::uint32_t kInfoHeaderBytes = 40;

// One image as the icon format stores it: a bitmap header with twice the height, the colour rows
// and then the mask rows, both bottom row first and padded to four bytes.
void AppendImage(std::vector<std::uint8_t>& out, const framework::IconImage& image) {
  const auto w = static_cast<std::size_t>(image.width);
  const auto h = static_cast<std::size_t>(image.height);
  const std::size_t colorStride = (w * 3 + 3) / 4 * 4;
  const std::size_t maskStride = (w + 31) / 32 * 4;
  Put32(out, kInfoHeaderBytes);
  Put32(out, static_cast<std::uint32_t>(w));
  Put32(out, static_cast<std::uint32_t>(h * 2));
  Put16(out, 1);   // planes
  Put16(out, 24);  // bits per pixel
  Put32(out, 0);   // no compression
  Put32(out, static_cast<std::uint32_t>((colorStride + maskStride) * h));
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  Put32(out, 0);
  for (std::size_t row = h; row-- > 0;) {
    std::size_t written = 0;
    for (std::size_t x = 0; x < w; ++x) {
      const std::uint8_t* p = &image.rgba[(row * w + x) * 4];
      const bool opaque = p[3] != 0;
      // Transparent pixels are black, so the mask alone decides what shows through.
      out.push_back(opaque ? p[2] : 0);
      out.push_back(opaque ? p[1] : 0);
      out.push_back(opaque ? p[0] : 0);
      written += 3;
    }
    for (; written < colorStride; ++written) out.push_back(0);
  }
  for (std::size_t row = h; row-- > 0;) {
    std::vector<std::uint8_t> bits(maskStride, 0);
    for (std::size_t x = 0; x < w; ++x) {
      if (image.rgba[(row * w + x) * 4 + 3] == 0) bits[x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
    out.insert(out.end(), bits.begin(), bits.end());
  }
}

}  // namespace

std::vector<std::uint8_t> BuildIcoFile(std::span<const framework::IconImage> images) {
  for (const framework::IconImage& image : images) {
    if (image.width <= 0 || image.width > 256 || image.height != image.width) return {};
    if (image.rgba.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4u) {
      return {};
    }
  }
  std::vector<std::uint8_t> out;
  Put16(out, 0);  // reserved
  Put16(out, 1);  // an icon, not a cursor
  Put16(out, static_cast<std::uint32_t>(images.size()));
  const std::size_t entries = out.size();
  out.resize(out.size() + kEntryBytes * images.size(), 0);
  for (std::size_t i = 0; i < images.size(); ++i) {
    const framework::IconImage& image = images[i];
    const std::size_t start = out.size();
    AppendImage(out, image);
    const std::size_t at = entries + i * kEntryBytes;
    out[at + 0] = static_cast<std::uint8_t>(image.width == 256 ? 0 : image.width);
    out[at + 1] = static_cast<std::uint8_t>(image.height == 256 ? 0 : image.height);
    out[at + 2] = 0;  // no palette
    out[at + 3] = 0;
    out[at + 4] = 1;  // planes
    out[at + 5] = 0;
    out[at + 6] = 24;  // bits per pixel
    out[at + 7] = 0;
    Patch32(out, at + 8, static_cast<std::uint32_t>(out.size() - start));
    Patch32(out, at + 12, static_cast<std::uint32_t>(start));
  }
  return out;
}

}  // namespace res
