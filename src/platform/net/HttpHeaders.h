#pragma once
// HTTP header fields: an ordered list of (name, value) pairs looked up without regard to case.
// A response may carry one name several times (Set-Cookie); value() joins them with ", " the way
// the platform's header dictionaries do, values() keeps them apart.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

namespace pf {

bool asciiEqualsIgnoringCase(std::string_view a, std::string_view b);

class HttpHeaders {
 public:
  using Field = std::pair<std::string, std::string>;

  HttpHeaders() = default;
  HttpHeaders(std::initializer_list<Field> fields);

  // Every value of the name joined with ", ", or nullopt when absent.
  std::optional<std::string> value(std::string_view name) const;
  std::vector<std::string> values(std::string_view name) const;
  // The elements of the name's comma-separated lists (Content-Encoding: "gzip, deflate"), in order,
  // without surrounding white space; empty ones are left out.
  std::vector<std::string> listValues(std::string_view name) const;
  bool contains(std::string_view name) const;

  // Replaces every field of the name by one (an empty value is kept as a field).
  void set(std::string_view name, std::string_view value);
  // Request style: appends ",value" to an existing field of the name, else adds the field.
  void add(std::string_view name, std::string_view value);
  // Response style: adds one more field with the name.
  void append(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  void clear() { fields_.clear(); }

  const std::vector<Field>& fields() const { return fields_; }
  bool empty() const { return fields_.empty(); }
  std::size_t size() const { return fields_.size(); }

  // A dictionary {name: joined value}, names as first seen.
  Value toValue() const;
  // From a dictionary of strings (other values are written as their JSON text).
  static HttpHeaders fromValue(const Value& dictionary);

  bool operator==(const HttpHeaders&) const = default;

 private:
  std::vector<Field> fields_;
};

}  // namespace pf
