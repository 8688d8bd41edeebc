// Tests of the controls: the code space and names, the axis and hat windows,
// the any-input scan with its F11/F12 rule, bindings through KeyMap, joystick
// discovery against FIFOs standing in for devices, and the binding cells.
#include "engine/media/joystick.h"
#include "tests/engine/engine_fixture.h"
#include "tests/support/fake_devices.h"
#include "tests/support/wait.h"

using namespace engine;
using media::DrawKind;

namespace {

// How long the reader may take to pass on an event.
constexpr int kStickWaitMs = 5000;
// Raw axis numbers of the fake device (the reader's default mapping; x is 0).
constexpr uint8_t kRawY = 1, kRawHatX = 6, kRawHatY = 7;

class ControlsTest : public zqtest::EngineFixture {};

class ControlsKeyTest : public zqtest::KeyFixture {};

// Joystick tests: one fake device with 25 buttons and a resting y axis.
class ControlsJoystickTest : public zqtest::EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        stick_ = std::make_unique<zqtest::FakeStick>(dir_ / "js0");
        for (uint8_t b = 0; b < 25; ++b)
            stick_->Event(zqtest::kStickButton | zqtest::kStickInit, b, 0);
        stick_->Event(zqtest::kStickAxis | zqtest::kStickInit, kRawY,
                      static_cast<int16_t>(0.2 * 32767));
        media::SetJoystickPaths({stick_->path()});
    }
    void TearDown() override {
        media::SetJoystickPaths(media::DefaultJoystickPaths());
        EngineFixture::TearDown();
    }
    // Sets the y axis and waits until the reader has taken it.
    void SetY(double value) {
        const auto raw = static_cast<int16_t>(value * 32767);
        stick_->Axis(kRawY, raw);
        const double want = raw / 32767.0;
        ASSERT_TRUE(
            zqtest::WaitFor([&] { return media::JoyAxis(0, media::JOY_Y) == want; }, kStickWaitMs));
    }
    void SetHat(int dx, int dy) {
        stick_->Axis(kRawHatX, static_cast<int16_t>(dx * 32767));
        stick_->Axis(kRawHatY, static_cast<int16_t>(dy * 32767));
        double want = dx == 0 && dy == 0 ? -1.0 : (dy < 0 ? 0.0 : 0.5);
        if (dy == 0) want = dx > 0 ? 0.25 : 0.75;
        if (dx == 0 && dy == 0) want = -1.0;
        ASSERT_TRUE(zqtest::WaitFor([&] { return media::JoyAxis(0, media::JOY_HAT) == want; },
                                    kStickWaitMs));
    }
    void SetButton(uint8_t b, bool down) {
        stick_->Button(b, down);
        ASSERT_TRUE(
            zqtest::WaitFor([&] { return media::JoyDown(b, 0) == (down ? 1 : 0); }, kStickWaitMs));
    }

    zqtest::TempDir dir_;
    std::unique_ptr<zqtest::FakeStick> stick_;
};

}  // namespace

TEST_F(ControlsTest, KeyNamesOfTheTable) {
    EXPECT_EQ(KeyName(1), "Left Mousebutton");
    EXPECT_EQ(KeyName(3), "Middle Mousebutton");
    EXPECT_EQ(KeyName(8), "Backspace");
    EXPECT_EQ(KeyName(13), "Return");
    EXPECT_EQ(KeyName(32), "Space");
    EXPECT_EQ(KeyName(33), "Page Up");
    EXPECT_EQ(KeyName(40), "Down");
    EXPECT_EQ(KeyName(46), "Delete");
    EXPECT_EQ(KeyName(48), "0");
    EXPECT_EQ(KeyName(90), "Z");
    EXPECT_EQ(KeyName(96), "0");
    EXPECT_EQ(KeyName(105), "9");
    EXPECT_EQ(KeyName(109), "-");
    EXPECT_EQ(KeyName(112), "F1");
    EXPECT_EQ(KeyName(123), "F12");
    EXPECT_EQ(KeyName(145), "ScrollLock");
    EXPECT_EQ(KeyName(160), "LShift");
    EXPECT_EQ(KeyName(165), "RAlt");
    EXPECT_EQ(KeyName(175), "Volume Up");
    EXPECT_EQ(KeyName(186), ";");
    EXPECT_EQ(KeyName(192), "'");
    EXPECT_EQ(KeyName(219), "[");
    EXPECT_EQ(KeyName(220), "\\");
    EXPECT_EQ(KeyName(223), "`");
    EXPECT_EQ(KeyName(226), "\\");
}

