// Starts the real setup.exe (or the game it launches) as another process and drives it through its
// windows: controls by identifier, menu commands posted as WM_COMMAND, message boxes of the process.
// Every wait is bounded; every cross-process send has a timeout, so a hung program fails a test
// instead of hanging it.
#ifndef SETUP_TEST_DRIVER_H
#define SETUP_TEST_DRIVER_H

#include "support.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace driver
{

// Variables to set (or, with an empty value, to remove) in the started program's environment.
typedef std::vector<std::pair<std::string, std::string> > Environment;

// The folder of this test program; setup.exe and game.exe are built beside it.
std::string OwnFolder();
std::string BuiltSetup();
std::string BuiltGame();

// The user's application-data folder, the setup's settings folder in it, and the settings file.
std::string AppDataFolder();
std::string SettingsFolder();
std::string SettingsFile();

// A copy of `from` at `to`; false when the copy failed.
bool CopyProgram(const std::string &from, const std::string &to);
bool CopyProgram(const std::wstring &from, const std::wstring &to);

// Points the user's application-data folder at `folder`, through the value the shell reads; programs
// started afterwards see it. The value it replaces is kept aside (and survives a killed run) until
// RestoreAppData puts it back; EndToEndTest does that before and after every test.
bool RedirectAppData(const std::wstring &folder);
void RestoreAppData();

// Polls `done` every 20 ms until it is true or `timeoutMs` has passed; gives its last answer.
template <typename Condition>
bool WaitUntil(Condition done, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;)
    {
        if (done())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return done();
        Sleep(20);
    }
}

// Visible or hidden top-level windows of class `windowClass` that belong to process `pid`.
std::vector<HWND> TopLevelWindows(DWORD pid, const char *windowClass, bool visibleOnly);

// The message boxes ("#32770") that process `pid` shows at present.
std::vector<HWND> MessageBoxesOf(DWORD pid);
// Presses the box's button captioned `caption` ("OK"); false when it has none.
bool PressButton(HWND box, const char *caption);

// "Caption" / "Text" / [buttons] for failure messages; line feeds shown as \n.
std::string Describe(const SeenBox &box);

// Each line on a line of its own, indented, for failure messages.
std::string Joined(const std::vector<std::string> &lines);

// Text of a window of another process, asked with a timeout.
std::string TextOf(HWND window);

// Processes whose executable lies in `folder` (compared case-insensitively) or whose parent is `parentPid`.
std::vector<DWORD> ProcessesFrom(const std::string &folder, DWORD parentPid);
// Running processes of the program at `exe`.
std::vector<DWORD> ProcessesOf(const std::string &exe);
// Whether this runs under Wine, on the Linux test machine, rather than on Windows.
bool OnWine();
// Why a test that needs the Linux host beside Wine (to mount a small file system, say) skips on Windows.
extern const char kNeedsTheLinuxHost[];
// The host's (Linux) name for a Windows path; "" when the platform offers no such name.
std::string HostPath(const std::string &path);
// Runs `command` in the host's shell beside Wine and waits (bounded) for its end: for what only the host
// can arrange, such as mounting a small file system. False when it could not run or did not succeed.
bool RunHostCommand(const std::string &command);

// Ends process `pid` and waits (bounded) until it is gone.
void KillProcess(DWORD pid);
// Ends every process ProcessesFrom names.
void KillProcessesFrom(const std::string &folder, DWORD parentPid);

// One started program, ended (if still running) when the object goes.
class Program
{
public:
    Program();
    ~Program();

    // Starts `exe` with `currentDirectory` (empty: the exe's folder) and the environment changed by `env`.
    // False, with `error` set, when the process could not be created.
    bool Start(const std::string &exe, const std::string &currentDirectory, const Environment &env);
    bool Start(const std::wstring &exe, const std::wstring &currentDirectory, const Environment &env);
    DWORD Pid() const { return info.dwProcessId; }
    bool Running() const;

