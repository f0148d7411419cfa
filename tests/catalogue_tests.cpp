#include <gtest/gtest.h>

#include "settings/catalogue.h"
#include "support.h"

namespace {

struct CatalogueCase
{
    const char *name;
    std::vector<Resolution> modes;
    int failingIndex;
    std::vector<std::string> labels;
};

const CatalogueCase kCatalogueCases[] =
{
    { "depths and rates of one resolution",
      { { 640, 480, 8, 60 }, { 640, 480, 16, 60 }, { 640, 480, 32, 60 }, { 640, 480, 8, 75 }, { 640, 480, 32, 75 } },
      -1, { "640 x 480" } },
    { "first-seen order, not sorted",
      { { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 800, 600, 16, 60 }, { 1024, 768, 32, 60 } },
      -1, { "800 x 600", "640 x 480", "1024 x 768" } },
    { "width alone does not merge",
      { { 640, 480, 32, 60 }, { 640, 400, 32, 60 } }, -1, { "640 x 480", "640 x 400" } },
    { "failing call drops only that mode",
      { { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 } }, 1, { "800 x 600", "1024 x 768" } },
    { "failing call of a repeated resolution keeps the other",
      { { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 640, 480, 16, 60 } }, 1, { "800 x 600", "640 x 480" } },
    { "first mode failing in the second pass",
      { { 800, 600, 32, 60 }, { 640, 480, 32, 60 } }, 0, { "640 x 480" } },
};

TEST(Catalogue, BuildsDistinctResolutionsInFirstSeenOrder)
{
    for (const CatalogueCase &c : kCatalogueCases)
    {
        SCOPED_TRACE(c.name);
        UseCatalogue(c.modes, c.failingIndex);
        ASSERT_EQ((int)c.labels.size(), g_catalogue.count);
        for (int i = 0; i < g_catalogue.count; i++)
        {
            EXPECT_STREQ(c.labels[i].c_str(), g_catalogue.labels[i]) << "entry " << i;
            // A label's allocation is exactly its text and terminator.
            EXPECT_EQ(c.labels[i].size() + 1, HeapSize(GetProcessHeap(), 0, g_catalogue.labels[i]));
        }
        // Both arrays have room for every mode the platform reported, duplicates included.
        EXPECT_EQ(c.modes.size() * sizeof(char *), HeapSize(GetProcessHeap(), 0, g_catalogue.labels));
        EXPECT_EQ(c.modes.size() * sizeof(DEVMODEA), HeapSize(GetProcessHeap(), 0, g_catalogue.modes));
    }
}

TEST(Catalogue, KeepsTheWholeRecordOfTheFirstModeSeen)
{
    UseCatalogue({ { 640, 480, 16, 75 }, { 640, 480, 32, 60 }, { 800, 600, 8, 85 } });
    ASSERT_EQ(2, g_catalogue.count);
    EXPECT_EQ(156u, sizeof(DEVMODEA));
    EXPECT_EQ(sizeof(DEVMODEA), g_catalogue.modes[0].dmSize);
    EXPECT_EQ(640u, g_catalogue.modes[0].dmPelsWidth);
    EXPECT_EQ(480u, g_catalogue.modes[0].dmPelsHeight);
    EXPECT_EQ(16u, g_catalogue.modes[0].dmBitsPerPel);
    EXPECT_EQ(75u, g_catalogue.modes[0].dmDisplayFrequency);
    EXPECT_EQ(85u, g_catalogue.modes[1].dmDisplayFrequency);
}

TEST(Catalogue, NoModeAtIndexZeroAllocatesNothing)
{
    UseCatalogue({});
    EXPECT_EQ(0, g_catalogue.count);
    EXPECT_TRUE(g_catalogue.labels == NULL);
    EXPECT_TRUE(g_catalogue.modes == NULL);
    EXPECT_EQ(-1, FindResolutionLabel("640 x 480"));
}

TEST(Catalogue, FindsLabelsByExactTextOnly)
{
    UseCatalogue({ { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1280, 1024, 32, 60 } });
    const struct { const char *text; int index; } cases[] =
    {
        { "800 x 600", 0 }, { "640 x 480", 1 }, { "1280 x 1024", 2 },
        { "640x480", -1 }, { "640 x 480 ", -1 }, { " 640 x 480", -1 }, { "0640 x 480", -1 },
        { "1024 x 768", -1 }, { "", -1 },
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.index, FindResolutionLabel(c.text)) << "\"" << c.text << "\"";
}

TEST(Catalogue, TheRealDisplayOffersAtLeastOneResolution)
{
    ForgetCatalogue();
    BuildDisplayModeCatalogue();
    ASSERT_GT(g_catalogue.count, 0);
    DEVMODEA current = {};
    current.dmSize = sizeof(current);
    ASSERT_TRUE(EnumDisplaySettingsA(NULL, ENUM_CURRENT_SETTINGS, &current));
    char label[32];
    wsprintfA(label, "%d x %d", (int)current.dmPelsWidth, (int)current.dmPelsHeight);
    EXPECT_GE(FindResolutionLabel(label), 0) << label;
}

} // namespace