TEST_F(ControlsTest, OtherCodesAreNamedBySubCode) {
    EXPECT_EQ(KeyName(300), "Y-");
    EXPECT_EQ(KeyName(351), "Y+");
    EXPECT_EQ(KeyName(311), "R+");
    EXPECT_EQ(KeyName(320), "Up");
    EXPECT_EQ(KeyName(323), "Left");
    EXPECT_EQ(KeyName(325), "Right");
    EXPECT_EQ(KeyName(328), "Down");
    EXPECT_EQ(KeyName(330), "0");
    EXPECT_EQ(KeyName(345), "15");
    // Unlisted keyboard codes fall through to the same rule.
    EXPECT_EQ(KeyName(10), "R-");
    EXPECT_EQ(KeyName(47), "17");
}

TEST_F(ControlsTest, AxisDeadZoneIsMeasuredFromTheRestValue) {
    EXPECT_TRUE(AxisPastRest(0, 0.2 - 0.31, 0.2));
    EXPECT_FALSE(AxisPastRest(0, 0.2 - 0.29, 0.2));
    EXPECT_FALSE(AxisPastRest(0, 0.2 + 0.5, 0.2));
    EXPECT_TRUE(AxisPastRest(1, 0.2 + 0.31, 0.2));
    EXPECT_FALSE(AxisPastRest(1, 0.2 + 0.29, 0.2));
    EXPECT_TRUE(AxisPastRest(11, -0.5 + 0.31, -0.5));
}

TEST_F(ControlsTest, HatWindowsOverlapForDiagonals) {
    EXPECT_TRUE(HatInWindow(20, 0.9));
    EXPECT_TRUE(HatInWindow(20, 0.1));
    EXPECT_TRUE(HatInWindow(20, 0.0));
    EXPECT_FALSE(HatInWindow(20, -1.0));
    EXPECT_FALSE(HatInWindow(20, 0.5));
    EXPECT_TRUE(HatInWindow(25, 0.35));
    EXPECT_TRUE(HatInWindow(28, 0.35));
    EXPECT_FALSE(HatInWindow(23, 0.35));
    EXPECT_TRUE(HatInWindow(23, 0.75));
    EXPECT_FALSE(HatInWindow(25, -1.0));
    EXPECT_FALSE(HatInWindow(28, -1.0));
    EXPECT_FALSE(HatInWindow(23, -1.0));
    EXPECT_FALSE(HatInWindow(21, 0.25));
}

TEST_F(ControlsTest, CodesWithoutAnInputAreNeverActive) {
    for (int code : {0, 1, 5, 9, 255, 299, -4, 1000, 312, 321}) {
        EXPECT_EQ(InputDown(code), 0) << code;
    }
    EXPECT_EQ(ScanInput(), 0);
    EXPECT_EQ(ActionDown(0, 9), 0);  // a slot past the table
}

TEST_F(ControlsKeyTest, KeysAreActiveWhileHeldAndBindingsFollowKeyMap) {
    zqtest::SendKey(XK_a, true);
    EXPECT_EQ(InputDown(65), 1);
    KeyMap[20 + 10] = 65;  // port 2, button 10
    EXPECT_EQ(ActionDown(10, 2), 1);
    EXPECT_EQ(ActionDown(10, 1), 0);  // default Z
    zqtest::SendKey(XK_a, false);
    EXPECT_EQ(InputDown(65), 0);
    EXPECT_EQ(ActionDown(10, 2), 0);

    zqtest::SendKey(XK_Up, true);
    EXPECT_EQ(ActionDown(0, 1), 1);  // default binding: cursor up
    zqtest::SendKey(XK_Up, false);

    zqtest::SendKey(XK_BackSpace, true);
    EXPECT_EQ(InputDown(8), 0);  // codes below 10 never fire
    zqtest::SendKey(XK_BackSpace, false);
}

