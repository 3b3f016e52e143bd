#include "widgets/TnqColor.h"

#include <algorithm>
#include <cctype>

namespace widgets::TnqColor {

pf::Color TnqColorWithRed(double red, double green, double blue, double alpha) {
  return pf::Color::rgb(red / 255.0, green / 255.0, blue / 255.0, alpha / 255.0);
}

namespace {
bool isBlank(unsigned char c) { return std::isspace(c) != 0; }

// Two hexadecimal digits; a pair with other characters reads as 0.
int hexPair(const std::string& s, std::size_t at) {
  int v = 0;
  for (std::size_t i = at; i < at + 2; ++i) {
    int c = static_cast<unsigned char>(s[i]), d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return 0;
    v = v * 16 + d;
  }
  return v;
}
}  // namespace

std::optional<std::array<int, 3>> hexComponents(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && isBlank(static_cast<unsigned char>(text[b]))) ++b;
  while (e > b && isBlank(static_cast<unsigned char>(text[e - 1]))) --e;
  std::string s = text.substr(b, e - b);
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  if (s.size() < 6) return std::nullopt;
  if (s.rfind("0X", 0) == 0) s = s.substr(2);
  if (s.rfind("#", 0) == 0) s = s.substr(1);
  if (s.size() != 6) return std::nullopt;
  return std::array<int, 3>{hexPair(s, 0), hexPair(s, 2), hexPair(s, 4)};
}

pf::Color colorWithHexString(const std::string& text) {
  auto c = hexComponents(text);
  if (!c) return pf::Color::clear();
  return pf::Color::rgb((*c)[0] / 255.0, (*c)[1] / 255.0, (*c)[2] / 255.0, 1.0);
}

}  // namespace widgets::TnqColor
