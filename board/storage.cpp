// The storage backend chosen by the --database value.
#include "board/storage.h"

namespace board {

const char* RunStateName(RunState state) {
    switch (state) {
        case RunState::Pending:
            return "pending";
        case RunState::Verified:
            return "verified";
        case RunState::Rejected:
            return "rejected";
    }
    return "pending";
}

std::string SqlitePath(const std::string& databaseUrl, const std::string& dataDir) {
    if (databaseUrl.empty()) return dataDir + "/board.sqlite";
    if (databaseUrl.rfind("sqlite:", 0) != 0) return "";
    const std::string path = databaseUrl.substr(7);
    return path.empty() ? dataDir + "/board.sqlite" : path;
}

std::unique_ptr<Storage> OpenStorage(const std::string& databaseUrl, const std::string& dataDir,
                                     StorageUse use) {
    if (const std::string path = SqlitePath(databaseUrl, dataDir); !path.empty()) {
        return OpenSqliteStorage(path, use);
    }
    if (databaseUrl.rfind("postgresql://", 0) == 0 || databaseUrl.rfind("postgres://", 0) == 0) {
        return OpenPostgresStorage(databaseUrl);
    }
    // Only the kind is named: the rest of an address may hold a password.
    const size_t colon = databaseUrl.find(':');
    const std::string what =
        colon == std::string::npos
            ? std::string("unknown database address")
            : "unknown kind of database '" + databaseUrl.substr(0, colon + 1) + "'";
    throw StorageError(what + " (use sqlite:PATH or postgresql://...)");
}

}  // namespace board
