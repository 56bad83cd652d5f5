#pragma once
// The icon file of the Windows edition's resources, made from the same pixels every other edition
// draws: one 24-bit image with a transparency mask per size.
#include <cstdint>
#include <span>
#include <vector>

#include "framework/resource_types.h"

namespace res {

// The bytes of an .ico file holding images in the given order; empty when an image is not square,
// larger than 256 pixels or its pixel count does not match its size.
std::vector<std::uint8_t> BuildIcoFile(std::span<const framework::IconImage> images);

}  // namespace res
