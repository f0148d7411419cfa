// The main window created in this process, with the display modes and folders the test chooses.
#include "app/window.h"
#include <commctrl.h>

#include <gtest/gtest.h>

#include "app/commands.h"
#include "form/binding.h"
#include "resources/resource.h"
#include "resources/version.h"
#include "settings/catalogue.h"
#include "settings/file.h"
#include "settings/record.h"
#include "support.h"

namespace {

// The first folder window of a fresh prefix brings up the whole shell browser: more than ten seconds on an
// emulated CPU. A bound for a hang, not a measure of speed.
const DWORD kFolderWindowTimeoutMs = 30000;

const std::vector<Resolution> kFiveModes =
{
    { 800, 600, 32, 60 }, { 640, 480, 32, 60 }, { 1024, 768, 32, 60 }, { 1280, 720, 32, 60 }, { 1280, 1024, 32, 60 },
};

void PumpMessages()
{
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
    {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

std::string ControlText(HWND control)
{
    char text[256] = "";
    GetWindowTextA(control, text, sizeof(text));
    return text;
}

class SetupWindow : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = MakeTempFolder("window");
        g_fakeAppData = Wide(folder);
        SetFakeModulePath(folder + "\\setup.exe");
        g_fakeModes = kFiveModes;
        g_fakeFailingIndex = -1;
        settingsPath = folder + "\\Quorvane\\settings.ini";
    }

    void TearDown() override
    {
        CloseSetupWindow(window);
        PumpMessages();
        RemoveTree(folder);
    }

    HWND Create()
    {
        window = CreateSetupWindow();
        return window;
    }

    HWND Control(int id) { return GetDlgItem(window, id); }

    void Command(WORD id, WORD code = 0)
    {
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(id, code), 0);
    }

    std::string folder, settingsPath;
    HWND window = NULL;
};

struct ExpectedControl
{
    const char *windowClass;
    DWORD style;
    DWORD exStyle;
    int id;
    const char *text;
    RECT rect;      // left, top, right, bottom in client pixels
};

// Worked out by hand for a 500 x 280 client area: col = (500 - 36) / 3 = 154.
const ExpectedControl kExpectedControls[] =
{
    { "Button", 0x50000007, 0, 0, "Audio Volume", { 10, 10, 490, 122 } },
    { "Static", 0x50000000, 0, 0, "Master:", { 20, 30, 100, 50 } },
    { "msctls_trackbar32", 0x50010001, 0, 1001, "", { 100, 28, 480, 48 } },
    { "Static", 0x50000000, 0, 0, "Effect:", { 20, 52, 100, 72 } },
    { "msctls_trackbar32", 0x50010001, 0, 1002, "", { 100, 50, 480, 70 } },
    { "Static", 0x50000000, 0, 0, "Ambient:", { 20, 74, 100, 94 } },
    { "msctls_trackbar32", 0x50010001, 0, 1003, "", { 100, 72, 480, 92 } },
    { "Static", 0x50000000, 0, 0, "Music:", { 20, 96, 100, 116 } },
    { "msctls_trackbar32", 0x50010001, 0, 1004, "", { 100, 94, 480, 114 } },
    { "Button", 0x50000007, 0, 0, "Renderer", { 10, 130, 164, 210 } },
    { "Button", 0x50030009, 0, 1101, "OpenGL", { 20, 150, 154, 168 } },
    { "Button", 0x50010009, 0, 1102, "Glide", { 20, 168, 154, 186 } },
    { "Button", 0x50010009, 0, 1103, "Direct3D", { 20, 186, 154, 204 } },
    { "Button", 0x50000007, 0, 0, "Mode", { 172, 130, 326, 210 } },
    { "Button", 0x50030009, 0, 1201, "Windowed", { 182, 150, 316, 168 } },
    { "Button", 0x50010009, 0, 1202, "Fullscreen", { 182, 168, 316, 186 } },
    { "Button", 0x50010009, 0, 1203, "Borderless", { 182, 186, 316, 204 } },
    { "Button", 0x50000007, 0, 0, "Display", { 334, 130, 488, 230 } },
    { "Static", 0x50000000, 0, 0, "Resolution:", { 344, 150, 478, 166 } },
    { "ComboBox", 0x50210203, WS_EX_CLIENTEDGE, 1301, "", { 344, 166, 478, 266 } },
    { "Button", 0x50010003, 0, 1401, "Software cursor", { 344, 188, 478, 204 } },
    { "Button", 0x50010003, 0, 1402, "VSync", { 344, 206, 478, 222 } },
    { "Button", 0x50010001, 0, 1501, "Launch Game", { 190, 246, 310, 270 } },
};

