// Launch Game with the real setup.exe and the sample game copied into folders of their own: the game
// started once, without arguments, in the setup's current directory, after the form was saved; and the
// ways a launch can fail or the game can misbehave.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>

#include "driver.h"
#include "resources/resource.h"

using namespace driver;

namespace {

const char kGameClass[] = "QVSampleGame";
const char kLaunchErrorText[] = "Unable to launch the game!\nPlease verify your installation.";
const DWORD kExitTimeoutMs = 20000;
const DWORD kBoxTimeoutMs = 20000;
const DWORD kGameTimeoutMs = 10000;
// Spaces and letters outside ASCII, as bytes of code page 1252 (checked against the active one).
const char kUnusualFolderName[] = "Spiele \xC4rger \xE9t\xE9";

std::string Lower(std::string text)
{
    if (!text.empty())
        CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

std::string Trimmed(std::string text)
{
    while (!text.empty() && (text[text.size() - 1] == ' ' || text[text.size() - 1] == '\t'))
        text.erase(text.size() - 1);
    while (!text.empty() && (text[0] == ' ' || text[0] == '\t'))
        text.erase(0, 1);
    return text;
}

// The program named by a command line that has no arguments; "" when it has some.
std::string ProgramOnly(const std::string &commandLine)
{
    std::string text = Trimmed(commandLine);
    if (!text.empty() && text[0] == '"')
    {
        size_t close = text.find('"', 1);
        if (close == std::string::npos || !Trimmed(text.substr(close + 1)).empty())
            return "";
        return text.substr(1, close - 1);
    }
    return text;
}

// True when the bytes of `text` are characters of the active code page and come back unchanged.
bool InActiveCodePage(const std::string &text)
{
    WCHAR wide[MAX_PATH];
    char back[MAX_PATH];
    BOOL defaulted = FALSE;
    int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text.c_str(), -1, wide, MAX_PATH);
    if (length == 0)
        return false;
    for (int i = 0; i < length - 1; i++)
    {
        if ((unsigned char)text[i] >= 0x80 && wide[i] < 0x80)
            return false;
    }
    int again = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, back, MAX_PATH, NULL, &defaulted);
    return again > 0 && !defaulted && text == back;
}

// Moves every control away from the defaults; gives what the form then shows.
FormValues ChangeControls(const SetupWindow &window)
{
    window.SetSliderPosition(IDC_MASTER_VOLUME, 17);
    window.SetSliderPosition(IDC_EFFECT_VOLUME, 0);
    window.SetSliderPosition(IDC_AMBIENT_VOLUME, 64);
    window.SetSliderPosition(IDC_MUSIC_VOLUME, 99);
    window.Click(IDC_RENDERER_DIRECT3D);
    window.Click(IDC_MODE_WINDOWED);
    window.Click(IDC_SOFTWARE_CURSOR);
    window.Click(IDC_VSYNC);
    window.Select((int)window.ResolutionLabels().size() - 1);
    FormValues shown = ReadForm(window);
    EXPECT_EQ(17, shown.masterVolume);
    EXPECT_EQ(0, shown.effectVolume);
    EXPECT_EQ(64, shown.ambientVolume);
    EXPECT_EQ(99, shown.musicVolume);
    EXPECT_EQ(2, shown.renderer);
    EXPECT_EQ(0, shown.displayMode);
    EXPECT_EQ(0, shown.softwareCursor);
    EXPECT_EQ(1, shown.vsync);
    EXPECT_FALSE(shown.resolutionLabel.empty()) << "no resolution selected";
    return shown;
}

// The setup copied into an install folder of its own (with or without a game), started from a separate
// current directory, with the sample game told where to record its start.
class LaunchEndToEnd : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        installFolder = TempFolder("qv-install");
        workFolder = TempFolder("qv-work");
        recordPath = TempFolder("qv-record") + "\\start.txt";
    }

    // Puts setup.exe in `folder` (made when missing) and, unless empty, `game` as game.exe beside it.
    void Install(const std::string &folder, const std::string &game)
    {
        if (!PathExists(folder))
        {
            ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << "could not create " << folder;
        }
        ASSERT_TRUE(CopyProgram(BuiltSetup(), folder + "\\setup.exe")) << "could not copy " << BuiltSetup();
        if (!game.empty())
        {
            ASSERT_TRUE(CopyProgram(game, folder + "\\game.exe")) << "could not copy " << game;
        }
    }

    ::testing::AssertionResult StartInstalled(const std::string &folder, const char *mode, const char *hangMs)
    {
        Environment env;
        env.push_back(std::make_pair(std::string("QV_GAME_RECORD"), recordPath));
        env.push_back(std::make_pair(std::string("QV_GAME_MODE"), std::string(mode)));
        env.push_back(std::make_pair(std::string("QV_GAME_HANG_MS"), std::string(hangMs)));
        env.push_back(std::make_pair(std::string("QV_GAME_AUTOCLOSE_MS"), std::string()));
        return StartSetup(folder + "\\setup.exe", workFolder, env);
    }

    void ExpectSettingsFileHolds(const FormValues &form, const char *when)
    {
        std::vector<std::string> expected = SavedKeys(form), got = IniKeys(SettingsFile());
        EXPECT_EQ(expected, got) << when << ", expected the settings file to hold:" << Joined(expected)
                                 << "\ngot:" << Joined(got);
    }

    std::string installFolder, workFolder, recordPath;
};

