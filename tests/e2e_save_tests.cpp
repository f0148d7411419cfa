// Save under stress, on the real setup.exe: killed at random moments, and two copies saving at once.
// Whatever happens, the settings file is a complete file: the old one or a complete new one.
#include <gtest/gtest.h>

#include <cstdio>
#include <random>

#include "driver.h"
#include "resources/resource.h"
#include "settings/file.h"

using namespace driver;

namespace {

const DWORD kSaveTimeoutMs = 20000;
const DWORD kExitTimeoutMs = 15000;
const unsigned kKillSeed = 20261210;
const int kKills = 30;
// Kills land from the command up to a little beyond the save's length, since its last step matters most.
const double kKillRange = 1.2;
const int kConcurrentRounds = 30;
// A game's write lands somewhere in the first this many milliseconds of the setup's save.
const unsigned kGameDelayRangeMs = 40;

// The keys the setup owns as an older save left them; the form then shows other values.
const char *const kOldOwnKeys[] =
{
    "Sound/MASTER_VOLUME=11", "Sound/MASTER_ENABLED=1", "Sound/MUSIC_VOLUME=12", "Sound/MUSIC_ENABLED=1",
    "Sound/AMBIENT_VOLUME=13", "Sound/AMBIENT_ENABLED=1", "Sound/EFFECT_VOLUME=14", "Sound/EFFECT_ENABLED=1",
    "Rendering/RENDERING_BACKEND=1", "Rendering/SOFTWARE_CURSOR=1", "Display/DISPLAY_MODE=1",
    "Display/DISPLAY_WIDTH=640", "Display/DISPLAY_HEIGHT=480", "Display/DISPLAY_BITDEPTH=32",
    "Display/DISPLAY_REFRESH_RATE=60", "Display/DISPLAY_VSYNC=0",
};

void AppendForeignSections(std::string &text, int first, int count)
{
    char line[64];
    for (int section = first; section < first + count; section++)
    {
        wsprintfA(line, "[Mod%02d]\r\n", section);
        text += line;
        for (int key = 0; key < 100; key++)
        {
            wsprintfA(line, "MOD%02d_KEY_%03d=%d\r\n", section, key, section * 1000 + key);
            text += line;
        }
    }
}

// 5,000 keys of other programs in 50 sections, the setup's own ("Section/KEY=value", in the order it
// writes them) in the middle: byte for byte what the store writes, so a save only changes values.
std::string LargeSettingsText(const std::vector<std::string> &own)
{
    std::string text, section;
    AppendForeignSections(text, 0, 25);
    for (const std::string &key : own)
    {
        std::string name = key.substr(0, key.find('/'));
        if (name != section)
            text += "[" + (section = name) + "]\r\n";
        text += key.substr(key.find('/') + 1) + "\r\n";
    }
    AppendForeignSections(text, 25, 25);
    return text;
}

const std::vector<std::string> kOldOwn(kOldOwnKeys, kOldOwnKeys + sizeof(kOldOwnKeys) / sizeof(kOldOwnKeys[0]));

// Every file in the settings folder, for telling what a save left behind.
std::vector<std::string> FolderNames()
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((SettingsFolder() + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
    {
        if (lstrcmpA(found.cFileName, ".") != 0 && lstrcmpA(found.cFileName, "..") != 0)
            names.push_back(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// Sent, so it returns once the setup has handled it; false when it did not answer in time.
bool SendCommand(HWND window, int id)
{
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0, SMTO_ABORTIFHUNG, kSaveTimeoutMs,
                               &result) != 0;
}

double NowMs()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

// Waits without giving up the processor, for delays finer than the scheduler's.
void SpinFor(double ms)
{
    double start = NowMs();
    while (NowMs() - start < ms)
        ;
}

class SaveEndToEnd : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(CreateDirectoryA(SettingsFolder().c_str(), NULL));
        oldText = LargeSettingsText(kOldOwn);
    }

    // Starts the setup on the old file and moves the sliders to `master`, 0, `master` + 1, 100.
    FormValues StartOnOldFile(Program &program, SetupWindow &shown, int master)
    {
        HWND found = program.WaitForWindow(SetupWindow::kClass, kSaveTimeoutMs);
        EXPECT_TRUE(found != NULL) << "the setup showed no window";
        shown = SetupWindow(found);
        shown.SetSliderPosition(IDC_MASTER_VOLUME, master);
        shown.SetSliderPosition(IDC_EFFECT_VOLUME, 0);
        shown.SetSliderPosition(IDC_AMBIENT_VOLUME, master + 1);
        shown.SetSliderPosition(IDC_MUSIC_VOLUME, 100);
        return ReadForm(shown);
    }

    std::string oldText;
};

// A kill can land anywhere in the save: before it, between any two of its writes, during the final
// step, or after it. The file is then the old one or the complete new one, never anything between.
TEST_F(SaveEndToEnd, KilledAtRandomMomentsLeavesTheOldFileOrTheNewOne)
{
    // One save run to its end: what it writes, and how long after the command the new file is there.
    WriteText(SettingsFile(), oldText);
    ASSERT_TRUE(StartSetup(BuiltSetup()));
    FormValues form = StartOnOldFile(setup, window, 42);
    std::string newText = LargeSettingsText(SavedKeys(form));
    window.PostCommand(IDM_SAVE);
    double started = NowMs();
    // Polled without pause: the figure sets the range of the kills below.
    while (ReadText(SettingsFile()) != newText && NowMs() - started < kSaveTimeoutMs)
        ;
    double saveMs = NowMs() - started;
    ASSERT_TRUE(ReadText(SettingsFile()) == newText) << "a save run to its end did not write the expected file";
    window.Close();
    ASSERT_TRUE(SetupExitsWithZero(kExitTimeoutMs));

    std::mt19937 random(kKillSeed);
    std::uniform_real_distribution<double> moment(0.0, kKillRange * saveMs);
    int oldFiles = 0, newFiles = 0, damaged = 0;
    std::vector<std::string> damage;
    for (int kill = 0; kill < kKills; kill++)
    {
        WriteText(SettingsFile(), oldText);
        ASSERT_TRUE(StartSetup(BuiltSetup()));
        StartOnOldFile(setup, window, 42);
        double delayMs = moment(random);
        window.PostCommand(IDM_SAVE);
        SpinFor(delayMs);
        setup.Kill();
        std::string got = ReadText(SettingsFile());
        if (got == oldText)
            oldFiles++;
        else if (got == newText)
            newFiles++;
        else
        {
            damaged++;
            char line[128];
            wsprintfA(line, "kill %d after %d ms: %d bytes, %s", kill, (int)delayMs, (int)got.size(),
                      got.size() < 2 || got.substr(got.size() - 2) != "\r\n" ? "cut short" : "other keys changed");
            damage.push_back(line);
        }
    }
    printf("a save takes %.1f ms; %d kills: %d left the old file, %d the new one, %d something else\n", saveMs,
           kKills, oldFiles, newFiles, damaged);
    EXPECT_EQ(0, damaged) << "files neither old nor new:" << Joined(damage);

    // What a kill left behind is never read as settings, and the next save clears it away.
    std::vector<std::string> names = FolderNames();
    EXPECT_LE(names.size(), 2u) << "files in the settings folder after the kills:" << Joined(names);
    WriteText(SettingsFile(), oldText);
    ASSERT_TRUE(StartSetup(BuiltSetup()));
    FormValues shown = ReadForm(window);
    EXPECT_EQ(11, shown.masterVolume) << "the setup read something other than settings.ini";
    StartOnOldFile(setup, window, 42);
    ASSERT_TRUE(SendCommand(window.Handle(), IDM_SAVE));
    EXPECT_TRUE(ReadText(SettingsFile()) == newText) << "the save after the kills did not write the expected file";
    names = FolderNames();
    EXPECT_EQ(std::vector<std::string>(1, "settings.ini"), names) << "files in the settings folder:" << Joined(names);
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

struct SaveCall
{
    bool answered;
};

void CALLBACK SaveAnswered(HWND, UINT, ULONG_PTR data, LRESULT)
{
    ((SaveCall *)data)->answered = true;
}

// Two copies of the setup, each with other values on its form, are told to save at the same moment; or
// one copy saves while a game writes a key of its own through the store. Either may win, but the file
// is always exactly what the winner wrote, with every foreign key.
TEST_F(SaveEndToEnd, ConcurrentWritersLeaveOneCompleteFile)
{
    Program other;
    ASSERT_TRUE(setup.Start(BuiltSetup(), "", Environment())) << setup.error;
    ASSERT_TRUE(other.Start(BuiltSetup(), "", Environment())) << other.error;
    SetupWindow second;
    StartOnOldFile(setup, window, 0);
    StartOnOldFile(other, second, 0);
    ASSERT_FALSE(HasFailure());

    std::mt19937 random(kKillSeed);
    int damaged = 0, gameLost = 0;
    std::vector<std::string> damage;
    for (int round = 0; round < kConcurrentRounds; round++)
    {
        bool gameWrites = round % 2 == 1;
        WriteText(SettingsFile(), oldText);
        window.SetSliderPosition(IDC_MASTER_VOLUME, round);
        second.SetSliderPosition(IDC_MASTER_VOLUME, 50 + round);
        std::string firstText = LargeSettingsText(SavedKeys(ReadForm(window)));
        std::string secondText = LargeSettingsText(SavedKeys(ReadForm(second)));
        std::string gameKey = "[Game]\r\nROUND=" + std::to_string(round) + "\r\n";
        std::vector<std::string> complete;
        complete.push_back(firstText);
        if (gameWrites)
            complete.push_back(firstText + gameKey);
        else
            complete.push_back(secondText);

        SaveCall calls[2] = { { false }, { gameWrites } };
        SendMessageCallbackA(window.Handle(), WM_COMMAND, MAKEWPARAM(IDM_SAVE, 0), 0, SaveAnswered,
                             (ULONG_PTR)&calls[0]);
        BOOL gameWrote = FALSE;
        if (gameWrites)
        {
            SpinFor(random() % kGameDelayRangeMs);
            gameWrote = WritePrivateProfileStringA("Game", "ROUND", std::to_string(round).c_str(),
                                                   SettingsFile().c_str());
        }
        else
            SendMessageCallbackA(second.Handle(), WM_COMMAND, MAKEWPARAM(IDM_SAVE, 0), 0, SaveAnswered,
                                 (ULONG_PTR)&calls[1]);
        ASSERT_TRUE(WaitUntil([&]() {
            MSG message;
            while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
                DispatchMessageA(&message);
            return calls[0].answered && calls[1].answered;
        }, kSaveTimeoutMs)) << "round " << round << ": a save did not finish";

        std::string got = ReadText(SettingsFile());
        if (got != complete[0] && got != complete[1])
        {
            damaged++;
            damage.push_back("round " + std::to_string(round) + (gameWrites ? " (game)" : " (two copies)") + ": " +
                             std::to_string(got.size()) + " bytes, expected " + std::to_string(complete[0].size()) +
                             " or " + std::to_string(complete[1].size()));
        }
        else if (gameWrote && got == complete[0])
            gameLost++;
    }
    printf("%d rounds: %d damaged; %d times a game's write that reported success was replaced\n",
           kConcurrentRounds, damaged, gameLost);
    EXPECT_EQ(0, damaged) << "files that no writer wrote:" << Joined(damage);
    EXPECT_EQ(0, gameLost) << "a game's write that reported success was replaced";
    window.Close();
    second.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    DWORD code = 1;
    EXPECT_TRUE(other.WaitForExit(kExitTimeoutMs, &code) && code == 0) << "the second copy did not exit with 0";
}

// Longer than the save's wait for another copy's lock, so a second wait would show.
const DWORD kLockWaitQuietMs = 7000;
const DWORD kBoxTimeoutMs = 20000;
const DWORD kAnswerTimeoutMs = 2000;

// Saves queued while another copy holds the save lock: one wait, one box; the rest do nothing, and once
// the box is closed the window answers at once.
TEST_F(SaveEndToEnd, SavesQueuedBehindTheLockShowOneBox)
{
    WriteText(SettingsFile(), oldText);
    Rival otherCopy;
    ASSERT_TRUE(otherCopy.StartLock()) << "could not take the save lock";
    ASSERT_TRUE(StartSetup(BuiltSetup()));
    for (int save = 0; save < 3; save++)
        window.PostCommand(IDM_SAVE);
    std::vector<HWND> boxes;
    ASSERT_TRUE(WaitUntil([&]() { return !(boxes = MessageBoxesOf(setup.Pid())).empty(); }, kBoxTimeoutMs))
        << "the save showed no box";
    EXPECT_FALSE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).size() > 1; }, kLockWaitQuietMs))
        << "a queued save waited again and showed a box of its own";
    SeenBox seen = ReadMessageBox(boxes[0]);
    EXPECT_EQ("Unable to save the settings to\n" + SettingsFile(), seen.text) << Describe(seen);
    ASSERT_TRUE(PressButton(boxes[0], "OK"));
    EXPECT_TRUE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).empty() && window.Enabled(); }, kBoxTimeoutMs))
        << "the box did not go";
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(window.Handle(), WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kAnswerTimeoutMs, &result))
        << "the window did not answer after the box";
    EXPECT_TRUE(MessageBoxesOf(setup.Pid()).empty()) << "another box came";
    EXPECT_TRUE(ReadText(SettingsFile()) == oldText) << "the file changed";

    // Once the other copy has gone, Save works again.
    otherCopy.Kill();
    StartOnOldFile(setup, window, 42);
    ASSERT_TRUE(SendCommand(window.Handle(), IDM_SAVE));
    EXPECT_TRUE(MessageBoxesOf(setup.Pid()).empty());
    EXPECT_TRUE(ReadText(SettingsFile()) == LargeSettingsText(SavedKeys(ReadForm(window))));
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