// What each CreateWindowExA call asked for, before the controls adjust their own styles (a
// combo box drops WS_VSCROLL and its client edge, radio buttons move WS_TABSTOP to the checked one).
struct CreationRecord
{
    std::string windowClass, text;
    DWORD style, exStyle;
    int id;
    RECT rect;
    HWND handle;
};

std::vector<CreationRecord> g_created;
HWND g_createdParent;

LRESULT CALLBACK RecordCreation(int code, WPARAM wParam, LPARAM lParam)
{
    if (code == HCBT_CREATEWND)
    {
        const CREATESTRUCTA *create = ((CBT_CREATEWNDA *)lParam)->lpcs;
        if (!g_createdParent && create->hwndParent == NULL)
            g_createdParent = (HWND)wParam;
        else if (g_createdParent && create->hwndParent == g_createdParent)
        {
            CreationRecord record;
            record.windowClass = HIWORD(create->lpszClass) ? create->lpszClass : "#atom";
            record.text = create->lpszName ? create->lpszName : "";
            record.style = (DWORD)create->style;
            record.exStyle = create->dwExStyle;
            record.id = (int)(INT_PTR)create->hMenu;
            record.rect = { create->x, create->y, create->x + create->cx, create->y + create->cy };
            record.handle = (HWND)wParam;
            g_created.push_back(record);
        }
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

TEST_F(SetupWindow, EveryControlIsCreatedAsTheLayoutSays)
{
    g_created.clear();
    g_createdParent = NULL;
    HHOOK hook = SetWindowsHookExA(WH_CBT, RecordCreation, NULL, GetCurrentThreadId());
    ASSERT_TRUE(Create());
    UnhookWindowsHookEx(hook);

    const size_t count = sizeof(kExpectedControls) / sizeof(kExpectedControls[0]);
    ASSERT_EQ(count, g_created.size());
    HWND child = GetWindow(window, GW_CHILD);
    for (size_t i = 0; i < count; i++)
    {
        const ExpectedControl &expected = kExpectedControls[i];
        const CreationRecord &got = g_created[i];
        SCOPED_TRACE(expected.text[0] ? expected.text : expected.windowClass);
        EXPECT_EQ(0, lstrcmpiA(expected.windowClass, got.windowClass.c_str())) << got.windowClass;
        EXPECT_EQ(expected.style, got.style);
        EXPECT_EQ(expected.exStyle, got.exStyle);
        EXPECT_EQ(expected.id, got.id);
        EXPECT_EQ(expected.text, got.text);
        EXPECT_EQ(expected.rect.left, got.rect.left);
        EXPECT_EQ(expected.rect.top, got.rect.top);
        EXPECT_EQ(expected.rect.right, got.rect.right);
        EXPECT_EQ(expected.rect.bottom, got.rect.bottom);

        // Created in table order, which is also the order of the siblings.
        EXPECT_TRUE(child == got.handle) << "control " << i << " out of order";
        EXPECT_EQ(expected.id, GetDlgCtrlID(got.handle));
        char name[64] = "";
        GetClassNameA(got.handle, name, sizeof(name));
        EXPECT_EQ(0, lstrcmpiA(expected.windowClass, name)) << name;
        if (expected.id != IDC_RESOLUTION)
        {
            EXPECT_EQ(expected.text, ControlText(got.handle));
            RECT placed;
            GetWindowRect(got.handle, &placed);
            MapWindowPoints(NULL, window, (POINT *)&placed, 2);
            EXPECT_TRUE(EqualRect(&expected.rect, &placed)) << "placed at " << placed.left << "," << placed.top;
        }
        child = GetWindow(child, GW_HWNDNEXT);
    }
}

TEST_F(SetupWindow, ClientAreaBelowTheMenuIs500By280)
{
    ASSERT_TRUE(Create());
    RECT client;
    GetClientRect(window, &client);
    EXPECT_EQ(CLIENT_WIDTH, client.right - client.left);
    EXPECT_EQ(CLIENT_HEIGHT, client.bottom - client.top);
    EXPECT_TRUE(GetMenu(window) != NULL);
}

struct ExpectedMenuItem
{
    int menu;
    const char *text;       // NULL for a separator
    UINT id;
};

const ExpectedMenuItem kExpectedMenu[] =
{
    { 0, "&Save", IDM_SAVE }, { 0, "&Reset", IDM_RESET }, { 0, NULL, 0 }, { 0, "&Quit", IDM_QUIT },
    { 1, "Config &Folder", IDM_CONFIG_FOLDER },
    { 2, "&About", IDM_ABOUT },
};

TEST_F(SetupWindow, MenuBarHoldsFileViewHelp)
{
    ASSERT_TRUE(Create());
    HMENU bar = GetMenu(window);
    const char *titles[] = { "&File", "&View", "&Help" };
    ASSERT_EQ(3, GetMenuItemCount(bar));
    for (int i = 0; i < 3; i++)
    {
        char text[64] = "";
        GetMenuStringA(bar, i, text, sizeof(text), MF_BYPOSITION);
        EXPECT_STREQ(titles[i], text);
    }
    int position[3] = { 0, 0, 0 };
    for (const ExpectedMenuItem &expected : kExpectedMenu)
    {
        HMENU popup = GetSubMenu(bar, expected.menu);
        int at = position[expected.menu]++;
        MENUITEMINFOA item = {};
        char text[64] = "";
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STATE | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof(text);
        ASSERT_TRUE(GetMenuItemInfoA(popup, at, TRUE, &item));
        if (!expected.text)
        {
            EXPECT_TRUE(item.fType & MFT_SEPARATOR) << "menu " << expected.menu << " item " << at;
            continue;
        }
        EXPECT_STREQ(expected.text, text);
        EXPECT_EQ(expected.id, item.wID);
        EXPECT_EQ(0u, item.fState & (MFS_CHECKED | MFS_DISABLED | MFS_GRAYED)) << text;
    }
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(position[i], GetMenuItemCount(GetSubMenu(bar, i)));
}

TEST_F(SetupWindow, SlidersRunFrom0To100WithATickEvery10)
{
    ASSERT_TRUE(Create());
    for (int id = IDC_MASTER_VOLUME; id <= IDC_MUSIC_VOLUME; id++)
    {
        HWND slider = Control(id);
        EXPECT_EQ(0, SendMessageA(slider, TBM_GETRANGEMIN, 0, 0));
        EXPECT_EQ(100, SendMessageA(slider, TBM_GETRANGEMAX, 0, 0));
        EXPECT_EQ(11, SendMessageA(slider, TBM_GETNUMTICS, 0, 0)) << "0, 10, ... 100";
        SendMessageA(slider, TBM_SETPOS, TRUE, 150);
        EXPECT_EQ(100, SendMessageA(slider, TBM_GETPOS, 0, 0));
        SendMessageA(slider, TBM_SETPOS, TRUE, -5);
        EXPECT_EQ(0, SendMessageA(slider, TBM_GETPOS, 0, 0));
    }
}

TEST_F(SetupWindow, ResolutionListHoldsTheCatalogueInItsOrder)
{
    ASSERT_TRUE(Create());
    HWND list = Control(IDC_RESOLUTION);
    const char *labels[] = { "800 x 600", "640 x 480", "1024 x 768", "1280 x 720", "1280 x 1024" };
    ASSERT_EQ(5, SendMessageA(list, CB_GETCOUNT, 0, 0));
    for (int i = 0; i < 5; i++)
    {
        char text[32] = "";
        SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)text);
        EXPECT_STREQ(labels[i], text);
    }
    DestroyWindow(window);

    g_fakeModes.clear();
    ASSERT_TRUE(Create());
    EXPECT_EQ(0, SendMessageA(Control(IDC_RESOLUTION), CB_GETCOUNT, 0, 0));
    EXPECT_EQ(CB_ERR, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0));
}

