#include "platform/foundation/PropertyList.h"

#include <plist/plist.h>

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/foundation/Text.h"

namespace pf {
namespace {

constexpr double kSecondsFrom1970To2001 = 978307200.0;

Error plistError(std::int64_t code, const std::string& message) {
  return Error(kCocoaErrorDomain, code, Value{{kDebugDescriptionKey, message}});
}

struct PlistFree {
  void operator()(plist_t p) const { plist_free(p); }
};
using PlistPtr = std::unique_ptr<void, PlistFree>;

struct Failure {
  std::string message;
};

// --- Bounds checks before libplist ---------------------------------------------------------------

// Nesting depth of <array>/<dict> elements, skipping comments, CDATA, processing instructions and
// declarations; over-counts rather than under-counts.
std::optional<std::string> checkXml(std::string_view s, const PropertyListReadOptions& o) {
  std::size_t depth = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '<') continue;
    std::string_view rest = s.substr(i);
    auto skipTo = [&](std::string_view end) -> bool {
      std::size_t at = s.find(end, i + 1);
      if (at == std::string_view::npos) return false;
      i = at + end.size() - 1;
      return true;
    };
    if (rest.starts_with("<!--")) {
      if (!skipTo("-->")) return "Unterminated comment.";
    } else if (rest.starts_with("<![CDATA[")) {
      if (!skipTo("]]>")) return "Unterminated CDATA section.";
    } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
      if (!skipTo(">")) return "Unterminated declaration.";
    } else if (rest.starts_with("</array") || rest.starts_with("</dict")) {
      if (depth > 0) --depth;
    } else if (rest.starts_with("<array") || rest.starts_with("<dict")) {
      std::size_t close = s.find('>', i);
      if (close == std::string_view::npos) return "Unterminated tag.";
      if (s[close - 1] != '/' && ++depth > o.maxDepth) return "Too deeply nested.";
    }
  }
  return std::nullopt;
}

// The object table of a binary list: every reference in range, no cycle, and the tree that
// sharing expands to no deeper than maxDepth and no larger than maxObjects.
class BinaryChecker {
 public:
  BinaryChecker(std::string_view s, const PropertyListReadOptions& o) : s_(s), o_(o) {}

  std::optional<std::string> run() {
    if (s_.size() < 8 + 32) return "Too short for a binary property list.";
    const std::size_t t = s_.size() - 32;
    offsetSize_ = byte(t + 6);
    refSize_ = byte(t + 7);
    std::uint64_t count = be(t + 8, 8), top = be(t + 16, 8), table = be(t + 24, 8);
    if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return "Bad integer sizes in the trailer.";
    if (count == 0 || count > s_.size() || top >= count) return "Bad object count in the trailer.";
    if (table < 8 || table > t || (t - table) / offsetSize_ < count) return "Bad offset table.";
    count_ = static_cast<std::size_t>(count);
    table_ = static_cast<std::size_t>(table);
    for (std::size_t i = 0; i < count_; ++i)
      if (offset(i) < 8 || offset(i) >= table_) return "Object offset out of range.";
    return walk(static_cast<std::size_t>(top));
  }

 private:
  enum State : std::uint8_t { kNew, kOpen, kDone };

  std::uint8_t byte(std::size_t at) const { return static_cast<std::uint8_t>(s_[at]); }
  std::uint64_t be(std::size_t at, std::size_t n) const {
    std::uint64_t v = 0;
    for (std::size_t k = 0; k < n; ++k) v = (v << 8) | byte(at + k);
    return v;
  }
  std::size_t offset(std::size_t object) const {
    return static_cast<std::size_t>(be(table_ + object * offsetSize_, offsetSize_));
  }

