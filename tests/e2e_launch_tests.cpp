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
// How long a command that should do nothing is given to show that it does something.
const DWORD kQuietMs = 1500;
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
    bool readOnlyGame;          // game.exe marked read-only, as a copy from a CD or an archive can be
};

const StartCase kStartCases[] =
{
    { "GamePresent",              NULL,               "",     "",      0,    8000,  true,  false },
    { "GameExitsAtOnce",          NULL,               "exit", "",      0,    8000,  false, false },
    { "GameNeverIdle",            NULL,               "hang", "20000", 9000, 19000, false, false },
    { "FolderWithUnusualLetters", kUnusualFolderName, "",     "",      0,    8000,  true,  false },
    { "ReadOnlyGame",             NULL,               "",     "",      0,    8000,  true,  true },
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
    if (launch.readOnlyGame)
    {
        ASSERT_TRUE(SetFileAttributesA(game.c_str(), FILE_ATTRIBUTE_READONLY));
        ASSERT_EQ((DWORD)FILE_ATTRIBUTE_READONLY, GetFileAttributesA(game.c_str()) & FILE_ATTRIBUTE_READONLY);
    }
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

// Automation and accessibility tools can queue clicks faster than a launch ends: the second command
// finds the launch done and starts nothing.
TEST_F(LaunchEndToEnd, TwoCommandsQueuedBackToBackStartTheGameOnce)
{
    Install(installFolder, BuiltGame());
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(StartInstalled(installFolder, "", ""));
    window.PostCommand(IDC_LAUNCH_GAME);
    window.PostCommand(IDC_LAUNCH_GAME);
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_EQ(1u, ProcessesOf(installFolder + "\\game.exe").size()) << "games started";
}

// Installed in a folder that code page 1252 cannot write: the ANSI functions reach it only by its short form.
TEST_F(LaunchEndToEnd, StartsTheGameFromAFolderOutsideTheCodePage)
{
    std::wstring folder = Wide(installFolder) + L"\\\x0418\x0433\x0440\x044B";
    std::wstring game = folder + L"\\game.exe";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    ASSERT_TRUE(CopyProgram(Wide(BuiltSetup()), folder + L"\\setup.exe"));
    ASSERT_TRUE(CopyProgram(Wide(BuiltGame()), game));
    Environment env;
    env.push_back(std::make_pair(std::string("QV_GAME_RECORD"), recordPath));
    ASSERT_TRUE(StartSetup(folder + L"\\setup.exe", Wide(workFolder), env));

    window.PostClick(IDC_LAUNCH_GAME);
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_TRUE(MessageBoxesOf(setup.Pid()).empty());
    std::vector<std::pair<std::string, std::string> > record = ReadRecord(recordPath);
    ASSERT_FALSE(record.empty()) << "the game wrote no record at " << recordPath << ": it was not started";
    // The game was started by a name the ANSI functions can write; its long form is the installed game.
    std::wstring started = Wide(ProgramOnly(RecordValue(record, "cmdline"))), longForm(MAX_PATH, L'\0');
    longForm.resize(GetLongPathNameW(started.c_str(), &longForm[0], MAX_PATH));
    EXPECT_EQ(0, lstrcmpiW(game.c_str(), longForm.c_str())) << "the game started is " << RecordValue(record, "cmdline");
}

// Launches that cannot start a game: none beside the setup, a game.exe that is no program, or a folder
// named game.exe, which the shell would open and call a success.
struct FailCase
{
    const char *name;
    const char *gameBytes;      // NULL: no game.exe file
    bool gameIsFolder;          // a folder named game.exe; the shell is then never asked
};

const FailCase kFailCases[] =
{
    { "NoGame",            NULL, false },
    { "GameIsNotAProgram", "This is a text file, not a program.\r\n", false },
    { "GameIsAFolder",     NULL, true },
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
    if (launch.gameIsFolder)
    {
        ASSERT_TRUE(CreateDirectoryA((installFolder + "\\game.exe").c_str(), NULL));
        WriteText(installFolder + "\\game.exe\\inside.txt", "a folder, not a program\r\n");
    }
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
            // A command that arrives while the error is up must not start a launch inside it.
            window.PostCommand(IDC_LAUNCH_GAME);
            EXPECT_FALSE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).size() > 1; }, kQuietMs))
                << "a command posted while the error was up started another launch";
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
    // The request leaves the shell free to explain the failure itself, which it does on this platform;
    // a folder is refused before the shell is asked.
    if (launch.gameIsFolder)
        EXPECT_TRUE(shellBoxes.empty()) << "the shell was asked to open the folder";
    else
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

