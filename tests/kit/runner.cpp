// Runs the test kit on a Windows machine: every test program named in tests.txt beside this runner, one
// test per process as CTest runs them on the build machine (so a crash or a hang costs one test, and no
// test sees what an earlier one left in the process), then writes test-report.txt in the kit's folder
// and ends with the summary line. Exit code 0 only when no test failed.
// It runs on Windows XP SP3 and later: anything newer is looked up at run time.
#define WIN32_LEAN_AND_MEAN
#define STRICT
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace
{

const wchar_t kProgramList[] = L"tests.txt";
const wchar_t kReportName[] = L"test-report.txt";
const wchar_t kResultsFolder[] = L"results";
const char kPauseArgument[] = "--pause-if-own-window";
// --only=Prefix[:Prefix...] runs only the tests whose "Suite.Name" starts with one of them.
const char kOnlyArgument[] = "--only=";

// Listing the tests is quick; a test gets twice CTest's limit, for a slow virtual machine, unless
// --timeout=SECONDS gives another.
const DWORD kListTimeoutMs = 60000;
const DWORD kTestTimeoutMs = 120000;
const char kTimeoutArgument[] = "--timeout=";
// Lines of a program's own output shown when it ended without a result.
const size_t kOutputTailLines = 12;

// Exit codes that say why a program could not start or ended abnormally.
struct KnownStatus
{
    DWORD code;
    const char *meaning;
};

const KnownStatus kKnownStatuses[] =
{
    { 0xC0000135, "a library it needs is missing" },
    { 0xC0000139, "a function it needs is missing from this Windows" },
    { 0xC000007B, "a library it needs is damaged or of the wrong kind" },
    { 0xC0000005, "access violation" },
    { 0xC00000FD, "stack overflow" },
    { 0xC0000409, "stack buffer overrun" },
    { 0xC0000142, "it could not initialise" },
};

enum Outcome
{
    PASSED,
    SKIPPED,
    FAILED
};

const char *const kOutcomeLabels[] = { "passed ", "SKIPPED", "FAILED " };
const char kOutcomeMarks[] = { '.', 's', 'F' };

struct TestResult
{
    std::string name;
    Outcome outcome;
    std::vector<std::string> message;   // failure or skip text, line by line
};

struct Totals
{
    int counts[3];
};

std::string Utf8(const std::wstring &text)
{
    if (text.empty())
        return "";
    int size = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, NULL, 0, NULL, NULL);
    std::string bytes(size > 0 ? size : 1, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &bytes[0], size, NULL, NULL);
    bytes.resize(lstrlenA(bytes.c_str()));
    return bytes;
}

std::wstring FromCodePage(UINT codePage, const std::string &text)
{
    if (text.empty())
        return L"";
    int size = MultiByteToWideChar(codePage, 0, text.c_str(), -1, NULL, 0);
    std::wstring wide(size > 0 ? size : 1, L'\0');
    MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], size);
    wide.resize(lstrlenW(wide.c_str()));
    return wide;
}

// `path` in the ANSI code page, or "" when a letter of it has no place there.
std::string AnsiExactly(const std::wstring &path)
{
    UINT codePage = GetACP();
    BOOL lost = FALSE;
    // UTF-8 as the ANSI code page holds every letter, and refuses the flag and the question.
    bool utf8 = codePage == CP_UTF8;
    int size = WideCharToMultiByte(codePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path.c_str(), -1, NULL, 0, NULL,
                                   utf8 ? NULL : &lost);
    if (size <= 0 || lost)
        return "";
    std::string bytes(size, '\0');
    WideCharToMultiByte(codePage, utf8 ? 0 : WC_NO_BEST_FIT_CHARS, path.c_str(), -1, &bytes[0], size, NULL,
                        utf8 ? NULL : &lost);
    bytes.resize(size - 1);
    return lost ? "" : bytes;
}