  // Children of a container object (empty for scalars); nullopt when malformed.
  std::optional<std::vector<std::size_t>> children(std::size_t object) const {
    std::size_t at = offset(object);
    std::uint8_t marker = byte(at);
    std::uint8_t kind = marker >> 4;
    if (kind != 0xA && kind != 0xC && kind != 0xD) return std::vector<std::size_t>{};
    std::uint64_t n = marker & 0xF;
    std::size_t pos = at + 1;
    if (n == 0xF) {
      if (pos >= table_) return std::nullopt;
      std::uint8_t intMarker = byte(pos);
      if ((intMarker >> 4) != 0x1 || (intMarker & 0xF) > 3) return std::nullopt;
      std::size_t width = std::size_t{1} << (intMarker & 0xF);
      if (pos + 1 + width > table_) return std::nullopt;
      n = be(pos + 1, width);
      pos += 1 + width;
    }
    std::uint64_t refs = kind == 0xD ? n * 2 : n;
    if (n > table_ || refs > (table_ - pos) / refSize_) return std::nullopt;
    std::vector<std::size_t> out;
    out.reserve(static_cast<std::size_t>(refs));
    for (std::uint64_t k = 0; k < refs; ++k) {
      std::uint64_t ref = be(pos + static_cast<std::size_t>(k) * refSize_, refSize_);
      if (ref >= count_) return std::nullopt;
      if (kind == 0xD && k < n && !isCleanKey(static_cast<std::size_t>(ref))) return std::nullopt;
      out.push_back(static_cast<std::size_t>(ref));
    }
    return out;
  }

  // A dictionary key must be a string without NUL characters (libplist cannot hand others out).
  bool isCleanKey(std::size_t object) const {
    std::size_t at = offset(object);
    std::uint8_t marker = byte(at);
    std::uint8_t kind = marker >> 4;
    if (kind != 0x5 && kind != 0x6) return false;
    std::uint64_t n = marker & 0xF;
    std::size_t pos = at + 1;
    if (n == 0xF) {
      if (pos >= table_) return false;
      std::uint8_t intMarker = byte(pos);
      if ((intMarker >> 4) != 0x1 || (intMarker & 0xF) > 3) return false;
      std::size_t width = std::size_t{1} << (intMarker & 0xF);
      if (pos + 1 + width > table_) return false;
      n = be(pos + 1, width);
      pos += 1 + width;
    }
    std::uint64_t bytes = kind == 0x6 ? n * 2 : n;
    if (n > table_ || bytes > table_ - pos) return false;
    for (std::size_t i = 0; i < bytes; i += kind == 0x6 ? 2 : 1) {
      if (kind == 0x5 && byte(pos + i) == 0) return false;
      if (kind == 0x6 && byte(pos + i) == 0 && byte(pos + i + 1) == 0) return false;
    }
    return true;
  }

  std::optional<std::string> walk(std::size_t top) {
    std::vector<State> state(count_, kNew);
    std::vector<std::uint64_t> size(count_, 1);
    std::vector<std::uint32_t> height(count_, 1);
    struct Frame {
      std::size_t object;
      std::vector<std::size_t> kids;
      std::size_t next = 0;
    };
    std::vector<Frame> stack;
    auto open = [&](std::size_t object) -> std::optional<std::string> {
      auto kids = children(object);
      if (!kids) return "Malformed container object.";
      state[object] = kOpen;
      stack.push_back(Frame{object, std::move(*kids)});
      if (stack.size() > o_.maxDepth + 1) return "Too deeply nested.";
      return std::nullopt;
    };
    if (auto failure = open(top)) return failure;
    while (!stack.empty()) {
      Frame& f = stack.back();
      if (f.next < f.kids.size()) {
        std::size_t kid = f.kids[f.next++];
        if (state[kid] == kOpen) return "Reference cycle.";
        if (state[kid] == kNew)
          if (auto failure = open(kid)) return failure;
        continue;
      }
      std::uint64_t total = 1;
      std::uint32_t h = 1;
      for (std::size_t kid : f.kids) {
        total = std::min<std::uint64_t>(total + size[kid], o_.maxObjects + 1);
        h = std::max<std::uint32_t>(h, height[kid] + 1);
      }
      size[f.object] = total;
      height[f.object] = h;
      state[f.object] = kDone;
      stack.pop_back();
    }
    if (size[top] > o_.maxObjects) return "Too many objects.";
    if (height[top] > o_.maxDepth + 1) return "Too deeply nested.";
    return std::nullopt;
  }