namespace {

// Where the settings file cannot be written: the disk is full, another program holds the file open, or a
// file stands where the settings folder should be. Save says so and changes nothing; Launch Game asks
// first, and starts the game with the old file only when told to.
enum SavePlace
{
    FULL_DISK,
    FILE_HELD_OPEN,
    FOLDER_IS_A_FILE
};

struct SaveFailCase
{
    const char *name;
    SavePlace place;
};

const SaveFailCase kSaveFailCases[] =
{
    { "FullDisk", FULL_DISK },
    { "FileHeldOpen", FILE_HELD_OPEN },
    { "FolderIsAFile", FOLDER_IS_A_FILE },
};

void PrintTo(const SaveFailCase &c, std::ostream *out)
{
    *out << c.name;
}

// Nearly a memory page long: on the small file system the file has no room to grow in place.
const std::string kOldSettings = "[Sound]\r\nMASTER_VOLUME=20\r\nVOICE_VOLUME=7\r\n[Keys]\r\nJUMP=Space\r\nMACRO=" +
                                 std::string(3950, 'x') + "\r\n";
const char kLaunchQuestion[] = "\n\nStart the game with the settings already on file?";
const char kEnter[] = "Enter";

// Enter as the keyboard gives it: to the control of the box's thread that has the focus, which the box
// gives its default button; the box's own loop turns the key going down into that button's click. By then
// the box may be gone with the button, so the key coming up finds no window: only the key down must land.
bool PressEnter(HWND box)
{
    GUITHREADINFO thread;
    ZeroMemory(&thread, sizeof(thread));
    thread.cbSize = sizeof(thread);
    HWND target = box;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(box, NULL), &thread) && thread.hwndFocus != NULL)
        target = thread.hwndFocus;
    if (!PostMessageA(target, WM_KEYDOWN, VK_RETURN, 1))
        return false;
    PostMessageA(target, WM_KEYUP, VK_RETURN, 0xC0000001);
    return true;
}

class LaunchEndToEndUnsaved : public LaunchEndToEnd, public ::testing::WithParamInterface<SaveFailCase>
{
protected:
    void TearDown() override
    {
        if (holder != INVALID_HANDLE_VALUE)
            CloseHandle(holder);
        if (!mounted.empty())
        {
            EXPECT_TRUE(RunHostCommand("umount -l '" + mounted + "'")) << "could not unmount " << mounted;
        }
        LaunchEndToEnd::TearDown();
    }

    // The one box the setup shows next; it must be owned by the main window.
    SeenBox NextBox(HWND *box)
    {
        std::vector<HWND> boxes;
        *box = NULL;
        if (!WaitUntil([&]() { return !(boxes = MessageBoxesOf(setup.Pid())).empty(); }, kBoxTimeoutMs))
            return SeenBox();
        EXPECT_EQ(1u, boxes.size()) << "boxes at once";
        *box = boxes[0];
        EXPECT_TRUE(GetWindow(boxes[0], GW_OWNER) == window.Handle()) << "the box belongs to the main window";
        return ReadMessageBox(boxes[0]);
    }

    HANDLE holder = INVALID_HANDLE_VALUE;
    std::string mounted;
};

