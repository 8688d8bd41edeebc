// The shared fixture of the board's end-to-end tests: a real zarquill-board
// on a free loopback port in a temporary folder, and replays crafted from the
// checked-in ones.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "engine/media/binary_files.h"
#include "game/game_loop.h"
#include "game/replay.h"
#include "game/replay_file.h"
#include "game/replay_verify.h"
#include "tests/support/board_harness.h"
#include "tests/support/postgres_cluster.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace zqtest {

// Returns a checked-in replay, decoded.
inline game::Replay GoldenReplay(const std::string& golden) {
    game::Replay replay;
    std::string error;
    EXPECT_TRUE(game::DecodeReplay(GoldenReplayBytes(golden), replay, error)) << error;
    return replay;
}

// Returns a checked-in replay after edit changed it, coded again.
inline std::string CraftReplay(const std::string& golden,
                               const std::function<void(game::Replay&)>& edit) {
    game::Replay replay = GoldenReplay(golden);
    edit(replay);
    const std::string bytes = game::EncodeReplay(replay);
    EXPECT_FALSE(bytes.empty()) << "could not code the crafted replay";
    return bytes;
}

// Returns a checked-in replay whose header claims `frames` steps, its file
// check value made good again: only a reader that trusts the header first
// sees the claim (the steps, unpacked, no longer match it).
inline std::string WithHeaderFrames(const std::string& golden, uint32_t frames) {
    std::string bytes = GoldenReplayBytes(golden);
    // Magic, format version, version length and text, difficulty, size, two flags.
    const size_t at = 8 + 4 + 1 + static_cast<uint8_t>(bytes.at(12)) + 1 + 2 + 2 + 1 + 1;
    const auto put = [&bytes](size_t pos, uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.at(pos + i) = static_cast<char>(v >> (8 * i));
    };
    put(at, frames);
    put(bytes.size() - 4, media::Crc32(std::string_view(bytes).substr(0, bytes.size() - 4)));
    return bytes;
}

// Returns a replay as the game records the steps it holds (see game::RecordAgain).
inline game::Replay Replayed(game::Replay replay) {
    return game::RecordAgain(std::move(replay));
}

// Plays a replay otherwise from step `from` on (the pointer moved by shift
// logical pixels) and re-simulates it.
inline void PlayOtherwise(game::Replay& replay, int shift, size_t from = 0) {
    for (size_t i = from; i < replay.steps.size(); ++i) replay.steps[i].pointerX += shift;
    replay = Replayed(std::move(replay));
}

// Returns a checked-in run played otherwise from its first second on: a game of its own.
inline std::string AnotherGame(const std::string& golden, int shift) {
    return CraftReplay(golden, [shift](game::Replay& r) { PlayOtherwise(r, shift); });
}

// Returns a reply's body as JSON (null when it is none).
inline nlohmann::json JsonOf(const HttpReply& reply) {
    return nlohmann::json::parse(reply.body, nullptr, false);
}

// Where a test's server keeps its runs.
enum class BoardBackend { Sqlite, Postgres };

// Names the backend in test listings.
inline void PrintTo(BoardBackend backend, std::ostream* out) {
    *out << (backend == BoardBackend::Sqlite ? "Sqlite" : "Postgres");
}

// A server on SQLite in its data folder, or on a new database of the
// process's PostgreSQL cluster (a skip without PostgreSQL, a failure under CI).
class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_unique<BoardServer>(dir / "data");
        if (backend == BoardBackend::Postgres) {
            ZQ_REQUIRE_POSTGRES(SharedPostgres());
            const std::string url = SharedPostgres().CreateDatabase();
            ASSERT_FALSE(url.empty()) << SharedPostgres().Error();
            server->UseDatabase(url);
        }
        ASSERT_TRUE(server->Start()) << server->Log();
    }
    void TearDown() override {
        // A test skipped for want of PostgreSQL started no server.
        if (server && server->Pid() > 0) {
            EXPECT_EQ(server->Stop(), 0) << server->Log();
        }
    }

    // Submits and returns the run's id (0 when not accepted with 202 or 200).
    long long SubmitOk(const std::string& bytes, const std::string& token) {
        const HttpReply reply = server->Submit(bytes, token);
        EXPECT_TRUE(reply.status == 202 || reply.status == 200) << reply.status << reply.body;
        const auto j = JsonOf(reply);
        return j.is_object() && j.contains("id") ? j["id"].get<long long>() : 0;
    }

    BoardBackend backend = BoardBackend::Sqlite;
    TempDir dir;
    std::unique_ptr<BoardServer> server;
};

// The same server tests on each backend (instantiated in api_test.cpp).
class BoardBackendTest : public BoardTest, public ::testing::WithParamInterface<BoardBackend> {
  protected:
    BoardBackendTest() { backend = GetParam(); }
};

}  // namespace zqtest
