// Checks the joystick subsystem against FIFOs that stand in for devices:
// initial-state events seen before JoyCount returns, full-range axis values,
// the hat, split records, a device that disappears, duplicate paths, and that
// a reset stops readers that are waiting for events.
#include "engine/media/joystick.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/joystick.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/fake_devices.h"
#include "tests/support/temp_dir.h"
#include "tests/support/wait.h"

namespace {

// How long the reader may take to pass on an event.
constexpr int kWaitMs = 5000;

using zqtest::FakeStick;

class JoystickReaderTest : public ::testing::Test {
  protected:
    void TearDown() override { media::SetJoystickPaths(media::DefaultJoystickPaths()); }

    // Marks the end of a batch with a press of button 40 and waits until the
    // reader has applied it (and so everything written before it).
    void Sync(FakeStick& stick, int port = 0) {
        stick.Button(40, true);
        ASSERT_TRUE(zqtest::WaitFor([&] { return media::JoyDown(40, port) == 1; }, kWaitMs));
        stick.Button(40, false);
        ASSERT_TRUE(zqtest::WaitFor([&] { return media::JoyDown(40, port) == 0; }, kWaitMs));
    }

    zqtest::TempDir dir_;
};

TEST_F(JoystickReaderTest, InitialStateIsReadBeforeJoyCountReturns) {
    FakeStick stick(dir_ / "js0");
    stick.Event(JS_EVENT_AXIS | JS_EVENT_INIT, 0, 16384);
    stick.Event(JS_EVENT_AXIS | JS_EVENT_INIT, 1, -8192);
    stick.Event(JS_EVENT_BUTTON | JS_EVENT_INIT, 0, 0);
    stick.Event(JS_EVENT_BUTTON | JS_EVENT_INIT, 1, 1);
    stick.Event(JS_EVENT_BUTTON | JS_EVENT_INIT, 2, 0);
    media::SetJoystickPaths({stick.path()});

    ASSERT_EQ(media::JoyCount(), 1);
    // No waiting: start-up takes its rest positions right after JoyCount.
    EXPECT_NEAR(media::JoyAxis(0, media::JOY_X), 16384 / 32767.0, 1e-9);
    EXPECT_NEAR(media::JoyAxis(0, media::JOY_Y), -8192 / 32767.0, 1e-9);
    EXPECT_EQ(media::JoyDown(0, 0), 0);
    EXPECT_EQ(media::JoyDown(1, 0), 1);
    // A FIFO answers no driver queries: the buttons seen give the mask.
    EXPECT_EQ(media::JoyButtonMask(0), 0b111);
    EXPECT_EQ(media::JoyName(0), "Joystick 1");
    EXPECT_EQ(media::JoyAxis(0, media::JOY_HAT), -1.0);
}

// Returns the ids of this process's threads.
std::set<std::string> ThreadIds() {
    std::set<std::string> ids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        ids.insert(entry.path().filename().string());
    }
    return ids;
}

// Returns a thread's blocked-signal mask as the kernel reports it.
unsigned long long BlockedSignals(const std::string& tid) {
    std::ifstream status("/proc/self/task/" + tid + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigBlk:", 0) == 0) return std::stoull(line.substr(7), nullptr, 16);
    }
    return 0;
}

TEST_F(JoystickReaderTest, ReaderThreadsLeaveTerminateSignalsToTheMainThread) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    const std::set<std::string> before = ThreadIds();
    ASSERT_EQ(media::JoyCount(), 1);
    int readers = 0;
    for (const std::string& tid : ThreadIds()) {
        if (before.count(tid)) continue;
        ++readers;
        const unsigned long long mask = BlockedSignals(tid);
        for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
            EXPECT_TRUE(mask & (1ULL << (sig - 1))) << "signal " << sig;
        }
    }
    EXPECT_EQ(readers, 1);
    // The thread that started them still takes the signals.
    const unsigned long long own = BlockedSignals(std::to_string(::gettid()));
    EXPECT_FALSE(own & (1ULL << (SIGTERM - 1)));
}