// `path` as the ANSI functions can spell it: itself, or else its short form (always plain letters). ""
// when neither (a volume that keeps no short names).
std::string AnsiFolder(const std::wstring &folder)
{
    std::string ansi = AnsiExactly(folder);
    if (!ansi.empty())
        return ansi;
    wchar_t shortName[MAX_PATH];
    DWORD length = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return "";
    return AnsiExactly(shortName);
}

// Copies the folder `from` with its subfolders, except `skipped`, into `to`.
bool CopyTree(const std::wstring &from, const std::wstring &to, const wchar_t *skipped)
{
    CreateDirectoryW(to.c_str(), NULL);
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW((from + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool copied = true;
    do
    {
        std::wstring name = found.cFileName;
        if (name == L"." || name == L".." || name == skipped)
            continue;
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            copied = CopyTree(from + L"\\" + name, to + L"\\" + name, skipped) && copied;
        else
            copied = CopyFileW((from + L"\\" + name).c_str(), (to + L"\\" + name).c_str(), FALSE) && copied;
    } while (FindNextFileW(search, &found));
    FindClose(search);
    return copied;
}

// The test programs find setup.exe and their fixtures beside themselves through the ANSI functions, which
// take a program's own name as it was started, or as the system stored it: short names do not always
// survive. In a folder whose name those functions cannot spell, the programs run from a copy of `bin` in
// the temporary folder instead; the copy is the folder returned, "" when none could be made.
std::wstring ProgramFolder(const std::wstring &bin)
{
    if (!AnsiExactly(bin).empty())
        return bin;
    wchar_t temp[MAX_PATH] = L"";
    DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH)
        return L"";
    std::string tempAnsi = AnsiFolder(temp);
    if (tempAnsi.empty())
        return L"";
    std::wstring copy = FromCodePage(CP_ACP, tempAnsi);
    if (copy[copy.size() - 1] != L'\\')
        copy += L'\\';
    copy += L"quorvane-kit";
    return CopyTree(bin, copy, kResultsFolder) ? copy : L"";
}

std::wstring OwnFolder()
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring folder(path, length);
    return folder.substr(0, folder.rfind(L'\\'));
}

std::string ReadFileBytes(const std::wstring &path)
{
    std::string bytes;
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return bytes;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &got, NULL) && got > 0)
        bytes.append(buffer, got);
    CloseHandle(file);
    return bytes;
}

std::vector<std::string> Lines(const std::string &text)
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

std::string Hex(DWORD value)
{
    char text[16];
    wsprintfA(text, "0x%08lX", value);
    return text;
}

std::string Number(unsigned long value)
{
    char text[16];
    wsprintfA(text, "%lu", value);
    return text;
}

std::string DescribeExit(DWORD code)
{
    std::string text = "exit code " + (code > 0xFFFF ? Hex(code) : Number(code));
    for (size_t i = 0; i < sizeof(kKnownStatuses) / sizeof(kKnownStatuses[0]); i++)
        if (kKnownStatuses[i].code == code)
            text += std::string(" (") + kKnownStatuses[i].meaning + ")";
    return text;
}

// Runs `exe` (given by its ANSI-spellable name) with `arguments` in `folder`, its output going to
// `outputFile`. False, with `error` set, when it could not be started or did not end in time (then it is
// ended).
bool RunProgram(const std::string &exe, const std::string &arguments, const std::string &folder,
                const std::wstring &outputFile, DWORD timeoutMs, DWORD *exitCode, std::string *error)
{
    SECURITY_ATTRIBUTES inheritable = { sizeof(SECURITY_ATTRIBUTES), NULL, TRUE };
    HANDLE output = CreateFileW(outputFile.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, NULL);
    HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                               OPEN_EXISTING, 0, NULL);
    if (output == INVALID_HANDLE_VALUE || input == INVALID_HANDLE_VALUE)
    {
        *error = "cannot write in the results folder (error " + Number(GetLastError()) + ")";
        if (output != INVALID_HANDLE_VALUE)
            CloseHandle(output);
        if (input != INVALID_HANDLE_VALUE)
            CloseHandle(input);
        return false;
    }

    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = output;
    startup.hStdError = output;
    std::wstring application = FromCodePage(CP_ACP, exe);
    std::wstring commandLine = L"\"" + application + L"\" " + FromCodePage(CP_ACP, arguments);
    std::wstring directory = FromCodePage(CP_ACP, folder);
    BOOL started = CreateProcessW(application.c_str(), &commandLine[0], NULL, NULL, TRUE, 0, NULL,
                                  directory.c_str(), &startup, &process);
    DWORD startError = GetLastError();
    CloseHandle(output);
    CloseHandle(input);
    if (!started)
    {
        *error = "could not be started (error " + Number(startError) + ")";
        return false;
    }
    CloseHandle(process.hThread);
    bool ended = WaitForSingleObject(process.hProcess, timeoutMs) == WAIT_OBJECT_0;
    if (!ended)
    {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, kListTimeoutMs);
        *error = "did not end within " + Number(timeoutMs / 1000) + " s and was ended";
    }
    GetExitCodeProcess(process.hProcess, exitCode);
    CloseHandle(process.hProcess);
    return ended;
}

