// Libraries planted beside a copy of the setup under the names of system libraries that are not known
// ones (built from planted_library.c into the folder "planted" beside the tests): each leaves
// "<its path>.loaded" when anything loads it.
#ifndef SETUP_TEST_PLANTED_H
#define SETUP_TEST_PLANTED_H

#include "driver.h"

#include <string>
#include <vector>

namespace planted
{

const char *const kLibraries[] = { "comctl32", "version", "uxtheme", "msimg32" };

// Copies every planted library into `folder`; false when one could not be copied.
inline bool PlantLibraries(const std::string &folder)
{
    for (const char *name : kLibraries)
    {
        if (!driver::CopyProgram(driver::OwnFolder() + "\\planted\\" + name + ".dll", folder + "\\" + name + ".dll"))
            return false;
    }
    return true;
}

// The markers left in `folder`: the names of the planted libraries something loaded.
inline std::vector<std::string> LoadedMarkers(const std::string &folder)
{
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
    return markers;
}

// While alive, Wine takes these libraries for the program `exe` (a file name) from a file beside it when
// there is one, as Windows does for libraries that are not known ones; by default Wine takes its own.
// Told through the registry: a program started from here is not handed WINEDLLOVERRIDES.
class PreferPlantedLibraries
{
public:
    explicit PreferPlantedLibraries(const std::string &exe) : key("Software\\Wine\\AppDefaults\\" + exe)
    {
        HKEY overrides;
        if (!driver::OnWine())      // Windows does so by itself, and keeps no such key
            return;
        if (RegCreateKeyExA(HKEY_CURRENT_USER, (key + kOverrides).c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL,
                            &overrides, NULL) != ERROR_SUCCESS)
            return;
        for (const char *name : kLibraries)
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
    static constexpr const char *kOverrides = "\\DllOverrides";
    std::string key;
    PreferPlantedLibraries(const PreferPlantedLibraries &);
    PreferPlantedLibraries &operator=(const PreferPlantedLibraries &);
};

}  // namespace planted

#endif
