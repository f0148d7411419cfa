#include "support.h"

#include "app/window.h"
#include <commctrl.h>

#include "locations/locations.h"
#include "settings/catalogue.h"

std::vector<Resolution> g_fakeModes;
int g_fakeFailingIndex = -1;
std::wstring g_fakeAppData;
std::wstring g_fakeModulePath;
DWORD g_fakeModuleLength;

static int g_failingIndexAsks;

BOOL WINAPI FakeEnumDisplaySettings(LPCSTR, DWORD index, DEVMODEA *mode)
{
    if (index >= g_fakeModes.size())
        return FALSE;
    // The first pass has already seen this mode; only the second look at it fails.
    if ((int)index == g_fakeFailingIndex && ++g_failingIndexAsks == 2)
        return FALSE;
    mode->dmPelsWidth = g_fakeModes[index].width;
    mode->dmPelsHeight = g_fakeModes[index].height;
    mode->dmBitsPerPel = g_fakeModes[index].bitsPerPel;
    mode->dmDisplayFrequency = g_fakeModes[index].frequency;
    mode->dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL | DM_DISPLAYFREQUENCY;
    return TRUE;
}

void ForgetCatalogue()
{
    // The product never frees its catalogue; tests that rebuild it let the old one go.
    g_catalogue.labels = NULL;
    g_catalogue.modes = NULL;
    g_catalogue.count = 0;
}

void UseCatalogue(const std::vector<Resolution> &modes, int failingIndex)
{
    ForgetCatalogue();
    g_fakeModes = modes;
    g_fakeFailingIndex = failingIndex;
    g_failingIndexAsks = 0;
    BuildDisplayModeCatalogueWith(FakeEnumDisplaySettings);
}

std::wstring Wide(const std::string &text)
{
    std::wstring wide(text.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &wide[0], (int)wide.size()) - 1);
    return wide;
}

BOOL FakeAppDataFolder(WCHAR *folder)
{
    if (g_fakeAppData.empty())
        return FALSE;
    lstrcpynW(folder, g_fakeAppData.c_str(), PATH_BUFFER_SIZE);
    return TRUE;
}

void SetFakeModulePath(const std::wstring &path)
{
    g_fakeModulePath = path;
    g_fakeModuleLength = (DWORD)path.size();
}

void SetFakeModulePath(const std::string &path)
{
    SetFakeModulePath(Wide(path));
}

DWORD WINAPI FakeModuleFileName(HMODULE, LPWSTR path, DWORD size)
{
    // Like the platform: copy what fits, terminated, and report the length claimed.
    if (size > 0)
        lstrcpynW(path, g_fakeModulePath.c_str(), (int)size);
    return g_fakeModuleLength;
}

std::string MakeTempFolder(const char *prefix)
{
    char base[MAX_PATH];
    char folder[MAX_PATH];
    static unsigned serial;

    GetTempPathA(MAX_PATH, base);
    for (;;)
    {
        wsprintfA(folder, "%s%s-%lu-%u", base, prefix, GetCurrentProcessId(), ++serial);
        if (CreateDirectoryA(folder, NULL))
            return folder;
    }
}

// In UTF-16, so that names outside the ANSI code page, which come back as "?" there, go too.
void RemoveTree(const std::wstring &path)
{
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);

    if (search != INVALID_HANDLE_VALUE)
    {
        do
        {
            std::wstring name = found.cFileName;
            if (name == L"." || name == L"..")
                continue;
            std::wstring child = path + L"\\" + name;
            SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileW(child.c_str());
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!RemoveDirectoryW(path.c_str()))
        DeleteFileW(path.c_str());
}

void RemoveTree(const std::string &path)
{
    RemoveTree(Wide(path));
}

std::string ReadText(const std::wstring &path)
{
    std::string text;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0,
                              NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

std::string ReadText(const std::string &path)
{
    return ReadText(Wide(path));
}

void WriteText(const std::wstring &path, const std::string &text)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    if (file == INVALID_HANDLE_VALUE)
        return;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
}

