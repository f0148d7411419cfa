// The built setup.exe as a file: its resources, the DLLs and functions it uses and the Windows versions
// that have them, its hardening flags; and the stack guard of a program built as it is.
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <gtest/gtest.h>

#include "app/stack_guard.h"
#include "app/window.h"
#include "resources/resource.h"
#include "resources/version.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

std::string BuiltSetup()
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder = path;
    return folder.substr(0, folder.rfind('\\')) + "\\setup.exe";
}

#pragma pack(push, 2)
struct IconDirectoryEntry
{
    BYTE width, height, colourCount, reserved;
    WORD planes, bitCount;
    DWORD bytes;
    WORD id;
};
struct IconDirectory
{
    WORD reserved, type, count;
    IconDirectoryEntry entries[1];
};
#pragma pack(pop)

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR param)
{
    ((std::set<ULONG_PTR> *)param)->insert((ULONG_PTR)type);
    return TRUE;
}

class SetupModule : public ::testing::Test
{
protected:
    void SetUp() override
    {
        module = LoadLibraryExA(BuiltSetup().c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_TRUE(module != NULL) << BuiltSetup();
    }
    void TearDown() override { FreeLibrary(module); }
    HMODULE module = NULL;
};

TEST_F(SetupModule, HoldsOnlyTheIconTheVersionBlockAndTheManifest)
{
    std::set<ULONG_PTR> types;
    EnumResourceTypesA(module, CollectType, (LONG_PTR)&types);
    const std::set<ULONG_PTR> expected = { (ULONG_PTR)RT_ICON, (ULONG_PTR)RT_GROUP_ICON, (ULONG_PTR)RT_VERSION,
                                           (ULONG_PTR)RT_MANIFEST };
    EXPECT_EQ(expected, types) << "no dialog, menu, string or accelerator resources";
}

// Asks to run as the user who started it, so the system does not take "setup" for an installer and ask
// for an administrator; and nothing else: no common controls of a later look, no DPI awareness.
TEST_F(SetupModule, ManifestAsksOnlyToRunAsTheInvoker)
{
    HRSRC found = FindResourceA(module, CREATEPROCESS_MANIFEST_RESOURCE_ID, RT_MANIFEST);
    ASSERT_TRUE(found != NULL) << "no manifest with the identifier 1";
    std::string manifest((const char *)LockResource(LoadResource(module, found)), SizeofResource(module, found));
    EXPECT_NE(std::string::npos, manifest.find("<requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"))
        << manifest;
    for (const char *absent : { "dependency", "Common-Controls", "dpiAware", "requireAdministrator",
                                "highestAvailable" })
        EXPECT_EQ(std::string::npos, manifest.find(absent)) << absent << " in:\n" << manifest;

    // Windows XP SP2 without a hotfix restarts the machine on an element that declares a namespace the
    // same element already declares: each element declares at most one, and no namespace is declared twice.
    std::set<std::string> declared;
    for (size_t open = manifest.find('<'); open != std::string::npos; open = manifest.find('<', open + 1))
    {
        std::string tag = manifest.substr(open, manifest.find('>', open) - open);
        int declarations = 0;
        for (size_t at = tag.find("xmlns"); at != std::string::npos; at = tag.find("xmlns", at + 1), declarations++)
        {
            size_t quote = tag.find('"', at);
            std::string uri = tag.substr(quote + 1, tag.find('"', quote + 1) - quote - 1);
            EXPECT_TRUE(declared.insert(uri).second) << uri << " declared again in " << tag;
        }
        EXPECT_LE(declarations, 1) << "namespaces declared in " << tag;
    }
    EXPECT_EQ(2u, declared.size()) << "the assembly and the trust information each declare their own";
}

TEST_F(SetupModule, IconGroup101HasFourSixteenColourImages)
{
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(101), RT_GROUP_ICON);
    ASSERT_TRUE(found != NULL);
    const IconDirectory *group = (const IconDirectory *)LockResource(LoadResource(module, found));
    ASSERT_EQ(4, group->count);
    const int sizes[] = { 16, 24, 32, 48 };
    for (int i = 0; i < 4; i++)
    {
        SCOPED_TRACE(sizes[i]);
        const IconDirectoryEntry &entry = group->entries[i];
        EXPECT_EQ(sizes[i], entry.width);
        EXPECT_EQ(sizes[i], entry.height);
        EXPECT_EQ(16, entry.colourCount);
        EXPECT_EQ(4, entry.bitCount);
        HRSRC image = FindResourceA(module, MAKEINTRESOURCEA(entry.id), RT_ICON);
        ASSERT_TRUE(image != NULL);
        const BITMAPINFOHEADER *header = (const BITMAPINFOHEADER *)LockResource(LoadResource(module, image));
        EXPECT_EQ(4, header->biBitCount);
        EXPECT_EQ(sizes[i], header->biWidth);
    }
}

