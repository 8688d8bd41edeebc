// Installs the media layer's desktop part before any test runs, so that unit
// tests see the drivers the game uses. Built into every unit-test program
// (not into the support library, whose unused objects the linker drops).
#include <gtest/gtest.h>

#include "engine/media/desktop/desktop.h"

namespace {

class DesktopEnvironment : public ::testing::Environment {
  public:
    void SetUp() override { media::InstallDesktopMedia(); }
};

const ::testing::Environment* const kDesktop =
    ::testing::AddGlobalTestEnvironment(new DesktopEnvironment);

}  // namespace
