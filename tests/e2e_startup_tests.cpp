// The real setup.exe as it starts on older systems, shown from outside. Wine always has the newer loader
// functions, so a copy of the setup has a name overwritten in its data: looking SetDefaultDllDirectories
// up then fails as on Windows XP, Vista and 7 without KB2533623, and loading the common controls fails as
// on a damaged system. Libraries planted beside the copy show whether the search ever reached its folder.
#include <gtest/gtest.h>

#include "driver.h"
#include "planted.h"
#include <commctrl.h>
#include <tlhelp32.h>

#include "resources/resource.h"

using namespace driver;

namespace {

const DWORD kExitTimeoutMs = 20000;
const DWORD kCommandTimeoutMs = 10000;
const int kFormControls = 23;
const char kOlderSetup[] = "older-setup.exe";
const char kNewerLoaderName[] = "SetDefaultDllDirectories";
const char kCommonControlsName[] = "comctl32.dll";

const int kSliders[] = { IDC_MASTER_VOLUME, IDC_EFFECT_VOLUME, IDC_AMBIENT_VOLUME, IDC_MUSIC_VOLUME };

std::string Lower(std::string text)
{
    if (!text.empty())
        CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

// A copy of the program `from` at `to` with every stand-alone `name` (text ending in its terminator)
// overwritten by as many "X": nothing of that name is found any more. The times it stood there.
int CopyWithNameOverwritten(const std::string &from, const std::string &to, const char *name)
{
    std::string bytes = ReadText(from);
    std::string wanted(name, lstrlenA(name) + 1);
    int count = 0;
    for (size_t at = bytes.find(wanted); at != std::string::npos; at = bytes.find(wanted, at + 1), count++)
        bytes.replace(at, wanted.size() - 1, wanted.size() - 1, 'X');
    WriteText(to, bytes);
    return count;
}

// The files of the modules loaded in process `pid`; empty when they cannot be listed.
std::vector<std::string> ModulesOf(DWORD pid)
{
    std::vector<std::string> modules;
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    // A process still starting may refuse to be listed for a moment.
    WaitUntil([&]() { return (snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid)) != INVALID_HANDLE_VALUE; },
              kCommandTimeoutMs);
    if (snapshot == INVALID_HANDLE_VALUE)
        return modules;
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    for (BOOL more = Module32First(snapshot, &module); more; more = Module32Next(snapshot, &module))
        modules.push_back(module.szExePath);
    CloseHandle(snapshot);
    return modules;
}

// The folders system libraries come from: the system folder and, for a 32-bit program on 64-bit Windows,
// the folder it stands for.
std::vector<std::string> SystemFolders()
{
    std::vector<std::string> folders;
    char folder[MAX_PATH];
    if (GetSystemDirectoryA(folder, MAX_PATH))
        folders.push_back(Lower(folder) + "\\");
    if (GetSystemWow64DirectoryA(folder, MAX_PATH))
        folders.push_back(Lower(folder) + "\\");
    return folders;
}

// Modules of `pid` that are neither the program `exe` nor a library of a system folder.
std::vector<std::string> ForeignModules(DWORD pid, const std::string &exe, std::vector<std::string> *all)
{
    std::vector<std::string> foreign;
    std::vector<std::string> folders = SystemFolders();
    *all = ModulesOf(pid);
    for (const std::string &module : *all)
    {
        std::string path = Lower(module);
        bool system = false;
        for (const std::string &folder : folders)
            system = system || (path.compare(0, folder.size(), folder) == 0 &&
                                path.find('\\', folder.size()) == std::string::npos);
        if (!system && path != Lower(exe))
            foreign.push_back(module);
    }
    return foreign;
}

// The setup's copy in a folder of its own, with the sample game beside it and the planted libraries,
// started there (so the folder is its current one too).
class OlderSystemEndToEnd : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        folder = TempFolder("qv-older");
        recordPath = TempFolder("qv-record") + "\\start.txt";
        exe = folder + "\\" + kOlderSetup;
    }

    // Installs the copy with each of `names` overwritten.
    void Install(const std::vector<const char *> &names)
    {
        ASSERT_TRUE(CopyProgram(BuiltSetup(), exe));
        for (const char *name : names)
        {
            ASSERT_GE(CopyWithNameOverwritten(exe, exe, name), 1) << name << " does not stand in " << BuiltSetup();
        }
        ASSERT_TRUE(CopyProgram(BuiltGame(), folder + "\\game.exe"));
        ASSERT_TRUE(planted::PlantLibraries(folder));
    }

    Environment GameLeavesAtOnce() const
    {
        Environment env;
        env.push_back(std::make_pair(std::string("QV_GAME_RECORD"), recordPath));
        env.push_back(std::make_pair(std::string("QV_GAME_MODE"), std::string("exit")));
        env.push_back(std::make_pair(std::string("QV_GAME_HANG_MS"), std::string()));
        env.push_back(std::make_pair(std::string("QV_GAME_AUTOCLOSE_MS"), std::string()));
        return env;
    }

    void ExpectNothingPlantedLoaded()
    {
        std::vector<std::string> markers = planted::LoadedMarkers(folder);
        EXPECT_TRUE(markers.empty()) << "loaded from the setup's folder:" << Joined(markers);
    }

    std::string folder, recordPath, exe;
};

