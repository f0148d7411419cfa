// The real setup.exe, started as its own process and driven through its window: first start, the
// window's shape and place, a stored file brought into range, Save, leaving without saving, About, what
// another program set on the form, and libraries planted beside it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "driver.h"
#include <commctrl.h>

#include "resources/resource.h"

using namespace driver;

namespace {

const DWORD kExitTimeoutMs = 15000;
const DWORD kCommandTimeoutMs = 10000;

const int kClientWidth = 500;
const int kClientHeight = 280;

// The distinct resolutions of the primary display in the order first enumerated, as the setup lists them.
std::vector<std::string> DisplayResolutions()
{
    std::vector<std::string> labels;
    DEVMODEA mode;
    for (DWORD i = 0;; i++)
    {
        ZeroMemory(&mode, sizeof(mode));
        mode.dmSize = sizeof(mode);
        if (!EnumDisplaySettingsA(NULL, i, &mode))
            break;
        char label[32];
        wsprintfA(label, "%d x %d", (int)mode.dmPelsWidth, (int)mode.dmPelsHeight);
        if (std::find(labels.begin(), labels.end(), label) == labels.end())
            labels.push_back(label);
    }
    return labels;
}

int IndexOf(const std::vector<std::string> &labels, const std::string &label)
{
    std::vector<std::string>::const_iterator found = std::find(labels.begin(), labels.end(), label);
    return found == labels.end() ? -1 : (int)(found - labels.begin());
}

FormValues Form(int master, int effect, int ambient, int music, int renderer, int mode,
                const std::vector<std::string> &labels, int resolution, int cursor, int vsync)
{
    FormValues form;
    form.masterVolume = master;
    form.effectVolume = effect;
    form.ambientVolume = ambient;
    form.musicVolume = music;
    form.renderer = renderer;
    form.displayMode = mode;
    form.resolution = resolution;
    form.resolutionLabel = resolution >= 0 && resolution < (int)labels.size() ? labels[resolution] : "";
    form.softwareCursor = cursor;
    form.vsync = vsync;
    return form;
}

std::vector<std::string> Sorted(std::vector<std::string> lines)
{
    std::sort(lines.begin(), lines.end());
    return lines;
}

class EndToEndWindow : public EndToEndTest
{
};

TEST_F(EndToEndWindow, FirstStartCreatesTheFolderAndShowsTheDefaultsInACentredWindow)
{
    ASSERT_TRUE(StartSetup(BuiltSetup()));

    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(SettingsFolder().c_str()));
    EXPECT_TRUE(GetFileAttributesA(SettingsFolder().c_str()) & FILE_ATTRIBUTE_DIRECTORY)
        << SettingsFolder() << " should have been created as a folder";
    EXPECT_FALSE(PathExists(SettingsFile())) << "starting must not write " << SettingsFile();

