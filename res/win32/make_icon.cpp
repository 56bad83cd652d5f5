// Writes icon 128 as an .ico file for the Windows resource script: `mavrin_make_icon <out.ico>`.
#include <cstdio>
#include <vector>

#include "res/resources.h"
#include "res/win32/ico_file.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: mavrin_make_icon <out.ico>\n", stderr);
    return 2;
  }
  std::vector<framework::IconImage> images;
  for (int size : res::IconSizes(IDR_MAINFRAME)) {
    framework::IconImage image;
    if (!res::RenderIcon(IDR_MAINFRAME, size, image)) {
      std::fprintf(stderr, "mavrin_make_icon: icon %d cannot be drawn at %d pixels\n", IDR_MAINFRAME, size);
      return 1;
    }
    images.push_back(std::move(image));
  }
  const std::vector<std::uint8_t> bytes = res::BuildIcoFile(images);
  std::FILE* file = bytes.empty() ? nullptr : std::fopen(argv[1], "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "mavrin_make_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  if (std::fclose(file) != 0 || !ok) {
    std::fprintf(stderr, "mavrin_make_icon: cannot write %s\n", argv[1]);
    std::remove(argv[1]);
    return 1;
  }
  return 0;
}
