#pragma once
// Colours from 0-255 components and from hexadecimal text.

#include <string>

#include "platform/ui/Color.h"

namespace widgets::TnqColor {

// Every component (alpha too) divided by 255.
pf::Color TnqColorWithRed(double red, double green, double blue, double alpha);
// "#RRGGBB", "0xRRGGBB" or "RRGGBB" (any case, blanks around): that colour, opaque; anything
// else the clear colour.
pf::Color colorWithHexString(const std::string& text);

}  // namespace widgets::TnqColor
