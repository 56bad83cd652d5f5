// Icon 128, drawn in code so that every backend and the Windows icon file share one image: a
// processor chip with pins on all four sides and four cores, one of them lit.
#include <algorithm>
#include <cstdint>

#include "res/resources.h"

namespace res {
namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

constexpr Rgb kPin{200, 205, 210};
constexpr Rgb kBodyEdge{154, 164, 174};
constexpr Rgb kBody{44, 52, 62};
constexpr Rgb kCore{92, 102, 114};
constexpr Rgb kLitCore{60, 200, 90};
constexpr Rgb kLitEdge{170, 245, 180};

class Canvas {
 public:
  Canvas(int size, framework::IconImage& out) : size_(size), out_(out) {
    out_.width = size;
    out_.height = size;
    out_.rgba.assign(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4u, 0);
  }
  // Fills the pixels whose centres lie in [x0, x1) x [y0, y1), coordinates in pixels.
  void Fill(double x0, double y0, double x1, double y1, Rgb c) {
    for (int y = 0; y < size_; ++y) {
      const double cy = y + 0.5;
      if (cy < y0 || cy >= y1) continue;
      for (int x = 0; x < size_; ++x) {
        const double cx = x + 0.5;
        if (cx < x0 || cx >= x1) continue;
        std::uint8_t* p =
            &out_.rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(size_) + static_cast<std::size_t>(x)) *
                       4u];
        p[0] = c.r;
        p[1] = c.g;
        p[2] = c.b;
        p[3] = 255;
      }
    }
  }
  // A rectangle with a one-pixel (at least) border.
  void Box(double x0, double y0, double x1, double y1, Rgb fill, Rgb edge, double border) {
    Fill(x0, y0, x1, y1, edge);
    Fill(x0 + border, y0 + border, x1 - border, y1 - border, fill);
  }

 private:
  int size_;
  framework::IconImage& out_;
};

void DrawChip(int size, framework::IconImage& out) {
  Canvas canvas(size, out);
  const double s = size;
  const double pinLength = s * 3.0 / 16.0;
  const double bodyLo = pinLength;
  const double bodyHi = s - pinLength;
  const int pins = size >= 32 ? 4 : 3;
  const double pinWidth = std::max(1.0, s / 16.0);
  const double span = bodyHi - bodyLo;
  for (int i = 0; i < pins; ++i) {
    // Pins spread evenly along each side of the body.
    const double centre = bodyLo + span * (i + 1) / (pins + 1);
    const double a = centre - pinWidth / 2.0;
    const double b = a + pinWidth;
    canvas.Fill(a, 0.0, b, bodyLo, kPin);  // top
    canvas.Fill(a, bodyHi, b, s, kPin);    // bottom
    canvas.Fill(0.0, a, bodyLo, b, kPin);  // left
    canvas.Fill(bodyHi, a, s, b, kPin);    // right
  }
  const double border = std::max(1.0, s / 32.0);
  canvas.Box(bodyLo, bodyLo, bodyHi, bodyHi, kBody, kBodyEdge, border);

  // Four cores in a 2 x 2 grid inside the body; the top-left one is the chosen processor.
  const double inset = span / 7.0;
  const double gap = std::max(1.0, span / 14.0);
  const double coreLo = bodyLo + inset;
  const double coreSize = (span - 2.0 * inset - gap) / 2.0;
  for (int row = 0; row < 2; ++row) {
    for (int col = 0; col < 2; ++col) {
      const double x0 = coreLo + col * (coreSize + gap);
      const double y0 = coreLo + row * (coreSize + gap);
      if (row == 0 && col == 0) {
        canvas.Box(x0, y0, x0 + coreSize, y0 + coreSize, kLitCore, kLitEdge, size >= 32 ? 1.0 : 0.0);
      } else {
        canvas.Fill(x0, y0, x0 + coreSize, y0 + coreSize, kCore);
      }
    }
  }
}

}  // namespace

bool RenderIcon(int id, int size, framework::IconImage& out) {
  out = framework::IconImage{};
  const std::span<const int> sizes = IconSizes(id);
  if (std::find(sizes.begin(), sizes.end(), size) == sizes.end()) return false;
  DrawChip(size, out);
  return true;
}

}  // namespace res