// The colour and mask bits of an icon at its standard size.
std::vector<BYTE> IconBits(HICON icon)
{
    std::vector<BYTE> bits;
    ICONINFO info;
    if (!icon || !GetIconInfo(icon, &info))
        return bits;
    for (HBITMAP bitmap : { info.hbmColor, info.hbmMask })
    {
        BITMAP shape;
        if (bitmap && GetObjectA(bitmap, sizeof(shape), &shape))
        {
            size_t at = bits.size();
            bits.resize(at + shape.bmWidthBytes * shape.bmHeight);
            GetBitmapBits(bitmap, shape.bmWidthBytes * shape.bmHeight, &bits[at]);
        }
        if (bitmap)
            DeleteObject(bitmap);
    }
    return bits;
}

// The class the program registers, for the file's own module: icon 101 from the file, and the button face
// behind the form.
TEST_F(SetupModule, WindowClassTakesIcon101AndTheButtonFace)
{
    std::vector<BYTE> icon101 = IconBits(LoadIconA(module, MAKEINTRESOURCEA(IDI_APP)));
    ASSERT_FALSE(icon101.empty());
    ASSERT_TRUE(RegisterSetupClass(module));
    WNDCLASSA registered = {};
    ASSERT_TRUE(GetClassInfoA(module, SETUP_WINDOW_CLASS, &registered));
    EXPECT_TRUE(IconBits(registered.hIcon) == icon101) << "the class icon is not icon 101 of setup.exe";
    EXPECT_TRUE(registered.hbrBackground == (HBRUSH)(COLOR_BTNFACE + 1))
        << "background brush " << registered.hbrBackground << ", expected the button face";
    UnregisterClassA(SETUP_WINDOW_CLASS, module);
}

std::string VersionString(const std::vector<BYTE> &block, const char *name)
{
    char query[128];
    wsprintfA(query, "\\StringFileInfo\\040904b0\\%s", name);
    char *value = NULL;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), query, (void **)&value, &length) || !value)
        return "(missing)";
    return value;
}

TEST(SetupVersion, NamesTheProgramAndItsVersion)
{
    std::string path = BuiltSetup();
    DWORD ignored = 0, size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u);
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data()));

    VS_FIXEDFILEINFO *fixed = NULL;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void **)&fixed, &length));
    EXPECT_EQ(MAKELONG(SETUP_VERSION_MINOR, SETUP_VERSION_MAJOR), (LONG)fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(0, SETUP_VERSION_PATCH), (LONG)fixed->dwFileVersionLS);
    EXPECT_EQ(MAKELONG(SETUP_VERSION_MINOR, SETUP_VERSION_MAJOR), (LONG)fixed->dwProductVersionMS);
    EXPECT_EQ(MAKELONG(0, SETUP_VERSION_PATCH), (LONG)fixed->dwProductVersionLS);
    EXPECT_EQ((DWORD)VFT_APP, fixed->dwFileType);
    EXPECT_EQ((DWORD)VOS__WINDOWS32, fixed->dwFileOS);
    EXPECT_EQ(0u, fixed->dwFileFlags);

    const struct { const char *name, *value; } strings[] =
    {
        { "FileVersion", SETUP_VERSION_TEXT }, { "ProductVersion", SETUP_VERSION_TEXT },
        { "InternalName", "setup" }, { "OriginalFilename", "setup.exe" },
    };
    for (const auto &s : strings)
        EXPECT_EQ(s.value, VersionString(block, s.name)) << s.name;

    WORD *translation = NULL;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void **)&translation, &length));
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1200, translation[1]);
}

std::string LowerCase(const char *text)
{
    std::string lower = text;
    CharLowerBuffA(&lower[0], (DWORD)lower.size());
    return lower;
}