// Launches whose game starts: a plain one, one that leaves at once, one that never turns idle, and a
// plain one whose folder has spaces and letters outside ASCII in its path.
struct StartCase
{
    const char *name;
    const char *subfolder;      // the install folder's own name under the temporary one; NULL for none
    const char *mode;           // QV_GAME_MODE
    const char *hangMs;         // QV_GAME_HANG_MS
    DWORD minMs, maxMs;         // from the click to the setup's exit
    bool gameStaysOpen;         // a game window to find (and close) afterwards
};

const StartCase kStartCases[] =
{
    { "GamePresent",              NULL,               "",     "",      0,    8000,  true },
    { "GameExitsAtOnce",          NULL,               "exit", "",      0,    8000,  false },
    { "GameNeverIdle",            NULL,               "hang", "20000", 9000, 19000, false },
    { "FolderWithUnusualLetters", kUnusualFolderName, "",     "",      0,    8000,  true },
};

// Names the case in test listings instead of its bytes.
void PrintTo(const StartCase &launch, std::ostream *out)
{
    *out << launch.name;
}

class LaunchEndToEndStarts : public LaunchEndToEnd, public ::testing::WithParamInterface<StartCase>
{
};

TEST_P(LaunchEndToEndStarts, SavesStartsTheGameOnceAndExits)
{
    const StartCase &launch = GetParam();
    std::string folder = installFolder;
    if (launch.subfolder != NULL)
    {
        if (!InActiveCodePage(launch.subfolder))
            GTEST_SKIP() << "the folder name is not text in the active code page " << GetACP();
        folder += std::string("\\") + launch.subfolder;
        printf("installed in %s (code page %u)\n", folder.c_str(), GetACP());
    }
    std::string game = folder + "\\game.exe";
    Install(folder, BuiltGame());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(StartInstalled(folder, launch.mode, launch.hangMs));
    FormValues form = ChangeControls(window);

    DWORD clicked = GetTickCount();
    window.PostClick(IDC_LAUNCH_GAME);
    DWORD code = 0;
    ASSERT_TRUE(setup.WaitForExit(kExitTimeoutMs, &code)) << "the setup was still running " << kExitTimeoutMs
                                                           << " ms after the click";
    DWORD elapsed = GetTickCount() - clicked;
    printf("%s: %lu ms from the click to the setup's exit\n", launch.name, elapsed);
    EXPECT_EQ(0u, code) << "exit code";
    EXPECT_GE(elapsed, launch.minMs) << "ms from the click to the setup's exit";
    EXPECT_LE(elapsed, launch.maxMs) << "ms from the click to the setup's exit";
    EXPECT_TRUE(MessageBoxesOf(setup.Pid()).empty());

    ExpectSettingsFileHolds(form, "after the launch");

    // The game's own account of its start.
    std::vector<std::pair<std::string, std::string> > record = ReadRecord(recordPath);
    ASSERT_FALSE(record.empty()) << "the game wrote no record at " << recordPath << ": it was not started";
    std::string commandLine = RecordValue(record, "cmdline");
    EXPECT_EQ(Lower(game), Lower(ProgramOnly(commandLine)))
        << "the game's command line must be its path alone, got [" << commandLine << "]";
    EXPECT_EQ(Lower(workFolder), Lower(RecordValue(record, "cwd"))) << "the game's current directory";
    EXPECT_EQ(Lower(SettingsFile()), Lower(RecordValue(record, "settings")));
    std::vector<std::string> saved = SavedKeys(form);
    for (size_t i = 0; i < saved.size(); i++)
    {
        std::string key = saved[i].substr(saved[i].find('/') + 1);
        std::string name = key.substr(0, key.find('=')), value = key.substr(key.find('=') + 1);
        EXPECT_EQ(value, RecordValue(record, name)) << "the game read " << name;
    }

    // Started once: one game process from the install folder (a game that left at once leaves none).
    std::vector<DWORD> games = ProcessesOf(game);
    if (launch.gameStaysOpen || launch.minMs > 0)
        EXPECT_EQ(1u, games.size()) << "game processes running from " << folder;
    else
        EXPECT_TRUE(WaitUntil([&]() { return ProcessesOf(game).empty(); }, kGameTimeoutMs))
            << "the game should have left";

    if (launch.gameStaysOpen && games.size() == 1)
    {
        std::vector<HWND> gameWindows;
        EXPECT_TRUE(WaitUntil([&]() { return !(gameWindows = TopLevelWindows(games[0], kGameClass, true)).empty(); },
                              kGameTimeoutMs)) << "the game shows no window";
        EXPECT_EQ(1u, gameWindows.size()) << "game windows";
        if (!gameWindows.empty())
        {
            PostMessageA(gameWindows[0], WM_CLOSE, 0, 0);
            EXPECT_TRUE(WaitUntil([&]() { return ProcessesOf(game).empty(); }, kGameTimeoutMs))
                << "the game did not close";
        }
    }
    // A game that never turns idle still sleeps: TearDown ends it with everything else from the folder.
}