TEST_F(JoystickReaderTest, AxesCoverTheFullRangeAndClamp) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    ASSERT_EQ(media::JoyCount(), 1);

    const int axes[] = {media::JOY_X, media::JOY_Y, media::JOY_Z,
                        media::JOY_R, media::JOY_U, media::JOY_V};
    for (int16_t raw : {int16_t{32767}, int16_t{-32767}, int16_t{-32768}, int16_t{0}, int16_t{1},
                        int16_t{-16384}}) {
        for (int axis : axes) stick.Axis(static_cast<uint8_t>(axis), raw);
        Sync(stick);
        double expected = raw == -32768 ? -1.0 : raw / 32767.0;
        for (int axis : axes) {
            EXPECT_NEAR(media::JoyAxis(0, axis), expected, 1e-9)
                << "axis " << axis << " raw " << raw;
        }
    }
    // Each event number lands on its own axis.
    for (int axis : axes) stick.Axis(static_cast<uint8_t>(axis), static_cast<int16_t>(1000 * axis));
    Sync(stick);
    for (int axis : axes) EXPECT_NEAR(media::JoyAxis(0, axis), 1000 * axis / 32767.0, 1e-9);
}

TEST_F(JoystickReaderTest, HatReadsDirectionsFromItsTwoAxes) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    ASSERT_EQ(media::JoyCount(), 1);

    struct Case {
        int16_t x, y;
        double hat;
    };
    const Case cases[] = {
        {0, 0, -1.0},           {0, -32767, 0.0},      {32767, -32767, 0.125},
        {32767, 0, 0.25},       {32767, 32767, 0.375}, {0, 32767, 0.5},
        {-32767, 32767, 0.625}, {-32767, 0, 0.75},     {-32767, -32767, 0.875},
        {1000, -1000, -1.0},  // small deflections are centred
    };
    for (const Case& c : cases) {
        stick.Axis(6, c.x);
        stick.Axis(7, c.y);
        Sync(stick);
        EXPECT_EQ(media::JoyAxis(0, media::JOY_HAT), c.hat) << c.x << "," << c.y;
    }
}

TEST_F(JoystickReaderTest, ButtonsFollowPressAndReleaseAndGrowTheMask) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    ASSERT_EQ(media::JoyCount(), 1);

    stick.Button(3, true);
    stick.Button(63, true);
    stick.Button(64, true);
    Sync(stick);
    EXPECT_EQ(media::JoyDown(3, 0), 1);
    EXPECT_EQ(media::JoyDown(63, 0), 1);
    EXPECT_EQ(media::JoyDown(64, 0), 1);
    EXPECT_EQ(media::JoyDown(2, 0), 0);
    stick.Button(3, false);
    Sync(stick);
    EXPECT_EQ(media::JoyDown(3, 0), 0);
    EXPECT_EQ(media::JoyDown(64, 0), 1);
    // Buttons numbered past 30 saturate the mask instead of overflowing it.
    EXPECT_EQ(media::JoyButtonMask(0), 0x7fffffff);
}

TEST_F(JoystickReaderTest, RecordSplitAcrossWritesIsAppliedOnceWhole) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    ASSERT_EQ(media::JoyCount(), 1);

    js_event event{0, 32767, JS_EVENT_AXIS, 0};
    const auto* bytes = reinterpret_cast<const unsigned char*>(&event);
    stick.WriteBytes(bytes, 3);
    stick.WriteBytes(bytes + 3, sizeof event - 3);
    Sync(stick);
    EXPECT_EQ(media::JoyAxis(0, media::JOY_X), 1.0);
    // The records after the split one still line up.
    EXPECT_EQ(media::JoyDown(40, 0), 0);
    EXPECT_EQ(media::JoyAxis(0, media::JOY_Y), 0.0);
}

TEST_F(JoystickReaderTest, DeviceThatDisappearsReleasesEverythingButKeepsItsPort) {
    FakeStick first(dir_ / "js0");
    FakeStick second(dir_ / "js1");
    media::SetJoystickPaths({first.path(), second.path()});
    ASSERT_EQ(media::JoyCount(), 2);

    first.Button(5, true);
    first.Axis(0, -32767);
    first.Axis(6, 32767);
    Sync(first);
    second.Button(1, true);
    Sync(second, 1);
    ASSERT_EQ(media::JoyDown(5, 0), 1);

    first.Unplug();
    EXPECT_TRUE(zqtest::WaitFor([] { return media::JoyDown(5, 0) == 0; }, kWaitMs));
    EXPECT_TRUE(zqtest::WaitFor([] { return media::JoyAxis(0, media::JOY_X) == 0.0; }, kWaitMs));
    EXPECT_TRUE(zqtest::WaitFor([] { return media::JoyAxis(0, media::JOY_HAT) == -1.0; }, kWaitMs));
    EXPECT_EQ(media::JoyCount(), 2);
    EXPECT_EQ(media::JoyName(0), "Joystick 1");
    // The other device is untouched and still read.
    EXPECT_EQ(media::JoyDown(1, 1), 1);
    second.Button(2, true);
    Sync(second, 1);
    EXPECT_EQ(media::JoyDown(2, 1), 1);
}

