#pragma once
// The small part of CSS the page host reads: inline style declarations, colours, lengths, and the
// ASCII case and space handling of tag, attribute and property names.

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Color.h"

namespace pf::web {

std::string lowerAscii(std::string_view s);
std::string_view trimAscii(std::string_view s);
// The text split at runs of ASCII white space (no empty parts).
std::vector<std::string_view> splitWords(std::string_view s);

// Inline style text ("color: red; font-size: 14px") as properties, and back.
std::map<std::string, std::string> parseStyle(std::string_view text);
std::string serializeStyle(const std::map<std::string, std::string>& style);

// A CSS colour ("red", "#f80", "#ff8800", "#ff880080", "rgb(255, 136, 0)", "rgba(...)", "transparent").
OptColor parseCssColor(std::string_view text);
// A CSS length in points ("12px", "12", "1.5em" against `em`, "9pt"), clamped to +-100000;
// nullopt when not understood.
std::optional<double> parseCssLength(std::string_view text, double em);

}  // namespace pf::web
