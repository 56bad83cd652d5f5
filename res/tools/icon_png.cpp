// Writes the program icon as PNG files (one per drawn size) for the desktop's icon theme:
//   mavrin_icon_png <output-dir>   ->   <output-dir>/<size>x<size>/mavrin.png
// A tiny encoder (stored deflate blocks) keeps the build free of image libraries.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "res/resource.h"
#include "res/resources.h"

namespace {

std::uint32_t Crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0) {
  crc = ~crc;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

void Chunk(std::vector<std::uint8_t>& png, const char type[4], const std::vector<std::uint8_t>& data) {
  PutBig32(png, static_cast<std::uint32_t>(data.size()));
  std::vector<std::uint8_t> body(type, type + 4);
  body.insert(body.end(), data.begin(), data.end());
  png.insert(png.end(), body.begin(), body.end());
  PutBig32(png, Crc32(body.data(), body.size()));
}

std::vector<std::uint8_t> EncodePng(const framework::IconImage& image) {
  // Each scan line starts with filter type 0.
  std::vector<std::uint8_t> raw;
  const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
  for (int y = 0; y < image.height; ++y) {
    raw.push_back(0);
    raw.insert(raw.end(), image.rgba.begin() + static_cast<std::ptrdiff_t>(y * stride),
               image.rgba.begin() + static_cast<std::ptrdiff_t>((y + 1) * stride));
  }
  std::vector<std::uint8_t> zlib = {0x78, 0x01};
  for (std::size_t at = 0; at < raw.size() || at == 0;) {
    const std::size_t n = std::min<std::size_t>(65535, raw.size() - at);
    const bool last = at + n >= raw.size();
    zlib.push_back(last ? 1 : 0);
    zlib.push_back(static_cast<std::uint8_t>(n & 0xFF));
    zlib.push_back(static_cast<std::uint8_t>(n >> 8));
    zlib.push_back(static_cast<std::uint8_t>(~n & 0xFF));
    zlib.push_back(static_cast<std::uint8_t>((~n >> 8) & 0xFF));
    zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                raw.begin() + static_cast<std::ptrdiff_t>(at + n));
    at += n;
    if (last) break;
  }
  std::uint32_t a = 1, b = 0;
  for (std::uint8_t byte : raw) {
    a = (a + byte) % 65521;
    b = (b + a) % 65521;
  }
  PutBig32(zlib, (b << 16) | a);

  std::vector<std::uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(image.width));
  PutBig32(header, static_cast<std::uint32_t>(image.height));
  header.insert(header.end(), {8, 6, 0, 0, 0});  // 8 bits per channel, RGBA, no interlace
  Chunk(png, "IHDR", header);
  Chunk(png, "IDAT", zlib);
  Chunk(png, "IEND", {});
  return png;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output-dir>\n", argv[0]);
    return 2;
  }
  const std::filesystem::path root = argv[1];
  int written = 0;
  for (int size : res::IconSizes(IDR_MAINFRAME)) {
    framework::IconImage image;
    if (!res::RenderIcon(IDR_MAINFRAME, size, image)) continue;
    const std::filesystem::path dir = root / (std::to_string(size) + "x" + std::to_string(size));
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    const std::vector<std::uint8_t> png = EncodePng(image);
    std::FILE* out = std::fopen((dir / "mavrin.png").c_str(), "wb");
    if (out == nullptr || std::fwrite(png.data(), 1, png.size(), out) != png.size() || std::fclose(out) != 0) {
      std::fprintf(stderr, "cannot write %s\n", (dir / "mavrin.png").c_str());
      return 1;
    }
    ++written;
  }
  return written > 0 ? 0 : 1;
}