INSTANTIATE_TEST_SUITE_P(Launch, LaunchEndToEndStarts, ::testing::ValuesIn(kStartCases),
                         [](const ::testing::TestParamInfo<StartCase> &info) { return std::string(info.param.name); });

// Launches that cannot start a game: none beside the setup, or a game.exe that is no program.
struct FailCase
{
    const char *name;
    const char *gameBytes;      // NULL: no game.exe at all
};

const FailCase kFailCases[] =
{
    { "NoGame",          NULL },
    { "GameIsNotAProgram", "This is a text file, not a program.\r\n" },
};

void PrintTo(const FailCase &launch, std::ostream *out)
{
    *out << launch.name;
}

class LaunchEndToEndFails : public LaunchEndToEnd, public ::testing::WithParamInterface<FailCase>
{
};

TEST_P(LaunchEndToEndFails, ShowsTheErrorAndComesBackSaved)
{
    const FailCase &launch = GetParam();
    Install(installFolder, "");
    ASSERT_FALSE(HasFatalFailure());
    if (launch.gameBytes != NULL)
        WriteText(installFolder + "\\game.exe", launch.gameBytes);
    ASSERT_TRUE(StartInstalled(installFolder, "", ""));
    FormValues form = ChangeControls(window);

    window.PostClick(IDC_LAUNCH_GAME);

    // The platform's shell may show a box of its own first; ours is told apart by its text.
    std::set<HWND> handled;
    std::vector<std::string> shellBoxes;
    int ours = 0;
    bool crashed = false;
    WaitUntil([&]() {
        if (!setup.Running())
            return crashed = true;
        std::vector<HWND> boxes = MessageBoxesOf(setup.Pid());
        for (size_t i = 0; i < boxes.size(); i++)
        {
            if (!handled.insert(boxes[i]).second)
                continue;
            SeenBox box = ReadMessageBox(boxes[i]);
            EXPECT_FALSE(window.Visible()) << "the main window shows while this box is up: " << Describe(box);
            if (box.text != kLaunchErrorText)
            {
                shellBoxes.push_back(Describe(box));
                EXPECT_TRUE(GetWindow(boxes[i], GW_OWNER) == window.Handle())
                    << "the shell's box belongs to the main window: " << Describe(box);
                EXPECT_TRUE(PressButton(boxes[i], "OK")) << "cannot dismiss " << Describe(box);
                continue;
            }
            ours++;
            EXPECT_EQ("Error", box.caption) << Describe(box);
            EXPECT_EQ(std::vector<std::string>(1, "OK"), box.buttons) << Describe(box);
            EXPECT_TRUE(box.hasIcon) << Describe(box);
            EXPECT_TRUE(GetWindow(boxes[i], GW_OWNER) == window.Handle()) << "the error belongs to the main window";
            ExpectSettingsFileHolds(form, "while the error is shown");
            EXPECT_TRUE(PressButton(boxes[i], "OK"));
        }
        return ours > 0;
    }, kBoxTimeoutMs);
    ASSERT_FALSE(crashed) << "the setup ended during the failed launch";
    ASSERT_EQ(1, ours) << "the launch error never appeared; other boxes seen:" << Joined(shellBoxes);
    // The request leaves the shell free to explain the failure itself, which it does on this platform.
    EXPECT_FALSE(shellBoxes.empty()) << "the shell showed no box of its own before the launch error";
    // Worth seeing in the log: what the platform showed before the setup's own error.
    printf("boxes before the launch error:%s\n", shellBoxes.empty() ? " none" : Joined(shellBoxes).c_str());

    EXPECT_TRUE(WaitUntil([&]() { return window.Visible(); }, kBoxTimeoutMs)) << "the window did not come back";
    std::vector<HWND> left;
    EXPECT_TRUE(WaitUntil([&]() { return (left = MessageBoxesOf(setup.Pid())).empty(); }, kGameTimeoutMs))
        << "another box followed the error: " << (left.empty() ? "" : Describe(ReadMessageBox(left[0])));
    EXPECT_TRUE(setup.Running());
    FormValues after = ReadForm(window);
    EXPECT_TRUE(form == after) << "the form changed\nexpected: " << Describe(form) << "\n     got: " << Describe(after);
    ExpectSettingsFileHolds(form, "after the error");
    EXPECT_FALSE(PathExists(recordPath)) << "no game may have started";

    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

INSTANTIATE_TEST_SUITE_P(Launch, LaunchEndToEndFails, ::testing::ValuesIn(kFailCases),
                         [](const ::testing::TestParamInfo<FailCase> &info) { return std::string(info.param.name); });

}  // namespace
