// Shared fixtures: temporary folders, files as text, and stand-ins for what the platform reports.
#ifndef SETUP_TEST_SUPPORT_H
#define SETUP_TEST_SUPPORT_H

#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <string>
#include <vector>

struct Resolution
{
    DWORD width;
    DWORD height;
    DWORD bitsPerPel;
    DWORD frequency;
};

// The display the fake enumerator reports; the second request for mode `g_fakeFailingIndex` fails.
extern std::vector<Resolution> g_fakeModes;
extern int g_fakeFailingIndex;
BOOL WINAPI FakeEnumDisplaySettings(LPCSTR device, DWORD index, DEVMODEA *mode);

// Forgets the catalogue and builds it from `modes` through the fake enumerator.
void UseCatalogue(const std::vector<Resolution> &modes, int failingIndex = -1);
void ForgetCatalogue();

// The product calls the system through the import slots of the test program, which the tests share: a
// slot swapped for a stand-in makes one platform call fail or misbehave for the product alone, and is put
// back when the swap goes, also when the test fails. A slot is declared by its import name, for example
//     extern "C" void *g_moveFileSlot __asm__("__imp__MoveFileExA@12");
class SlotSwap
{
public:
    SlotSwap(void **slot, void *standIn) : slot(slot), original(*slot) { Set(standIn); }
    ~SlotSwap() { Set(original); }

private:
    void Set(void *value)
    {
        DWORD old;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
        *slot = value;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }
    void **slot;
    void *original;
};

// `text`, in the ANSI code page, as UTF-16.
std::wstring Wide(const std::string &text);

// The application-data folder the fake reports; empty means the platform has none.
extern std::wstring g_fakeAppData;
BOOL FakeAppDataFolder(WCHAR *folder);

// The module path the fake reports, with the length it returns (as GetModuleFileNameW would).
extern std::wstring g_fakeModulePath;
extern DWORD g_fakeModuleLength;
DWORD WINAPI FakeModuleFileName(HMODULE module, LPWSTR path, DWORD size);
void SetFakeModulePath(const std::wstring &path);
void SetFakeModulePath(const std::string &path);

// Paths in the ANSI code page, or in UTF-16 for names outside it.
std::string MakeTempFolder(const char *prefix);
void RemoveTree(const std::string &path);
void RemoveTree(const std::wstring &path);
std::string ReadText(const std::string &path);
std::string ReadText(const std::wstring &path);
void WriteText(const std::string &path, const std::string &text);
void WriteText(const std::wstring &path, const std::string &text);
bool PathExists(const std::string &path);
bool PathExists(const std::wstring &path);

// The settings file at `path`, and the folder that holds it, as the settings code will use them.
void UseSettingsFile(const std::string &path);

// The lines of `text`, split at line feeds, without their carriage returns.
std::vector<std::string> TextLines(const std::string &text);

// "Section/KEY=value" per key, in file order, for comparing whole files.
std::vector<std::string> IniKeys(const std::string &path);

#endif

// The setup's main window created in this process: start-up asks the fakes above, everything after it
// is the setup's own window procedure. NULL when start-up refused the window.
#define SETUP_TEST_WINDOW_CLASS "QVSetupTestWindow"
HWND CreateSetupWindow();
// Destroys it and drops the quit message its destruction posts for the setup's own loop: left in the
// queue it would end the next message box this thread shows.
void CloseSetupWindow(HWND window);

// The shell's window showing a folder whose name is `title`, once it is visible; NULL after `timeoutMs`.
HWND WaitForFolderWindow(const std::string &title, DWORD timeoutMs);
// Closes it and waits (bounded) until it is gone.
void CloseFolderWindow(HWND folder);

// What a message box showed: caption, text, the buttons it offered, and whether it had an icon (and which:
// a handle that only this process can compare).
struct SeenBox
{
    std::string caption;
    std::string text;
    std::vector<std::string> buttons;
    bool hasIcon;
    HICON icon;
};

// Reads a message box window and its children.
SeenBox ReadMessageBox(HWND box);

// While alive, every message box this thread shows is read and closed with its first button.
class MessageBoxCloser
{
public:
    MessageBoxCloser();
    ~MessageBoxCloser();
    std::vector<SeenBox> seen;

private:
    UINT_PTR timer;
};

// save_rival.exe, built beside the test programs: another program at work on the settings file (see
// save_rival.cpp). Each Start waits (bounded) until it is at work; false when it did not get there.
// Killed, if still running, when the object goes.
class Rival
{
public:
    Rival();
    ~Rival();
    bool StartLock();
    // `access` read|write, `share` none|read|all.
    bool StartHold(const std::string &path, const char *access, const char *share, DWORD ms);
    // `mode` append|replace: runs until Finish.
    bool StartLoop(const char *mode, const std::string &path);
    // Tells a loop to stop, then waits (bounded) for the exit; false on timeout. `code` gets the exit code.
    bool Finish(DWORD *code);
    void Kill();

private:
    bool Start(const std::string &arguments);
    std::string readyName, stopName;
    HANDLE ready, stop;
    PROCESS_INFORMATION info;
    Rival(const Rival &);
    Rival &operator=(const Rival &);
};