  std::string_view s_;
  const PropertyListReadOptions& o_;
  std::size_t offsetSize_ = 0, refSize_ = 0, count_ = 0, table_ = 0;
};

// A NUL byte, or a character reference to U+0000 ("&#0;", "&#x00;"), which XML forbids.
bool holdsNul(std::string_view s) {
  if (s.find('\0') != std::string_view::npos) return true;
  for (std::size_t at = s.find("&#"); at != std::string_view::npos; at = s.find("&#", at + 2)) {
    std::size_t i = at + 2;
    if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) ++i;
    std::size_t digits = i;
    while (i < s.size() && s[i] == '0') ++i;
    if (i > digits && i < s.size() && s[i] == ';') return true;
  }
  return false;
}

// --- libplist to Value and back ------------------------------------------------------------------

struct Freed {
  char* p = nullptr;
  ~Freed() { std::free(p); }
};

Value fromPlist(plist_t node, std::size_t depth) {
  if (depth > 4096) throw Failure{"Too deeply nested."};
  switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
      uint8_t b = 0;
      plist_get_bool_val(node, &b);
      return Value(b != 0);
    }
    case PLIST_UINT: {
      uint64_t u = 0;
      plist_get_uint_val(node, &u);
      return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
      double d = 0;
      plist_get_real_val(node, &d);
      return Value(d);
    }
    case PLIST_STRING: {
      uint64_t length = 0;
      const char* p = plist_get_string_ptr(node, &length);
      std::string text = p ? std::string(p, static_cast<std::size_t>(length)) : std::string();
      if (!isValidUtf8(text)) throw Failure{"String is not valid UTF-8."};
      return Value(std::move(text));
    }
    case PLIST_DATA: {
      Freed d;
      uint64_t length = 0;
      plist_get_data_val(node, &d.p, &length);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(d.p);
      return makeData(bytes ? std::vector<std::uint8_t>(bytes, bytes + length) : std::vector<std::uint8_t>{});
    }
    case PLIST_DATE: {
      int32_t sec = 0, usec = 0;
      plist_get_date_val(node, &sec, &usec);
      return makeDate(kSecondsFrom1970To2001 + sec + usec / 1e6);
    }
    case PLIST_UID: {
      uint64_t uid = 0;
      plist_get_uid_val(node, &uid);
      return Value{{"CF$UID", uid}};
    }
    case PLIST_ARRAY: {
      Value out = Value::array();
      uint32_t n = plist_array_get_size(node);
      for (uint32_t i = 0; i < n; ++i) out.push_back(fromPlist(plist_array_get_item(node, i), depth + 1));
      return out;
    }
    case PLIST_DICT: {
      Value out = Value::object();
      plist_dict_iter iter = nullptr;
      plist_dict_new_iter(node, &iter);
      Freed iterMemory{static_cast<char*>(iter)};
      for (;;) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        Freed keyMemory{key};
        if (!item) break;
        std::string k = key ? key : "";
        if (!isValidUtf8(k)) throw Failure{"Key is not valid UTF-8."};
        out[k] = fromPlist(item, depth + 1);
      }
      return out;
    }
    default: throw Failure{"Unknown object type."};
  }
}