TEST_F(JoystickReaderTest, DiscoveryCountsEachDeviceOnceInPathOrder) {
    FakeStick a(dir_ / "a");
    FakeStick b(dir_ / "b");
    ASSERT_EQ(::symlink(a.path().c_str(), (dir_ / "a_link").c_str()), 0);
    ASSERT_EQ(::link(b.path().c_str(), (dir_ / "b_hard").c_str()), 0);
    media::SetJoystickPaths({dir_ / "missing", b.path(), dir_ / "a_link", a.path(), dir_ / "b_hard",
                             dir_ / "also_missing"});
    ASSERT_EQ(media::JoyCount(), 2);
    EXPECT_EQ(media::JoyName(0), "Joystick 1");
    EXPECT_EQ(media::JoyName(1), "Joystick 2");
    // Port 0 is b (found first), port 1 is a through its link.
    b.Button(7, true);
    Sync(b, 0);
    a.Button(8, true);
    Sync(a, 1);
    EXPECT_EQ(media::JoyDown(7, 0), 1);
    EXPECT_EQ(media::JoyDown(8, 1), 1);
    EXPECT_EQ(media::JoyDown(8, 0), 0);
}

TEST_F(JoystickReaderTest, CountIsFixedAfterTheFirstCallUntilReset) {
    media::SetJoystickPaths({dir_ / "js0", dir_ / "js1"});
    EXPECT_EQ(media::JoyCount(), 0);
    FakeStick late(dir_ / "js0");
    EXPECT_EQ(media::JoyCount(), 0);  // plugged in later: not seen
    media::ResetJoysticks();
    EXPECT_EQ(media::JoyCount(), 1);
    EXPECT_EQ(media::JoyCount(), 1);
}

TEST_F(JoystickReaderTest, ResetStopsReadersWaitingForEvents) {
    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(media::JoyCount(), 1);
        stick.Button(1, true);
        Sync(stick);
        EXPECT_EQ(media::JoyDown(1, 0), 1);
        // The reader is now blocked waiting; a reset must still return.
        media::ResetJoysticks();
        EXPECT_EQ(media::JoyDown(1, 0), 0);  // no port any more
        EXPECT_EQ(media::JoyName(0), "");
    }
}

TEST_F(JoystickReaderTest, UnknownPortsAndInputsReadIdle) {
    media::SetJoystickPaths({});
    EXPECT_EQ(media::JoyCount(), 0);
    EXPECT_EQ(media::JoyName(0), "");
    EXPECT_EQ(media::JoyButtonMask(-1), 0);
    EXPECT_EQ(media::JoyDown(0, 3), 0);
    EXPECT_EQ(media::JoyAxis(0, media::JOY_X), 0.0);
    EXPECT_EQ(media::JoyAxis(7, media::JOY_HAT), -1.0);

    FakeStick stick(dir_ / "js0");
    media::SetJoystickPaths({stick.path()});
    ASSERT_EQ(media::JoyCount(), 1);
    EXPECT_EQ(media::JoyDown(-1, 0), 0);
    EXPECT_EQ(media::JoyDown(256, 0), 0);
    EXPECT_EQ(media::JoyAxis(0, 99), 0.0);
    EXPECT_EQ(media::JoyAxis(0, -1), 0.0);
}

TEST(JoystickPathsTest, ProbesTodaysAndTheOlderDeviceNames) {
    auto paths = media::DefaultJoystickPaths();
    ASSERT_EQ(paths.size(), 16u);
    EXPECT_EQ(paths[0], "/dev/input/js0");
    EXPECT_EQ(paths[1], "/dev/js0");
    EXPECT_EQ(paths[15], "/dev/js7");
}

}  // namespace
