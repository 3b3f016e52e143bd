#pragma once
// Reading a page call's arguments with the platform's value semantics: whatever JSON type the page
// sent, a read never fails.

#include <string>

#include "platform/foundation/Value.h"

namespace app::PylPluginArguments {

// The argument under the key, or null when the data is no dictionary or lacks the key.
const pf::Value& argument(const pf::Value& data, const char* key);
// The argument when it is a text; "" for anything else (absent, null, a number, a list...).
std::string text(const pf::Value& data, const char* key);
// True when the argument is a text (empty or not).
bool isText(const pf::Value& data, const char* key);

}  // namespace app::PylPluginArguments