// The names GoogleTest's --gtest_list_tests prints: "Suite." lines, then "  Test" lines; parameters and
// types follow as "  # ..." comments.
std::vector<std::string> ListedTests(const std::string &listing)
{
    std::vector<std::string> tests;
    std::vector<std::string> lines = Lines(listing);
    std::string suite;
    for (size_t i = 0; i < lines.size(); i++)
    {
        const std::string &line = lines[i];
        if (line.empty())
            continue;
        if (line[0] != ' ')
        {
            suite = line.substr(0, line.find(' '));
            if (!suite.empty() && suite[suite.size() - 1] == '.')
                suite.erase(suite.size() - 1);
            else
                suite.clear();      // not a suite line (a warning printed before the list)
            continue;
        }
        size_t start = line.find_first_not_of(' ');
        if (suite.empty() || start == std::string::npos)
            continue;
        std::string name = line.substr(start, line.find(' ', start) - start);
        // Disabled tests are listed but never run, as CTest leaves them.
        bool disabled = suite.compare(0, 9, "DISABLED_") == 0 || suite.find("/DISABLED_") != std::string::npos ||
                        name.compare(0, 9, "DISABLED_") == 0;
        if (name != "#" && !disabled)
            tests.push_back(suite + "." + name);
    }
    return tests;
}

std::string XmlText(const std::string &text)
{
    static const struct { const char *entity; char letter; } kEntities[] =
    {
        { "&lt;", '<' }, { "&gt;", '>' }, { "&quot;", '"' }, { "&apos;", '\'' }, { "&amp;", '&' },
    };
    std::string out;
    for (size_t i = 0; i < text.size(); i++)
    {
        if (text[i] != '&')
        {
            out += text[i];
            continue;
        }
        size_t end = text.find(';', i);
        if (end == std::string::npos)
        {
            out += text[i];
            continue;
        }
        std::string entity = text.substr(i, end - i + 1);
        bool known = false;
        for (size_t e = 0; e < sizeof(kEntities) / sizeof(kEntities[0]) && !known; e++)
        {
            if (entity == kEntities[e].entity)
            {
                out += kEntities[e].letter;
                known = true;
            }
        }
        if (!known && entity.size() > 3 && entity[1] == '#')
        {
            bool hex = entity[2] == 'x' || entity[2] == 'X';
            unsigned long code = strtoul(entity.c_str() + (hex ? 3 : 2), NULL, hex ? 16 : 10);
            if (code > 0 && code < 0x80)
            {
                out += (char)code;
                known = true;
            }
        }
        if (!known)
            out += entity;
        i = end;
    }
    return out;
}

// The value of attribute `name` in the element starting at `at`; "" when it has none.
std::string Attribute(const std::string &xml, size_t at, const char *name)
{
    size_t close = xml.find('>', at);
    std::string wanted = std::string(" ") + name + "=\"";
    size_t start = xml.find(wanted, at);
    if (start == std::string::npos || start > close)
        return "";
    start += wanted.size();
    size_t end = xml.find('"', start);
    return end == std::string::npos ? "" : XmlText(xml.substr(start, end - start));
}