    HWND main = window.Handle();
    char title[64] = "";
    GetWindowTextA(main, title, sizeof(title));
    EXPECT_STREQ("Quorvane Setup", title);
    LONG style = GetWindowLongA(main, GWL_STYLE);
    EXPECT_EQ((LONG)(WS_CAPTION | WS_SYSMENU), style & (WS_CAPTION | WS_SYSMENU)) << std::hex << "style 0x" << style;
    EXPECT_EQ(0, style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CHILD | WS_POPUP))
        << std::hex << "style 0x" << style << ": no sizing border, no minimise or maximise box";
    // The platform adds the window-edge bit to every captioned window; nothing else may be there.
    LONG exStyle = GetWindowLongA(main, GWL_EXSTYLE);
    EXPECT_EQ(0, exStyle & ~WS_EX_WINDOWEDGE) << std::hex << "extended style 0x" << exStyle;
    EXPECT_TRUE(GetWindow(main, GW_OWNER) == NULL) << "the main window has no owner";
    EXPECT_TRUE(GetMenu(main) != NULL) << "the main window has a menu bar";

    RECT client, frame;
    ASSERT_TRUE(GetClientRect(main, &client));
    EXPECT_EQ(kClientWidth, client.right - client.left);
    EXPECT_EQ(kClientHeight, client.bottom - client.top);
    ASSERT_TRUE(GetWindowRect(main, &frame));
    int screenWidth = GetSystemMetrics(SM_CXSCREEN), screenHeight = GetSystemMetrics(SM_CYSCREEN);
    int width = frame.right - frame.left, height = frame.bottom - frame.top;
    EXPECT_EQ((screenWidth - width) / 2, frame.left)
        << "screen " << screenWidth << " x " << screenHeight << ", window " << width << " x " << height;
    EXPECT_EQ((screenHeight - height) / 2, frame.top)
        << "screen " << screenWidth << " x " << screenHeight << ", window " << width << " x " << height;

    // The list offers the display's resolutions; with no file the selection is 640 x 480, else the last one.
    std::vector<std::string> labels = window.ResolutionLabels();
    EXPECT_EQ(DisplayResolutions(), labels) << "offered:" << Joined(labels);
    ASSERT_FALSE(labels.empty()) << "the display reports no mode";
    printf("resolutions offered:%s\n", Joined(labels).c_str());
    int expectedResolution = IndexOf(labels, "640 x 480");
    if (expectedResolution < 0)
        expectedResolution = (int)labels.size() - 1;
    FormValues expected = Form(50, 100, 100, 100, 0, 1, labels, expectedResolution, 1, 0);
    FormValues shown = ReadForm(window);
    EXPECT_TRUE(expected == shown) << "expected: " << Describe(expected) << "\n     got: " << Describe(shown);

    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_FALSE(PathExists(SettingsFile())) << "closing must not write " << SettingsFile();
}