// Settings files that only the host can arrange: on a small file system it mounts, or behind a link it
// makes. The mount goes before the test's folders do.
class SaveOnHostFiles : public EndToEndTest
{
protected:
    void TearDown() override
    {
        UseSettingsFile("");
        // The platform may not list a link whose file has gone, and then cannot remove the folder.
        if (!hostLink.empty())
        {
            EXPECT_TRUE(RunHostCommand("rm -f '" + hostLink + "'")) << "could not remove " << hostLink;
        }
        if (!mounted.empty())
        {
            EXPECT_TRUE(RunHostCommand("umount -l '" + mounted + "'")) << "could not unmount " << mounted;
        }
        EndToEndTest::TearDown();
    }

    std::string mounted, hostLink;
};

// A disk with room for the copy but not for the keys: the store cuts the copy short and still reports
// success, so only the room left afterwards shows the failure. The file stays as it was.
TEST_F(SaveOnHostFiles, CopyThatFitsButKeysThatDoNotFailTheSave)
{
    std::string folder = TempFolder("fullish");
    std::string host = HostPath(folder);
    if (host.empty() || !RunHostCommand("mount -t tmpfs -o size=64k tmpfs '" + host + "'"))
        GTEST_SKIP() << "a nearly full disk " << kNeedsTheLinuxHost << " (as root)";
    mounted = host;
    // Nearly a memory page: the copy takes one page, the keys need a second.
    const std::string stored = "[Sound]\r\nVOICE_VOLUME=7\r\n[Keys]\r\nMACRO=" + std::string(3980, 'x') + "\r\n";
    std::string path = folder + "\\settings.ini";
    WriteText(path, stored);
    ASSERT_EQ(stored, ReadText(path));
    // One page held back while the rest is filled, then given back: room for the copy and no more.
    ASSERT_TRUE(RunHostCommand("dd if=/dev/zero of='" + host + "/spare' bs=4096 count=1 && "
                               "{ dd if=/dev/zero of='" + host + "/filler' bs=4096; true; } && rm '" + host + "/spare'"));
    UseSettingsFile(path);
    SetupSettings settings = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 0, 0, 1 };
    EXPECT_EQ(0, SaveSettings(&settings));
    EXPECT_EQ(stored, ReadText(path));
    EXPECT_FALSE(PathExists(folder + "\\settings.tmp")) << "the copy was left behind";
}