plist_t toPlist(const Value& v, std::size_t depth) {
  if (depth > 512) throw Failure{"Too deeply nested to write."};
  switch (v.type()) {
    case Value::value_t::null: throw Failure{"Null cannot be written to a property list."};
    case Value::value_t::boolean: return plist_new_bool(v.get<bool>() ? 1 : 0);
    case Value::value_t::number_integer: return plist_new_uint(static_cast<uint64_t>(v.get<std::int64_t>()));
    case Value::value_t::number_unsigned: return plist_new_uint(v.get<std::uint64_t>());
    case Value::value_t::number_float: {
      double d = v.get<double>();
      if (!std::isfinite(d)) throw Failure{"Not a finite number."};
      return plist_new_real(d);
    }
    case Value::value_t::string: {
      const auto& s = v.get_ref<const std::string&>();
      if (!isValidUtf8(s) || s.find('\0') != std::string::npos) throw Failure{"String is not valid UTF-8."};
      return plist_new_string(s.c_str());
    }
    case Value::value_t::binary: {
      if (auto date = dateValue(v)) {
        double since2001 = *date - kSecondsFrom1970To2001;
        double whole = std::floor(since2001);
        if (!std::isfinite(since2001) || whole < INT32_MIN || whole > INT32_MAX) throw Failure{"Date out of range."};
        return plist_new_date(static_cast<int32_t>(whole), static_cast<int32_t>(std::lround((since2001 - whole) * 1e6)));
      }
      const auto& b = v.get_binary();
      return plist_new_data(reinterpret_cast<const char*>(b.data()), b.size());
    }
    case Value::value_t::array: {
      PlistPtr array(plist_new_array());
      for (const auto& item : v) plist_array_append_item(array.get(), toPlist(item, depth + 1));
      return array.release();
    }
    case Value::value_t::object: {
      PlistPtr dict(plist_new_dict());
      for (const auto& [key, item] : v.items()) {
        if (!isValidUtf8(key) || key.find('\0') != std::string::npos) throw Failure{"Key is not valid UTF-8."};
        plist_t child = toPlist(item, depth + 1);
        plist_dict_set_item(dict.get(), key.c_str(), child);
      }
      return dict.release();
    }
    default: throw Failure{"Unsupported value."};
  }
}

// --- Old-style text ------------------------------------------------------------------------------

class OpenStepParser {
 public:
  OpenStepParser(std::string_view s, std::size_t maxDepth) : s_(s), maxDepth_(maxDepth) {}

  Value parseDocument(bool stringsTable) {
    skip();
    if (stringsTable && pos_ < s_.size() && s_[pos_] != '{') {
      Value table = Value::object();
      parseEntries(table, true, '\0');
      return table;
    }
    if (stringsTable && pos_ >= s_.size()) return Value::object();
    Value v = parseValue(0);
    skip();
    if (pos_ != s_.size()) fail("Junk after the value");
    return v;
  }

 private:
  [[noreturn]] void fail(const std::string& what) const {
    throw Failure{what + " at character " + std::to_string(pos_) + "."};
  }

