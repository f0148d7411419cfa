// The built setup.exe as a file: its resources and the DLLs it imports.
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <gtest/gtest.h>

#include "app/window.h"
#include "resources/resource.h"
#include "resources/version.h"

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

} // namespace
