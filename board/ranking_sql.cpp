// PostgreSQL's spelling of the shared statements' placeholders.
#include "board/ranking_sql.h"

namespace board::sql {

std::string Numbered(const std::string& sql) {
    std::string out;
    int n = 0;
    for (char c : sql) {
        if (c == '?') {
            out += '$' + std::to_string(++n);
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace board::sql
