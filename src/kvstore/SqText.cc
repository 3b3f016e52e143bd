#include "kvstore/SqText.h"

#include <unicode/ustring.h>

#include <algorithm>

namespace kvstore {

std::string sqAsciiLowercase(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string sqLowercase(std::string_view text) {
  if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return sqAsciiLowercase(text);
  UErrorCode status = U_ZERO_ERROR;
  int32_t length16 = 0;
  u_strFromUTF8WithSub(nullptr, 0, &length16, text.data(), static_cast<int32_t>(text.size()), 0xFFFD, nullptr,
                       &status);
  std::u16string source(static_cast<std::size_t>(length16), u'\0');
  status = U_ZERO_ERROR;
  u_strFromUTF8WithSub(source.data(), length16, nullptr, text.data(), static_cast<int32_t>(text.size()), 0xFFFD,
                       nullptr, &status);
  if (U_FAILURE(status)) return sqAsciiLowercase(text);
  std::u16string lower(source.size() * 2 + 4, u'\0');
  status = U_ZERO_ERROR;
  int32_t lowerLength = u_strToLower(lower.data(), static_cast<int32_t>(lower.size()), source.data(), length16, "",
                                     &status);
  if (U_FAILURE(status)) return sqAsciiLowercase(text);
  lower.resize(static_cast<std::size_t>(lowerLength));
  int32_t size = 0;
  status = U_ZERO_ERROR;
  u_strToUTF8(nullptr, 0, &size, lower.data(), lowerLength, &status);
  std::string out(static_cast<std::size_t>(size), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), size, nullptr, lower.data(), lowerLength, &status);
  return U_SUCCESS(status) ? out : sqAsciiLowercase(text);
}

std::string sqQuoted(std::string_view text, char quote) {
  std::string out;
  out.reserve(text.size() + 2);
  sqAppendQuoted(out, text, quote);
  return out;
}

void sqAppendQuoted(std::string& out, std::string_view text, char quote) {
  out.push_back(quote);
  // Whole runs up to and including each quote, which is then written a second time.
  for (std::size_t at; (at = text.find(quote)) != std::string_view::npos; text.remove_prefix(at + 1))
    out.append(text.substr(0, at + 1)).push_back(quote);
  out.append(text);
  out.push_back(quote);
}

}  // namespace kvstore