TEST_P(LaunchEndToEndUnsaved, SaveReportsTheFailureAndLaunchAsksFirst)
{
    const SaveFailCase &c = GetParam();
    Install(installFolder, BuiltGame());
    ASSERT_FALSE(HasFatalFailure());
    std::string kept = SettingsFile();
    if (c.place == FOLDER_IS_A_FILE)
    {
        kept = SettingsFolder();
        WriteText(kept, kOldSettings);
    }
    else
    {
        ASSERT_TRUE(CreateDirectoryA(SettingsFolder().c_str(), NULL));
        if (c.place == FULL_DISK)
        {
            // Windows offers no small file system to fill without an administrator (a virtual disk).
            if (!OnWine())
                GTEST_SKIP() << "a full disk " << kNeedsTheLinuxHost << ": Windows makes none without an administrator";
            std::string host = HostPath(SettingsFolder());
            ASSERT_FALSE(host.empty()) << "no host path for " << SettingsFolder();
            if (!RunHostCommand("mount -t tmpfs -o size=64k tmpfs '" + host + "'"))
                GTEST_SKIP() << "a small file system cannot be mounted here (not root?)";
            mounted = host;
        }
        WriteText(kept, kOldSettings);
        if (c.place == FULL_DISK)
            RunHostCommand("dd if=/dev/zero of='" + mounted + "/filler' bs=4096; true");
        if (c.place == FILE_HELD_OPEN)
            holder = CreateFileA(kept.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    }
    ASSERT_EQ(kOldSettings, ReadText(kept));
    const std::string failure = "Unable to save the settings to\n" + SettingsFile();
    ASSERT_TRUE(StartInstalled(installFolder, "", ""));
    ChangeControls(window);

    window.PostCommand(IDM_SAVE);
    HWND box;
    SeenBox seen = NextBox(&box);
    EXPECT_EQ(kOldSettings, ReadText(kept)) << "after Save";
    ASSERT_TRUE(box != NULL) << "Save showed no box";
    EXPECT_EQ("Error", seen.caption) << Describe(seen);
    EXPECT_EQ(failure, seen.text) << Describe(seen);
    EXPECT_EQ(std::vector<std::string>(1, "OK"), seen.buttons) << Describe(seen);
    EXPECT_TRUE(seen.hasIcon) << Describe(seen);
    window.PostCommand(IDM_SAVE);
    window.PostClick(IDC_LAUNCH_GAME);
    EXPECT_FALSE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).size() > 1; }, kQuietMs))
        << "a Save or a launch posted while the box was up showed another box";
    ASSERT_TRUE(PressButton(box, "OK"));
    EXPECT_TRUE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).empty() && window.Enabled(); }, kBoxTimeoutMs))
        << "the box did not go";
    EXPECT_TRUE(setup.Running() && window.Visible());

    // Enter, which takes the default button, and No: nothing is started and the window is back. Yes: the
    // launch goes on with the file as it was.
    for (const char *answer : { kEnter, "&No", "&Yes" })
    {
        bool declines = lstrcmpA(answer, "&Yes") != 0;
        SCOPED_TRACE(answer);
        window.PostClick(IDC_LAUNCH_GAME);
        seen = NextBox(&box);
        ASSERT_TRUE(box != NULL) << "Launch Game asked nothing";
        EXPECT_EQ("Error", seen.caption) << Describe(seen);
        EXPECT_EQ(failure + kLaunchQuestion, seen.text) << Describe(seen);
        std::vector<std::string> yesNo = { "&Yes", "&No" };
        EXPECT_EQ(yesNo, seen.buttons) << Describe(seen);
        EXPECT_TRUE(seen.hasIcon) << Describe(seen);
        EXPECT_FALSE(PathExists(recordPath)) << "the game started before the answer";
        if (declines)
        {
            window.PostCommand(IDC_LAUNCH_GAME);
            window.PostCommand(IDM_SAVE);
            EXPECT_FALSE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).size() > 1; }, kQuietMs))
                << "a launch or a Save posted while the question was up showed another box";
        }
        ASSERT_TRUE(answer == kEnter ? PressEnter(box) : PressButton(box, answer));
        if (!declines)
            continue;
        EXPECT_TRUE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).empty() && window.Visible(); },
                              kBoxTimeoutMs)) << "the window did not come back";
        EXPECT_TRUE(setup.Running());
        EXPECT_FALSE(PathExists(recordPath)) << "a game started after " << answer;
    }
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs)) << "after Yes";
    std::vector<std::pair<std::string, std::string> > record = ReadRecord(recordPath);
    EXPECT_EQ(c.place == FOLDER_IS_A_FILE ? "-1" : "20", RecordValue(record, "MASTER_VOLUME"))
        << "the game read the settings already on file";
    EXPECT_EQ(1u, ProcessesOf(installFolder + "\\game.exe").size()) << "games started";
    EXPECT_EQ(kOldSettings, ReadText(kept)) << "after the launch";
}

INSTANTIATE_TEST_SUITE_P(Launch, LaunchEndToEndUnsaved, ::testing::ValuesIn(kSaveFailCases),
                         [](const ::testing::TestParamInfo<SaveFailCase> &info) { return std::string(info.param.name); });

}  // namespace