int DirectChildren(HWND window)
{
    int count = 0;
    for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        count++;
    return count;
}

// Without SetDefaultDllDirectories the setup starts, shows its whole form with working sliders, loads
// every library from the system folder and nothing planted beside it, saves, and launches the game.
TEST_F(OlderSystemEndToEnd, WithoutTheNewerLoaderStartsSavesLaunchesAndLoadsNothingPlanted)
{
    Install({ kNewerLoaderName });
    ASSERT_FALSE(HasFatalFailure());
    planted::PreferPlantedLibraries prefer(kOlderSetup);
    ASSERT_TRUE(StartSetup(exe, folder, GameLeavesAtOnce()));

    EXPECT_EQ(kFormControls, DirectChildren(window.Handle())) << "controls on the form";
    int position = 11;
    for (int id : kSliders)
    {
        char sliderClass[64] = "";
        GetClassNameA(window.Control(id), sliderClass, sizeof(sliderClass));
        EXPECT_STREQ(TRACKBAR_CLASSA, sliderClass) << "control " << id;
        window.SetSliderPosition(id, position);
        EXPECT_EQ(position, window.SliderPosition(id)) << "slider " << id;
        position += 11;
    }

    std::vector<std::string> modules;
    std::vector<std::string> foreign = ForeignModules(setup.Pid(), exe, &modules);
    EXPECT_FALSE(modules.empty()) << "the setup's modules could not be listed";
    EXPECT_TRUE(foreign.empty()) << "loaded from outside the system folder:" << Joined(foreign);

    window.PostCommand(IDM_SAVE);
    std::vector<std::string> expected = SavedKeys(ReadForm(window)), got;
    EXPECT_TRUE(WaitUntil([&]() { return (got = IniKeys(SettingsFile())) == expected; }, kCommandTimeoutMs))
        << "expected the keys:" << Joined(expected) << "\ngot:" << Joined(got);

    window.SetSliderPosition(IDC_MASTER_VOLUME, 66);
    FormValues launched = ReadForm(window);
    window.PostClick(IDC_LAUNCH_GAME);
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_EQ(SavedKeys(launched), IniKeys(SettingsFile())) << "Launch Game saves first";
    EXPECT_FALSE(ReadRecord(recordPath).empty()) << "the game wrote no record at " << recordPath;
    ExpectNothingPlantedLoaded();
}

// Without the common controls: an error box that names them, no window, the exit of a failed start-up,
// and still nothing loaded from the setup's folder; with and without the newer loader.
struct MissingCase
{
    const char *name;
    std::vector<const char *> overwritten;
};

const MissingCase kMissingCases[] =
{
    { "NewerLoader", { kCommonControlsName } },
    { "OlderLoader", { kCommonControlsName, kNewerLoaderName } },
};

void PrintTo(const MissingCase &missing, std::ostream *out)
{
    *out << missing.name;
}

class WithoutCommonControls : public OlderSystemEndToEnd, public ::testing::WithParamInterface<MissingCase>
{
};

TEST_P(WithoutCommonControls, SaysSoAndEndsWithoutAWindow)
{
    Install(GetParam().overwritten);
    ASSERT_FALSE(HasFatalFailure());
    planted::PreferPlantedLibraries prefer(kOlderSetup);
    ASSERT_TRUE(setup.Start(exe, folder, Environment())) << setup.error;

    std::vector<HWND> boxes;
    ASSERT_TRUE(WaitUntil([&]() { return !(boxes = MessageBoxesOf(setup.Pid())).empty(); }, kExitTimeoutMs))
        << "no message box appeared";
    ASSERT_EQ(1u, boxes.size());
    SeenBox box = ReadMessageBox(boxes[0]);
    EXPECT_EQ("Error", box.caption) << Describe(box);
    EXPECT_NE(std::string::npos, box.text.find(kCommonControlsName)) << Describe(box);
    EXPECT_TRUE(box.hasIcon) << Describe(box);
    EXPECT_EQ(std::vector<std::string>(1, "OK"), box.buttons) << Describe(box);
    EXPECT_TRUE(TopLevelWindows(setup.Pid(), SetupWindow::kClass, false).empty()) << "a window was made";

    ASSERT_TRUE(PressButton(boxes[0], "OK"));
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_FALSE(PathExists(SettingsFolder())) << "a failed start-up created " << SettingsFolder();
    ExpectNothingPlantedLoaded();
}

INSTANTIATE_TEST_SUITE_P(Startup, WithoutCommonControls, ::testing::ValuesIn(kMissingCases),
                         [](const ::testing::TestParamInfo<MissingCase> &info) { return std::string(info.param.name); });

}  // namespace