TEST_F(SetupWindow, StartsWithTheSettingsFolderAndTheFileShown)
{
    CreateDirectoryA((folder + "\\Quorvane").c_str(), NULL);
    WriteText(settingsPath, "[Sound]\r\nMASTER_VOLUME=150\r\nMUSIC_VOLUME=-20\r\nEFFECT_VOLUME=33\r\n"
                            "[Rendering]\r\nRENDERING_BACKEND=7\r\nSOFTWARE_CURSOR=0\r\n"
                            "[Display]\r\nDISPLAY_MODE=-1\r\nDISPLAY_WIDTH=1280\r\nDISPLAY_HEIGHT=720\r\n"
                            "DISPLAY_VSYNC=5\r\n");
    ASSERT_TRUE(Create());
    EXPECT_EQ(100, SendMessageA(Control(IDC_MASTER_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(33, SendMessageA(Control(IDC_EFFECT_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(100, SendMessageA(Control(IDC_AMBIENT_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(0, SendMessageA(Control(IDC_MUSIC_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(window, IDC_RENDERER_DIRECT3D));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(window, IDC_MODE_WINDOWED));
    EXPECT_EQ(3, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0));
    EXPECT_EQ(BST_UNCHECKED, IsDlgButtonChecked(window, IDC_SOFTWARE_CURSOR));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(window, IDC_VSYNC));
}

TEST_F(SetupWindow, FirstStartCreatesTheSettingsFolderButNoFile)
{
    ASSERT_TRUE(Create());
    EXPECT_TRUE(GetFileAttributesA((folder + "\\Quorvane").c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_FALSE(PathExists(settingsPath));
    EXPECT_EQ(50, SendMessageA(Control(IDC_MASTER_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(window, IDC_RENDERER_OPENGL));
    EXPECT_EQ(BST_CHECKED, IsDlgButtonChecked(window, IDC_MODE_FULLSCREEN));
    EXPECT_EQ(1, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0)) << "640 x 480";
}

TEST_F(SetupWindow, RefusedWithoutAnyLocationAfterTheStartupError)
{
    g_fakeAppData.clear();
    g_fakeModuleLength = 0;
    MessageBoxCloser closer;
    EXPECT_TRUE(Create() == NULL);
    ASSERT_EQ(1u, closer.seen.size());
    EXPECT_EQ("Error", closer.seen[0].caption);
    EXPECT_EQ("Unable to start setup!\nPlease verify your installation.", closer.seen[0].text);
    EXPECT_TRUE(FindWindowA(SETUP_TEST_WINDOW_CLASS, NULL) == NULL);
}

// ---- Copying between the record and the form ----

void ExpectSameRecord(const SetupSettings &expected, const SetupSettings &got)
{
    EXPECT_EQ(0, memcmp(&expected, &got, sizeof(expected)))
        << "expected " << expected.masterVolume << "," << expected.effectVolume << "," << expected.ambientVolume
        << "," << expected.musicVolume << "," << expected.renderer << "," << expected.displayMode << ","
        << expected.resolutionIndex << "," << expected.softwareCursor << "," << expected.vsync << " got "
        << got.masterVolume << "," << got.effectVolume << "," << got.ambientVolume << "," << got.musicVolume << ","
        << got.renderer << "," << got.displayMode << "," << got.resolutionIndex << "," << got.softwareCursor << ","
        << got.vsync;
}

const SetupSettings kRoundTrips[] =
{
    { 0, 0, 0, 0, RENDERER_OPENGL, DISPLAY_WINDOWED, 0, 0, 0 },
    { 100, 100, 100, 100, RENDERER_DIRECT3D, DISPLAY_BORDERLESS, 4, 1, 1 },
    { 1, 99, 50, 7, RENDERER_GLIDE, DISPLAY_FULLSCREEN, 2, 1, 0 },
    { 33, 66, 10, 90, RENDERER_DIRECT3D, DISPLAY_WINDOWED, 3, 0, 1 },
};

TEST_F(SetupWindow, ReadingBackWhatWasAppliedGivesTheSameRecord)
{
    ASSERT_TRUE(Create());
    for (const SetupSettings &original : kRoundTrips)
    {
        SetupSettings applied = original, read;
        memset(&read, 0x5A, sizeof(read));
        ApplySettingsToForm(window, &applied);
        ExpectSameRecord(original, applied);
        ReadSettingsFromForm(window, &read);
        ExpectSameRecord(original, read);
    }
}

TEST_F(SetupWindow, ApplyRepairsAResolutionOutsideTheList)
{
    ASSERT_TRUE(Create());
    for (int index : { 9, 5, -1 })
    {
        SetupSettings settings = { 50, 100, 100, 100, 0, 1, index, 1, 0 };
        SendMessageA(Control(IDC_RESOLUTION), CB_SETCURSEL, 3, 0);
        ApplySettingsToForm(window, &settings);
        EXPECT_EQ(0, settings.resolutionIndex) << index;
        EXPECT_EQ(0, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0)) << index;
    }
}

TEST_F(SetupWindow, EmptyCatalogueLeavesNoSelectionAndReadsZero)
{
    g_fakeModes.clear();
    ASSERT_TRUE(Create());
    SetupSettings settings = { 50, 100, 100, 100, 0, 1, 3, 1, 0 };
    ApplySettingsToForm(window, &settings);
    EXPECT_EQ(0, settings.resolutionIndex);
    EXPECT_EQ(CB_ERR, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0));
    settings.resolutionIndex = 7;
    ReadSettingsFromForm(window, &settings);
    EXPECT_EQ(0, settings.resolutionIndex);
}

TEST_F(SetupWindow, AGroupWithNothingCheckedReadsItsLastChoice)
{
    ASSERT_TRUE(Create());
    for (int id : { IDC_RENDERER_OPENGL, IDC_RENDERER_GLIDE, IDC_RENDERER_DIRECT3D, IDC_MODE_WINDOWED,
                    IDC_MODE_FULLSCREEN, IDC_MODE_BORDERLESS })
        CheckDlgButton(window, id, BST_UNCHECKED);
    SetupSettings settings = {};
    ReadSettingsFromForm(window, &settings);
    EXPECT_EQ(RENDERER_DIRECT3D, settings.renderer);
    EXPECT_EQ(DISPLAY_BORDERLESS, settings.displayMode);
}

TEST_F(SetupWindow, BindingWithoutARecordDoesNothing)
{
    ASSERT_TRUE(Create());
    ApplySettingsToForm(window, NULL);
    ReadSettingsFromForm(window, NULL);
    EXPECT_EQ(50, SendMessageA(Control(IDC_MASTER_VOLUME), TBM_GETPOS, 0, 0));
}

// ---- Commands ----

TEST_F(SetupWindow, SaveWritesWhatTheFormShows)
{
    ASSERT_TRUE(Create());
    SendMessageA(Control(IDC_MASTER_VOLUME), TBM_SETPOS, TRUE, 0);
    SendMessageA(Control(IDC_AMBIENT_VOLUME), TBM_SETPOS, TRUE, 42);
    CheckRadioButton(window, IDC_RENDERER_OPENGL, IDC_RENDERER_DIRECT3D, IDC_RENDERER_GLIDE);
    CheckRadioButton(window, IDC_MODE_WINDOWED, IDC_MODE_BORDERLESS, IDC_MODE_BORDERLESS);
    SendMessageA(Control(IDC_RESOLUTION), CB_SETCURSEL, 4, 0);
    CheckDlgButton(window, IDC_SOFTWARE_CURSOR, BST_UNCHECKED);
    CheckDlgButton(window, IDC_VSYNC, BST_CHECKED);
    Command(IDM_SAVE);
    const std::vector<std::string> expected =
    {
        "Sound/MASTER_VOLUME=0", "Sound/MASTER_ENABLED=0", "Sound/MUSIC_VOLUME=100", "Sound/MUSIC_ENABLED=1",
        "Sound/AMBIENT_VOLUME=42", "Sound/AMBIENT_ENABLED=1", "Sound/EFFECT_VOLUME=100", "Sound/EFFECT_ENABLED=1",
        "Rendering/RENDERING_BACKEND=1", "Rendering/SOFTWARE_CURSOR=0",
        "Display/DISPLAY_MODE=2", "Display/DISPLAY_WIDTH=1280", "Display/DISPLAY_HEIGHT=1024",
        "Display/DISPLAY_BITDEPTH=0", "Display/DISPLAY_REFRESH_RATE=0", "Display/DISPLAY_VSYNC=1",
    };
    EXPECT_EQ(expected, IniKeys(settingsPath));
}

TEST_F(SetupWindow, ResetThenSaveWritesTheResetValues)
{
    CreateDirectoryA((folder + "\\Quorvane").c_str(), NULL);
    WriteText(settingsPath, "[Sound]\r\nMASTER_VOLUME=3\r\n[Display]\r\nDISPLAY_WIDTH=1280\r\nDISPLAY_HEIGHT=1024\r\n");
    ASSERT_TRUE(Create());
    Command(IDM_RESET);
    EXPECT_EQ(50, SendMessageA(Control(IDC_MASTER_VOLUME), TBM_GETPOS, 0, 0));
    EXPECT_EQ(1, SendMessageA(Control(IDC_RESOLUTION), CB_GETCURSEL, 0, 0));
    EXPECT_EQ(3u, GetPrivateProfileIntA("Sound", "MASTER_VOLUME", 0, settingsPath.c_str())) << "Reset alone saves nothing";
    Command(IDM_SAVE);
    EXPECT_EQ(50u, GetPrivateProfileIntA("Sound", "MASTER_VOLUME", 0, settingsPath.c_str()));
    EXPECT_EQ(640u, GetPrivateProfileIntA("Display", "DISPLAY_WIDTH", 0, settingsPath.c_str()));
    EXPECT_EQ(480u, GetPrivateProfileIntA("Display", "DISPLAY_HEIGHT", 0, settingsPath.c_str()));
    EXPECT_EQ(1u, GetPrivateProfileIntA("Display", "DISPLAY_MODE", 0, settingsPath.c_str()));
}

TEST_F(SetupWindow, ResetThenQuitLeavesTheFileAsItWas)
{
    CreateDirectoryA((folder + "\\Quorvane").c_str(), NULL);
    const std::string before = "[Sound]\r\nMASTER_VOLUME=3\r\n[Other]\r\nX=1\r\n";
    WriteText(settingsPath, before);
    ASSERT_TRUE(Create());
    Command(IDM_RESET);
    Command(IDM_QUIT);
    PumpMessages();
    EXPECT_FALSE(IsWindow(window)) << "Quit closes the window";
    EXPECT_EQ(before, ReadText(settingsPath));
}

TEST_F(SetupWindow, ClosingDestroysTheWindowAndPostsQuitWithoutSaving)
{
    ASSERT_TRUE(Create());
    SendMessageA(Control(IDC_MASTER_VOLUME), TBM_SETPOS, TRUE, 7);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(0u, message.wParam);
    EXPECT_FALSE(PathExists(settingsPath));
}

TEST_F(SetupWindow, AboutShowsAnInformationBox)
{
    ASSERT_TRUE(Create());
    MessageBoxCloser closer;
    Command(IDM_ABOUT);
    ASSERT_EQ(1u, closer.seen.size());
    EXPECT_EQ("About", closer.seen[0].caption);
    EXPECT_EQ(0u, closer.seen[0].text.find("Quorvane Setup " SETUP_VERSION_TEXT "\n")) << closer.seen[0].text;
    EXPECT_NE(std::string::npos, closer.seen[0].text.find("Copyright")) << closer.seen[0].text;
    EXPECT_EQ(std::vector<std::string>{ "OK" }, closer.seen[0].buttons);
    // The box shows the platform's shared icon, so the handles match only if it is the information icon.
    EXPECT_TRUE(closer.seen[0].icon == LoadIconA(NULL, IDI_INFORMATION)) << "not the information icon";
    EXPECT_TRUE(IsWindow(window));
}

TEST_F(SetupWindow, OnlyKnownCommandsAndTheButtonsClickAreHandled)
{
    ASSERT_TRUE(Create());
    ShowWindow(window, SW_SHOW);
    MessageBoxCloser closer;
    // Notifications of the controls and the button's other codes are not commands.
    const struct { WORD id; WORD code; } ignored[] =
    {
        { IDC_LAUNCH_GAME, BN_SETFOCUS }, { IDC_LAUNCH_GAME, BN_DOUBLECLICKED }, { IDC_RESOLUTION, CBN_SELCHANGE },
        { IDC_VSYNC, BN_CLICKED }, { IDC_RENDERER_GLIDE, BN_CLICKED }, { 9999, 0 }, { 0, 0 },
    };
    for (const auto &c : ignored)
        Command(c.id, c.code);
    PumpMessages();
    EXPECT_TRUE(closer.seen.empty());
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_FALSE(PathExists(settingsPath));

    // Menu commands count whatever the notification code (1 is an accelerator's).
    Command(IDM_SAVE, 1);
    EXPECT_TRUE(PathExists(settingsPath));
}

TEST_F(SetupWindow, ConfigFolderOpensTheSetupsOwnFolderWithoutAnApplicationDataFolder)
{
    const std::string own = folder + "\\FallbackGame";
    CreateDirectoryA(own.c_str(), NULL);
    g_fakeAppData.clear();
    SetFakeModulePath(own + "\\setup.exe");
    ASSERT_TRUE(Create());
    EXPECT_EQ(own, g_locations.configFolder);
    Command(IDM_CONFIG_FOLDER);
    HWND shown = WaitForFolderWindow("FallbackGame", kFolderWindowTimeoutMs);
    ASSERT_TRUE(shown != NULL) << "no folder window titled FallbackGame appeared";
    CloseFolderWindow(shown);
}

TEST_F(SetupWindow, LaunchWithoutAGamePathReportsTheErrorAndComesBack)
{
    g_fakeModuleLength = 0;     // own path unavailable: no game path at all
    ASSERT_TRUE(Create());
    EXPECT_STREQ("", g_locations.gameExecutablePath);
    ShowWindow(window, SW_SHOW);
    SendMessageA(Control(IDC_MUSIC_VOLUME), TBM_SETPOS, TRUE, 12);
    MessageBoxCloser closer;
    Command(IDC_LAUNCH_GAME, BN_CLICKED);
    ASSERT_EQ(1u, closer.seen.size()) << "only the setup's own message, the shell is not asked";
    EXPECT_EQ("Error", closer.seen[0].caption);
    EXPECT_EQ("Unable to launch the game!\nPlease verify your installation.", closer.seen[0].text);
    EXPECT_EQ(std::vector<std::string>{ "OK" }, closer.seen[0].buttons);
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(12u, GetPrivateProfileIntA("Sound", "MUSIC_VOLUME", 0, settingsPath.c_str())) << "saved first";
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// When "\game.exe" does not fit after the setup's folder, the game path keeps the bare folder: the launch
// must not have the shell open that folder and call it a success.
TEST_F(SetupWindow, LaunchWithTheBareFolderForAGamePathReportsTheError)
{
    const size_t ownLength = PATH_BUFFER_SIZE - sizeof("\\game.exe") + 1;
    const std::string name(ownLength - folder.size() - 1, 'g');
    const std::string own = folder + "\\" + name;
    ASSERT_TRUE(CreateDirectoryA(own.c_str(), NULL)) << own;
    SetFakeModulePath(own + "\\s.exe");
    ASSERT_TRUE(Create());
    ASSERT_EQ(own, g_locations.gameExecutablePath) << "the bare folder is kept";
    ShowWindow(window, SW_SHOW);
    MessageBoxCloser closer;
    Command(IDC_LAUNCH_GAME, BN_CLICKED);
    HWND opened = WaitForFolderWindow(name, 2000);
    if (opened)
        CloseFolderWindow(opened);
    EXPECT_TRUE(opened == NULL) << "the shell opened the setup's folder";
    ASSERT_EQ(1u, closer.seen.size()) << "only the setup's own message";
    EXPECT_EQ("Unable to launch the game!\nPlease verify your installation.", closer.seen[0].text);
    EXPECT_TRUE(IsWindowVisible(window));
    MSG message;
    EXPECT_FALSE(PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the launch counted as a success";
}

} // namespace
