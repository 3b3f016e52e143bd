#pragma once
// Scaled copies of images.

#include <memory>

#include "platform/ui/Image.h"

namespace app::TnqExtension {

// The image drawn into (width x factor, height x factor) at scale 1.
std::shared_ptr<pf::Image> toScale(const pf::Image& image, float factor);
// The image stretched to the size, at scale 1.
std::shared_ptr<pf::Image> scaleToSize(const pf::Image& image, pf::Size size);

}  // namespace app::TnqExtension
