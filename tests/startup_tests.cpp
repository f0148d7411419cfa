// What start-up does before the window: where libraries may come from, on a system whose kernel32 has
// the newer loader functions and on one without them (Windows XP, Vista, 7 without KB2533623), the
// common controls and their slider, COM for the shell; and no flag that an older system refuses.
#include "app/window.h"
#include <commctrl.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "support.h"

#include <string>
#include <vector>

namespace {

// Every LOAD_LIBRARY_SEARCH_* flag: Windows 8, or 7 with KB2533623; older systems fail the call.
const DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_USER_DIRS | LOAD_LIBRARY_SEARCH_SYSTEM32 |
                           LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;

// kernel32's loader functions that Windows XP SP3 does not have.
const char *const kNewerLoaderFunctions[] = { "SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory" };

// Every system library the setup loads itself, in the order it loads them.
const char *const kLoadedLibraries[] =
{
    "user32.dll", "shell32.dll", "ole32.dll", "uxtheme.dll", "msimg32.dll", "comctl32.dll"
};

std::string Lower(std::string text)
{
    if (!text.empty())
        CharLowerBuffA(&text[0], (DWORD)text.size());
    return text;
}

struct LoaderCall
{
    std::string function;
    std::string argument;
    DWORD flags;
};

// What the recording loader saw, and how it answers.
std::vector<LoaderCall> g_calls;
bool g_newerLoader;                 // kernel32 has the newer loader functions
std::string g_unloadable;           // a library (lower case, as named) that cannot be loaded
std::string g_unexported;           // a function the libraries do not export

BOOL WINAPI RecordSetDefaultDllDirectories(DWORD flags)
{
    g_calls.push_back(LoaderCall{ "SetDefaultDllDirectories", "", flags });
    return TRUE;
}

FARPROC WINAPI RecordGetProcAddress(HMODULE module, LPCSTR name)
{
    std::string text = IS_INTRESOURCE(name) ? "#" + std::to_string((ULONG_PTR)name) : name;
    g_calls.push_back(LoaderCall{ "GetProcAddress", text, 0 });
    if (text == g_unexported)
        return NULL;
    for (const char *newer : kNewerLoaderFunctions)
    {
        if (text == newer && !g_newerLoader)
            return NULL;
    }
    if (text == "SetDefaultDllDirectories")
        return (FARPROC)(void (*)(void))RecordSetDefaultDllDirectories;
    return GetProcAddress(module, name);
}

// Recorded, not done: the test program's own search stays as it was.
BOOL WINAPI RecordSetDllDirectory(LPCSTR folder)
{
    g_calls.push_back(LoaderCall{ "SetDllDirectoryA", folder ? folder : "(null)", 0 });
    return TRUE;
}

UINT WINAPI RecordGetSystemDirectory(LPSTR folder, UINT size)
{
    g_calls.push_back(LoaderCall{ "GetSystemDirectoryA", "", 0 });
    return GetSystemDirectoryA(folder, size);
}

HMODULE WINAPI RecordLoadLibraryEx(LPCSTR name, HANDLE file, DWORD flags)
{
    g_calls.push_back(LoaderCall{ "LoadLibraryExA", name, flags });
    std::string lower = Lower(name);
    if (!g_unloadable.empty() && lower.size() >= g_unloadable.size() &&
        lower.compare(lower.size() - g_unloadable.size(), g_unloadable.size(), g_unloadable) == 0)
    {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return NULL;
    }
    return LoadLibraryExA(name, file, flags);
}

const LoaderCalls kRecordingLoader =
{
    RecordGetProcAddress,
    RecordSetDllDirectory,
    RecordGetSystemDirectory,
    RecordLoadLibraryEx,
};

std::string SystemFolder()
{
    char folder[MAX_PATH] = "";
    GetSystemDirectoryA(folder, MAX_PATH);
    return folder;
}

// The index of the first call to `function`; the number of calls when there is none.
size_t FirstCall(const char *function)
{
    size_t i = 0;
    while (i < g_calls.size() && g_calls[i].function != function)
        i++;
    return i;
}

std::string DescribeCalls()
{
    std::string text;
    for (const LoaderCall &call : g_calls)
    {
        char flags[16];
        wsprintfA(flags, "0x%lx", call.flags);
        text += "\n  " + call.function + "(" + call.argument + ", " + flags + ")";
    }
    return text;
}

class StartupLoader : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_calls.clear();
        g_newerLoader = true;
        g_unloadable.clear();
        g_unexported.clear();
    }
    void TearDown() override
    {
        // Each successful preparation set up COM on this thread once.
        for (; comInitialised > 0; comInitialised--)
            CoUninitialize();
    }

    BOOL Prepare()
    {
        BOOL prepared = PrepareStartupWith(&kRecordingLoader);
        if (prepared)
            comInitialised++;
        return prepared;
    }

    int comInitialised = 0;
};

