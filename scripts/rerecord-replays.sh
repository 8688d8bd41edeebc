#!/usr/bin/env bash
# Re-records the golden replays in tests/data/replays/ with the scripted player
# of tests/game/scripted_game.h, under the newest rules version. Run it only
# after a deliberate change of the game's rules (the golden replays are there to
# catch accidental ones), which comes with a new rules version so that stored
# runs still verify; check that the new scores make sense, and commit the files
# with that change. The goldens of older rules (rules1/) are never re-recorded.
# The ten-minute Hard game (hard-ten-minutes.zqr, played by the look-ahead
# player of bench/viewer_bench_game.cpp) is made again too: about 20 minutes.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/build.sh
ZQ_RERECORD_REPLAYS=1 build/tests/zq_game_tests --gtest_filter='ReplayGame.GoldenReplays*'
build/bench/zq_viewer_bench_game tests/data/replays/hard-ten-minutes.zqr
git status --short tests/data/replays/
