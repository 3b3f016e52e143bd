#pragma once
// Colours from 0-255 components and from hexadecimal text.

#include <array>
#include <optional>
#include <string>

#include "platform/ui/Color.h"

namespace widgets::TnqColor {

// Every component (alpha too) divided by 255.
pf::Color TnqColorWithRed(double red, double green, double blue, double alpha);
// "#RRGGBB", "0xRRGGBB" or "RRGGBB" (any case, blanks around): that colour, opaque; anything
// else the clear colour.
pf::Color colorWithHexString(const std::string& text);
// The 0-255 red, green and blue of such a text (a pair with other characters than hexadecimal
// digits reads 0), or nil when the text has another form.
std::optional<std::array<int, 3>> hexComponents(const std::string& text);

}  // namespace widgets::TnqColor
