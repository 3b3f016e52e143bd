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
  // Sixteen bytes at a time: signed bytes below 0x20 are the control characters and everything
  // from 0x80 up; the rest are compared one by one.
  const __m128i space = _mm_set1_epi8(0x20), del = _mm_set1_epi8(0x7f), quote = _mm_set1_epi8('"'),
                backslash = _mm_set1_epi8('\\'), slash = _mm_set1_epi8('/');
  for (; i + 16 <= n; i += 16) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    __m128i bad = _mm_or_si128(_mm_cmplt_epi8(v, space), _mm_cmpeq_epi8(v, del));
    bad = _mm_or_si128(bad, _mm_or_si128(_mm_cmpeq_epi8(v, quote), _mm_cmpeq_epi8(v, backslash)));
    bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, slash));
    if (_mm_movemask_epi8(bad) != 0) return false;
  }
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
