#include "platform/foundation/Json.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <unordered_map>
#include <vector>

#include "platform/foundation/Text.h"

namespace pf {
namespace {

Error jsonError(std::int64_t code, const std::string& message) {
  return Error(kCocoaErrorDomain, code, Value{{kDebugDescriptionKey, message}});
}

// Builds the tree from the parser's events, bounding the depth. Keys of large dictionaries are
// indexed so that a text with many keys stays linear (the ordered map looks keys up linearly).
class TreeBuilder : public nlohmann::json_sax<Value> {
 public:
  explicit TreeBuilder(std::size_t maxDepth) : maxDepth_(maxDepth) {}

  Value root;
  std::string failure;

  bool null() override { return put(Value()); }
  bool boolean(bool b) override { return put(Value(b)); }
  bool number_integer(number_integer_t n) override { return put(Value(n)); }
  bool number_unsigned(number_unsigned_t n) override { return put(Value(n)); }
  bool number_float(number_float_t n, const string_t&) override {
    if (!std::isfinite(n)) return fail("Number is out of range.");
    return put(Value(n));
  }
  bool string(string_t& s) override { return put(Value(std::move(s))); }
  bool binary(binary_t&) override { return fail("Unexpected binary value."); }

  bool start_object(std::size_t) override {
    if (!open(Value::object())) return false;
    return true;
  }
  bool key(string_t& k) override {
    Frame& f = frames_.back();
    auto& members = entries(*f.node);
    if (members.size() >= kIndexThreshold && f.index.empty()) {
      for (std::size_t i = 0; i < members.size(); ++i) f.index.emplace(members[i].first, i);
    }
    if (!f.index.empty()) {
      auto [it, inserted] = f.index.emplace(k, members.size());
      if (inserted) members.emplace_back(std::move(k), Value());
      f.pendingSlot = it->second;
    } else {
      std::size_t i = 0;
      while (i < members.size() && members[i].first != k) ++i;
      if (i == members.size()) members.emplace_back(std::move(k), Value());
      f.pendingSlot = i;
    }
    return true;
  }
  bool end_object() override {
    frames_.pop_back();
    return true;
  }
  bool start_array(std::size_t) override { return open(Value::array()); }
  bool end_array() override {
    frames_.pop_back();
    return true;
  }
  bool parse_error(std::size_t position, const std::string&, const nlohmann::detail::exception& ex) override {
    if (failure.empty()) {
      std::string what = ex.what();
      auto colon = what.rfind(": ");
      failure = "Invalid JSON around character " + std::to_string(position > 0 ? position - 1 : 0) + ": " +
                (colon == std::string::npos ? what : what.substr(colon + 2));
    }
    return false;
  }

 private:
  static constexpr std::size_t kIndexThreshold = 16;

  // The dictionary's entries as the plain vector the ordered map is made of.
  static Value::object_t::Container& entries(Value& dictionary) {
    return static_cast<Value::object_t::Container&>(dictionary.get_ref<Value::object_t&>());
  }

  struct Frame {
    Value* node;
    std::size_t pendingSlot = 0;
    std::unordered_map<std::string, std::size_t> index;
  };

  bool fail(std::string message) {
    failure = std::move(message);
    return false;
  }

  Value* slot() {
    if (frames_.empty()) return &root;
    Frame& f = frames_.back();
    if (f.node->is_array()) {
      f.node->get_ref<Value::array_t&>().emplace_back();
      return &f.node->get_ref<Value::array_t&>().back();
    }
    return &entries(*f.node)[f.pendingSlot].second;
  }

  bool put(Value v) {
    *slot() = std::move(v);
    return true;
  }

  bool open(Value container) {
    if (frames_.size() >= maxDepth_) return fail("Too many nested arrays or dictionaries.");
    Value* s = slot();
    *s = std::move(container);
    frames_.push_back(Frame{s, 0, {}});
    return true;
  }

  std::size_t maxDepth_;
  std::vector<Frame> frames_;
};

// --- Writer --------------------------------------------------------------------------------------

class Writer {
 public:
  Writer(const JsonWriteOptions& options, std::string& out) : o_(options), out_(out) {}

  std::string failure;