TEST_F(ControlsKeyTest, ScanFindsTheLowestHeldKeyButNeverWithF11OrF12) {
    zqtest::SendKey(XK_z, true);
    zqtest::SendKey(XK_a, true);
    EXPECT_EQ(ScanInput(), 65);
    zqtest::SendKey(XK_F12, true);
    EXPECT_EQ(ScanInput(), 0);
    zqtest::SendKey(XK_F12, false);
    zqtest::SendKey(XK_F11, true);
    EXPECT_EQ(ScanInput(), 0);
    zqtest::SendKey(XK_F11, false);
    zqtest::SendKey(XK_a, false);
    EXPECT_EQ(ScanInput(), 90);
    zqtest::SendKey(XK_z, false);
    EXPECT_EQ(ScanInput(), 0);
}

TEST_F(ControlsJoystickTest, DiscoveryRecordsRestPositionsAndTheHat) {
    DiscoverJoysticks();
    ASSERT_EQ(JoyPorts, 1);
    EXPECT_EQ(JoyNames[1], "Joystick 1");
    EXPECT_EQ(JoyButtonMasks[1], (1 << 25) - 1);
    EXPECT_NEAR(RestY[1], 0.2, 1e-4);
    EXPECT_EQ(RestX[1], 0.0);
    EXPECT_EQ(JoyEnabled[1], 1);
    EXPECT_EQ(HatUsable[1], 1);
}

TEST_F(ControlsJoystickTest, AxisCodesTestAgainstTheRestValue) {
    DiscoverJoysticks();
    double rest = RestY[1];
    SetY(rest - 0.31);
    EXPECT_EQ(InputDown(300), 1);
    EXPECT_EQ(InputDown(301), 0);
    EXPECT_EQ(ScanInput(), 300);
    SetY(rest - 0.29);
    EXPECT_EQ(InputDown(300), 0);
    EXPECT_EQ(ScanInput(), 0);
    SetY(rest + 0.31);
    EXPECT_EQ(InputDown(301), 1);
    EXPECT_EQ(ScanInput(), 301);
    // Port 2 has no device.
    EXPECT_EQ(InputDown(351), 0);
}

TEST_F(ControlsJoystickTest, ButtonsAndHatAndTheDisabledPort) {
    DiscoverJoysticks();
    SetButton(0, true);
    EXPECT_EQ(InputDown(330), 1);
    EXPECT_EQ(ScanInput(), 330);
    SetButton(0, false);
    SetButton(18, true);
    EXPECT_EQ(ScanInput(), 348);
    SetButton(18, false);
    SetButton(19, true);
    EXPECT_EQ(InputDown(349), 1);
    EXPECT_EQ(ScanInput(), 0);  // buttons above 18 are never captured
    SetButton(19, false);

    SetHat(0, -1);  // up
    EXPECT_EQ(InputDown(320), 1);
    EXPECT_EQ(InputDown(328), 0);
    EXPECT_EQ(ScanInput(), 320);
    SetHat(1, 0);  // right
    EXPECT_EQ(ScanInput(), 325);

    JoyEnabled[1] = 0;
    EXPECT_EQ(InputDown(325), 0);
    EXPECT_EQ(ScanInput(), 0);
    JoyEnabled[1] = 1;
    HatUsable[1] = 0;
    EXPECT_EQ(InputDown(325), 0);
    EXPECT_EQ(ScanInput(), 0);
}

TEST_F(ControlsJoystickTest, HatNotCentredAtStartIsNotUsable) {
    stick_->Event(zqtest::kStickAxis | zqtest::kStickInit, kRawHatX, 32767);
    DiscoverJoysticks();
    ASSERT_EQ(JoyPorts, 1);
    EXPECT_EQ(HatUsable[1], 0);
    EXPECT_EQ(InputDown(325), 0);
}

namespace {

class BindingWidgetTest : public zqtest::KeyFixture {
  protected:
    void SetUp() override {
        KeyFixture::SetUp();
        if (IsSkipped()) return;
        OpenWindow();
        IconsSharpImage = Sheet(64);
        IconsImage = Sheet(64);
        PointerX = 124;
        PointerY = 124;
    }
};

}  // namespace