// The outcome of the one test GoogleTest wrote to `xml`; false when the file holds no test case.
bool ReadResult(const std::string &xml, TestResult *result)
{
    size_t testCase = xml.find("<testcase ");
    if (testCase == std::string::npos)
        return false;
    size_t end = xml.find("</testcase>", testCase);
    if (end == std::string::npos)
        end = xml.size();
    result->outcome = Attribute(xml, testCase, "result") == "skipped" ? SKIPPED : PASSED;
    result->message.clear();
    for (size_t at = xml.find("<failure ", testCase); at < end; at = xml.find("<failure ", at + 1))
    {
        result->outcome = FAILED;
        std::vector<std::string> lines = Lines(Attribute(xml, at, "message"));
        result->message.insert(result->message.end(), lines.begin(), lines.end());
    }
    if (result->outcome == SKIPPED)
    {
        // "file:line" then the reason given; the reason alone, on one line.
        size_t at = xml.find("<skipped ", testCase);
        std::vector<std::string> lines = Lines(at < end ? Attribute(xml, at, "message") : "");
        std::string reason;
        for (size_t i = 1; i < lines.size(); i++)
            reason += (reason.empty() ? "" : " ") + lines[i];
        result->message.push_back(reason.empty() ? "(no reason given)" : reason);
    }
    return true;
}

std::vector<std::string> Tail(const std::string &text, size_t count)
{
    std::vector<std::string> lines = Lines(text);
    if (lines.size() > count)
        lines.erase(lines.begin(), lines.end() - count);
    return lines;
}

// The Windows this runs on, as its kernel reports it (GetVersionEx is told an older one by the
// compatibility layer when a program's manifest does not name the newer).
std::string WindowsVersion()
{
    typedef LONG (WINAPI *RtlGetVersionFn)(OSVERSIONINFOEXW *);
    OSVERSIONINFOEXW info;
    ZeroMemory(&info, sizeof(info));
    info.dwOSVersionInfoSize = sizeof(info);
    RtlGetVersionFn rtlGetVersion =
        (RtlGetVersionFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    if (!rtlGetVersion || rtlGetVersion(&info) != 0)
        GetVersionExW((OSVERSIONINFOW *)&info);

    static const struct { DWORD major, minor, firstBuild; const char *name; } kNames[] =
    {
        { 5, 1, 0, "Windows XP" }, { 5, 2, 0, "Windows Server 2003 / XP x64" },
        { 6, 0, 0, "Windows Vista / Server 2008" }, { 6, 1, 0, "Windows 7 / Server 2008 R2" },
        { 6, 2, 0, "Windows 8 / Server 2012" }, { 6, 3, 0, "Windows 8.1 / Server 2012 R2" },
        { 10, 0, 0, "Windows 10 / Server 2016-2019" }, { 10, 0, 20348, "Windows Server 2022" },
        { 10, 0, 22000, "Windows 11 / Server 2022-2025" },
    };
    std::string name = "Windows";
    for (size_t i = 0; i < sizeof(kNames) / sizeof(kNames[0]); i++)
        if (info.dwMajorVersion == kNames[i].major && info.dwMinorVersion == kNames[i].minor &&
            info.dwBuildNumber >= kNames[i].firstBuild)
            name = kNames[i].name;

    char numbers[96];
    wsprintfA(numbers, " (version %lu.%lu, build %lu", info.dwMajorVersion, info.dwMinorVersion,
              info.dwBuildNumber);
    std::string text = name + numbers;
    if (info.szCSDVersion[0])
        text += ", " + Utf8(info.szCSDVersion);
    text += ")";

    HKEY key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_QUERY_VALUE,
                      &key) == ERROR_SUCCESS)
    {
        wchar_t product[128] = L"";
        DWORD size = sizeof(product) - sizeof(wchar_t);
        DWORD type = 0;
        if (RegQueryValueExW(key, L"ProductName", NULL, &type, (BYTE *)product, &size) == ERROR_SUCCESS &&
            type == REG_SZ)
            text += ", \"" + Utf8(product) + "\"";
        RegCloseKey(key);
    }
    return text;
}