// The two systems the setup meets: kernel32 with the newer loader functions (Windows 8 on, 7 with
// KB2533623, Wine) and without them (XP SP3, Vista, 7 as shipped).
struct LoaderCase
{
    const char *name;
    bool newerLoader;
    DWORD loadFlags;        // what every library is loaded with
    bool byFullPath;        // named by its path in the system folder, not by its bare name
};

const LoaderCase kLoaderCases[] =
{
    { "NewerLoader", true,  LOAD_LIBRARY_SEARCH_SYSTEM32,  false },
    { "OlderLoader", false, LOAD_WITH_ALTERED_SEARCH_PATH, true },
};

void PrintTo(const LoaderCase &loader, std::ostream *out)
{
    *out << loader.name;
}

class StartupOnEachLoader : public StartupLoader, public ::testing::WithParamInterface<LoaderCase>
{
};

// The search is restricted before anything is loaded (with the newer loader by SetDefaultDllDirectories,
// on both by taking the current folder out), then every library comes from the system folder, and no
// search flag reaches a system that would refuse it.
TEST_P(StartupOnEachLoader, RestrictsTheSearchThenLoadsEachLibraryFromTheSystemFolder)
{
    const LoaderCase &loader = GetParam();
    g_newerLoader = loader.newerLoader;
    ASSERT_TRUE(Prepare()) << DescribeCalls();

    size_t firstLoad = FirstCall("LoadLibraryExA");
    size_t restricted = FirstCall("SetDefaultDllDirectories");
    if (loader.newerLoader)
    {
        ASSERT_LT(restricted, g_calls.size()) << "SetDefaultDllDirectories was never called:" << DescribeCalls();
        EXPECT_EQ((DWORD)LOAD_LIBRARY_SEARCH_SYSTEM32, g_calls[restricted].flags);
        EXPECT_LT(restricted, firstLoad) << "libraries loaded before the search was restricted:" << DescribeCalls();
    }
    else
    {
        EXPECT_EQ(g_calls.size(), restricted) << "a function the system lacks was called:" << DescribeCalls();
    }
    size_t currentFolder = FirstCall("SetDllDirectoryA");
    ASSERT_LT(currentFolder, g_calls.size()) << "the current folder stays in the search:" << DescribeCalls();
    EXPECT_EQ("", g_calls[currentFolder].argument);
    EXPECT_LT(currentFolder, firstLoad) << "libraries loaded before the current folder left the search:"
                                        << DescribeCalls();

    std::vector<std::string> expected, loaded;
    for (const char *library : kLoadedLibraries)
        expected.push_back(loader.byFullPath ? Lower(SystemFolder() + "\\" + library) : library);
    for (const LoaderCall &call : g_calls)
    {
        if (call.function != "LoadLibraryExA")
            continue;
        loaded.push_back(Lower(call.argument));
        EXPECT_EQ(loader.loadFlags, call.flags) << call.argument;
        if (!loader.newerLoader)
        {
            EXPECT_EQ(0u, call.flags & kSearchFlags) << call.argument << " loaded with a search flag";
        }
    }
    EXPECT_EQ(expected, loaded) << DescribeCalls();
}

INSTANTIATE_TEST_SUITE_P(Loaders, StartupOnEachLoader, ::testing::ValuesIn(kLoaderCases),
                         [](const ::testing::TestParamInfo<LoaderCase> &info) { return std::string(info.param.name); });

// The shell is called only after start-up; it asks that the thread have COM set up in a single-threaded
// apartment. Checked on a thread of its own, which starts with no apartment.
DWORD WINAPI PrepareAndAskTheApartment(LPVOID result)
{
    HRESULT *answer = (HRESULT *)result;
    if (!PrepareStartupWith(&kRecordingLoader))
        return 1;
    // Refused as RPC_E_CHANGED_MODE when the thread is already in a single-threaded apartment.
    *answer = CoInitializeEx(NULL, COINIT_MULTITHREADED);
    if (SUCCEEDED(*answer))
        CoUninitialize();
    CoUninitialize();
    return 0;
}