  bool write(const Value& v, std::size_t depth) {
    switch (v.type()) {
      case Value::value_t::null: out_ += "null"; return true;
      case Value::value_t::boolean: out_ += v.get<bool>() ? "true" : "false"; return true;
      case Value::value_t::number_integer: return integer(v.get<std::int64_t>());
      case Value::value_t::number_unsigned: return integer(v.get<std::uint64_t>());
      case Value::value_t::number_float: {
        double d = v.get<double>();
        if (std::isnan(d)) return fail("Invalid number value (NaN) in JSON write");
        if (std::isinf(d)) return fail("Invalid number value (infinite) in JSON write");
        // The shortest form without an exponent is already the platform's layout.
        char buf[32];
        auto r = std::to_chars(buf, buf + sizeof buf, d);
        if (std::find(buf, r.ptr, 'e') == r.ptr) out_.append(buf, r.ptr);
        else out_ += numberDescription(d);
        return true;
      }
      case Value::value_t::string: return writeString(v.get_ref<const std::string&>());
      case Value::value_t::binary:
        return fail(isDate(v) ? "Invalid type in JSON write (Date)" : "Invalid type in JSON write (Data)");
      case Value::value_t::discarded: return fail("Invalid type in JSON write (discarded)");
      case Value::value_t::array: {
        if (depth >= o_.maxDepth) return fail("Too many nested arrays or dictionaries in JSON write");
        if (v.empty()) {
          out_ += "[]";
          return true;
        }
        out_ += '[';
        bool first = true;
        for (const auto& item : v) {
          if (!first) out_ += ',';
          first = false;
          newline(depth + 1);
          if (!write(item, depth + 1)) return false;
        }
        newline(depth);
        out_ += ']';
        return true;
      }
      case Value::value_t::object: {
        if (depth >= o_.maxDepth) return fail("Too many nested arrays or dictionaries in JSON write");
        if (v.empty()) {
          out_ += "{}";
          return true;
        }
        out_ += '{';
        bool first = true;
        auto member = [&](const std::pair<const std::string, Value>& m) {
          if (!first) out_ += ',';
          first = false;
          newline(depth + 1);
          if (!writeString(m.first)) return false;
          out_ += o_.pretty ? " : " : ":";
          return write(m.second, depth + 1);
        };
        const auto& members = v.get_ref<const Value::object_t&>();
        if (o_.sortedKeys) {
          std::vector<const std::pair<const std::string, Value>*> sorted;
          for (const auto& m : members) sorted.push_back(&m);
          std::stable_sort(sorted.begin(), sorted.end(),
                           [](auto* a, auto* b) { return compareText(a->first, b->first) < 0; });
          for (auto* m : sorted)
            if (!member(*m)) return false;
        } else {
          for (const auto& m : members)
            if (!member(m)) return false;
        }
        newline(depth);
        out_ += '}';
        return true;
      }
    }
    return fail("Invalid type in JSON write");
  }

 private:
  bool fail(std::string message) {
    failure = std::move(message);
    return false;
  }

  template <class T>
  bool integer(T n) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    out_.append(buf, r.ptr);
    return true;
  }

  static bool isPlain(unsigned char c) { return c >= 0x20 && c != '"' && c != '\\' && c != '/' && c != 0xE2; }

  void newline(std::size_t depth) {
    if (!o_.pretty) return;
    out_ += '\n';
    out_.append(depth * 2, ' ');
  }

  bool writeString(const std::string& s) {
    if (!isValidUtf8(s)) return fail("Invalid string (not UTF-8) in JSON write");
    static constexpr char kHex[] = "0123456789abcdef";
    out_ += '"';
    for (std::size_t i = 0; i < s.size(); ++i) {
      std::size_t run = i;
      while (run < s.size() && isPlain(static_cast<unsigned char>(s[run]))) ++run;
      if (run > i) {
        out_.append(s, i, run - i);
        i = run;
        if (i >= s.size()) break;
      }
      auto c = static_cast<unsigned char>(s[i]);
      switch (c) {
        case '"': out_ += "\\\""; break;
        case '\\': out_ += "\\\\"; break;
        case '/': out_ += o_.escapeSlashes ? "\\/" : "/"; break;
        case '\b': out_ += "\\b"; break;
        case '\f': out_ += "\\f"; break;
        case '\n': out_ += "\\n"; break;
        case '\r': out_ += "\\r"; break;
        case '\t': out_ += "\\t"; break;
        default:
          if (c < 0x20) {
            out_ += "\\u00";
            out_ += kHex[c >> 4];
            out_ += kHex[c & 0xF];
          } else if (o_.escapeLineSeparators && c == 0xE2 && i + 2 < s.size() &&
                     static_cast<unsigned char>(s[i + 1]) == 0x80 &&
                     (static_cast<unsigned char>(s[i + 2]) == 0xA8 || static_cast<unsigned char>(s[i + 2]) == 0xA9)) {
            out_ += static_cast<unsigned char>(s[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
          } else {
            out_ += static_cast<char>(c);
          }
      }
    }
    out_ += '"';
    return true;
  }

  const JsonWriteOptions& o_;
  std::string& out_;
};

}  // namespace

std::optional<Value> parseJson(std::string_view text, const JsonReadOptions& options, Error* error) {
  auto reject = [&](const std::string& message) -> std::optional<Value> {
    if (error) *error = jsonError(kJsonReadCorruptError, message);
    return std::nullopt;
  };
  if (text.size() > options.maxBytes) return reject("JSON text is larger than " + std::to_string(options.maxBytes) + " bytes.");
  if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return reject("No value.");
  if (!options.allowFragments && text[first] != '{' && text[first] != '[')
    return reject("JSON text did not start with array or object and option to allow fragments not set.");
  TreeBuilder builder(options.maxDepth);
  try {
    if (!Value::sax_parse(text.begin(), text.end(), &builder)) return reject(builder.failure);
  } catch (const std::exception& e) {
    return reject(std::string("Invalid JSON: ") + e.what());
  }
  return std::move(builder.root);
}

std::optional<Value> parseJson(const Bytes& bytes, const JsonReadOptions& options, Error* error) {
  return parseJson(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), options, error);
}

std::optional<std::string> writeJson(const Value& value, const JsonWriteOptions& options, Error* error) {
  if (!options.allowFragments && !value.is_object() && !value.is_array()) {
    if (error) *error = jsonError(kJsonWriteInvalidError, "Invalid top-level type in JSON write");
    return std::nullopt;
  }
  std::string out;
  Writer writer(options, out);
  if (!writer.write(value, 0)) {
    if (error) *error = jsonError(kJsonWriteInvalidError, writer.failure);
    return std::nullopt;
  }
  return out;
}

bool isValidJsonObject(const Value& value, bool allowFragments) {
  JsonWriteOptions options;
  options.allowFragments = allowFragments;
  return writeJson(value, options).has_value();
}

}  // namespace pf
