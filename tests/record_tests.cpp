#include <gtest/gtest.h>

#include "settings/catalogue.h"
#include "settings/record.h"
#include "support.h"

namespace {

struct ResetCase
{
    const char *name;
    std::vector<Resolution> modes;
    int resolutionIndex;
};

const ResetCase kResetCases[] =
{
    { "640 x 480 offered", { { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 } }, 1 },
    { "640 x 480 not offered", { { 800, 600, 32, 60 }, { 1024, 768, 32, 60 }, { 640, 400, 32, 60 } }, 0 },
    { "empty catalogue", {}, 0 },
};

TEST(Record, ResetGivesTheResetValues)
{
    for (const ResetCase &c : kResetCases)
    {
        SCOPED_TRACE(c.name);
        UseCatalogue(c.modes);
        SetupSettings settings;
        memset(&settings, 0x5A, sizeof(settings));
        ResetSettings(&settings);
        EXPECT_EQ(50, settings.masterVolume);
        EXPECT_EQ(100, settings.effectVolume);
        EXPECT_EQ(100, settings.ambientVolume);
        EXPECT_EQ(100, settings.musicVolume);
        EXPECT_EQ(RENDERER_OPENGL, settings.renderer);
        EXPECT_EQ(DISPLAY_FULLSCREEN, settings.displayMode);
        EXPECT_EQ(c.resolutionIndex, settings.resolutionIndex);
        EXPECT_EQ(1, settings.softwareCursor);
        EXPECT_EQ(0, settings.vsync);
    }
}

TEST(Record, ResetWithoutARecordDoesNothing)
{
    ResetSettings(NULL);
}

} // namespace
