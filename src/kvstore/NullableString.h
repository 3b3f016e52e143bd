#pragma once
// A text argument that may be nil (ids, prefixes and table names of the key-value stores).
// Converts from C text (a null pointer is nil), std::string, std::string_view and std::nullopt.

#include <optional>
#include <string>
#include <string_view>

namespace kvstore {

class NullableString {
 public:
  NullableString(std::nullopt_t) noexcept {}
  NullableString(const char* text) noexcept {
    if (text) text_ = std::string_view(text);
  }
  NullableString(std::string_view text) noexcept : text_(text) {}
  NullableString(const std::string& text) noexcept : text_(text) {}
  NullableString(const std::optional<std::string>& text) noexcept {
    if (text) text_ = std::string_view(*text);
  }

  bool isNil() const noexcept { return !text_; }
  explicit operator bool() const noexcept { return text_.has_value(); }
  // The text; empty for nil.
  std::string_view text() const noexcept { return text_.value_or(std::string_view()); }
  // The platform's description: the text, or "(null)".
  std::string description() const { return text_ ? std::string(*text_) : std::string("(null)"); }

 private:
  std::optional<std::string_view> text_;
};

}  // namespace kvstore
