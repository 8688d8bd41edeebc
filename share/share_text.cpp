// Small readers the sharing files have in common.
#include "share/share_text.h"

namespace scores::share_text {

std::string TrimSpaces(std::string_view text) {
    size_t a = 0, b = text.size();
    while (a < b && (text[a] == ' ' || text[a] == '\t' || text[a] == '\r')) ++a;
    while (b > a && (text[b - 1] == ' ' || text[b - 1] == '\t' || text[b - 1] == '\r')) --b;
    return std::string(text.substr(a, b - a));
}

std::string StringField(const nlohmann::json& j, const char* key) {
    if (!j.is_object()) return "";
    auto it = j.find(key);
    return it != j.end() && it->is_string() ? it->get<std::string>() : "";
}

int64_t IdField(const nlohmann::json& j, const char* key) {
    if (!j.is_object()) return 0;
    auto it = j.find(key);
    if (it == j.end() || !it->is_number_integer()) return 0;
    const int64_t v = it->get<int64_t>();
    return v > 0 ? v : 0;
}

}  // namespace scores::share_text
