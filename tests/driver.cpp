#include "driver.h"

#include <commctrl.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <cstdio>

#include "resources/resource.h"

namespace driver
{

namespace
{

// Long enough for a busy Wine, short enough that a hung target fails the test well inside its time limit.
const UINT kSendTimeoutMs = 5000;
const DWORD kKillTimeoutMs = 5000;
const DWORD kHostTimeoutMs = 10000;

std::string Lower(std::string text)
{
    CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

// For messages only: letters outside the ANSI code page come out as "?".
std::string Narrow(const std::wstring &text)
{
    char bytes[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, bytes, sizeof(bytes), NULL, NULL);
    return bytes;
}

std::string WithoutTrailingSlash(std::string path)
{
    while (path.size() > 3 && path[path.size() - 1] == '\\')
        path.erase(path.size() - 1);
    return path;
}

struct WindowSearch
{
    DWORD pid;
    const char *windowClass;
    bool visibleOnly;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    WindowSearch *search = (WindowSearch *)param;
    DWORD pid = 0;
    char name[64] = "";

    GetWindowThreadProcessId(window, &pid);
    if (pid != search->pid)
        return TRUE;
    GetClassNameA(window, name, sizeof(name));
    if (lstrcmpiA(name, search->windowClass) != 0)
        return TRUE;
    if (search->visibleOnly && !IsWindowVisible(window))
        return TRUE;
    search->found.push_back(window);
    return TRUE;
}

struct ButtonSearch
{
    const char *caption;
    HWND found;
};

BOOL CALLBACK FindButton(HWND child, LPARAM param)
{
    ButtonSearch *search = (ButtonSearch *)param;
    char name[16] = "";

    GetClassNameA(child, name, sizeof(name));
    if (lstrcmpiA(name, "Button") == 0 && TextOf(child) == search->caption)
    {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

std::string Escaped(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++)
    {
        if (text[i] == '\n')
            out += "\\n";
        else if (text[i] == '\r')
            out += "\\r";
        else
            out += text[i];
    }
    return out;
}

// Sets the variables of `env` in this process and gives back what they were.
Environment Apply(const Environment &env)
{
    Environment previous;
    for (size_t i = 0; i < env.size(); i++)
    {
        char value[32768];
        DWORD length = GetEnvironmentVariableA(env[i].first.c_str(), value, sizeof(value));
        previous.push_back(std::make_pair(env[i].first, length > 0 && length < sizeof(value) ? value : ""));
        SetEnvironmentVariableA(env[i].first.c_str(), env[i].second.empty() ? NULL : env[i].second.c_str());
    }
    return previous;
}

}  // namespace

std::string OwnFolder()
{
    char path[MAX_PATH] = "";
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\'));
}

std::string BuiltSetup() { return OwnFolder() + "\\setup.exe"; }
std::string BuiltGame() { return OwnFolder() + "\\game.exe"; }

std::string AppDataFolder()
{
    char folder[MAX_PATH] = "";
    if (!SHGetSpecialFolderPathA(NULL, folder, CSIDL_APPDATA, FALSE))
        return "";
    return folder;
}

std::string SettingsFolder() { return AppDataFolder() + "\\Quorvane"; }
std::string SettingsFile() { return SettingsFolder() + "\\settings.ini"; }

bool CopyProgram(const std::string &from, const std::string &to)
{
    return CopyProgram(Wide(from), Wide(to));
}

bool CopyProgram(const std::wstring &from, const std::wstring &to)
{
    return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

namespace
{

const wchar_t kShellFoldersKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
const wchar_t kAppDataValue[] = L"AppData";
const wchar_t kKeptAsideKey[] = L"Software\\Quorvane Setup Tests";

// The REG_EXPAND_SZ value `name` of `key` under the current user; false when it is not there.
// (The registry calls here are the ones Windows XP has too.)
bool ReadPath(const wchar_t *key, const wchar_t *name, std::wstring *path)
{
    HKEY opened;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
        return false;
    wchar_t value[MAX_PATH + 1] = L"";
    DWORD size = MAX_PATH * sizeof(wchar_t);
    DWORD type = 0;
    LONG status = RegQueryValueExW(opened, name, NULL, &type, (BYTE *)value, &size);
    RegCloseKey(opened);
    if (status != ERROR_SUCCESS || type != REG_EXPAND_SZ)
        return false;
    value[size / sizeof(wchar_t)] = L'\0';
    *path = value;
    return true;
}

bool WritePath(const wchar_t *key, const wchar_t *name, const std::wstring &path)
{
    HKEY opened;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &opened, NULL) != ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(opened, name, 0, REG_EXPAND_SZ, (const BYTE *)path.c_str(),
                                 (DWORD)((path.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(opened);
    return status == ERROR_SUCCESS;
}

}  // namespace

bool RedirectAppData(const std::wstring &folder)
{
    std::wstring original;
    if (!ReadPath(kKeptAsideKey, kAppDataValue, &original) &&
        (!ReadPath(kShellFoldersKey, kAppDataValue, &original) || !WritePath(kKeptAsideKey, kAppDataValue, original)))
        return false;
    return WritePath(kShellFoldersKey, kAppDataValue, folder);
}

void RestoreAppData()
{
    std::wstring original;
    if (ReadPath(kKeptAsideKey, kAppDataValue, &original) && WritePath(kShellFoldersKey, kAppDataValue, original))
        RegDeleteKeyW(HKEY_CURRENT_USER, kKeptAsideKey);
}

std::vector<HWND> TopLevelWindows(DWORD pid, const char *windowClass, bool visibleOnly)
{
    WindowSearch search;
    search.pid = pid;
    search.windowClass = windowClass;
    search.visibleOnly = visibleOnly;
    EnumWindows(CollectWindow, (LPARAM)&search);
    return search.found;
}

std::vector<HWND> MessageBoxesOf(DWORD pid)
{
    return TopLevelWindows(pid, "#32770", true);
}

bool PressButton(HWND box, const char *caption)
{
    ButtonSearch search = { caption, NULL };
    EnumChildWindows(box, FindButton, (LPARAM)&search);
    // Posted, not sent: what the owner does once its box has gone (show a window, show another box) must
    // not run while this call waits for an answer.
    return search.found != NULL && PostMessageA(search.found, BM_CLICK, 0, 0);
}

std::string Joined(const std::vector<std::string> &lines)
{
    std::string text;
    for (size_t i = 0; i < lines.size(); i++)
        text += "\n    " + lines[i];
    return text;
}

std::string Describe(const SeenBox &box)
{
    std::string text = "caption \"" + Escaped(box.caption) + "\", text \"" + Escaped(box.text) + "\", buttons [";
    for (size_t i = 0; i < box.buttons.size(); i++)
        text += (i ? ", \"" : "\"") + box.buttons[i] + "\"";
    return text + "]" + (box.hasIcon ? ", icon" : ", no icon");
}

std::string TextOf(HWND window)
{
    char text[1024] = "";
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), (LPARAM)text, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                             &result))
        return "(no answer)";
    return text;
}

namespace
{

// The program file of a process. QueryFullProcessImageNameA came with Vista; on XP the first module of the
// process names the same file.
std::string ImageOf(HANDLE process, DWORD pid)
{
    typedef BOOL (WINAPI *QueryImageFn)(HANDLE, DWORD, LPSTR, PDWORD);
    static QueryImageFn queryImage =
        (QueryImageFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "QueryFullProcessImageNameA");
    if (queryImage)
    {
        char image[MAX_PATH] = "";
        DWORD size = MAX_PATH;
        return queryImage(process, 0, image, &size) ? image : "";
    }
    HANDLE modules = CreateToolhelp32Snapshot(TH32CS_SNAPMODULE, pid);
    if (modules == INVALID_HANDLE_VALUE)
        return "";
    MODULEENTRY32 module;
    module.dwSize = sizeof(module);
    std::string image = Module32First(modules, &module) ? module.szExePath : "";
    CloseHandle(modules);
    return image;
}

// Processes whose executable path passes `matches` (given in lower case) or whose parent is `parentPid`.
template <typename Match>
std::vector<DWORD> FindProcesses(Match matches, DWORD parentPid)
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 entry;

    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    {
        if (entry.th32ProcessID == GetCurrentProcessId())
            continue;
        bool child = parentPid != 0 && entry.th32ParentProcessID == parentPid;
        bool matched = false;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process)   // Windows XP knows no limited right
            process = OpenProcess(PROCESS_QUERY_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        // A process that has ended but is still held open by a handle is no longer running.
        if (process && WaitForSingleObject(process, 0) == WAIT_TIMEOUT)
        {
            std::string image = ImageOf(process, entry.th32ProcessID);
            if (!image.empty())
                matched = matches(Lower(image));
        }
        else
            child = false;
        if (process)
            CloseHandle(process);
        if (child || matched)
            found.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return found;
}

}  // namespace

std::vector<DWORD> ProcessesFrom(const std::string &folder, DWORD parentPid)
{
    std::string prefix = Lower(WithoutTrailingSlash(folder)) + "\\";
    return FindProcesses([&](const std::string &image) {
        return !folder.empty() && image.compare(0, prefix.size(), prefix) == 0;
    }, parentPid);
}

std::vector<DWORD> ProcessesOf(const std::string &exe)
{
    std::string wanted = Lower(exe);
    return FindProcesses([&](const std::string &image) { return image == wanted; }, 0);
}

const char kNeedsTheLinuxHost[] = "needs the Linux test machine (the host beside Wine)";

bool OnWine()
{
    return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
}

std::string HostPath(const std::string &path)
{
    typedef char *(CDECL *UnixFileNameFn)(LPCWSTR);
    UnixFileNameFn unixFileName =
        (UnixFileNameFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name");
    if (!unixFileName)
        return "";
    char *name = unixFileName(Wide(path).c_str());
    if (!name)
        return "";
    std::string host = name;
    HeapFree(GetProcessHeap(), 0, name);
    return host;
}

bool RunHostCommand(const std::string &command)
{
    static unsigned serial;
    char temp[MAX_PATH], marker[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    wsprintfA(marker, "%sqv-host-%lu-%u.done", temp, GetCurrentProcessId(), ++serial);
    DeleteFileA(marker);
    std::string hostMarker = HostPath(marker);
    if (hostMarker.empty())
        return false;
    // Wine starts a host program named by its host path; its handle tells nothing, so the marker does.
    std::string commandLine = "/bin/sh -c \"( " + command + " ) >/dev/null 2>&1; echo $? >'" + hostMarker + "'\"";
    STARTUPINFOA startup;
    PROCESS_INFORMATION started;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &started))
        return false;
    CloseHandle(started.hProcess);
    CloseHandle(started.hThread);
    bool ended = WaitUntil([&]() { return ReadText(marker).find('\n') != std::string::npos; }, kHostTimeoutMs);
    std::string status = ReadText(marker);
    DeleteFileA(marker);
    return ended && status == "0\n";
}

void KillProcess(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return;
    TerminateProcess(process, 1);
    WaitForSingleObject(process, kKillTimeoutMs);
    CloseHandle(process);
}

void KillProcessesFrom(const std::string &folder, DWORD parentPid)
{
    std::vector<DWORD> pids = ProcessesFrom(folder, parentPid);
    for (size_t i = 0; i < pids.size(); i++)
        KillProcess(pids[i]);
}

Program::Program() : showCommand(-1)
{
    ZeroMemory(&info, sizeof(info));
}

Program::~Program()
{
    Kill();
}

bool Program::Start(const std::string &exe, const std::string &currentDirectory, const Environment &env)
{
    return Start(Wide(exe), Wide(currentDirectory), env);
}

bool Program::Start(const std::wstring &exe, const std::wstring &currentDirectory, const Environment &env)
{
    STARTUPINFOW startup;
    std::wstring commandLine = L"\"" + exe + L"\"";
    std::wstring directory = currentDirectory.empty() ? exe.substr(0, exe.rfind(L'\\')) : currentDirectory;

    Kill();
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (showCommand >= 0)
    {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = (WORD)showCommand;
    }
    // The child takes this process's environment; changed only for the call, then put back.
    Environment previous = Apply(env);
    BOOL created = CreateProcessW(exe.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL, directory.c_str(),
                                  &startup, &info);
    DWORD lastError = GetLastError();
    Apply(previous);
    if (!created)
    {
        char text[64];
        wsprintfA(text, " (error %lu)", lastError);
        error = "could not start " + Narrow(exe) + " in " + Narrow(directory) + text;
        ZeroMemory(&info, sizeof(info));
        return false;
    }
    return true;
}

bool Program::Running() const
{
    return info.hProcess != NULL && WaitForSingleObject(info.hProcess, 0) == WAIT_TIMEOUT;
}

HWND Program::WaitForWindow(const char *windowClass, DWORD timeoutMs)
{
    HWND window = NULL;
    if (info.hProcess == NULL)
        return NULL;
    WaitForInputIdle(info.hProcess, timeoutMs);
    WaitUntil([&]() {
        std::vector<HWND> found = TopLevelWindows(info.dwProcessId, windowClass, true);
        window = found.empty() ? NULL : found[0];
        return window != NULL || !Running();
    }, timeoutMs);
    return window;
}

bool Program::WaitForExit(DWORD timeoutMs, DWORD *code)
{
    if (info.hProcess == NULL || WaitForSingleObject(info.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    if (code)
        GetExitCodeProcess(info.hProcess, code);
    return true;
}

void Program::Kill()
{
    if (info.hProcess == NULL)
        return;
    if (Running())
    {
        TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, kKillTimeoutMs);
    }
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    ZeroMemory(&info, sizeof(info));
}

const char *const SetupWindow::kClass = "QVSetupWindowClass";

HWND SetupWindow::Control(int id) const
{
    return GetDlgItem(window, id);
}

LRESULT SetupWindow::Send(int id, UINT message, WPARAM wParam, LPARAM lParam, bool *ok) const
{
    DWORD_PTR result = 0;
    BOOL answered = SendMessageTimeoutA(Control(id), message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs,
                                        &result);
    if (ok)
        *ok = answered != 0;
    return answered ? (LRESULT)result : -1;
}

int SetupWindow::SliderPosition(int id) const
{
    return (int)Send(id, TBM_GETPOS, 0, 0);
}

void SetupWindow::SetSliderPosition(int id, int position) const
{
    Send(id, TBM_SETPOS, TRUE, position);
}

bool SetupWindow::Checked(int id) const
{
    return Send(id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetupWindow::Click(int id) const
{
    // BM_CLICK goes through the button's own mouse handling, so an auto button checks itself as for a user.
    // Sent, not posted: the reply comes once the click and its notification have been handled.
    Send(id, BM_CLICK, 0, 0);
}

void SetupWindow::PostClick(int id) const
{
    PostMessageA(Control(id), BM_CLICK, 0, 0);
}

int SetupWindow::Selection() const
{
    return (int)Send(IDC_RESOLUTION, CB_GETCURSEL, 0, 0);
}

void SetupWindow::Select(int index) const
{
    Send(IDC_RESOLUTION, CB_SETCURSEL, index, 0);
}

std::vector<std::string> SetupWindow::ResolutionLabels() const
{
    std::vector<std::string> labels;
    int count = (int)Send(IDC_RESOLUTION, CB_GETCOUNT, 0, 0);
    for (int i = 0; i < count; i++)
    {
        // Asked in the wide form: Wine hands an ANSI caller from another process the item's UTF-16 bytes.
        WCHAR wide[256] = { 0 };
        char text[256] = "";
        DWORD_PTR length = 0;
        if (Send(IDC_RESOLUTION, CB_GETLBTEXTLEN, i, 0) < (LRESULT)(sizeof(wide) / sizeof(wide[0])) &&
            SendMessageTimeoutW(Control(IDC_RESOLUTION), CB_GETLBTEXT, i, (LPARAM)wide, SMTO_ABORTIFHUNG,
                                kSendTimeoutMs, &length))
            WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof(text), NULL, NULL);
        labels.push_back(text);
    }
    return labels;
}

void SetupWindow::PostCommand(int id) const
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(id, 0), 0);
}

void SetupWindow::Close() const
{
    PostMessageA(window, WM_CLOSE, 0, 0);
}

bool SetupWindow::Visible() const { return IsWindowVisible(window) != 0; }
bool SetupWindow::Enabled() const { return IsWindowEnabled(window) != 0; }
bool SetupWindow::Alive() const { return IsWindow(window) != 0; }

namespace
{

// The index of the one checked button of `first` … `first` + 2, or -1 when not exactly one is checked.
int CheckedOf(const SetupWindow &window, int first)
{
    int found = -1;
    for (int i = 0; i < 3; i++)
    {
        if (!window.Checked(first + i))
            continue;
        if (found >= 0)
            return -1;
        found = i;
    }
    return found;
}

}  // namespace

FormValues ReadForm(const SetupWindow &window)
{
    FormValues form;
    form.masterVolume = window.SliderPosition(IDC_MASTER_VOLUME);
    form.effectVolume = window.SliderPosition(IDC_EFFECT_VOLUME);
    form.ambientVolume = window.SliderPosition(IDC_AMBIENT_VOLUME);
    form.musicVolume = window.SliderPosition(IDC_MUSIC_VOLUME);
    form.renderer = CheckedOf(window, IDC_RENDERER_OPENGL);
    form.displayMode = CheckedOf(window, IDC_MODE_WINDOWED);
    form.resolution = window.Selection();
    std::vector<std::string> labels = window.ResolutionLabels();
    form.resolutionLabel = form.resolution >= 0 && form.resolution < (int)labels.size() ? labels[form.resolution] : "";
    form.softwareCursor = window.Checked(IDC_SOFTWARE_CURSOR);
    form.vsync = window.Checked(IDC_VSYNC);
    return form;
}

std::string Describe(const FormValues &form)
{
    char text[512];
    wsprintfA(text, "master %d, effect %d, ambient %d, music %d, renderer %d, mode %d, resolution %d \"%s\", "
              "cursor %d, vsync %d", form.masterVolume, form.effectVolume, form.ambientVolume, form.musicVolume,
              form.renderer, form.displayMode, form.resolution, form.resolutionLabel.c_str(), form.softwareCursor,
              form.vsync);
    return text;
}

bool operator==(const FormValues &a, const FormValues &b)
{
    return Describe(a) == Describe(b);
}

std::vector<std::string> SavedKeys(const FormValues &form)
{
    std::vector<std::string> keys;
    char line[128];
    struct Volume { const char *name; int value; } volumes[] =
    {
        { "MASTER", form.masterVolume }, { "MUSIC", form.musicVolume },
        { "AMBIENT", form.ambientVolume }, { "EFFECT", form.effectVolume },
    };
    for (size_t i = 0; i < sizeof(volumes) / sizeof(volumes[0]); i++)
    {
        wsprintfA(line, "Sound/%s_VOLUME=%d", volumes[i].name, volumes[i].value);
        keys.push_back(line);
        wsprintfA(line, "Sound/%s_ENABLED=%d", volumes[i].name, volumes[i].value != 0 ? 1 : 0);
        keys.push_back(line);
    }
    // What the product reads from a group with no checked button.
    wsprintfA(line, "Rendering/RENDERING_BACKEND=%d", form.renderer < 0 ? 2 : form.renderer);
    keys.push_back(line);
    wsprintfA(line, "Rendering/SOFTWARE_CURSOR=%d", form.softwareCursor);
    keys.push_back(line);
    wsprintfA(line, "Display/DISPLAY_MODE=%d", form.displayMode < 0 ? 2 : form.displayMode);
    keys.push_back(line);
    int width = 0, height = 0;
    if (sscanf(form.resolutionLabel.c_str(), "%d x %d", &width, &height) == 2)
    {
        wsprintfA(line, "Display/DISPLAY_WIDTH=%d", width);
        keys.push_back(line);
        wsprintfA(line, "Display/DISPLAY_HEIGHT=%d", height);
        keys.push_back(line);
        keys.push_back("Display/DISPLAY_BITDEPTH=0");
        keys.push_back("Display/DISPLAY_REFRESH_RATE=0");
    }
    wsprintfA(line, "Display/DISPLAY_VSYNC=%d", form.vsync);
    keys.push_back(line);
    return keys;
}

std::vector<std::pair<std::string, std::string> > ReadRecord(const std::string &path)
{
    std::vector<std::pair<std::string, std::string> > record;
    for (const std::string &line : TextLines(ReadText(path)))
    {
        size_t equals = line.find('=');
        if (equals != std::string::npos)
            record.push_back(std::make_pair(line.substr(0, equals), line.substr(equals + 1)));
    }
    return record;
}

std::string RecordValue(const std::vector<std::pair<std::string, std::string> > &record, const std::string &key)
{
    for (size_t i = 0; i < record.size(); i++)
    {
        if (record[i].first == key)
            return record[i].second;
    }
    return "(missing)";
}

namespace
{

const char kLockName[] = "QuorvaneSetupEndToEndTests";
// Below the per-test time limit, so a test that waits in vain still reports why.
const DWORD kLockTimeoutMs = 40000;
const DWORD kWindowTimeoutMs = 15000;

std::string SavedSettingsFolder()
{
    return AppDataFolder() + "\\Quorvane.e2e-saved";
}

}  // namespace

void EndToEndTest::SetUp()
{
    lock = CreateMutexA(NULL, FALSE, kLockName);
    ASSERT_TRUE(lock != NULL) << "could not create the lock " << kLockName;
    DWORD waited = WaitForSingleObject(lock, kLockTimeoutMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED)
    {
        CloseHandle(lock);
        lock = NULL;
        FAIL() << "another end-to-end test held the settings folder for " << kLockTimeoutMs << " ms";
    }
    // A run killed while the folder was pointed elsewhere left the user's own value aside.
    RestoreAppData();
    ASSERT_FALSE(AppDataFolder().empty()) << "the platform names no application-data folder";
    PutSettingsAside();
    ASSERT_FALSE(PathExists(SettingsFolder())) << "could not clear " << SettingsFolder();
}

void EndToEndTest::TearDown()
{
    setup.Kill();
    // The games a setup started: its children, and anything run from the test's folders.
    for (size_t i = 0; i < setupPids.size(); i++)
        KillProcessesFrom("", setupPids[i]);
    for (size_t i = 0; i < folders.size(); i++)
        KillProcessesFrom(folders[i], 0);
    for (size_t i = 0; i < folders.size(); i++)
    {
        RemoveTree(folders[i]);
        EXPECT_FALSE(PathExists(folders[i])) << "left behind: " << folders[i];
    }
    if (lock == NULL)
        return;
    RestoreAppData();
    BringSettingsBack();
    ReleaseMutex(lock);
    CloseHandle(lock);
}

void EndToEndTest::PutSettingsAside()
{
    std::string saved = SavedSettingsFolder();
    // A saved folder already there is the user's, left by a run that was killed; what is in place is a test's.
    if (PathExists(SettingsFolder()) && !PathExists(saved))
        MoveFileA(SettingsFolder().c_str(), saved.c_str());
    RemoveTree(SettingsFolder());
}

void EndToEndTest::BringSettingsBack()
{
    std::string saved = SavedSettingsFolder();
    RemoveTree(SettingsFolder());
    EXPECT_FALSE(PathExists(SettingsFolder())) << "left behind: " << SettingsFolder();
    if (PathExists(saved))
        MoveFileA(saved.c_str(), SettingsFolder().c_str());
}

std::string EndToEndTest::TempFolder(const char *prefix)
{
    folders.push_back(MakeTempFolder(prefix));
    return folders.back();
}

::testing::AssertionResult EndToEndTest::StartSetup(const std::string &exe, const std::string &currentDirectory,
                                                    const Environment &env)
{
    return StartSetup(Wide(exe), Wide(currentDirectory), env);
}

::testing::AssertionResult EndToEndTest::StartSetup(const std::wstring &exe, const std::wstring &currentDirectory,
                                                    const Environment &env)
{
    if (!setup.Start(exe, currentDirectory, env))
        return ::testing::AssertionFailure() << setup.error;
    setupPids.push_back(setup.Pid());
    HWND found = setup.WaitForWindow(SetupWindow::kClass, kWindowTimeoutMs);
    window = SetupWindow(found);
    if (found != NULL)
        return ::testing::AssertionSuccess();
    DWORD code = 0;
    if (setup.WaitForExit(0, &code))
        return ::testing::AssertionFailure() << Narrow(exe) << " exited with code " << code
                                             << " without showing a window";
    return ::testing::AssertionFailure() << Narrow(exe) << " showed no visible window of class " << SetupWindow::kClass
                                         << " within " << kWindowTimeoutMs << " ms";
}

::testing::AssertionResult EndToEndTest::SetupExitsWithZero(DWORD timeoutMs)
{
    DWORD code = 0;
    if (!setup.WaitForExit(timeoutMs, &code))
        return ::testing::AssertionFailure() << "the setup was still running " << timeoutMs << " ms later";
    if (code != 0)
        return ::testing::AssertionFailure() << "the setup exited with code " << code << ", expected 0";
    return ::testing::AssertionSuccess();
}

}  // namespace driver