  void skip() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
        ++pos_;
      } else if (s_.substr(pos_, 2) == "//") {
        std::size_t nl = s_.find('\n', pos_);
        pos_ = nl == std::string_view::npos ? s_.size() : nl + 1;
      } else if (s_.substr(pos_, 2) == "/*") {
        std::size_t end = s_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) fail("Unterminated comment");
        pos_ = end + 2;
      } else {
        break;
      }
    }
  }

  static bool unquoted(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '$' ||
           c == '/' || c == ':' || c == '.' || c == '-' || c == '+';
  }

  bool expect(char c) {
    skip();
    if (pos_ < s_.size() && s_[pos_] == c) {
      ++pos_;
      return true;
    }
    return false;
  }

  Value parseValue(std::size_t depth) {
    skip();
    if (pos_ >= s_.size()) fail("Unexpected end");
    char c = s_[pos_];
    if (c == '{' || c == '(') {
      if (depth >= maxDepth_) fail("Too deeply nested");
      ++pos_;
      if (c == '{') {
        Value dict = Value::object();
        parseEntries(dict, false, '}', depth);
        return dict;
      }
      Value array = Value::array();
      for (;;) {
        skip();
        if (expect(')')) return array;
        array.push_back(parseValue(depth + 1));
        if (expect(')')) return array;
        if (!expect(',')) fail("Expected \",\" or \")\"");
      }
    }
    if (c == '<') return parseData();
    return Value(parseString());
  }

  void parseEntries(Value& dict, bool topLevel, char close, std::size_t depth = 0) {
    for (;;) {
      skip();
      if (topLevel ? pos_ >= s_.size() : expect(close)) return;
      if (pos_ >= s_.size()) fail("Unterminated dictionary");
      std::string key = parseString();
      if (topLevel && expect(';')) {  // "key"; in a strings table
        dict[key] = key;
        continue;
      }
      if (!expect('=')) fail("Expected \"=\"");
      dict[key] = parseValue(depth + 1);
      if (!expect(';')) fail("Expected \";\"");
    }
  }

  Value parseData() {
    ++pos_;
    std::vector<std::uint8_t> bytes;
    int high = -1;
    while (pos_ < s_.size() && s_[pos_] != '>') {
      char c = s_[pos_++];
      int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
      if (v < 0) {
        if (c == ' ' || c == '\t' || c == '\n' || c == '\r') continue;
        fail("Bad character in data");
      }
      if (high < 0) high = v;
      else bytes.push_back(static_cast<std::uint8_t>(high * 16 + v)), high = -1;
    }
    if (pos_ >= s_.size() || high >= 0) fail("Unterminated data");
    ++pos_;
    return makeData(std::move(bytes));
  }

  std::string parseString() {
    skip();
    if (pos_ >= s_.size()) fail("Expected a string");
    char quote = s_[pos_];
    if (quote != '"' && quote != '\'') {
      std::size_t start = pos_;
      while (pos_ < s_.size() && unquoted(s_[pos_])) ++pos_;
      if (pos_ == start) fail("Expected a string");
      return std::string(s_.substr(start, pos_ - start));
    }
    ++pos_;
    std::string out;
    while (pos_ < s_.size() && s_[pos_] != quote) {
      char c = s_[pos_++];
      if (c != '\\') {
        out.push_back(c);
        continue;
      }
      if (pos_ >= s_.size()) break;
      char e = s_[pos_++];
      switch (e) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'a': out.push_back('\a'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        case 'v': out.push_back('\v'); break;
        case 'U':
        case 'u': {
          char32_t unit = 0;
          int digits = 0;
          while (digits < 4 && pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
            char h = s_[pos_++];
            unit = unit * 16 + static_cast<char32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (h | 0x20) - 'a' + 10);
            ++digits;
          }
          if (digits == 0) fail("Bad \\U escape");
          // A high surrogate followed by an escaped low one forms one character.
          if (unit >= 0xD800 && unit <= 0xDBFF && s_.substr(pos_, 2) == "\\U") {
            std::size_t save = pos_;
            pos_ += 2;
            char32_t low = 0;
            int n = 0;
            while (n < 4 && pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
              char h = s_[pos_++];
              low = low * 16 + static_cast<char32_t>(std::isdigit(static_cast<unsigned char>(h)) ? h - '0' : (h | 0x20) - 'a' + 10);
              ++n;
            }
            if (n == 4 && low >= 0xDC00 && low <= 0xDFFF) unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
            else pos_ = save;
          }
          appendUtf8(out, unit);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            int value = e - '0';
            for (int k = 0; k < 2 && pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '7'; ++k)
              value = value * 8 + (s_[pos_++] - '0');
            appendUtf8(out, static_cast<char32_t>(value));
          } else {
            out.push_back(e);  // \\ \" \' and anything else stand for themselves
          }
      }
    }
    if (pos_ >= s_.size()) fail("Unterminated string");
    ++pos_;
    return out;
  }

  std::string_view s_;
  std::size_t maxDepth_;
  std::size_t pos_ = 0;
};

// Text of an old-style list or strings table: UTF-16 with a byte-order mark, or UTF-8.
std::optional<std::string> textOf(std::string_view bytes) {
  auto b = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() >= 2 && ((b(0) == 0xFF && b(1) == 0xFE) || (b(0) == 0xFE && b(1) == 0xFF))) {
    bool little = b(0) == 0xFF;
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(static_cast<char16_t>(little ? b(i) | (b(i + 1) << 8) : (b(i) << 8) | b(i + 1)));
    return fromUtf16(units);
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (!isValidUtf8(bytes)) return std::nullopt;
  return std::string(bytes);
}

bool looksLikeXml(std::string_view s) {
  std::size_t first = s.find_first_not_of(" \t\r\n");
  if (s.substr(0, 3) == "\xEF\xBB\xBF") first = s.find_first_not_of(" \t\r\n", 3);
  if (first == std::string_view::npos) return false;
  std::string_view rest = s.substr(first);
  return rest.starts_with("<?xml") || rest.starts_with("<plist") || rest.starts_with("<!DOCTYPE");
}

}  // namespace

