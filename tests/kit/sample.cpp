// Not a test of the setup: the runner's own tests give the runner a kit holding only this program, which
// has one test of each outcome the runner must tell apart.
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <gtest/gtest.h>

namespace
{

const UINT kEndedAbruptly = 3;

TEST(Sample, Passes)
{
}

TEST(Sample, Fails)
{
    EXPECT_EQ(1, 2) << "the marker of a failure";
}

TEST(Sample, Skips)
{
    GTEST_SKIP() << "the marker of a skip";
}

// Ends the process before GoogleTest can write a result, as a crash would.
TEST(Sample, EndsWithoutAResult)
{
    ExitProcess(kEndedAbruptly);
}

TEST(Sample, DISABLED_NeverRuns)
{
    FAIL() << "a disabled test ran";
}

}  // namespace
