#include "framework/icon.h"

#include <cstdlib>

#include "framework/resource_provider.h"

namespace framework {

struct Icon::Data {
  IconImage image;
  std::uintptr_t handle = 0;
  std::string file;
  int width = 0;
  int height = 0;
  std::function<void(std::uintptr_t)> release;

  Data() = default;
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;
  ~Data() {
    if (handle != 0 && release) release(handle);
  }
};

Icon Icon::FromImage(IconImage image) {
  Icon icon;
  if (image.width <= 0 || image.height <= 0) return icon;
  const std::size_t expected = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 4u;
  if (image.rgba.size() != expected) return icon;
  auto data = std::make_shared<Data>();
  data->width = image.width;
  data->height = image.height;
  data->image = std::move(image);
  icon.data_ = std::move(data);
  return icon;
}

Icon Icon::FromHandle(std::uintptr_t handle, int width, int height, std::function<void(std::uintptr_t)> release) {
  Icon icon;
  if (handle == 0) return icon;
  auto data = std::make_shared<Data>();
  data->handle = handle;
  data->width = width;
  data->height = height;
  data->release = std::move(release);
  icon.data_ = std::move(data);
  return icon;
}

Icon Icon::FromFile(std::string path, int size) {
  Icon icon;
  if (path.empty() || size <= 0) return icon;
  auto data = std::make_shared<Data>();
  data->file = std::move(path);
  data->width = size;
  data->height = size;
  icon.data_ = std::move(data);
  return icon;
}

int Icon::Width() const { return data_ ? data_->width : 0; }
int Icon::Height() const { return data_ ? data_->height : 0; }
const IconImage* Icon::Image() const {
  return data_ && data_->handle == 0 && data_->file.empty() ? &data_->image : nullptr;
}
std::uintptr_t Icon::Handle() const { return data_ ? data_->handle : 0; }

const std::string& Icon::FilePath() const {
  static const std::string kNone;
  return data_ ? data_->file : kNone;
}

namespace {

// Nearest-neighbour scaling; only used when a size that is not stored is asked for.
IconImage Scale(const IconImage& from, int size) {
  IconImage to;
  to.width = size;
  to.height = size;
  to.rgba.resize(static_cast<std::size_t>(size) * static_cast<std::size_t>(size) * 4u);
  for (int y = 0; y < size; ++y) {
    const int sy = y * from.height / size;
    for (int x = 0; x < size; ++x) {
      const int sx = x * from.width / size;
      for (int c = 0; c < 4; ++c) {
        to.rgba[(static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x)) * 4u +
                static_cast<std::size_t>(c)] =
            from.rgba[(static_cast<std::size_t>(sy) * static_cast<std::size_t>(from.width) +
                       static_cast<std::size_t>(sx)) *
                          4u +
                      static_cast<std::size_t>(c)];
      }
    }
  }
  return to;
}

}  // namespace

Icon LoadIconResource(int id, int size) {
  const std::span<const int> sizes = Resources().IconSizes(id);
  if (sizes.empty() || size <= 0 || size > 256) return Icon{};
  int best = sizes.front();
  for (int candidate : sizes) {
    if (std::abs(candidate - size) < std::abs(best - size) ||
        (std::abs(candidate - size) == std::abs(best - size) && candidate > best)) {
      best = candidate;
    }
  }
  IconImage image;
  if (!Resources().RenderIcon(id, best, image)) return Icon{};
  if (best != size) image = Scale(image, size);
  return Icon::FromImage(std::move(image));
}

bool ImageList::Create(int cx, int cy, unsigned, int, int) {
  if (cx <= 0 || cy <= 0) return false;
  icons_.clear();
  cx_ = cx;
  cy_ = cy;
  created_ = true;
  return true;
}

int ImageList::Add(const Icon& icon) {
  if (!created_ || icon.IsNull()) return -1;
  icons_.push_back(icon);
  return static_cast<int>(icons_.size()) - 1;
}

void ImageList::Destroy() {
  icons_.clear();
  icons_.shrink_to_fit();
  created_ = false;
  cx_ = 0;
  cy_ = 0;
}

Icon ImageList::At(int index) const {
  if (index < 0 || index >= Count()) return Icon{};
  return icons_[static_cast<std::size_t>(index)];
}

}  // namespace framework