TEST_F(StartupLoader, SetsUpASingleThreadedApartmentForTheShell)
{
    for (bool newer : { true, false })
    {
        SCOPED_TRACE(newer ? "newer loader" : "older loader");
        g_newerLoader = newer;
        HRESULT answer = S_OK;
        HANDLE thread = CreateThread(NULL, 0, PrepareAndAskTheApartment, &answer, 0, NULL);
        ASSERT_TRUE(thread != NULL);
        ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 30000));
        DWORD code = 1;
        GetExitCodeThread(thread, &code);
        CloseHandle(thread);
        ASSERT_EQ(0u, code) << "start-up failed:" << DescribeCalls();
        EXPECT_EQ(RPC_E_CHANGED_MODE, answer) << "after start-up the thread is not in a single-threaded apartment";
    }
}

// Without the common controls there would be no sliders: start-up says what is missing and ends.
struct MissingCase
{
    const char *name;
    bool newerLoader;
    const char *unloadable;
    const char *unexported;
    const char *named;      // what the box must name
};

const MissingCase kMissingCases[] =
{
    { "CommonControlsNotLoaded",     true,  "comctl32.dll", "",                   "comctl32.dll" },
    { "CommonControlsNotLoadedOld",  false, "comctl32.dll", "",                   "comctl32.dll" },
    { "CommonControlsWithoutStart",  true,  "",             "InitCommonControls", "comctl32.dll" },
};

void PrintTo(const MissingCase &missing, std::ostream *out)
{
    *out << missing.name;
}

class StartupWithoutCommonControls : public StartupLoader, public ::testing::WithParamInterface<MissingCase>
{
};

TEST_P(StartupWithoutCommonControls, SaysWhatIsMissingAndFails)
{
    const MissingCase &missing = GetParam();
    g_newerLoader = missing.newerLoader;
    g_unloadable = missing.unloadable;
    g_unexported = missing.unexported;
    MessageBoxCloser closer;
    EXPECT_FALSE(Prepare()) << DescribeCalls();
    ASSERT_EQ(1u, closer.seen.size()) << "one error box expected";
    EXPECT_EQ("Error", closer.seen[0].caption);
    EXPECT_NE(std::string::npos, closer.seen[0].text.find("Unable to start setup!")) << closer.seen[0].text;
    EXPECT_NE(std::string::npos, closer.seen[0].text.find(missing.named)) << closer.seen[0].text;
    EXPECT_TRUE(closer.seen[0].icon == LoadIconA(NULL, IDI_HAND)) << "not the error icon";
    EXPECT_EQ(std::vector<std::string>(1, "OK"), closer.seen[0].buttons);
    for (const LoaderCall &call : g_calls)
    {
        if (!missing.newerLoader)
        {
            EXPECT_EQ(0u, call.flags & kSearchFlags) << call.argument << " loaded with a search flag";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Missing, StartupWithoutCommonControls, ::testing::ValuesIn(kMissingCases),
                         [](const ::testing::TestParamInfo<MissingCase> &info) { return std::string(info.param.name); });

// ---- Flags an older system refuses ----

// While alive, this program's import of kernel32!`name` goes to `replacement`: the setup's code linked
// into this program calls the system through these imports, so each of its calls passes there.
class ImportReplacement
{
public:
    ImportReplacement(const char *name, void *replacement) : slot(NULL), original(NULL)
    {
        const BYTE *base = (const BYTE *)GetModuleHandleA(NULL);
        const IMAGE_NT_HEADERS *headers = (const IMAGE_NT_HEADERS *)(base + ((const IMAGE_DOS_HEADER *)base)->e_lfanew);
        const IMAGE_DATA_DIRECTORY &imports = headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        for (const IMAGE_IMPORT_DESCRIPTOR *library = (const IMAGE_IMPORT_DESCRIPTOR *)(base + imports.VirtualAddress);
             imports.Size && library->Name && !slot; library++)
        {
            if (lstrcmpiA((const char *)(base + library->Name), "kernel32.dll") != 0 || !library->OriginalFirstThunk)
                continue;
            const IMAGE_THUNK_DATA *names = (const IMAGE_THUNK_DATA *)(base + library->OriginalFirstThunk);
            IMAGE_THUNK_DATA *addresses = (IMAGE_THUNK_DATA *)(base + library->FirstThunk);
            for (; names->u1.AddressOfData && !slot; names++, addresses++)
            {
                if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal))
                    continue;
                const IMAGE_IMPORT_BY_NAME *byName = (const IMAGE_IMPORT_BY_NAME *)(base + names->u1.AddressOfData);
                if (lstrcmpA((const char *)byName->Name, name) == 0)
                    slot = (void **)&addresses->u1.Function;
            }
        }
        if (slot)
        {
            original = *slot;
            Write(replacement);
        }
    }
    ~ImportReplacement()
    {
        if (slot)
            Write(original);
    }
    bool Found() const { return slot != NULL; }
    void *Original() const { return original; }

private:
    void Write(void *value)
    {
        DWORD old;
        VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &old);
        *slot = value;
        VirtualProtect(slot, sizeof(*slot), old, &old);
    }

    void **slot;
    void *original;
    ImportReplacement(const ImportReplacement &);
    ImportReplacement &operator=(const ImportReplacement &);
};

