#pragma once
// Property-list-like payloads (dictionaries, arrays, strings, numbers, null) as ordered JSON.
// JSON null stands for the platform's null object; an absent key or std::nullopt stands for nil.

#include <nlohmann/json.hpp>

namespace pf {

using Value = nlohmann::ordered_json;

}  // namespace pf