// IsWow64Process is looked up: the first XP has none, and a 32-bit Windows needs none.
std::string Bitness()
{
    typedef BOOL (WINAPI *IsWow64ProcessFn)(HANDLE, PBOOL);
    IsWow64ProcessFn isWow64 =
        (IsWow64ProcessFn)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process");
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64)
        return "64-bit Windows (the 32-bit tests run through WoW64)";
    return "32-bit Windows";
}

std::string Now()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    char text[64];
    wsprintfA(text, "%04u-%02u-%02u %02u:%02u:%02u (local time)", now.wYear, now.wMonth, now.wDay, now.wHour,
              now.wMinute, now.wSecond);
    return text;
}

void Print(const std::string &text)
{
    fputs(text.c_str(), stdout);
    fflush(stdout);
}

// Double-clicked, the console is this runner's and cmd's alone and closes with them: then the summary must
// wait for a key to be read. Not when typed in a console, run by another program or given other input.
bool OwnWindow()
{
    typedef DWORD (WINAPI *GetConsoleProcessListFn)(LPDWORD, DWORD);
    DWORD mode;
    if (!GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode))
        return false;
    GetConsoleProcessListFn processList = (GetConsoleProcessListFn)(void *)GetProcAddress(
        GetModuleHandleA("kernel32.dll"), "GetConsoleProcessList");
    DWORD pids[4];
    return processList && processList(pids, sizeof(pids) / sizeof(pids[0])) <= 2;
}

void WaitForKey()
{
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    FlushConsoleInputBuffer(input);
    for (;;)
    {
        INPUT_RECORD record;
        DWORD read = 0;
        if (!ReadConsoleInputA(input, &record, 1, &read) || read == 0)
            return;
        if (record.EventType == KEY_EVENT && record.Event.KeyEvent.bKeyDown)
            return;
    }
}

class Report
{
public:
    void Line(const std::string &text) { lines.push_back(text); }
    // One test's result, its message indented below it.
    void Add(const std::string &program, const TestResult &result)
    {
        lines.push_back(std::string("  ") + kOutcomeLabels[result.outcome] + "  " + program + " " + result.name);
        for (size_t i = 0; i < result.message.size(); i++)
            lines.push_back("             " + result.message[i]);
    }
    bool Write(const std::wstring &path) const
    {
        std::string text = "\xEF\xBB\xBF";      // UTF-8, so Notepad shows a folder's letters rightly
        for (size_t i = 0; i < lines.size(); i++)
            text += lines[i] + "\r\n";
        HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        BOOL ok = WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL) && written == text.size();
        CloseHandle(file);
        return ok != FALSE;
    }

private:
    std::vector<std::string> lines;
};

void Count(Totals *totals, Outcome outcome)
{
    totals->counts[outcome]++;
}

bool Selected(const std::string &test, const std::vector<std::string> &only)
{
    for (size_t i = 0; i < only.size(); i++)
        if (test.compare(0, only[i].size(), only[i]) == 0)
            return true;
    return only.empty();
}