void WriteText(const std::string &path, const std::string &text)
{
    WriteText(Wide(path), text);
}

bool PathExists(const std::wstring &path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool PathExists(const std::string &path)
{
    return PathExists(Wide(path));
}

void UseSettingsFile(const std::string &path)
{
    ZeroMemory(g_locations.settingsFilePath, PATH_BUFFER_SIZE);
    lstrcpynA(g_locations.settingsFilePath, path.c_str(), PATH_BUFFER_SIZE);
    // As the setup has them: the settings file in the settings folder.
    std::string folder = path.substr(0, path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
    ZeroMemory(g_locations.configFolder, PATH_BUFFER_SIZE);
    lstrcpynA(g_locations.configFolder, folder.c_str(), PATH_BUFFER_SIZE);
}

std::vector<std::string> TextLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;

    while (start < text.size())
    {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line[line.size() - 1] == '\r')
            line.erase(line.size() - 1);
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> IniKeys(const std::string &path)
{
    std::vector<std::string> keys;
    std::string section;

    for (const std::string &line : TextLines(ReadText(path)))
    {
        if (!line.empty() && line[0] == '[')
            section = line.substr(1, line.find(']') - 1);
        else if (!line.empty())
            keys.push_back(section + "/" + line);
    }
    return keys;
}

static std::string WindowText(HWND window)
{
    char text[1024] = "";
    SendMessageA(window, WM_GETTEXT, sizeof(text), (LPARAM)text);
    return text;
}

static BOOL CALLBACK ReadBoxChild(HWND child, LPARAM param)
{
    SeenBox *box = (SeenBox *)param;
    char name[64] = "";
    GetClassNameA(child, name, sizeof(name));
    LONG style = GetWindowLongA(child, GWL_STYLE);
    if (lstrcmpiA(name, "Button") == 0)
        box->buttons.push_back(WindowText(child));
    else if (lstrcmpiA(name, "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
    {
        box->hasIcon = true;
        box->icon = (HICON)SendMessageA(child, STM_GETICON, 0, 0);
    }
    else if (lstrcmpiA(name, "Static") == 0 && !WindowText(child).empty())
        box->text = WindowText(child);
    return TRUE;
}

SeenBox ReadMessageBox(HWND window)
{
    SeenBox box;
    box.caption = WindowText(window);
    box.hasIcon = false;
    box.icon = NULL;
    EnumChildWindows(window, ReadBoxChild, (LPARAM)&box);
    return box;
}

static MessageBoxCloser *g_closer;

static BOOL CALLBACK CloseIfMessageBox(HWND window, LPARAM)
{
    char name[16] = "";
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpA(name, "#32770") != 0 || !IsWindowVisible(window))
        return TRUE;
    g_closer->seen.push_back(ReadMessageBox(window));
    HWND button = FindWindowExA(window, NULL, "Button", NULL);
    if (button)
        PostMessageA(button, BM_CLICK, 0, 0);
    return FALSE;
}

static void CALLBACK CloseMessageBoxes(HWND, UINT, UINT_PTR, DWORD)
{
    EnumThreadWindows(GetCurrentThreadId(), CloseIfMessageBox, 0);
}

MessageBoxCloser::MessageBoxCloser()
{
    g_closer = this;
    timer = SetTimer(NULL, 0, 50, CloseMessageBoxes);
}

MessageBoxCloser::~MessageBoxCloser()
{
    KillTimer(NULL, timer);
    g_closer = NULL;
}

static const StartupQueries kFakeQueries = { FakeAppDataFolder, FakeModuleFileName, FakeEnumDisplaySettings };

static LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CREATE)
        return OnCreateWith(window, &kFakeQueries);
    return SetupWindowProc(window, message, wParam, lParam);
}

HWND CreateSetupWindow()
{
    static ATOM registered;
    if (!registered)
    {
        InitCommonControls();
        g_instance = GetModuleHandleA(NULL);
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = g_instance;
        windowClass.hbrBackground = (HBRUSH)(COLOR_BTNFACE + 1);
        windowClass.lpszClassName = SETUP_TEST_WINDOW_CLASS;
        registered = RegisterClassA(&windowClass);
    }
    ForgetCatalogue();
    RECT frame = { 0, 0, CLIENT_WIDTH, CLIENT_HEIGHT };
    AdjustWindowRect(&frame, SETUP_WINDOW_STYLE, TRUE);
    return CreateWindowExA(0, SETUP_TEST_WINDOW_CLASS, SETUP_WINDOW_TITLE, SETUP_WINDOW_STYLE, CW_USEDEFAULT,
                           CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, NULL, NULL, g_instance,
                           NULL);
}

void CloseSetupWindow(HWND window)
{
    MSG message;
    if (window && IsWindow(window))
        DestroyWindow(window);
    while (PeekMessageA(&message, NULL, WM_QUIT, WM_QUIT, PM_REMOVE))
        ;
}

// The platform's folder windows; the class is the one the shell registers for them.
static const char *const kFolderWindowClasses[] = { "ExplorerWClass", "CabinetWClass" };

HWND WaitForFolderWindow(const std::string &title, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    do
    {
        for (const char *windowClass : kFolderWindowClasses)
        {
            HWND found = FindWindowA(windowClass, title.c_str());
            if (found && IsWindowVisible(found))
                return found;
        }
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        Sleep(50);
    } while (GetTickCount() - start < timeoutMs);
    return NULL;
}

void CloseFolderWindow(HWND folder)
{
    DWORD start = GetTickCount();
    PostMessageA(folder, WM_CLOSE, 0, 0);
    while (IsWindow(folder) && GetTickCount() - start < 10000)
        Sleep(50);
}

static const DWORD kRivalTimeoutMs = 15000;

Rival::Rival()
{
    static unsigned serial;
    char name[64];
    wsprintfA(name, "QVRival-%lu-%u", GetCurrentProcessId(), ++serial);
    readyName = std::string(name) + "-ready";
    stopName = std::string(name) + "-stop";
    ready = CreateEventA(NULL, TRUE, FALSE, readyName.c_str());
    stop = CreateEventA(NULL, TRUE, FALSE, stopName.c_str());
    ZeroMemory(&info, sizeof(info));
}

Rival::~Rival()
{
    Kill();
    CloseHandle(ready);
    CloseHandle(stop);
}

bool Rival::Start(const std::string &arguments)
{
    char own[MAX_PATH] = "";
    GetModuleFileNameA(NULL, own, MAX_PATH);
    std::string exe = own;
    exe = exe.substr(0, exe.rfind('\\')) + "\\save_rival.exe";
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    Kill();
    ResetEvent(ready);
    ResetEvent(stop);
    if (!CreateProcessA(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &info))
    {
        ZeroMemory(&info, sizeof(info));
        return false;
    }
    HANDLE either[2] = { ready, info.hProcess };
    return WaitForMultipleObjects(2, either, FALSE, kRivalTimeoutMs) == WAIT_OBJECT_0;
}

bool Rival::StartLock()
{
    return Start("lock " + readyName);
}

bool Rival::StartHold(const std::string &path, const char *access, const char *share, DWORD ms)
{
    char time[16];
    wsprintfA(time, "%lu", ms);
    return Start("hold " + readyName + " \"" + path + "\" " + access + " " + share + " " + time);
}

bool Rival::StartLoop(const char *mode, const std::string &path)
{
    return Start(std::string(mode) + " " + readyName + " \"" + path + "\" " + stopName);
}

bool Rival::Finish(DWORD *code)
{
    SetEvent(stop);
    if (info.hProcess == NULL || WaitForSingleObject(info.hProcess, kRivalTimeoutMs) != WAIT_OBJECT_0)
        return false;
    GetExitCodeProcess(info.hProcess, code);
    return true;
}

void Rival::Kill()
{
    if (info.hProcess == NULL)
        return;
    TerminateProcess(info.hProcess, 1);
    WaitForSingleObject(info.hProcess, kRivalTimeoutMs);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    ZeroMemory(&info, sizeof(info));
}