typedef int (WINAPI *WideCharToMultiByteFn)(UINT, DWORD, LPCWSTR, int, LPSTR, int, LPCSTR, LPBOOL);
WideCharToMultiByteFn g_wideCharToMultiByte;
std::vector<std::pair<UINT, DWORD> > g_conversions;     // code page and flags of each call

int WINAPI RecordWideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                                     int size, LPCSTR defaultChar, LPBOOL defaulted)
{
    g_conversions.push_back(std::make_pair(codePage, flags));
    return g_wideCharToMultiByte(codePage, flags, wide, wideLength, text, size, defaultChar, defaulted);
}

// WC_ERR_INVALID_CHARS needs Windows Vista (Windows XP refuses the call) and is taken only with UTF-8,
// which is the ANSI code page only from Windows 10 1903 on: on any other system no conversion may ask
// for it. Paths with letters
// outside ASCII and outside the code page, so every branch of the conversion runs.
TEST(StartupFlags, ConversionsAskOnlyForWhatTheCodePageTakes)
{
    std::string folder = MakeTempFolder("flags");
    g_fakeModes.clear();
    g_fakeFailingIndex = -1;
    g_conversions.clear();
    const std::wstring appDataFolders[] =
    {
        Wide(folder),
        Wide(folder) + L"\\\x00C4rger",
        L"C:\\users\\\x041F\x0451\x0442\x0440\\AppData\\Roaming",
        L"C:\\users\\\x0141ukasz\\AppData\\Roaming",
    };
    {
        ImportReplacement replacement("WideCharToMultiByte", (void *)RecordWideCharToMultiByte);
        ASSERT_TRUE(replacement.Found()) << "this program does not import WideCharToMultiByte";
        g_wideCharToMultiByte = (WideCharToMultiByteFn)replacement.Original();
        for (const std::wstring &appData : appDataFolders)
        {
            g_fakeAppData = appData;
            SetFakeModulePath(folder + "\\setup.exe");
            HWND window = CreateSetupWindow();
            EXPECT_TRUE(window != NULL);
            CloseSetupWindow(window);
        }
    }
    RemoveTree(folder);
    EXPECT_FALSE(g_conversions.empty()) << "no conversion seen: the setup no longer converts through its import";
    // Only a system whose ANSI code page is UTF-8 is new enough for the flag, whatever the call converts to.
    for (const auto &conversion : g_conversions)
    {
        if (GetACP() != CP_UTF8)
        {
            EXPECT_EQ(0u, conversion.second & WC_ERR_INVALID_CHARS) << "code page " << conversion.first;
        }
    }
}

// Last: it takes the slider class away for the rest of this process. When the common controls load but
// their slider class is not there, start-up names the class and ends.
TEST_F(StartupLoader, WithoutTheSliderClassSaysSoAndFails)
{
    HMODULE commonControls = LoadLibraryA("comctl32.dll");
    ASSERT_TRUE(commonControls != NULL);
    if (!UnregisterClassA(TRACKBAR_CLASSA, commonControls))
        UnregisterClassA(TRACKBAR_CLASSA, NULL);
    WNDCLASSA slider;
    if (GetClassInfoA(NULL, TRACKBAR_CLASSA, &slider))
        GTEST_SKIP() << "the slider class cannot be taken away here";
    // The real InitCommonControls might register it again; one that does nothing stands in for a
    // library without the class.
    g_unexported = "";
    MessageBoxCloser closer;
    struct NoOp
    {
        static void WINAPI InitCommonControls() {}
        static FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name)
        {
            if (!IS_INTRESOURCE(name) && lstrcmpA(name, "InitCommonControls") == 0)
                return (FARPROC)(void (*)(void))InitCommonControls;
            return RecordGetProcAddress(module, name);
        }
    };
    const LoaderCalls loader = { NoOp::GetProcAddress, RecordSetDllDirectory, RecordGetSystemDirectory,
                                 RecordLoadLibraryEx };
    EXPECT_FALSE(PrepareStartupWith(&loader));
    ASSERT_EQ(1u, closer.seen.size()) << "one error box expected";
    EXPECT_EQ("Error", closer.seen[0].caption);
    EXPECT_NE(std::string::npos, closer.seen[0].text.find(TRACKBAR_CLASSA)) << closer.seen[0].text;
    EXPECT_TRUE(closer.seen[0].icon == LoadIconA(NULL, IDI_HAND)) << "not the error icon";
}

}  // namespace
