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
        for (const char *name : kLibraries)
            RegSetKeyValueA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str(), name, REG_SZ, "native,builtin",
                            sizeof("native,builtin"));
    }
    ~PreferPlantedLibraries() { RegDeleteTreeA(HKEY_CURRENT_USER, key.c_str()); }

private:
    std::string key;
    PreferPlantedLibraries(const PreferPlantedLibraries &);
    PreferPlantedLibraries &operator=(const PreferPlantedLibraries &);
};

}  // namespace planted

#endif