std::optional<Value> parsePropertyList(std::string_view bytes, PropertyListFormat* format, Error* error,
                                       const PropertyListReadOptions& options) {
  auto reject = [&](const std::string& message) -> std::optional<Value> {
    if (error) *error = plistError(kPropertyListReadCorruptError, message);
    return std::nullopt;
  };
  if (bytes.size() > options.maxBytes) return reject("Property list is too large.");
  if (bytes.empty()) return reject("Property list is empty.");
  try {
    if (bytes.size() >= 8 && bytes.substr(0, 6) == "bplist") {
      if (bytes.substr(0, 8) != "bplist00") return reject("Unsupported binary property list version.");
      if (auto failure = BinaryChecker(bytes, options).run()) return reject(*failure);
      plist_t root = nullptr;
      plist_from_bin(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
      PlistPtr owner(root);
      if (!root) return reject("Malformed binary property list.");
      Value v = fromPlist(root, 0);
      if (format) *format = PropertyListFormat::Binary;
      return v;
    }
    if (looksLikeXml(bytes)) {
      if (holdsNul(bytes)) return reject("XML property list holds a NUL character.");
      if (auto failure = checkXml(bytes, options)) return reject(*failure);
      plist_t root = nullptr;
      plist_from_xml(bytes.data(), static_cast<uint32_t>(bytes.size()), &root);
      PlistPtr owner(root);
      if (!root) return reject("Malformed XML property list.");
      Value v = fromPlist(root, 0);
      if (format) *format = PropertyListFormat::Xml;
      return v;
    }
    auto text = textOf(bytes);
    if (!text) return reject("Old-style property list is not valid UTF-8 or UTF-16.");
    Value v = OpenStepParser(*text, options.maxDepth).parseDocument(false);
    if (format) *format = PropertyListFormat::OpenStep;
    return v;
  } catch (const Failure& f) {
    return reject(f.message);
  }
}

std::optional<Value> parsePropertyList(const Bytes& bytes, PropertyListFormat* format, Error* error,
                                       const PropertyListReadOptions& options) {
  return parsePropertyList(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), format,
                           error, options);
}

std::optional<Value> parseStringsTable(std::string_view bytes, Error* error) {
  PropertyListReadOptions options;
  if (bytes.size() > options.maxBytes) {
    if (error) *error = plistError(kPropertyListReadCorruptError, "Strings table is too large.");
    return std::nullopt;
  }
  std::optional<Value> table;
  auto text = textOf(bytes);
  if (text && !looksLikeXml(*text) && !(bytes.size() >= 6 && bytes.substr(0, 6) == "bplist")) {
    try {
      table = OpenStepParser(*text, options.maxDepth).parseDocument(true);
    } catch (const Failure& f) {
      if (error) *error = plistError(kPropertyListReadCorruptError, f.message);
      return std::nullopt;
    }
  } else {
    table = parsePropertyList(bytes, nullptr, error, options);
  }
  if (!table) return std::nullopt;
  if (!table->is_object()) {
    if (error) *error = plistError(kPropertyListReadCorruptError, "Strings table is not a dictionary.");
    return std::nullopt;
  }
  Value strings = Value::object();
  for (const auto& [key, value] : table->items())
    if (value.is_string()) strings[key] = value;
  return strings;
}

std::optional<Bytes> writePropertyList(const Value& value, PropertyListFormat format, Error* error) {
  if (format == PropertyListFormat::OpenStep) {
    if (error) *error = plistError(kPropertyListWriteInvalidError, "The old-style format cannot be written.");
    return std::nullopt;
  }
  try {
    PlistPtr root(toPlist(value, 0));
    char* out = nullptr;
    uint32_t length = 0;
    if (format == PropertyListFormat::Xml) plist_to_xml(root.get(), &out, &length);
    else plist_to_bin(root.get(), &out, &length);
    Freed memory{out};
    if (!out) throw Failure{"The property list could not be written."};
    return Bytes(reinterpret_cast<const std::uint8_t*>(out), reinterpret_cast<const std::uint8_t*>(out) + length);
  } catch (const Failure& f) {
    if (error) *error = plistError(kPropertyListWriteInvalidError, f.message);
    return std::nullopt;
  }
}

}  // namespace pf
