// The board's schema history: numbered migrations, applied in order at start
// and recorded in the schema_version table. The SQL is shared by SQLite and
// PostgreSQL; the few words that differ are placeholders.
#pragma once

#include <string>
#include <vector>

namespace board {

enum class SqlDialect { Sqlite, Postgres };

struct Migration {
    int version = 0;
    const char* sql = "";  // statements separated by ";", with @ID@ and @BYTES@ placeholders
};

// Returns every migration, oldest first.
const std::vector<Migration>& Migrations();
// Returns a migration's statements with the placeholders filled for a dialect.
std::vector<std::string> MigrationStatements(const Migration& migration, SqlDialect dialect);

// Returns a statement written with "?" placeholders in a dialect's form
// ("$1, $2..." for PostgreSQL), so that both backends share one text.
std::string StatementFor(const char* sql, SqlDialect dialect);

}  // namespace board