// Lists and runs the tests of one program; every test becomes one line of the report.
void RunTestProgram(const std::string &program, const std::string &binFolder, const std::wstring &results,
                    const std::string &resultsAnsi, const std::vector<std::string> &only, DWORD testTimeoutMs,
                    Report *report, Totals *totals)
{
    std::string exe = binFolder + "\\" + program + ".exe";
    std::wstring listing = results + L"\\" + FromCodePage(CP_ACP, program) + L".list.txt";
    DWORD code = 0;
    std::string error;
    Print(program);

    TestResult broken;
    broken.name = "(the program itself)";
    broken.outcome = FAILED;
    if (GetFileAttributesW(FromCodePage(CP_ACP, exe).c_str()) == INVALID_FILE_ATTRIBUTES)
        error = "is missing from the kit";
    else if (RunProgram(exe, "--gtest_list_tests", binFolder, listing, kListTimeoutMs, &code, &error) && code != 0)
        error = "could not list its tests: " + DescribeExit(code);
    std::string listed = ReadFileBytes(listing);
    std::vector<std::string> tests = ListedTests(listed);
    if (error.empty() && tests.empty())
        error = "listed no tests";
    for (size_t i = tests.size(); i-- > 0;)
        if (!Selected(tests[i], only))
            tests.erase(tests.begin() + i);
    if (error.empty() && tests.empty())
    {
        Print(": none chosen\n");
        return;
    }
    if (!error.empty())
    {
        broken.message.push_back(program + " " + error);
        std::vector<std::string> tail = Tail(listed, kOutputTailLines);
        broken.message.insert(broken.message.end(), tail.begin(), tail.end());
        report->Add(program, broken);
        Count(totals, FAILED);
        Print(": " + error + "\n");
        return;
    }

    Print(" (" + Number((unsigned long)tests.size()) + (tests.size() == 1 ? " test) " : " tests) "));
    Totals own = { { 0, 0, 0 } };
    std::vector<std::string> failed;
    for (size_t i = 0; i < tests.size(); i++)
    {
        std::wstring xml = results + L"\\" + FromCodePage(CP_ACP, program) + L".xml";
        std::wstring output = results + L"\\" + FromCodePage(CP_ACP, program) + L".out.txt";
        std::string xmlAnsi = resultsAnsi + "\\" + program + ".xml";
        DeleteFileW(xml.c_str());
        TestResult result;
        result.name = tests[i];
        error.clear();
        bool ended = RunProgram(exe, "\"--gtest_filter=" + tests[i] + "\" \"--gtest_output=xml:" + xmlAnsi + "\"",
                                binFolder, output, testTimeoutMs, &code, &error);
        if (!ReadResult(ReadFileBytes(xml), &result))
        {
            result.outcome = FAILED;
            result.message.push_back("ended without a result: " + (ended ? DescribeExit(code) : error));
            std::vector<std::string> tail = Tail(ReadFileBytes(output), kOutputTailLines);
            result.message.insert(result.message.end(), tail.begin(), tail.end());
        }
        else if (result.outcome != FAILED && (!ended || code != 0))
        {
            // A test that passed and then crashed on the way out, or hung there, has not passed.
            result.outcome = FAILED;
            result.message.push_back("the program then " + (ended ? "ended with " + DescribeExit(code) : error));
        }
        report->Add(program, result);
        Count(totals, result.outcome);
        Count(&own, result.outcome);
        if (result.outcome == FAILED)
            failed.push_back(result.name);
        char mark[2] = { kOutcomeMarks[result.outcome], '\0' };
        Print(mark);
    }
    char line[96];
    wsprintfA(line, " %d passed, %d skipped, %d failed\n", own.counts[PASSED], own.counts[SKIPPED],
              own.counts[FAILED]);
    Print(line);
    for (size_t i = 0; i < failed.size(); i++)
        Print("    FAILED " + failed[i] + "\n");
}

}  // namespace

