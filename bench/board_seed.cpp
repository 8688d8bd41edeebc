// Fills a fresh board database with many verified runs for the board's load
// benchmark, straight through SQL in large transactions (no HTTP, no
// verification): RUNS runs of NAMES names, most on Hard, each with small
// placeholder replay bytes, then the stored ranking made from them. Prints the
// time taken and the database's size on disk. Not part of the tests.
#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "board/ranking_sql.h"
#include "board/storage.h"

namespace {

// Every run's date-time number: 2026-12-08 at 12:00 (days of 31, months of 12).
constexpr int64_t kRunDate = ((2026LL * 12 + 12) * 31 + 8) * 86400 + 12 * 3600;
// The first verification time, in milliseconds since the epoch (one more per run).
constexpr int64_t kFirstVerifiedAt = 1796000000000LL;

// Returns the statements that seed the database; bytes is the dialect's
// expression turning a text into replay bytes.
std::vector<std::string> SeedStatements(long runs, long names, const std::string& bytes) {
    const std::string n = std::to_string(names);
    // 0 .. count-1, written once for both databases.
    const auto numbers = [](long count) {
        return "WITH RECURSIVE k(n) AS (SELECT CAST(0 AS BIGINT) UNION ALL SELECT n + 1 FROM k WHERE n + 1 < " +
               std::to_string(count) + ") ";
    };
    // Of each name's ten runs, eight are on Hard, one on Medium, one on Easy.
    const std::string difficulty = "CASE (n / " + n + ") % 10 WHEN 8 THEN 1 WHEN 9 THEN 0 ELSE 2 END";
    const std::string score = "((n * 7919) % 1000003)";
    return {
        "INSERT INTO names (name_key, token_hash) " + numbers(names) +
            "SELECT 'ace ' || n, 'seed' FROM k",
        "INSERT INTO replays (hash, bytes) " + numbers(runs) + "SELECT 'seed-' || n, " +
            bytes + " FROM k",
        "INSERT INTO runs (replay_hash, name, name_key, difficulty, claimed_score, score, frames, "
        "run_timestamp, state, received_at, verified_at, attempts) " +
            numbers(runs) + "SELECT 'seed-' || n, 'Ace ' || (n % " + n + "), 'ace ' || (n % " +
            n + "), " + difficulty + ", " + score + ", " + score + ", 3600 + n % 36000, " +
            std::to_string(kRunDate) + ", 'verified', " + std::to_string(kFirstVerifiedAt) +
            " + n, " + std::to_string(kFirstVerifiedAt) + " + n, 1 FROM k",
        "DELETE FROM bests",
        ZQ_SQL_FILL_BESTS,
        board::sql::kBumpRanking,
    };
}

// Seeds a SQLite database file; returns false with a message on failure.
bool SeedSqlite(const std::string& path, const std::vector<std::string>& statements) {
    sqlite3* raw = nullptr;
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr);
    std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)> db(raw, &sqlite3_close_v2);
    const auto exec = [&](const std::string& sql) {
        char* message = nullptr;
        if (sqlite3_exec(db.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
            return true;
        }
        std::fprintf(stderr, "zq_board_seed: %s\n", message ? message : sqlite3_errmsg(db.get()));
        sqlite3_free(message);
        return false;
    };
    if (rc != SQLITE_OK) {
        std::fprintf(stderr, "zq_board_seed: cannot open %s\n", path.c_str());
        return false;
    }
    if (!exec("BEGIN")) return false;
    for (const std::string& sql : statements) {
        if (!exec(sql)) return false;
    }
    return exec("COMMIT") && exec("ANALYZE") && exec("PRAGMA wal_checkpoint(TRUNCATE)");
}

// Seeds a PostgreSQL database; returns false with a message on failure.
bool SeedPostgres(const std::string& url, const std::vector<std::string>& statements,
                  std::string& size) {
    std::unique_ptr<PGconn, decltype(&PQfinish)> conn(PQconnectdb(url.c_str()), &PQfinish);
    if (!conn || PQstatus(conn.get()) != CONNECTION_OK) {
        std::fprintf(stderr, "zq_board_seed: %s", conn ? PQerrorMessage(conn.get()) : "no memory\n");
        return false;
    }
    const auto exec = [&](const std::string& sql, std::string* value = nullptr) {
        std::unique_ptr<PGresult, decltype(&PQclear)> res(PQexec(conn.get(), sql.c_str()),
                                                         &PQclear);
        const ExecStatusType status = PQresultStatus(res.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            std::fprintf(stderr, "zq_board_seed: %s", PQerrorMessage(conn.get()));
            return false;
        }
        if (value && PQntuples(res.get()) > 0) *value = PQgetvalue(res.get(), 0, 0);
        return true;
    };
    if (!exec("BEGIN")) return false;
    for (const std::string& sql : statements) {
        if (!exec(sql)) return false;
    }
    return exec("COMMIT") && exec("VACUUM ANALYZE") &&
           exec("SELECT pg_database_size(current_database())", &size);
}

}  // namespace

// Usage: zq_board_seed DATABASE [RUNS [NAMES]]
// DATABASE is sqlite:PATH (a new file) or postgresql://… (an empty database).
int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: zq_board_seed sqlite:PATH|postgresql://... [RUNS [NAMES]]\n");
        return 2;
    }
    const std::string database = argv[1];
    const long runs = argc > 2 ? std::strtol(argv[2], nullptr, 10) : 1000000;
    const long names = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 100000;
    if (runs < 1 || runs > 10000000 || names < 1 || names > runs) {
        std::fprintf(stderr, "zq_board_seed: RUNS must be 1..10000000 and NAMES 1..RUNS\n");
        return 2;
    }
    const bool sqlite = database.rfind("sqlite:", 0) == 0;
    const auto started = std::chrono::steady_clock::now();
    try {
        // The server's own start makes the schema; the database must be empty.
        auto storage = board::OpenStorage(database, ".");
        if (!storage->RankingSince(0).bests.empty() || storage->CountPending() != 0) {
            std::fprintf(stderr, "zq_board_seed: the database is not empty\n");
            return 1;
        }
        storage->ServerKey();
    } catch (const board::StorageError& e) {
        std::fprintf(stderr, "zq_board_seed: %s\n", e.what());
        return 1;
    }
    std::string size;
    if (sqlite) {
        const std::string path = database.substr(7);
        if (!SeedSqlite(path, SeedStatements(runs, names, "CAST('seed replay ' || n AS BLOB)"))) {
            return 1;
        }
        struct stat st {};
        size = ::stat(path.c_str(), &st) == 0 ? std::to_string(st.st_size) : "?";
    } else if (!SeedPostgres(database,
                             SeedStatements(runs, names, "convert_to('seed replay ' || n, 'UTF8')"),
                             size)) {
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("seeded %ld verified runs of %ld names in %.1f s; database size %s bytes\n", runs,
                names, seconds, size.c_str());
    return 0;
}