// Another program may widen a slider's range or add an item to the list; Save still writes only values
// the game accepts.
TEST_F(EndToEndWindow, SaveBringsWhatAnotherProgramSetIntoRange)
{
    ASSERT_TRUE(StartSetup(BuiltSetup()));
    std::vector<std::string> labels = window.ResolutionLabels();
    ASSERT_FALSE(labels.empty()) << "the display reports no mode";
    window.Send(IDC_MASTER_VOLUME, TBM_SETRANGEMAX, TRUE, 99999);
    window.SetSliderPosition(IDC_MASTER_VOLUME, 99999);
    window.Send(IDC_MUSIC_VOLUME, TBM_SETRANGEMIN, TRUE, -50);
    window.SetSliderPosition(IDC_MUSIC_VOLUME, -50);
    DWORD_PTR added = 0;
    SendMessageTimeoutW(window.Control(IDC_RESOLUTION), CB_ADDSTRING, 0, (LPARAM)L"12345 x 678", SMTO_ABORTIFHUNG,
                        kCommandTimeoutMs, &added);
    window.Select((int)added);
    ASSERT_EQ(99999, window.SliderPosition(IDC_MASTER_VOLUME));
    ASSERT_EQ(-50, window.SliderPosition(IDC_MUSIC_VOLUME));
    ASSERT_EQ((int)labels.size(), window.Selection()) << "the added item is selected";

    window.PostCommand(IDM_SAVE);
    // The reset values, but for the volumes at the ends of their range and the first resolution.
    std::vector<std::string> expected = SavedKeys(Form(100, 100, 100, 0, 0, 1, labels, 0, 1, 0)), got;
    EXPECT_TRUE(WaitUntil([&]() { return (got = IniKeys(SettingsFile())) == expected; }, kCommandTimeoutMs))
        << "expected the keys:" << Joined(expected) << "\ngot:" << Joined(got);
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

TEST_F(EndToEndWindow, StartsMinimisedWhenStartedSo)
{
    setup.showCommand = SW_SHOWMINNOACTIVE;
    ASSERT_TRUE(StartSetup(BuiltSetup()));
    EXPECT_TRUE(IsIconic(window.Handle())) << "started with SW_SHOWMINNOACTIVE, the window is not minimised";
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

const char *const kPlantedLibraries[] = { "comctl32", "version", "uxtheme", "msimg32" };

// While alive, Wine takes these libraries for the program `exe` (a file name) from a file beside it when
// there is one, as Windows does for libraries that are not known ones; by default Wine takes its own.
// Told through the registry: a program started from here is not handed WINEDLLOVERRIDES.
class PreferPlantedLibraries
{
public:
    explicit PreferPlantedLibraries(const std::string &exe) : key("Software\\Wine\\AppDefaults\\" + exe)
    {
        HKEY overrides;
        if (!OnWine())      // Windows does so by itself, and keeps no such key
            return;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (key + kOverrides).c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                            &overrides, NULL) != ERROR_SUCCESS)
            return;
        for (const char *name : kPlantedLibraries)
            RegSetValueExA(overrides, name, 0, REG_SZ, (const BYTE *)"native,builtin", sizeof("native,builtin"));
        RegCloseKey(overrides);
    }
    // Deleted a level at a time: the calls that delete a whole tree came after Windows XP.
    ~PreferPlantedLibraries()
    {
        RegDeleteKeyA(HKEY_CURRENT_USER, (key + kOverrides).c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    }

private:
    static const char *const kOverrides;
    std::string key;
};
const char *const PreferPlantedLibraries::kOverrides = "\\DllOverrides";

// Libraries planted where the setup lies, which is also its current folder, under the names of system
// libraries that are not known ones: none is loaded, and the setup works with the system's own.
TEST_F(EndToEndWindow, LibrariesPlantedBesideTheSetupAreNeverLoaded)
{
    std::string folder = TempFolder("qv-planted");
    ASSERT_TRUE(CopyProgram(BuiltSetup(), folder + "\\planted-setup.exe"));
    for (const char *name : kPlantedLibraries)
        ASSERT_TRUE(CopyProgram(OwnFolder() + "\\planted\\" + name + ".dll", folder + "\\" + name + ".dll")) << name;
    PreferPlantedLibraries prefer("planted-setup.exe");
    ASSERT_TRUE(StartSetup(folder + "\\planted-setup.exe", folder));

    char sliderClass[64] = "";
    GetClassNameA(window.Control(IDC_MASTER_VOLUME), sliderClass, sizeof(sliderClass));
    EXPECT_STREQ("msctls_trackbar32", sliderClass);
    EXPECT_EQ(50, window.SliderPosition(IDC_MASTER_VOLUME));
    window.PostCommand(IDM_SAVE);
    EXPECT_TRUE(WaitUntil([&]() { return PathExists(SettingsFile()); }, kCommandTimeoutMs)) << "Save wrote nothing";
    window.PostCommand(IDM_CONFIG_FOLDER);
    HWND shown = WaitForFolderWindow("Quorvane", kCommandTimeoutMs);
    EXPECT_TRUE(shown != NULL) << "Config Folder showed no folder";
    if (shown)
        CloseFolderWindow(shown);
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));

    std::vector<std::string> markers;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*.loaded").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE)
    {
        do
            markers.push_back(found.cFileName);
        while (FindNextFileA(search, &found));
        FindClose(search);
    }
    EXPECT_TRUE(markers.empty()) << "loaded from the setup's folder:" << Joined(markers);
}

// A file with every stored value out of range, plus keys and a section the setup does not know.
const char kStoredFile[] =
    "[Sound]\r\n"
    "MASTER_VOLUME=150\r\n"
    "MUSIC_VOLUME=-20\r\n"
    "AMBIENT_VOLUME=37\r\n"
    "EFFECT_VOLUME=101\r\n"
    "SPEECH_VOLUME=64\r\n"
    "[Rendering]\r\n"
    "RENDERING_BACKEND=7\r\n"
    "SOFTWARE_CURSOR=5\r\n"
    "GAMMA=12\r\n"
    "[Display]\r\n"
    "DISPLAY_MODE=-1\r\n"
    "DISPLAY_WIDTH=4321\r\n"
    "DISPLAY_HEIGHT=1234\r\n"
    "DISPLAY_VSYNC=3\r\n"
    "[Player]\r\n"
    "NAME=Ada\r\n"
    "LEVEL=7\r\n";