    // The visible top-level window of `windowClass` of this process; NULL after `timeoutMs`.
    HWND WaitForWindow(const char *windowClass, DWORD timeoutMs);
    // Waits for the exit; false on timeout. `code` receives the exit code.
    bool WaitForExit(DWORD timeoutMs, DWORD *code);
    // Ends the process if it still runs.
    void Kill();

    std::string error;
    // The show command handed to the next start, as a shortcut's "Run: Minimised" hands it; -1 for none.
    int showCommand;

private:
    PROCESS_INFORMATION info;
    Program(const Program &);
    Program &operator=(const Program &);
};

// The setup's main window and its controls, driven from outside.
class SetupWindow
{
public:
    static const char *const kClass;

    explicit SetupWindow(HWND window = NULL) : window(window) {}
    HWND Handle() const { return window; }
    HWND Control(int id) const;

    // Sends with a timeout; `ok` (when given) tells whether the target answered.
    LRESULT Send(int id, UINT message, WPARAM wParam, LPARAM lParam, bool *ok = NULL) const;

    int SliderPosition(int id) const;
    void SetSliderPosition(int id, int position) const;
    bool Checked(int id) const;
    // Clicks the button as a user would; returns once the click is handled (or after the send timeout).
    void Click(int id) const;
    // Posts the click and returns at once: for a button whose command may block the setup (Launch Game).
    void PostClick(int id) const;

    int Selection() const;              // CB_GETCURSEL of the resolution list
    void Select(int index) const;       // CB_SETCURSEL
    std::vector<std::string> ResolutionLabels() const;

    // A menu command, posted as the menu would send it.
    void PostCommand(int id) const;
    void Close() const;                 // posts WM_CLOSE
    bool Visible() const;
    bool Enabled() const;
    bool Alive() const;

private:
    HWND window;
};

// What the form shows, with the settings file's names; resolution as the selected item's label.
struct FormValues
{
    int masterVolume, effectVolume, ambientVolume, musicVolume;
    int renderer;       // 0 OpenGL, 1 Glide, 2 Direct3D; -1 when no button or several are checked
    int displayMode;    // 0 Windowed, 1 Fullscreen, 2 Borderless; -1 likewise
    int resolution;     // selected index
    std::string resolutionLabel;
    int softwareCursor, vsync;
};

FormValues ReadForm(const SetupWindow &window);
std::string Describe(const FormValues &form);
bool operator==(const FormValues &a, const FormValues &b);

// The 16 "Section/KEY=value" lines that saving `form` writes, in the order it writes them.
std::vector<std::string> SavedKeys(const FormValues &form);

// Reads "key=value" lines (as the sample game records them) into pairs, in file order.
std::vector<std::pair<std::string, std::string> > ReadRecord(const std::string &path);
// The value of `key` in `record`, or "(missing)".
std::string RecordValue(const std::vector<std::pair<std::string, std::string> > &record, const std::string &key);

// The base of every end-to-end test. Tests of this kind share the user's one settings folder, so they
// take turns (a lock across processes); each starts without that folder, and an earlier one is put
// aside and brought back afterwards. Whatever the test started is ended, and its folders removed.
class EndToEndTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // A new empty folder under the temporary folder, removed after the test.
    std::string TempFolder(const char *prefix);
    // Starts `exe` and waits for its main window, which `window` then drives.
    ::testing::AssertionResult StartSetup(const std::string &exe, const std::string &currentDirectory = "",
                                          const Environment &env = Environment());
    ::testing::AssertionResult StartSetup(const std::wstring &exe, const std::wstring &currentDirectory = L"",
                                          const Environment &env = Environment());
    // Waits for the setup's exit and checks that it came within `timeoutMs` with code 0.
    ::testing::AssertionResult SetupExitsWithZero(DWORD timeoutMs);

    Program setup;
    SetupWindow window;

private:
    void PutSettingsAside();
    void BringSettingsBack();

    HANDLE lock;
    std::vector<std::string> folders;
    std::vector<DWORD> setupPids;
};

}  // namespace driver

#endif
