#pragma once
// Small text helpers of the SQLite layer.

#include <string>
#include <string_view>

namespace kvstore {

// Lower-cases A-Z only, as the engine's lower() and its identifier rules do.
std::string sqAsciiLowercase(std::string_view text);
// Lower-cases every letter (ICU for text beyond ASCII).
std::string sqLowercase(std::string_view text);
// The text with every occurrence of `quote` doubled, between two `quote`s: a safe SQL literal
// (quote ') or identifier (quote ").
std::string sqQuoted(std::string_view text, char quote);
// The same, appended to `out`.
void sqAppendQuoted(std::string& out, std::string_view text, char quote);

}  // namespace kvstore
