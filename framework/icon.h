#pragma once
// Icons and image lists as value objects. An icon holds either RGBA pixels or a handle that a
// backend (or the shell service) made; the handle's release function runs when the last copy of
// the icon goes away, so nothing has to be freed by hand.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "framework/resource_types.h"

namespace framework {

class Icon {
 public:
  Icon() = default;
  // An icon of pixels; an image with no pixels or a size that does not match gives a null icon.
  static Icon FromImage(IconImage image);
  // An icon that wraps a backend handle; release (may be empty) runs once, when the last copy is gone.
  static Icon FromHandle(std::uintptr_t handle, int width, int height, std::function<void(std::uintptr_t)> release);
  // An icon that a backend loads from the image file at path (PNG, XPM, SVG, ...), shown at size by
  // size pixels. An empty path gives a null icon.
  static Icon FromFile(std::string path, int size);

  bool IsNull() const { return data_ == nullptr; }
  int Width() const;
  int Height() const;
  // Pixels, or nullptr for a handle or file icon.
  const IconImage* Image() const;
  // The backend handle, or 0 for a pixel icon.
  std::uintptr_t Handle() const;
  // The image file of a file icon, or empty text.
  const std::string& FilePath() const;
  // Two icons are the same when they share one image or handle.
  bool SameAs(const Icon& other) const { return data_ == other.data_; }

 private:
  struct Data;
  std::shared_ptr<const Data> data_;
};

// The icon resource id at (about) the given edge length: the nearest of the stored sizes, scaled
// when none matches. Null when there is no such resource.
Icon LoadIconResource(int id, int size);

// A list of same-sized icons addressed by index, as a list view's small-icon list uses it.
class ImageList {
 public:
  // Starts an empty list of cx by cy images; flags and counts are accepted for the system's sake.
  bool Create(int cx, int cy, unsigned flags = 0, int initial = 1, int grow = 1);
  // Appends an icon; returns its index, or -1 when the list is not created or the icon is null.
  int Add(const Icon& icon);
  // Empties and un-creates the list, releasing its icons.
  void Destroy();
  bool IsCreated() const { return created_; }
  int Count() const { return static_cast<int>(icons_.size()); }
  int ImageWidth() const { return cx_; }
  int ImageHeight() const { return cy_; }
  // The icon at index, or a null icon.
  Icon At(int index) const;
  const std::vector<Icon>& Icons() const { return icons_; }

 private:
  bool created_ = false;
  int cx_ = 0;
  int cy_ = 0;
  std::vector<Icon> icons_;
};

}  // namespace framework