const char *const kForeignKeys[] =
{
    "Sound/SPEECH_VOLUME=64", "Rendering/GAMMA=12", "Player/NAME=Ada", "Player/LEVEL=7",
};

class EndToEndStoredFile : public EndToEndTest
{
protected:
    void SetUp() override
    {
        EndToEndTest::SetUp();
        if (HasFatalFailure())
            return;
        ASSERT_TRUE(CreateDirectoryA(SettingsFolder().c_str(), NULL));
        WriteText(SettingsFile(), kStoredFile);
        ASSERT_EQ(std::string(kStoredFile), ReadText(SettingsFile()));
        ASSERT_TRUE(StartSetup(BuiltSetup()));
        labels = window.ResolutionLabels();
        ASSERT_FALSE(labels.empty()) << "the display reports no mode";
    }

    // Moves every control away from what the stored file shows; gives what the form then shows.
    FormValues ChangeControls()
    {
        window.SetSliderPosition(IDC_MASTER_VOLUME, 23);
        window.SetSliderPosition(IDC_EFFECT_VOLUME, 0);
        window.SetSliderPosition(IDC_AMBIENT_VOLUME, 81);
        window.SetSliderPosition(IDC_MUSIC_VOLUME, 1);
        window.Click(IDC_RENDERER_GLIDE);
        window.Click(IDC_MODE_BORDERLESS);
        window.Click(IDC_SOFTWARE_CURSOR);
        window.Click(IDC_VSYNC);
        window.Select(0);
        FormValues expected = Form(23, 0, 81, 1, 1, 2, labels, 0, 0, 0);
        FormValues shown = ReadForm(window);
        EXPECT_TRUE(expected == shown) << "the controls did not take the changes\nexpected: " << Describe(expected)
                                       << "\n     got: " << Describe(shown);
        return shown;
    }

    std::vector<std::string> labels;
};