TEST_F(BindingWidgetTest, HoveringWhileTheStripIsOpenRebindsAndBackspaceClears) {
    const int slot = 13;
    zqtest::SendKey(XK_a, true);
    BindingWidget(slot, 100, 100, -12);  // panel still sliding: no capture
    EXPECT_EQ(KeyMap[slot], 86);
    BindingWidget(slot, 100, 100, 0);
    EXPECT_EQ(KeyMap[slot], 65);
    zqtest::SendKey(XK_a, false);
    zqtest::SendKey(XK_BackSpace, true);
    BindingWidget(slot, 100, 100, 20);
    EXPECT_EQ(KeyMap[slot], 0);
    zqtest::SendKey(XK_BackSpace, false);
    zqtest::SendKey(XK_Tab, true);
    BindingWidget(slot, 100, 100, 20);
    EXPECT_EQ(KeyMap[slot], 9);
    zqtest::SendKey(XK_Tab, false);

    // Outside the cell nothing is captured.
    zqtest::SendKey(XK_b, true);
    BindingWidget(slot, 200, 100, 20);
    EXPECT_EQ(KeyMap[slot], 9);
    zqtest::SendKey(XK_b, false);
}

TEST_F(BindingWidgetTest, CellDrawsIconGlowAndLabel) {
    KeyMap[0] = 0;
    PointerX = PointerY = 0;
    BindingWidget(0, 100, 100, 20);
    auto images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].frame, 3);
    EXPECT_FLOAT_EQ(images[0].state.tform_scale_x, 3);
    EXPECT_FLOAT_EQ(images[1].state.color_alpha, 0);  // idle: no glow
    auto texts = rec_->OfKind(DrawKind::Text);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "?!");
    EXPECT_FLOAT_EQ(texts[0].state.tform_scale_x, 1);

    rec_->Clear();
    KeyMap[0] = 320;  // hat: label on the corner
    BindingWidget(0, 100, 100, 20);
    images = rec_->OfKind(DrawKind::Image);
    ASSERT_EQ(images.size(), 2u);
    EXPECT_EQ(images[0].frame, 8);
    texts = rec_->OfKind(DrawKind::Text);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "Up");
    int w = media::TextWidth("Up");
    EXPECT_FLOAT_EQ(texts[0].x, 100 - w / 2);

    rec_->Clear();
    KeyMap[0] = 302;
    BindingWidget(0, 100, 100, 20);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image)[0].frame, 9);
    rec_->Clear();
    KeyMap[0] = 331;
    BindingWidget(0, 100, 100, 20);
    EXPECT_EQ(rec_->OfKind(DrawKind::Image)[0].frame, 10);
    EXPECT_EQ(rec_->OfKind(DrawKind::Text)[0].text, "1");

    // A held key lights its cell.
    rec_->Clear();
    KeyMap[0] = 65;
    zqtest::SendKey(XK_a, true);
    BindingWidget(0, 100, 100, 20);
    zqtest::SendKey(XK_a, false);
    EXPECT_FLOAT_EQ(rec_->OfKind(DrawKind::Image)[1].state.color_alpha, 1);
}

TEST_F(BindingWidgetTest, GridDrawsEightColouredCellsPerPort) {
    PointerX = PointerY = 0;
    DrawControlGrid(20);
    auto texts = rec_->OfKind(DrawKind::Text);
    ASSERT_EQ(texts.size(), 32u);
    // Port 1's up cell is first: label centred on (250 + 50 + 24, 20 + 10 + 24).
    EXPECT_EQ(texts[0].text, "Up");
    EXPECT_FLOAT_EQ(texts[0].x, 324 - media::TextWidth("Up") / 2);
    EXPECT_EQ(texts[0].state.color_green, 255);
    // Port 1's control 13 cell is yellow, port 4's lies at (650, 180).
    EXPECT_EQ(texts[4].text, "V");
    EXPECT_EQ(texts[4].state.color_red, 255);
    EXPECT_EQ(texts[4].state.color_blue, 80);
    EXPECT_EQ(texts[24].text, "?!");
    EXPECT_FLOAT_EQ(texts[24].x, 650 + 50 + 24 - media::TextWidth("?!") / 2);
}
