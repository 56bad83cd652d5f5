// The .ico file of the Windows resources: the system must find every size where the directory says,
// with the colours and transparency of the shared icon pixels.
#include "res/win32/ico_file.h"

#include <gtest/gtest.h>

#include "res/resources.h"

namespace {

std::uint32_t U16(const std::vector<std::uint8_t>& b, std::size_t at) { return b[at] | (b[at + 1] << 8); }
std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) { return U16(b, at) | (U16(b, at + 2) << 16); }

std::vector<framework::IconImage> ChipImages() {
  std::vector<framework::IconImage> images;
  for (int size : res::IconSizes(IDR_MAINFRAME)) {
    framework::IconImage image;
    EXPECT_TRUE(res::RenderIcon(IDR_MAINFRAME, size, image));
    images.push_back(image);
  }
  return images;
}

TEST(IcoFile, DirectoryPointsAtEachSizeInOrder) {
  const std::vector<framework::IconImage> images = ChipImages();
  const std::vector<std::uint8_t> file = res::BuildIcoFile(images);
  ASSERT_GE(file.size(), 6u);
  EXPECT_EQ(U16(file, 0), 0u);
  EXPECT_EQ(U16(file, 2), 1u);  // icon
  ASSERT_EQ(U16(file, 4), images.size());
  std::size_t expectedOffset = 6 + 16 * images.size();
  for (std::size_t i = 0; i < images.size(); ++i) {
    const std::size_t entry = 6 + 16 * i;
    const auto size = static_cast<std::uint32_t>(images[i].width);
    EXPECT_EQ(file[entry], size);
    EXPECT_EQ(file[entry + 1], size);
    EXPECT_EQ(U16(file, entry + 6), 24u);
    const std::uint32_t bytes = U32(file, entry + 8);
    const std::uint32_t offset = U32(file, entry + 12);
    EXPECT_EQ(offset, expectedOffset);
    const std::uint32_t colorStride = (size * 3 + 3) / 4 * 4;
    const std::uint32_t maskStride = (size + 31) / 32 * 4;
    EXPECT_EQ(bytes, 40 + (colorStride + maskStride) * size);
    ASSERT_LE(offset + bytes, file.size());
    // The bitmap header: twice the height (colour and mask), 24 bits, uncompressed.
    EXPECT_EQ(U32(file, offset), 40u);
    EXPECT_EQ(U32(file, offset + 4), size);
    EXPECT_EQ(U32(file, offset + 8), size * 2);
    EXPECT_EQ(U16(file, offset + 14), 24u);
    expectedOffset = offset + bytes;
  }
  EXPECT_EQ(expectedOffset, file.size());
}

TEST(IcoFile, PixelsAndMaskKeepColourAndTransparencyBottomRowFirst) {
  framework::IconImage image;
  image.width = 2;
  image.height = 2;
  // Top row: red opaque, transparent green; bottom row: blue opaque, white opaque.
  image.rgba = {255, 0, 0, 255, 0, 255, 0, 0, 0, 0, 255, 255, 255, 255, 255, 255};
  const std::vector<std::uint8_t> file = res::BuildIcoFile(std::vector<framework::IconImage>{image});
  ASSERT_FALSE(file.empty());
  const std::size_t pixels = U32(file, 6 + 12) + 40;
  // Colour rows are 8 bytes (6 padded to 4); the bottom image row comes first, BGR.
  const std::vector<std::uint8_t> bottom(file.begin() + static_cast<long>(pixels),
                                         file.begin() + static_cast<long>(pixels) + 6);
  EXPECT_EQ(bottom, (std::vector<std::uint8_t>{255, 0, 0, 255, 255, 255}));
  const std::vector<std::uint8_t> top(file.begin() + static_cast<long>(pixels) + 8,
                                      file.begin() + static_cast<long>(pixels) + 14);
  EXPECT_EQ(top, (std::vector<std::uint8_t>{0, 0, 255, 0, 0, 0}));  // the transparent pixel is black
  const std::size_t mask = pixels + 16;
  EXPECT_EQ(file[mask], 0x00u);      // bottom row: both opaque
  EXPECT_EQ(file[mask + 4], 0x40u);  // top row: the second pixel shows through
}

TEST(IcoFile, RefusesImagesTheFormatCannotHold) {
  framework::IconImage wide;
  wide.width = 4;
  wide.height = 2;
  wide.rgba.assign(4 * 2 * 4, 255);
  EXPECT_TRUE(res::BuildIcoFile(std::vector<framework::IconImage>{wide}).empty());
  framework::IconImage shortData;
  shortData.width = 4;
  shortData.height = 4;
  shortData.rgba.assign(10, 255);
  EXPECT_TRUE(res::BuildIcoFile(std::vector<framework::IconImage>{shortData}).empty());
}

}  // namespace
