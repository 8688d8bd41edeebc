// The shared fixture of the board's end-to-end tests: a real zarquill-board
// on a free loopback port in a temporary folder, and replays crafted from the
// checked-in ones.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <memory>
#include <string>

#include "game/replay_file.h"
#include "tests/support/board_harness.h"
#include "tests/support/temp_dir.h"

namespace zqtest {

// Returns a checked-in replay after edit changed it, coded again.
inline std::string CraftReplay(const std::string& golden,
                               const std::function<void(game::Replay&)>& edit) {
    game::Replay replay;
    std::string error;
    EXPECT_TRUE(game::DecodeReplay(GoldenReplayBytes(golden), replay, error)) << error;
    edit(replay);
    const std::string bytes = game::EncodeReplay(replay);
    EXPECT_FALSE(bytes.empty()) << "could not code the crafted replay";
    return bytes;
}

// Returns a reply's body as JSON (null when it is none).
inline nlohmann::json JsonOf(const HttpReply& reply) {
    return nlohmann::json::parse(reply.body, nullptr, false);
}

class BoardTest : public ::testing::Test {
  protected:
    void SetUp() override {
        server = std::make_unique<BoardServer>(dir / "data");
        ASSERT_TRUE(server->Start()) << server->Log();
    }
    void TearDown() override {
        if (server) {
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

    TempDir dir;
    std::unique_ptr<BoardServer> server;
};

}  // namespace zqtest