// The runtime is linked in: a copy of setup.exe alone in a folder must start on any system. Bound at
// start-up are only libraries that the system never looks for beside the program and whose own imports
// are such libraries too; anything else (user32 imports version.dll under Wine) would have its imports
// looked for beside the setup before the setup could say where libraries come from.
TEST(SetupImports, OnlyKnownSystemLibraries)
{
    HANDLE file = CreateFileA(BuiltSetup().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HANDLE mapping = CreateFileMappingA(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
    ASSERT_TRUE(mapping != NULL);
    const BYTE *image = (const BYTE *)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    ASSERT_TRUE(image != NULL);

    const IMAGE_NT_HEADERS32 *headers =
        (const IMAGE_NT_HEADERS32 *)(image + ((const IMAGE_DOS_HEADER *)image)->e_lfanew);
    EXPECT_EQ(IMAGE_FILE_MACHINE_I386, headers->FileHeader.Machine);
    EXPECT_EQ(IMAGE_SUBSYSTEM_WINDOWS_GUI, headers->OptionalHeader.Subsystem);

    const std::set<std::string> atStartup = { "kernel32.dll", "msvcrt.dll" };
    const IMAGE_DATA_DIRECTORY *directories = headers->OptionalHeader.DataDirectory;
    int count = 0;
    for (const IMAGE_IMPORT_DESCRIPTOR *import =
             (const IMAGE_IMPORT_DESCRIPTOR *)(image + directories[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress);
         import->Name; import++, count++)
    {
        std::string name = LowerCase((const char *)(image + import->Name));
        EXPECT_TRUE(atStartup.count(name)) << name << " is bound at start-up";
    }
    EXPECT_GT(count, 0);

    // Libraries bound at their first call, after the setup has limited loading to the system folder. GNU
    // ld leaves this directory empty (its delay-load records are reached only through the call stubs);
    // the Microsoft linker fills it.
    const std::set<std::string> delayLoaded = { "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
                                                "advapi32.dll" };
    const IMAGE_DATA_DIRECTORY &delay = directories[IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT];
    for (const IMAGE_DELAYLOAD_DESCRIPTOR *import =
             (const IMAGE_DELAYLOAD_DESCRIPTOR *)(image + delay.VirtualAddress);
         delay.Size && import->DllNameRVA; import++)
    {
        DWORD name = import->DllNameRVA;
        if (!import->Attributes.RvaBased)
            name -= headers->OptionalHeader.ImageBase;
        EXPECT_TRUE(delayLoaded.count(LowerCase((const char *)(image + name)))) << (const char *)(image + name);
    }
    UnmapViewOfFile(image);
    CloseHandle(mapping);
    CloseHandle(file);
}

// ---- What the setup needs of Windows ----

// The setup's image as the loader maps it, so that addresses inside it are offsets from its start.
class MappedSetup
{
public:
    MappedSetup() : file(INVALID_HANDLE_VALUE), mapping(NULL), image(NULL), headers(NULL)
    {
        file = CreateFileA(BuiltSetup().c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            mapping = CreateFileMappingA(file, NULL, PAGE_READONLY | SEC_IMAGE, 0, 0, NULL);
        if (mapping)
            image = (const BYTE *)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
        if (image)
            headers = (const IMAGE_NT_HEADERS32 *)(image + ((const IMAGE_DOS_HEADER *)image)->e_lfanew);
    }
    ~MappedSetup()
    {
        if (image)
            UnmapViewOfFile(image);
        if (mapping)
            CloseHandle(mapping);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    const IMAGE_DATA_DIRECTORY &Directory(int entry) const { return headers->OptionalHeader.DataDirectory[entry]; }
    const IMAGE_SECTION_HEADER *Sections() const { return IMAGE_FIRST_SECTION(headers); }
    int SectionCount() const { return headers->FileHeader.NumberOfSections; }
    bool Inside(DWORD rva) const { return rva != 0 && rva < headers->OptionalHeader.SizeOfImage; }
    // The text at `rva`; "" when it runs out of the image.
    std::string Text(DWORD rva) const
    {
        std::string text;
        for (; Inside(rva) && image[rva]; rva++)
            text += (char)image[rva];
        return Inside(rva) ? text : "";
    }

    HANDLE file, mapping;
    const BYTE *image;
    const IMAGE_NT_HEADERS32 *headers;

private:
    MappedSetup(const MappedSetup &);
    MappedSetup &operator=(const MappedSetup &);
};

// The names of a name table (import or delay-load); ordinals as "#n".
std::vector<std::string> NameTable(const MappedSetup &setup, DWORD rva)
{
    std::vector<std::string> names;
    for (; setup.Inside(rva + sizeof(DWORD)); rva += sizeof(DWORD))
    {
        DWORD entry = *(const DWORD *)(setup.image + rva);
        if (!entry)
            break;
        if (entry & IMAGE_ORDINAL_FLAG32)
            names.push_back("#" + std::to_string(IMAGE_ORDINAL32(entry)));
        else
            names.push_back(setup.Text(entry + offsetof(IMAGE_IMPORT_BY_NAME, Name)));
    }
    return names;
}

typedef std::map<std::string, std::vector<std::string> > LibraryFunctions;

LibraryFunctions ImportedFunctions(const MappedSetup &setup)
{
    LibraryFunctions imported;
    const IMAGE_DATA_DIRECTORY &directory = setup.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT);
    for (const IMAGE_IMPORT_DESCRIPTOR *import =
             (const IMAGE_IMPORT_DESCRIPTOR *)(setup.image + directory.VirtualAddress);
         directory.Size && import->Name; import++)
        imported[LowerCase(setup.Text(import->Name).c_str())] =
            NameTable(setup, import->OriginalFirstThunk ? import->OriginalFirstThunk : import->FirstThunk);
    return imported;
}

// A delay-load record whose fields all point into the image, at a library's name, a module handle, an
// address table and a name table of names.
bool DelayLoadRecord(const MappedSetup &setup, const IMAGE_DELAYLOAD_DESCRIPTOR *record)
{
    if (record->Attributes.AllAttributes != 1 || !setup.Inside(record->DllNameRVA) ||
        !setup.Inside(record->ModuleHandleRVA) || !setup.Inside(record->ImportAddressTableRVA) ||
        !setup.Inside(record->ImportNameTableRVA))
        return false;
    std::string name = LowerCase(setup.Text(record->DllNameRVA).c_str());
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0 &&
           !NameTable(setup, record->ImportNameTableRVA).empty();
}

// Libraries bound at their first call, with their functions. The Microsoft linker lists their records in
// the delay-load directory; GNU ld leaves that empty and keeps the records (made by dlltool) among the
// code, reached only through the call stubs: there they are found by their shape.
LibraryFunctions DelayLoadedFunctions(const MappedSetup &setup)
{
    LibraryFunctions delayed;
    std::vector<const IMAGE_DELAYLOAD_DESCRIPTOR *> records;
    const IMAGE_DATA_DIRECTORY &directory = setup.Directory(IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT);
    if (directory.Size)
    {
        for (const IMAGE_DELAYLOAD_DESCRIPTOR *record =
                 (const IMAGE_DELAYLOAD_DESCRIPTOR *)(setup.image + directory.VirtualAddress);
             record->DllNameRVA; record++)
            records.push_back(record);
    }
    else
    {
        for (int i = 0; i < setup.SectionCount(); i++)
        {
            const IMAGE_SECTION_HEADER &section = setup.Sections()[i];
            if (!(section.Characteristics & IMAGE_SCN_CNT_CODE))
                continue;
            DWORD end = section.VirtualAddress + section.Misc.VirtualSize;
            for (DWORD at = section.VirtualAddress; at + sizeof(IMAGE_DELAYLOAD_DESCRIPTOR) <= end; at += 4)
            {
                const IMAGE_DELAYLOAD_DESCRIPTOR *record = (const IMAGE_DELAYLOAD_DESCRIPTOR *)(setup.image + at);
                if (DelayLoadRecord(setup, record))
                    records.push_back(record);
            }
        }
    }
    for (const IMAGE_DELAYLOAD_DESCRIPTOR *record : records)
        delayed[LowerCase(setup.Text(record->DllNameRVA).c_str())] = NameTable(setup, record->ImportNameTableRVA);
    return delayed;
}

// The libraries whose functions the setup may look up by name.
const char *const kSystemLibraries[] = { "kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "ole32.dll",
                                         "comctl32.dll", "advapi32.dll", "uxtheme.dll" };

bool IdentifierLike(const std::string &text)
{
    if (text.size() < 4 || !IsCharAlphaA(text[0]))
        return false;
    for (char c : text)
    {
        if (!(IsCharAlphaNumericA(c) && (unsigned char)c < 0x80) && c != '_')
            return false;
    }
    return true;
}

// The names of system functions that stand as text in the setup's data, outside its import tables: the
// names it looks up with GetProcAddress, with the library that exports each.
LibraryFunctions LookedUpFunctions(const MappedSetup &setup)
{
    std::vector<HMODULE> libraries;
    for (const char *name : kSystemLibraries)
        libraries.push_back(LoadLibraryA(name));
    DWORD importsAt = setup.Directory(IMAGE_DIRECTORY_ENTRY_IMPORT).VirtualAddress;
    DWORD resourcesAt = setup.Directory(IMAGE_DIRECTORY_ENTRY_RESOURCE).VirtualAddress;

    LibraryFunctions looked;
    for (int i = 0; i < setup.SectionCount(); i++)
    {
        const IMAGE_SECTION_HEADER &section = setup.Sections()[i];
        DWORD start = section.VirtualAddress, end = start + section.Misc.VirtualSize;
        if ((section.Characteristics & IMAGE_SCN_CNT_CODE) || !(section.Characteristics & IMAGE_SCN_CNT_INITIALIZED_DATA) ||
            (importsAt >= start && importsAt < end) || (resourcesAt >= start && resourcesAt < end))
            continue;
        for (DWORD at = start; at < end;)
        {
            std::string text = setup.Text(at);
            at += (DWORD)text.size() + 1;
            // A name may follow other data with no terminator between: take the name-like end of the run.
            size_t begin = text.size();
            while (begin > 0 && (IsCharAlphaNumericA(text[begin - 1]) || text[begin - 1] == '_') &&
                   (unsigned char)text[begin - 1] < 0x80)
                begin--;
            text = text.substr(begin);
            if (!IdentifierLike(text))
                continue;
            for (size_t l = 0; l < libraries.size(); l++)
            {
                if (libraries[l] && GetProcAddress(libraries[l], text.c_str()))
                    looked[kSystemLibraries[l]].push_back(text);
            }
        }
    }
    return looked;
}

// Windows versions, oldest first, as the functions' documentation names their minimum.
enum WindowsVersion
{
    WINDOWS_2000,
    WINDOWS_XP,
    WINDOWS_XP_SP1,
    WINDOWS_XP_SP3,
    WINDOWS_VISTA,
    WINDOWS_7,
    WINDOWS_8,
    WINDOWS_10_1903,
};

const char *const kVersionNames[] = { "Windows 2000", "Windows XP", "Windows XP SP1", "Windows XP SP3",
                                      "Windows Vista", "Windows 7", "Windows 8", "Windows 10 1903" };

// The oldest system the setup must start and work on.
const WindowsVersion kOldestSupported = WINDOWS_XP_SP3;

struct SystemFunction
{
    const char *library;
    const char *name;
    WindowsVersion minimum;     // the "Minimum supported client" of the function's documentation
    bool lookedUpWithFallback;  // newer than the oldest supported system: looked up, and the setup works without it
};

// Every system function the setup may use. A function not listed here fails the test until it is added
// with its documented minimum; a newer one only passes when the setup looks it up and has a fallback,
// shown by the start-up tests that stand for an older system.
const SystemFunction kSystemFunctions[] =
{
    { "kernel32.dll", "CloseHandle",                WINDOWS_2000,   false },
    { "kernel32.dll", "CompareFileTime",            WINDOWS_2000,   false },
    { "kernel32.dll", "CompareStringA",             WINDOWS_2000,   false },
    { "kernel32.dll", "CopyFileA",                  WINDOWS_XP,     false },
    { "kernel32.dll", "CreateDirectoryA",           WINDOWS_XP,     false },
    { "kernel32.dll", "CreateFileA",                WINDOWS_XP,     false },
    { "kernel32.dll", "CreateMutexA",               WINDOWS_XP,     false },
    { "kernel32.dll", "CreateProcessA",             WINDOWS_XP,     false },
    { "kernel32.dll", "DeleteFileA",                WINDOWS_XP,     false },
    { "kernel32.dll", "ExitProcess",                WINDOWS_XP,     false },
    { "kernel32.dll", "FindClose",                  WINDOWS_XP,     false },
    { "kernel32.dll", "FindFirstFileA",             WINDOWS_XP,     false },
    { "kernel32.dll", "FindNextFileA",              WINDOWS_XP,     false },
    { "kernel32.dll", "FlushFileBuffers",           WINDOWS_XP,     false },
    { "kernel32.dll", "FormatMessageA",             WINDOWS_XP,     false },
    { "kernel32.dll", "FreeLibrary",                WINDOWS_XP,     false },
    { "kernel32.dll", "GetACP",                     WINDOWS_2000,   false },
    { "kernel32.dll", "GetCommandLineA",            WINDOWS_2000,   false },
    { "kernel32.dll", "GetCurrentDirectoryA",       WINDOWS_XP,     false },
    { "kernel32.dll", "GetCurrentProcess",          WINDOWS_XP,     false },
    { "kernel32.dll", "GetCurrentProcessId",        WINDOWS_XP,     false },
    { "kernel32.dll", "GetCurrentThreadId",         WINDOWS_XP,     false },
    { "kernel32.dll", "GetDiskFreeSpaceExA",        WINDOWS_XP,     false },
    { "kernel32.dll", "GetEnvironmentVariableA",    WINDOWS_XP,     false },
    { "kernel32.dll", "GetExitCodeProcess",         WINDOWS_XP,     false },
    { "kernel32.dll", "GetFileAttributesA",         WINDOWS_XP,     false },
    { "kernel32.dll", "GetFileAttributesExA",       WINDOWS_XP,     false },
    { "kernel32.dll", "GetFileInformationByHandle", WINDOWS_XP,     false },
    { "kernel32.dll", "GetFileSize",                WINDOWS_XP,     false },
    { "kernel32.dll", "GetFileSizeEx",              WINDOWS_XP,     false },
    { "kernel32.dll", "GetFullPathNameA",           WINDOWS_XP,     false },
    { "kernel32.dll", "GetLastError",               WINDOWS_XP,     false },
    { "kernel32.dll", "GetLongPathNameW",           WINDOWS_XP,     false },
    { "kernel32.dll", "GetModuleFileNameA",         WINDOWS_XP,     false },
    { "kernel32.dll", "GetModuleFileNameW",         WINDOWS_XP,     false },
    { "kernel32.dll", "GetModuleHandleA",           WINDOWS_XP,     false },
    { "kernel32.dll", "GetPrivateProfileIntA",      WINDOWS_2000,   false },
    { "kernel32.dll", "GetPrivateProfileStringA",   WINDOWS_2000,   false },
    { "kernel32.dll", "GetProcAddress",             WINDOWS_XP,     false },
    { "kernel32.dll", "GetProcessHeap",             WINDOWS_XP,     false },
    { "kernel32.dll", "GetShortPathNameW",          WINDOWS_XP,     false },
    { "kernel32.dll", "GetStartupInfoA",            WINDOWS_XP,     false },
    { "kernel32.dll", "GetSystemDirectoryA",        WINDOWS_2000,   false },
    { "kernel32.dll", "GetSystemTimeAsFileTime",    WINDOWS_2000,   false },
    { "kernel32.dll", "GetTempFileNameA",           WINDOWS_XP,     false },
    { "kernel32.dll", "GetTempPathA",               WINDOWS_XP,     false },
    { "kernel32.dll", "GetTickCount",               WINDOWS_2000,   false },
    { "kernel32.dll", "GetVersionExA",              WINDOWS_2000,   false },
    { "kernel32.dll", "HeapAlloc",                  WINDOWS_XP,     false },
    { "kernel32.dll", "HeapFree",                   WINDOWS_XP,     false },
    { "kernel32.dll", "LoadLibraryA",               WINDOWS_XP,     false },
    { "kernel32.dll", "LoadLibraryExA",             WINDOWS_XP,     false },
    { "kernel32.dll", "LocalAlloc",                 WINDOWS_XP,     false },
    { "kernel32.dll", "LocalFree",                  WINDOWS_XP,     false },
    { "kernel32.dll", "lstrcatA",                   WINDOWS_2000,   false },
    { "kernel32.dll", "lstrcmpA",                   WINDOWS_2000,   false },
    { "kernel32.dll", "lstrcmpiA",                  WINDOWS_2000,   false },
    { "kernel32.dll", "lstrcpyA",                   WINDOWS_2000,   false },
    { "kernel32.dll", "lstrcpynA",                  WINDOWS_2000,   false },
    { "kernel32.dll", "lstrlenA",                   WINDOWS_2000,   false },
    { "kernel32.dll", "lstrlenW",                   WINDOWS_2000,   false },
    { "kernel32.dll", "MoveFileExA",                WINDOWS_XP,     false },
    { "kernel32.dll", "MultiByteToWideChar",        WINDOWS_2000,   false },
    { "kernel32.dll", "OpenProcess",                WINDOWS_XP,     false },
    { "kernel32.dll", "QueryPerformanceCounter",    WINDOWS_2000,   false },
    { "kernel32.dll", "RaiseException",             WINDOWS_XP,     false },
    { "kernel32.dll", "ReadFile",                   WINDOWS_XP,     false },
    { "kernel32.dll", "ReleaseMutex",               WINDOWS_XP,     false },
    { "kernel32.dll", "ReplaceFileA",               WINDOWS_XP,     false },
    { "kernel32.dll", "SetDefaultDllDirectories",   WINDOWS_8,      true },
    { "kernel32.dll", "SetDllDirectoryA",           WINDOWS_XP_SP1, false },
    { "kernel32.dll", "SetEndOfFile",               WINDOWS_XP,     false },
    { "kernel32.dll", "SetFileAttributesA",         WINDOWS_XP,     false },
    { "kernel32.dll", "SetFileInformationByHandle", WINDOWS_VISTA,  true },
    { "kernel32.dll", "SetFilePointer",             WINDOWS_XP,     false },
    { "kernel32.dll", "SetLastError",               WINDOWS_XP,     false },
    { "kernel32.dll", "Sleep",                      WINDOWS_XP,     false },
    { "kernel32.dll", "TerminateProcess",           WINDOWS_XP,     false },
    { "kernel32.dll", "WaitForSingleObject",        WINDOWS_XP,     false },
    { "kernel32.dll", "WideCharToMultiByte",        WINDOWS_2000,   false },
    { "kernel32.dll", "WriteFile",                  WINDOWS_XP,     false },
    { "kernel32.dll", "WritePrivateProfileStringA", WINDOWS_2000,   false },
    { "user32.dll",   "AdjustWindowRect",           WINDOWS_2000,   false },
    { "user32.dll",   "AppendMenuA",                WINDOWS_2000,   false },
    { "user32.dll",   "CheckDlgButton",             WINDOWS_2000,   false },
    { "user32.dll",   "CheckRadioButton",           WINDOWS_2000,   false },
    { "user32.dll",   "CreateMenu",                 WINDOWS_2000,   false },
    { "user32.dll",   "CreatePopupMenu",            WINDOWS_2000,   false },
    { "user32.dll",   "CreateWindowExA",            WINDOWS_2000,   false },
    { "user32.dll",   "DefWindowProcA",             WINDOWS_2000,   false },
    { "user32.dll",   "DestroyWindow",              WINDOWS_2000,   false },
    { "user32.dll",   "DispatchMessageA",           WINDOWS_2000,   false },
    { "user32.dll",   "EnableMenuItem",             WINDOWS_2000,   false },
    { "user32.dll",   "EnableWindow",               WINDOWS_2000,   false },
    { "user32.dll",   "EnumDisplaySettingsA",       WINDOWS_2000,   false },
    { "user32.dll",   "GetClassInfoA",              WINDOWS_2000,   false },
    { "user32.dll",   "GetClientRect",              WINDOWS_2000,   false },
    { "user32.dll",   "GetDlgItem",                 WINDOWS_2000,   false },
    { "user32.dll",   "GetDlgItemTextA",            WINDOWS_2000,   false },
    { "user32.dll",   "GetMessageA",                WINDOWS_2000,   false },
    { "user32.dll",   "GetParent",                  WINDOWS_2000,   false },
    { "user32.dll",   "GetSystemMetrics",           WINDOWS_2000,   false },
    { "user32.dll",   "GetWindowLongA",             WINDOWS_2000,   false },
    { "user32.dll",   "GetWindowRect",              WINDOWS_2000,   false },
    { "user32.dll",   "GetWindowTextA",             WINDOWS_2000,   false },
    { "user32.dll",   "IsDlgButtonChecked",         WINDOWS_2000,   false },
    { "user32.dll",   "IsWindow",                   WINDOWS_2000,   false },
    { "user32.dll",   "IsWindowVisible",            WINDOWS_2000,   false },
    { "user32.dll",   "LoadCursorA",                WINDOWS_2000,   false },
    { "user32.dll",   "LoadIconA",                  WINDOWS_2000,   false },
    { "user32.dll",   "MessageBeep",                WINDOWS_2000,   false },
    { "user32.dll",   "MessageBoxA",                WINDOWS_2000,   false },
    { "user32.dll",   "PostMessageA",               WINDOWS_2000,   false },
    { "user32.dll",   "PostQuitMessage",            WINDOWS_2000,   false },
    { "user32.dll",   "RegisterClassA",             WINDOWS_2000,   false },
    { "user32.dll",   "SendDlgItemMessageA",        WINDOWS_2000,   false },
    { "user32.dll",   "SendMessageA",               WINDOWS_2000,   false },
    { "user32.dll",   "SetDlgItemTextA",            WINDOWS_2000,   false },
    { "user32.dll",   "SetFocus",                   WINDOWS_2000,   false },
    { "user32.dll",   "SetForegroundWindow",        WINDOWS_2000,   false },
    { "user32.dll",   "SetMenu",                    WINDOWS_2000,   false },
    { "user32.dll",   "SetWindowLongA",             WINDOWS_2000,   false },
    { "user32.dll",   "SetWindowPos",               WINDOWS_2000,   false },
    { "user32.dll",   "SetWindowTextA",             WINDOWS_2000,   false },
    { "user32.dll",   "ShowWindow",                 WINDOWS_2000,   false },
    { "user32.dll",   "TranslateMessage",           WINDOWS_2000,   false },
    { "user32.dll",   "UpdateWindow",               WINDOWS_2000,   false },
    { "user32.dll",   "WaitForInputIdle",           WINDOWS_2000,   false },
    { "user32.dll",   "wsprintfA",                  WINDOWS_2000,   false },
    { "user32.dll",   "wvsprintfA",                 WINDOWS_2000,   false },
    { "shell32.dll",  "ShellExecuteA",              WINDOWS_XP,     false },
    { "shell32.dll",  "ShellExecuteExA",            WINDOWS_XP,     false },
    { "shell32.dll",  "SHGetFolderPathA",           WINDOWS_2000,   false },
    { "shell32.dll",  "SHGetFolderPathW",           WINDOWS_2000,   false },
    { "shell32.dll",  "SHGetPathFromIDListW",       WINDOWS_XP,     false },
    { "shell32.dll",  "SHGetSpecialFolderLocation", WINDOWS_2000,   false },
    { "ole32.dll",    "CoInitializeEx",             WINDOWS_2000,   false },
    { "ole32.dll",    "CoTaskMemFree",              WINDOWS_2000,   false },
    { "ole32.dll",    "CoUninitialize",             WINDOWS_2000,   false },
    { "comctl32.dll", "InitCommonControls",         WINDOWS_2000,   false },
    { "msvcrt.dll",   "memcmp",                     WINDOWS_2000,   false },
    { "msvcrt.dll",   "memcpy",                     WINDOWS_2000,   false },
    { "msvcrt.dll",   "memmove",                    WINDOWS_2000,   false },
    { "msvcrt.dll",   "memset",                     WINDOWS_2000,   false },
    { "msvcrt.dll",   "strlen",                     WINDOWS_2000,   false },
};

const SystemFunction *FindSystemFunction(const std::string &library, const std::string &name)
{
    for (const SystemFunction &function : kSystemFunctions)
    {
        if (library == function.library && name == function.name)
            return &function;
    }
    return NULL;
}

// How the setup reaches its functions: bound at start-up, bound at the first call, or looked up by name.
enum Binding
{
    BOUND_AT_STARTUP,
    BOUND_AT_FIRST_CALL,
    LOOKED_UP
};

const char *const kBindingNames[] = { "imported", "delay-loaded", "looked up" };

// Why `name` of `library`, reached as `binding`, would keep the setup from starting or working on the
// oldest supported system; "" when it would not.
std::string OlderSystemFault(const std::string &library, const std::string &name, Binding binding)
{
    const SystemFunction *function = FindSystemFunction(library, name);
    std::string what = library + "!" + name + " (" + kBindingNames[binding] + ")";
    if (!function)
        return what + " is not in the table of functions the setup may use: add it with its documented minimum";
    if (function->minimum <= kOldestSupported)
        return "";
    if (binding != LOOKED_UP)
        return what + " needs " + kVersionNames[function->minimum] + ": bound, it keeps the setup from starting on "
               "older systems; look it up instead";
    if (!function->lookedUpWithFallback)
        return what + " needs " + kVersionNames[function->minimum] + " and the setup has no fallback for it";
    return "";
}

// Every function the setup binds or looks up exists on Windows XP SP3, or is looked up with a fallback.
TEST(SetupOnOlderSystems, EveryFunctionExistsOnTheOldestOrHasAFallback)
{
    MappedSetup setup;
    ASSERT_TRUE(setup.image != NULL) << BuiltSetup();

    const LibraryFunctions found[] = { ImportedFunctions(setup), DelayLoadedFunctions(setup),
                                       LookedUpFunctions(setup) };
    // The reading itself: each table holds what the setup is known to reach that way.
    EXPECT_TRUE(found[BOUND_AT_STARTUP].count("kernel32.dll")) << "no kernel32 imports found";
    for (const char *library : { "user32.dll", "shell32.dll", "ole32.dll" })
        EXPECT_TRUE(found[BOUND_AT_FIRST_CALL].count(library)) << "no delay-load record found for " << library;
    for (const char *name : { "SetDefaultDllDirectories", "InitCommonControls", "SetFileInformationByHandle" })
    {
        bool seen = false;
        for (const auto &library : found[LOOKED_UP])
            seen = seen || std::find(library.second.begin(), library.second.end(), name) != library.second.end();
        EXPECT_TRUE(seen) << name << " is not among the names the setup looks up";
    }

    std::vector<std::string> faults;
    int count = 0;
    for (int binding = BOUND_AT_STARTUP; binding <= LOOKED_UP; binding++)
    {
        for (const auto &library : found[binding])
        {
            for (const std::string &name : library.second)
            {
                std::string fault = OlderSystemFault(library.first, name, (Binding)binding);
                if (!fault.empty())
                    faults.push_back(fault);
                count++;
            }
        }
    }
    printf("%d functions checked\n", count);
    std::string listed;
    for (const std::string &fault : faults)
        listed += "\n  " + fault;
    EXPECT_TRUE(faults.empty()) << listed;
}

// ---- Hardening ----

// Address-space randomisation (with the relocations it needs), no code run from data, no compatibility
// shims for terminal servers, and no structured exception handlers (GNU ld cannot list them for SafeSEH).
TEST(SetupHardening, HeaderAsksForEveryProtection)
{
    MappedSetup setup;
    ASSERT_TRUE(setup.image != NULL) << BuiltSetup();
    const struct { WORD flag; const char *name; } flags[] =
    {
        { IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE, "DYNAMIC_BASE" },
        { IMAGE_DLLCHARACTERISTICS_NX_COMPAT, "NX_COMPAT" },
        { IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE, "TERMINAL_SERVER_AWARE" },
        { IMAGE_DLLCHARACTERISTICS_NO_SEH, "NO_SEH" },
    };
    WORD characteristics = setup.headers->OptionalHeader.DllCharacteristics;
    for (const auto &f : flags)
        EXPECT_TRUE(characteristics & f.flag) << f.name << " missing; DllCharacteristics 0x" << std::hex
                                              << characteristics;
    EXPECT_FALSE(setup.headers->FileHeader.Characteristics & IMAGE_FILE_RELOCS_STRIPPED)
        << "without relocations the system cannot move the program";
    EXPECT_GT(setup.Directory(IMAGE_DIRECTORY_ENTRY_BASERELOC).Size, 0u) << "no relocations";
    EXPECT_EQ(0u, setup.Directory(IMAGE_DIRECTORY_ENTRY_EXCEPTION).Size);

    DWORD size = GetFileSize(setup.file, NULL);
    printf("setup.exe: %lu bytes\n", (unsigned long)size);
    EXPECT_LT(size, 32u * 1024u) << "the program must stay under 32 KiB";
}

// Runs guard_probe.exe (built as setup.exe is, with its entry and its stack guard) with `argument`;
// its exit code, or STILL_ACTIVE when it did not end in time.
DWORD RunGuardProbe(const char *argument)
{
    char path[MAX_PATH];
    GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder = path;
    std::string commandLine = "\"" + folder.substr(0, folder.rfind('\\')) + "\\guard_probe.exe\" " + argument;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    DWORD code = STILL_ACTIVE;
    if (!CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return code;
    if (WaitForSingleObject(process.hProcess, 20000) == WAIT_OBJECT_0)
        GetExitCodeProcess(process.hProcess, &code);
    else
        TerminateProcess(process.hProcess, 1);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

// The probe tells its guard as its exit code: seeded, it differs from the value before seeding and from
// one start to the next.
TEST(SetupHardening, StackGuardIsSeededAtEveryStart)
{
    std::set<DWORD> guards;
    const int kStarts = 3;
    for (int i = 0; i < kStarts; i++)
    {
        DWORD guard = RunGuardProbe("guard");
        ASSERT_NE((DWORD)STILL_ACTIVE, guard) << "the probe did not run or did not end";
        EXPECT_NE((DWORD)STACK_GUARD_UNSEEDED, guard) << "the guard was never seeded";
        EXPECT_NE(0u, guard);
        guards.insert(guard);
    }
    EXPECT_EQ((size_t)kStarts, guards.size()) << "the same guard came twice in " << kStarts << " starts";
}

// A buffer overrun on the stack ends the process at once with the system's code for it, before the
// overwritten return address is used.
TEST(SetupHardening, SmashedStackEndsTheProcessAtOnce)
{
    DWORD code = RunGuardProbe("smash");
    EXPECT_EQ((DWORD)STATUS_STACK_BUFFER_OVERRUN, code) << std::hex << "exit code 0x" << code;
}

} // namespace
