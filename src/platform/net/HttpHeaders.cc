#include "platform/net/HttpHeaders.h"

#include <algorithm>

namespace pf {

namespace {
char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
}  // namespace

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

HttpHeaders::HttpHeaders(std::initializer_list<Field> fields) {
  for (const auto& f : fields) append(f.first, f.second);
}

std::optional<std::string> HttpHeaders::value(std::string_view name) const {
  std::optional<std::string> out;
  for (const auto& [n, v] : fields_) {
    if (!asciiEqualsIgnoringCase(n, name)) continue;
    if (out) {
      out->append(", ");
      out->append(v);
    } else {
      out = v;
    }
  }
  return out;
}

std::vector<std::string> HttpHeaders::listValues(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [n, v] : fields_) {
    if (!asciiEqualsIgnoringCase(n, name)) continue;
    std::string_view list = v;
    while (!list.empty()) {
      const auto comma = list.find(',');
      std::string_view one = list.substr(0, comma);
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      while (!one.empty() && (one.front() == ' ' || one.front() == '\t')) one.remove_prefix(1);
      while (!one.empty() && (one.back() == ' ' || one.back() == '\t')) one.remove_suffix(1);
      if (!one.empty()) out.emplace_back(one);
    }
  }
  return out;
}

std::vector<std::string> HttpHeaders::values(std::string_view name) const {
  std::vector<std::string> out;
  for (const auto& [n, v] : fields_) {
    if (asciiEqualsIgnoringCase(n, name)) out.push_back(v);
  }
  return out;
}

bool HttpHeaders::contains(std::string_view name) const {
  return std::any_of(fields_.begin(), fields_.end(),
                     [&](const Field& f) { return asciiEqualsIgnoringCase(f.first, name); });
}

void HttpHeaders::set(std::string_view name, std::string_view value) {
  auto it = std::find_if(fields_.begin(), fields_.end(),
                         [&](const Field& f) { return asciiEqualsIgnoringCase(f.first, name); });
  if (it == fields_.end()) {
    fields_.emplace_back(std::string(name), std::string(value));
    return;
  }
  it->second = std::string(value);
  fields_.erase(std::remove_if(std::next(it), fields_.end(),
                               [&](const Field& f) { return asciiEqualsIgnoringCase(f.first, name); }),
                fields_.end());
}

void HttpHeaders::add(std::string_view name, std::string_view value) {
  auto it = std::find_if(fields_.begin(), fields_.end(),
                         [&](const Field& f) { return asciiEqualsIgnoringCase(f.first, name); });
  if (it == fields_.end()) {
    fields_.emplace_back(std::string(name), std::string(value));
  } else {
    it->second.push_back(',');
    it->second.append(value);
  }
}

void HttpHeaders::append(std::string_view name, std::string_view value) {
  fields_.emplace_back(std::string(name), std::string(value));
}

void HttpHeaders::remove(std::string_view name) {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                               [&](const Field& f) { return asciiEqualsIgnoringCase(f.first, name); }),
                fields_.end());
}

Value HttpHeaders::toValue() const {
  Value out = Value::object();
  for (const auto& [n, v] : fields_) {
    bool seen = false;
    for (auto& [key, existing] : out.items()) {
      if (asciiEqualsIgnoringCase(key, n)) {
        existing = existing.get<std::string>() + ", " + v;
        seen = true;
        break;
      }
    }
    if (!seen) out[n] = v;
  }
  return out;
}

HttpHeaders HttpHeaders::fromValue(const Value& dictionary) {
  HttpHeaders out;
  if (!dictionary.is_object()) return out;
  for (const auto& [key, v] : dictionary.items()) {
    out.set(key, v.is_string() ? v.get<std::string>() : v.dump());
  }
  return out;
}

}  // namespace pf
