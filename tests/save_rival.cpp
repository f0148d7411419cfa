// Another program at work on the settings file while the setup saves, started by the tests:
//   save_rival lock    READY                        takes the setup's save lock and keeps it until killed
//   save_rival hold    READY PATH ACCESS SHARE MS   keeps PATH open (ACCESS read|write, SHARE none|read|all)
//                                                   for MS milliseconds; exit code 0, or 1 when it could not
//   save_rival append  READY PATH STOP              appends a key line to PATH every millisecond until the
//                                                   event STOP; exit code: the appends that succeeded
//   save_rival replace READY PATH STOP              replaces PATH by delete-then-rename with a file of its
//                                                   own until STOP; exit code: kRoundUnit times the rounds
//                                                   whose file was later found without its keys, plus the
//                                                   rounds that put a file in place
// READY names an event set once the program is at work ("-" for none).
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {

const char kSaveLockName[] = "QuorvaneSetupSave";
const DWORD kRoundUnit = 65536;
const char kRivalSection[] = "[Rival]";
const char kRivalText[] = "[Rival]\r\nRIVAL_A=1\r\nRIVAL_B=2\r\nRIVAL_C=3\r\n";

void SignalReady(const char *name)
{
    if (lstrcmpA(name, "-") == 0)
        return;
    HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, name);
    if (ready)
    {
        SetEvent(ready);
        CloseHandle(ready);
    }
}

bool Stopped(HANDLE stop)
{
    return stop == NULL || WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
}

int TakeLock(const char *ready)
{
    HANDLE lock = CreateMutexA(NULL, FALSE, kSaveLockName);
    if (!lock || WaitForSingleObject(lock, INFINITE) != WAIT_OBJECT_0)
        return 1;
    SignalReady(ready);
    Sleep(INFINITE);
    return 0;
}

int Hold(const char *ready, const char *path, const char *access, const char *share, const char *ms)
{
    DWORD wanted = lstrcmpA(access, "write") == 0 ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    DWORD sharing = lstrcmpA(share, "all") == 0    ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE
                    : lstrcmpA(share, "read") == 0 ? FILE_SHARE_READ
                                                   : 0;
    HANDLE file = CreateFileA(path, wanted, sharing, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    SignalReady(ready);
    if (file == INVALID_HANDLE_VALUE)
        return 1;
    Sleep((DWORD)atoi(ms));
    CloseHandle(file);
    return 0;
}

// Each line a key of its own, numbered by the appends that succeeded, so a test can tell which are gone.
int Append(const char *ready, const char *path, HANDLE stop)
{
    DWORD appended = 0;
    SignalReady(ready);
    while (!Stopped(stop))
    {
        HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
        {
            char line[64];
            DWORD written = 0;
            int length = wsprintfA(line, "QV_APPEND_%06lu=1\r\n", appended + 1);
            if (WriteFile(file, line, (DWORD)length, &written, NULL) && written == (DWORD)length)
                appended++;
            CloseHandle(file);
        }
        Sleep(1);
    }
    return (int)appended;
}

std::string ReadAll(const char *path)
{
    std::string text;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    return text;
}

// As some games save: the new file written beside the old, the old deleted, the new renamed into its place.
// A file it put in place and later finds without its section was replaced by someone who never saw it.
int Replace(const char *ready, const char *path, HANDLE stop)
{
    std::string mine = std::string(path) + ".rival";
    DWORD rounds = 0, lost = 0;
    bool placed = false;
    SignalReady(ready);
    while (!Stopped(stop))
    {
        if (placed && ReadAll(path).find(kRivalSection) == std::string::npos)
            lost++;
        placed = false;
        HANDLE file = CreateFileA(mine.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE)
        {
            DWORD written = 0;
            WriteFile(file, kRivalText, sizeof(kRivalText) - 1, &written, NULL);
            CloseHandle(file);
            if (DeleteFileA(path) && MoveFileA(mine.c_str(), path))
            {
                placed = true;
                rounds++;
            }
            DeleteFileA(mine.c_str());
        }
        Sleep(1);
    }
    return (int)(lost * kRoundUnit + rounds);
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && lstrcmpA(argv[1], "lock") == 0)
        return TakeLock(argv[2]);
    if (argc >= 7 && lstrcmpA(argv[1], "hold") == 0)
        return Hold(argv[2], argv[3], argv[4], argv[5], argv[6]);
    if (argc >= 5)
    {
        HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, argv[4]);
        if (lstrcmpA(argv[1], "append") == 0)
            return Append(argv[2], argv[3], stop);
        if (lstrcmpA(argv[1], "replace") == 0)
            return Replace(argv[2], argv[3], stop);
    }
    return 2;
}
