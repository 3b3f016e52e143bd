#include "kvstore/KeyValueJson.h"

#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/foundation/Json.h"

namespace kvstore {
namespace {

// Text that the platform's writer puts between quotes as it stands: printable ASCII without '"',
// '\' and '/' (which it writes as "\/").
bool isPlainByte(unsigned char c) { return c >= 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '/'; }

bool isPlainJsonText(std::string_view text) {
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
#if defined(__SSE2__)
  // Sixteen bytes per vector, four vectors per test. Adding 1 (wrapping) moves exactly the bytes
  // outside 0x20-0x7e below 0x21 as signed bytes: the control characters land on 0x01-0x20, DEL
  // on -128, everything from 0x80 up on -127..0. The three printable ones are compared alone.
  const __m128i one = _mm_set1_epi8(1), limit = _mm_set1_epi8(0x21), quote = _mm_set1_epi8('"'),
                backslash = _mm_set1_epi8('\\'), slash = _mm_set1_epi8('/');
  auto bad = [&](std::size_t at) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at));
    const __m128i outside = _mm_cmplt_epi8(_mm_add_epi8(v, one), limit);
    const __m128i escaped = _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash));
    return _mm_or_si128(_mm_or_si128(outside, escaped), _mm_cmpeq_epi8(v, slash));
  };
  for (; i + 64 <= n; i += 64) {
    const __m128i any = _mm_or_si128(_mm_or_si128(bad(i), bad(i + 16)), _mm_or_si128(bad(i + 32), bad(i + 48)));
    if (_mm_movemask_epi8(any) != 0) return false;
  }
  for (; i + 16 <= n; i += 16)
    if (_mm_movemask_epi8(bad(i)) != 0) return false;
#endif
  for (; i < n; ++i)
    if (!isPlainByte(p[i])) return false;
  return true;
}

}  // namespace

std::optional<std::string> encodeJsonContainer(const pf::Value& value) {
  pf::JsonWriteOptions options;
  options.maxDepth = kMaxJsonDepth;
  return pf::writeJson(value, options);
}

std::optional<std::string> encodeJsonArrayOf(const pf::Value& value) {
  if (value.is_string()) {
    const auto& text = value.get_ref<const std::string&>();
    if (isPlainJsonText(text)) {
      std::string out;
      out.reserve(text.size() + 4);
      out.append("[\"").append(text).append("\"]");
      return out;
    }
  }
  pf::JsonWriteOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxJsonDepth - 1;  // the array adds one level
  auto inner = pf::writeJson(value, options);
  if (!inner) return std::nullopt;
  inner->insert(inner->begin(), '[');
  inner->push_back(']');
  return inner;
}

std::optional<pf::Value> decodeJson(std::string_view text) {
  pf::JsonReadOptions options;
  options.allowFragments = true;
  options.maxDepth = kMaxJsonDepth;
  options.maxBytes = std::numeric_limits<std::size_t>::max();  // our own file: whatever was stored
  return pf::parseJson(text, options);
}

std::optional<std::string_view> plainStringElement(std::string_view text) {
  if (text.size() < 4 || !text.starts_with("[\"") || !text.ends_with("\"]")) return std::nullopt;
  std::string_view inner = text.substr(2, text.size() - 4);
  if (!isPlainJsonText(inner)) return std::nullopt;
  return inner;
}

}  // namespace kvstore
