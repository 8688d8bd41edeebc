// Shared set-up of the front-end and closing-screen tests: key events, the
// recording window, a folder laid out as the program's with the current
// directory in the game folder and the log open in Files/, and the built-in
// font in every font slot.
#pragma once

#include <sys/stat.h>

#include "engine/graphics_setup.h"
#include "engine/log.h"
#include "engine/media/folders.h"
#include "tests/engine/engine_fixture.h"

namespace zqtest {

class ScreenFixture : public KeyFixture {
  protected:
    void SetUp() override {
        KeyFixture::SetUp();
        if (IsSkipped()) return;
        ASSERT_TRUE(media::ChangeDir(dir_.path()));
        ASSERT_EQ(::mkdir("274", 0700), 0);
        ASSERT_TRUE(engine::OpenLog(dir_ / "Debug.txt"));
        ASSERT_TRUE(media::ChangeDir("274/"));
        OpenWindow();
        for (auto& font : engine::UIFonts) font = media::DefaultImageFont();
        for (auto& font : engine::FontGrid) font = media::DefaultImageFont();
    }

    TempDir dir_;
    CwdGuard cwd_;
};

}  // namespace zqtest