// A settings file that is a symbolic link made on the host: where the platform reports it as one, the
// save writes the file it leads to and the link stays.
TEST_F(SaveOnHostFiles, SymbolicLinkMadeOnTheHostStaysALink)
{
    std::string folder = TempFolder("symlink");
    std::string host = HostPath(folder);
    std::string target = folder + "\\real.ini", path = folder + "\\settings.ini";
    WriteText(target, "[Keys]\r\nJUMP=Space\r\n");
    if (host.empty() || !RunHostCommand("ln -s real.ini '" + host + "/settings.ini'"))
        GTEST_SKIP() << "a symbolic link made on the host " << kNeedsTheLinuxHost;
    hostLink = host + "/settings.ini";
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        GTEST_SKIP() << "the platform does not report a symbolic link as one (seen through a seam in settings_tests)";
    UseSettingsFile(path);
    SetupSettings settings = { 40, 30, 20, 10, RENDERER_GLIDE, DISPLAY_BORDERLESS, 0, 0, 1 };
    EXPECT_EQ(1, SaveSettings(&settings));
    EXPECT_TRUE(RunHostCommand("test -L '" + host + "/settings.ini'")) << "the link became a plain file";
    EXPECT_EQ(ReadText(target), ReadText(path));
    EXPECT_NE(std::string::npos, ReadText(target).find("MASTER_VOLUME=40")) << ReadText(target);
    EXPECT_NE(std::string::npos, ReadText(target).find("JUMP=Space")) << ReadText(target);
}

}  // namespace
