#include "platform/web/Css.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

namespace pf::web {

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trimAscii(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

std::vector<std::string_view> splitWords(std::string_view s) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < s.size()) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    std::size_t start = i;
    while (i < s.size() && !std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    if (i > start) out.push_back(s.substr(start, i - start));
  }
  return out;
}

std::map<std::string, std::string> parseStyle(std::string_view text) {
  std::map<std::string, std::string> out;
  while (!text.empty()) {
    std::size_t end = text.find(';');
    std::string_view decl = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    std::size_t colon = decl.find(':');
    if (colon == std::string_view::npos) continue;
    std::string name = lowerAscii(trimAscii(decl.substr(0, colon)));
    std::string_view value = trimAscii(decl.substr(colon + 1));
    if (std::size_t bang = value.find("!important"); bang != std::string_view::npos) value = trimAscii(value.substr(0, bang));
    if (name.empty()) continue;
    if (value.empty())
      out.erase(name);
    else
      out[name] = std::string(value);
  }
  return out;
}

std::string serializeStyle(const std::map<std::string, std::string>& style) {
  std::string out;
  for (const auto& [k, v] : style) {
    if (!out.empty()) out += ' ';
    out += k + ": " + v + ";";
  }
  return out;
}

OptColor parseCssColor(std::string_view text) {
  std::string v = lowerAscii(trimAscii(text));
  if (v.empty()) return std::nullopt;
  static const std::pair<const char*, Color> kNamed[] = {
      {"black", Color::rgb(0, 0, 0)},         {"white", Color::rgb(1, 1, 1)},
      {"red", Color::rgb(1, 0, 0)},           {"green", Color::rgb(0, 128 / 255.0, 0)},
      {"blue", Color::rgb(0, 0, 1)},          {"gray", Color::rgb(0.5, 0.5, 0.5)},
      {"grey", Color::rgb(0.5, 0.5, 0.5)},    {"silver", Color::rgb(0.75, 0.75, 0.75)},
      {"yellow", Color::rgb(1, 1, 0)},        {"orange", Color::rgb(1, 165 / 255.0, 0)},
      {"purple", Color::rgb(0.5, 0, 0.5)},    {"navy", Color::rgb(0, 0, 0.5)},
      {"maroon", Color::rgb(0.5, 0, 0)},      {"lime", Color::rgb(0, 1, 0)},
      {"aqua", Color::rgb(0, 1, 1)},          {"cyan", Color::rgb(0, 1, 1)},
      {"teal", Color::rgb(0, 0.5, 0.5)},      {"fuchsia", Color::rgb(1, 0, 1)},
      {"magenta", Color::rgb(1, 0, 1)},       {"olive", Color::rgb(0.5, 0.5, 0)},
      {"transparent", Color::clear()}};
  for (const auto& [name, c] : kNamed)
    if (v == name) return c;
  auto hex = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (v[0] == '#') {
    std::string h = v.substr(1);
    if (std::any_of(h.begin(), h.end(), [&](char c) { return hex(c) < 0; })) return std::nullopt;
    if (h.size() == 3 || h.size() == 4) {
      double a = h.size() == 4 ? hex(h[3]) * 17 / 255.0 : 1.0;
      return Color::rgb(hex(h[0]) * 17 / 255.0, hex(h[1]) * 17 / 255.0, hex(h[2]) * 17 / 255.0, a);
    }
    if (h.size() == 6 || h.size() == 8) {
      auto byte = [&](std::size_t i) { return (hex(h[i]) * 16 + hex(h[i + 1])) / 255.0; };
      return Color::rgb(byte(0), byte(2), byte(4), h.size() == 8 ? byte(6) : 1.0);
    }
    return std::nullopt;
  }
  for (const char* fn : {"rgba(", "rgb("}) {
    std::string_view f(fn);
    if (v.rfind(f, 0) != 0 || v.back() != ')') continue;
    std::string inner = v.substr(f.size(), v.size() - f.size() - 1);
    for (char& c : inner)
      if (c == ',' || c == '/') c = ' ';
    auto parts = splitWords(inner);
    if (parts.size() != 3 && parts.size() != 4) return std::nullopt;
    double ch[4] = {0, 0, 0, 1};
    for (std::size_t i = 0; i < parts.size(); ++i) {
      std::string p(parts[i]);
      char* end = nullptr;
      double n = std::strtod(p.c_str(), &end);
      if (end == p.c_str() || !std::isfinite(n)) return std::nullopt;
      bool percent = *end == '%';
      if (i < 3) ch[i] = std::clamp(percent ? n / 100.0 : n / 255.0, 0.0, 1.0);
      else ch[i] = std::clamp(percent ? n / 100.0 : n, 0.0, 1.0);
    }
    return Color::rgb(ch[0], ch[1], ch[2], ch[3]);
  }
  return std::nullopt;
}

std::optional<double> parseCssLength(std::string_view text, double em) {
  std::string v = lowerAscii(trimAscii(text));
  if (v.empty()) return std::nullopt;
  char* end = nullptr;
  double n = std::strtod(v.c_str(), &end);
  if (end == v.c_str() || !std::isfinite(n)) return std::nullopt;
  std::string unit(end);
  double out;
  if (unit.empty() || unit == "px") out = n;
  else if (unit == "em" || unit == "rem") out = n * em;
  else if (unit == "pt") out = n * 4.0 / 3.0;
  else return std::nullopt;
  return std::clamp(out, -1e5, 1e5);
}

}  // namespace pf::web
