// The kit's runner, started as run-tests.cmd starts it, over a kit that holds only the sample program:
// every outcome is counted and reported with its message, only a run without failures exits with 0, and
// a kit unzipped into a folder named outside the ANSI code page works as well as one in a plain folder.
#include "support.h"

#include <gtest/gtest.h>

#include <string>

namespace
{

// Inside the time CTest gives a test, so that a runner that hangs fails with what it showed.
const DWORD kRunTimeoutMs = 45000;

std::wstring OwnFolderW()
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

struct RunCase
{
    const char *name;
    const wchar_t *folder;      // the kit's folder under a new temporary one
    const char *arguments;
    DWORD exitCode;
    const char *summary;
    const char *const reported[7];  // lines the report must hold, each found in order after the last
};

const RunCase kRunCases[] =
{
    { "EveryOutcome", L"\x041f\x0451\x0442\x0440 kit", "", 1, "tests: 1 passed, 1 skipped, 2 failed",
      { "  passed   kit_sample Sample.Passes",
        "  FAILED   kit_sample Sample.Fails", "the marker of a failure",
        "  SKIPPED  kit_sample Sample.Skips", "             the marker of a skip",
        "  FAILED   kit_sample Sample.EndsWithoutAResult", "ended without a result: exit code 3" } },
    { "OnlyTheChosen", L"plain kit", "--only=Sample.Passes:Sample.Skips", 0, "tests: 1 passed, 1 skipped, 0 failed",
      { "Only:    tests starting with Sample.Passes", "Only:    tests starting with Sample.Skips",
        "  passed   kit_sample Sample.Passes", "  SKIPPED  kit_sample Sample.Skips" } },
};

void PrintTo(const RunCase &c, std::ostream *out)
{
    *out << c.name;
}

class KitRunner : public ::testing::TestWithParam<RunCase>
{
protected:
    void SetUp() override { base = Wide(MakeTempFolder("qv-kit")); }
    void TearDown() override { RemoveTree(base); }

    std::wstring base;
};

std::string LastLine(const std::string &text)
{
    std::vector<std::string> lines = TextLines(text);
    while (!lines.empty() && lines.back().empty())
        lines.pop_back();
    return lines.empty() ? "" : lines.back();
}

TEST_P(KitRunner, CountsAndReportsEveryOutcome)
{
    const RunCase &c = GetParam();
    std::wstring kit = base + L"\\" + c.folder;
    std::wstring bin = kit + L"\\bin";
    ASSERT_TRUE(CreateDirectoryW(kit.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryW(bin.c_str(), NULL));
    for (const wchar_t *program : { L"kit_runner.exe", L"kit_sample.exe" })
        ASSERT_TRUE(CopyFileW((OwnFolderW() + L"\\" + program).c_str(), (bin + L"\\" + program).c_str(), FALSE))
            << "copying " << program;
    WriteText(bin + L"\\tests.txt", std::string("kit_sample\r\n"));

    std::wstring console = base + L"\\console.txt";
    SECURITY_ATTRIBUTES inheritable = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };
    HANDLE output = CreateFileW(console.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0,
                                NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring runner = bin + L"\\kit_runner.exe";
    std::wstring commandLine = L"\"" + runner + L"\" " + Wide(c.arguments);
    BOOL started = CreateProcessW(runner.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL, kit.c_str(), &startup,
                                  &process);
    CloseHandle(output);
    ASSERT_TRUE(started) << "error " << GetLastError();
    CloseHandle(process.hThread);
    bool ended = WaitForSingleObject(process.hProcess, kRunTimeoutMs) == WAIT_OBJECT_0;
    if (!ended)
        TerminateProcess(process.hProcess, 1);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);

    std::string shown = ReadText(console);
    ASSERT_TRUE(ended) << "the runner did not end; it showed:\n" << shown;
    EXPECT_EQ(c.exitCode, code) << shown;
    EXPECT_EQ(c.summary, LastLine(shown)) << shown;
    std::string report = ReadText(kit + L"\\test-report.txt");
    ASSERT_FALSE(report.empty()) << "no test-report.txt beside the runner's folder";
    EXPECT_EQ(c.summary, LastLine(report)) << report;
    EXPECT_NE(std::string::npos, report.find("Windows: ")) << report;
    EXPECT_NE(std::string::npos, report.find("-bit Windows")) << report;
    size_t at = 0;
    for (const char *line : c.reported)
    {
        if (line == NULL)
            break;
        size_t found = report.find(line, at);
        EXPECT_NE(std::string::npos, found) << "missing, or out of order: \"" << line << "\"\n" << report;
        if (found != std::string::npos)
            at = found;
    }
    EXPECT_EQ(std::string::npos, report.find("DISABLED")) << "a disabled test was counted\n" << report;
}

INSTANTIATE_TEST_SUITE_P(Kit, KitRunner, ::testing::ValuesIn(kRunCases),
                         [](const ::testing::TestParamInfo<RunCase> &info) { return std::string(info.param.name); });

}  // namespace
