// Small readers the sharing files have in common: trimmed text, a path's
// folder and the fields of the board's JSON answers.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <string_view>

namespace scores::share_text {

// Returns text without the spaces, tabs and carriage returns around it.
std::string TrimSpaces(std::string_view text);
// Returns a string field of a JSON object ("" when absent or not a string).
std::string StringField(const nlohmann::json& j, const char* key);
// Returns a positive whole-number field of a JSON object, or 0.
int64_t IdField(const nlohmann::json& j, const char* key);

}  // namespace scores::share_text