TEST_F(EndToEndStoredFile, ShowsTheStoredValuesBroughtIntoRange)
{
    // 4321 x 1234 is offered by no display, so the last resolution is selected.
    FormValues expected = Form(100, 100, 37, 0, 2, 0, labels, (int)labels.size() - 1, 1, 1);
    FormValues shown = ReadForm(window);
    EXPECT_TRUE(expected == shown) << "expected: " << Describe(expected) << "\n     got: " << Describe(shown);
    EXPECT_EQ(std::string(kStoredFile), ReadText(SettingsFile())) << "starting must not write the file";
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

TEST_F(EndToEndStoredFile, SaveWritesTheFormAndKeepsForeignKeys)
{
    FormValues form = ChangeControls();
    std::vector<std::string> expected = SavedKeys(form);
    expected.insert(expected.end(), kForeignKeys, kForeignKeys + sizeof(kForeignKeys) / sizeof(kForeignKeys[0]));
    expected = Sorted(expected);

    window.PostCommand(IDM_SAVE);
    std::vector<std::string> got;
    bool saved = WaitUntil([&]() { got = Sorted(IniKeys(SettingsFile())); return got == expected; },
                           kCommandTimeoutMs);
    EXPECT_TRUE(saved) << "expected the keys:" << Joined(expected) << "\ngot:" << Joined(got);
    EXPECT_TRUE(form == ReadForm(window)) << "saving changed the form";

    std::string afterSave = ReadText(SettingsFile());
    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_EQ(afterSave, ReadText(SettingsFile())) << "closing after a save wrote again";
}

TEST_F(EndToEndStoredFile, AboutShowsOneInformationBoxOwnedByTheWindow)
{
    window.PostCommand(IDM_ABOUT);
    std::vector<HWND> boxes;
    ASSERT_TRUE(WaitUntil([&]() { return !(boxes = MessageBoxesOf(setup.Pid())).empty(); }, kCommandTimeoutMs))
        << "no message box appeared";
    ASSERT_EQ(1u, boxes.size()) << "one box expected";
    SeenBox box = ReadMessageBox(boxes[0]);
    EXPECT_EQ("About", box.caption) << Describe(box);
    EXPECT_EQ(std::vector<std::string>(1, "OK"), box.buttons) << Describe(box);
    EXPECT_TRUE(box.hasIcon) << Describe(box);
    EXPECT_FALSE(box.text.empty()) << Describe(box);
    EXPECT_TRUE(GetWindow(boxes[0], GW_OWNER) == window.Handle()) << "the box belongs to the main window";
    EXPECT_FALSE(window.Enabled()) << "the main window takes no input while the box is up";

    ASSERT_TRUE(PressButton(boxes[0], "OK"));
    EXPECT_TRUE(WaitUntil([&]() { return MessageBoxesOf(setup.Pid()).empty(); }, kCommandTimeoutMs))
        << "the box did not close";
    EXPECT_TRUE(WaitUntil([&]() { return window.Enabled(); }, kCommandTimeoutMs)) << "the window stayed disabled";
    EXPECT_TRUE(setup.Running()) << "About must not end the setup";
    EXPECT_TRUE(window.Alive() && window.Visible());
    EXPECT_EQ(std::string(kStoredFile), ReadText(SettingsFile())) << "About must not write the file";

    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}

// Ways of leaving after the controls were changed; none of them may write the file.
struct LeaveCase
{
    const char *name;
    bool reset;         // File > Reset first, and check that the form shows the reset values
    bool quitCommand;   // File > Quit; else WM_CLOSE, as the close box sends it
};

const LeaveCase kLeaveCases[] =
{
    { "CloseBox",      false, false },
    { "Quit",          false, true },
    { "ResetThenQuit", true,  true },
};

// Names the case in test listings instead of its bytes.
void PrintTo(const LeaveCase &leave, std::ostream *out)
{
    *out << leave.name;
}

class EndToEndLeaving : public EndToEndStoredFile, public ::testing::WithParamInterface<LeaveCase>
{
};

TEST_P(EndToEndLeaving, WritesNothingAndExitsWithZero)
{
    const LeaveCase &leave = GetParam();
    ChangeControls();

    if (leave.reset)
    {
        window.PostCommand(IDM_RESET);
        int resetResolution = std::max(0, IndexOf(labels, "640 x 480"));
        FormValues expected = Form(50, 100, 100, 100, 0, 1, labels, resetResolution, 1, 0);
        FormValues shown;
        EXPECT_TRUE(WaitUntil([&]() { shown = ReadForm(window); return shown == expected; }, kCommandTimeoutMs))
            << "after Reset expected: " << Describe(expected) << "\n                   got: " << Describe(shown);
    }
    if (leave.quitCommand)
        window.PostCommand(IDM_QUIT);
    else
        window.Close();

    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
    EXPECT_EQ(std::string(kStoredFile), ReadText(SettingsFile())) << "the file changed";
}

INSTANTIATE_TEST_SUITE_P(Exits, EndToEndLeaving, ::testing::ValuesIn(kLeaveCases),
                         [](const ::testing::TestParamInfo<LeaveCase> &info) { return std::string(info.param.name); });

}  // namespace

TEST_F(EndToEndStoredFile, ConfigFolderOpensTheSettingsFolder)
{
    window.PostCommand(IDM_CONFIG_FOLDER);
    HWND folder = WaitForFolderWindow("Quorvane", kCommandTimeoutMs);
    ASSERT_TRUE(folder != NULL) << "no folder window titled Quorvane appeared";
    DWORD pid = 0;
    GetWindowThreadProcessId(folder, &pid);
    EXPECT_NE(setup.Pid(), pid) << "the shell shows the folder, not the setup";
    CloseFolderWindow(folder);
    EXPECT_TRUE(setup.Running() && window.Visible());
    EXPECT_EQ(std::string(kStoredFile), ReadText(SettingsFile())) << "opening the folder writes nothing";

    window.Close();
    EXPECT_TRUE(SetupExitsWithZero(kExitTimeoutMs));
}