int main(int argc, char **argv)
{
    // A crashing test program must fail its test, not wait behind an error box for someone to click it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);

    bool pauseAtEnd = false;
    DWORD testTimeoutMs = kTestTimeoutMs;
    std::vector<std::string> only;
    for (int i = 1; i < argc; i++)
    {
        std::string argument = argv[i];
        if (argument == kPauseArgument)
            pauseAtEnd = true;
        else if (argument.compare(0, sizeof(kTimeoutArgument) - 1, kTimeoutArgument) == 0 &&
                 strtoul(argument.c_str() + sizeof(kTimeoutArgument) - 1, NULL, 10) > 0)
            testTimeoutMs = strtoul(argument.c_str() + sizeof(kTimeoutArgument) - 1, NULL, 10) * 1000;
        else if (argument.compare(0, sizeof(kOnlyArgument) - 1, kOnlyArgument) == 0)
        {
            std::string list = argument.substr(sizeof(kOnlyArgument) - 1) + ":";
            for (size_t start = 0, end; (end = list.find(':', start)) != std::string::npos; start = end + 1)
                if (end > start)
                    only.push_back(list.substr(start, end - start));
        }
    }
    std::wstring bin = OwnFolder();
    std::wstring kit = bin.substr(0, bin.rfind(L'\\'));
    std::wstring runFolder = ProgramFolder(bin);
    std::wstring results = runFolder + L"\\" + kResultsFolder;
    if (!runFolder.empty())
        CreateDirectoryW(results.c_str(), NULL);
    std::string binAnsi = AnsiExactly(runFolder);
    std::string resultsAnsi = AnsiExactly(results);

    Report report;
    report.Line("Quorvane Setup " KIT_VERSION ": test report");
    report.Line("Windows: " + WindowsVersion());
    report.Line("System:  " + Bitness());
    report.Line("Date:    " + Now());
    report.Line("Folder:  " + Utf8(kit));
    if (!runFolder.empty() && runFolder != bin)
        report.Line("Run in:  " + Utf8(runFolder) + " (a copy: the test programs need a folder name the ANSI "
                    "functions can spell)");
    for (size_t i = 0; i < only.size(); i++)
        report.Line("Only:    tests starting with " + only[i]);
    report.Line("");
    Print("Testing Quorvane Setup " KIT_VERSION " on " + WindowsVersion() + ", " + Bitness() + "\n");
    Print("Each test runs in a process of its own: . passed, s skipped, F failed.\n");

    Totals totals = { { 0, 0, 0 } };
    std::vector<std::string> programs = Lines(ReadFileBytes(bin + L"\\" + kProgramList));
    TestResult setupProblem;
    setupProblem.outcome = FAILED;
    if (binAnsi.empty() || resultsAnsi.empty())
    {
        setupProblem.name = "(the kit's folder)";
        setupProblem.message.push_back("neither this folder's name nor the temporary folder's can be "
                                       "spelt in the system's code page: unzip the kit into another folder");
    }
    else if (programs.empty())
    {
        setupProblem.name = "(the kit)";
        setupProblem.message.push_back("bin\\tests.txt is missing or empty: the kit is incomplete");
    }
    if (!setupProblem.name.empty())
    {
        report.Add("run-tests", setupProblem);
        Count(&totals, FAILED);
        Print("FAILED: " + setupProblem.message[0] + "\n");
        programs.clear();
    }
    for (size_t i = 0; i < programs.size(); i++)
    {
        if (programs[i].empty())
            continue;
        char progress[32];
        wsprintfA(progress, "[%d/%d] ", (int)i + 1, (int)programs.size());
        Print(progress);
        RunTestProgram(programs[i], binAnsi, results, resultsAnsi, only, testTimeoutMs, &report, &totals);
    }

    char summary[96];
    wsprintfA(summary, "tests: %d passed, %d skipped, %d failed", totals.counts[PASSED], totals.counts[SKIPPED],
              totals.counts[FAILED]);
    report.Line("");
    report.Line(summary);
    std::wstring reportPath = kit + L"\\" + kReportName;
    if (report.Write(reportPath))
        Print("The report is in " + Utf8(kReportName) + " beside run-tests.cmd.\n");
    else
    {
        Print("The report could not be written beside run-tests.cmd (error " + Number(GetLastError()) + ").\n");
        totals.counts[FAILED]++;
        wsprintfA(summary, "tests: %d passed, %d skipped, %d failed", totals.counts[PASSED], totals.counts[SKIPPED],
                  totals.counts[FAILED]);
    }
    // The prompt comes first: the summary is the last line, whoever reads it.
    bool waitForKey = pauseAtEnd && OwnWindow();
    if (waitForKey)
        Print("Press a key to close this window.\n");
    Print(std::string(summary) + "\n");
    if (waitForKey)
        WaitForKey();
    return totals.counts[FAILED] == 0 ? 0 : 1;
}
