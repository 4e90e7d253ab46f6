// The package's custom action: before Windows Installer changes the files of the install folder, the Corvane
// windows that run from it are closed as if the technician had closed them, so that an install, upgrade or
// removal never leaves an old or orphaned program file behind. Interactive runs ask first (Cancel stops the
// run); silent runs close without asking. A program that does not close (a corvanectl.exe in a console, a
// window that keeps running) is left to Windows Installer, which replaces or removes its files at the next
// restart and ends with "restart required" (3010).
//
// Plain Win32 and the msi API only, linked statically: the DLL runs inside Windows Installer, beside none of
// Corvane's own DLLs.
#include <windows.h>

#include <msi.h>
#include <msiquery.h>
#include <tlhelp32.h>

#include <cwchar>

namespace {

constexpr DWORD kMaxProcesses = 64;
constexpr DWORD kCloseTimeoutMs = 15000;
constexpr DWORD kCloseRetryMs = 500;
// A Corvane whose windows have all closed (its settings are saved by then) but whose process is still there
// this long after is ended: it is stuck on its way out, as Qt programs now and then are under Wine.
constexpr DWORD kExitGraceMs = 3000;

struct RunningProgram {
    DWORD id = 0;
    HANDLE handle = nullptr;
    bool isWindow = false;   // corvane.exe, which ends when its main window is closed
    bool hasWindow = false;  // a visible window of it was seen on the last pass
    DWORD windowsGoneAt = 0; // when its windows were seen gone, after it had one; 0 before
};

struct RunningPrograms {
    RunningProgram items[kMaxProcesses];
    DWORD count = 0;
    ~RunningPrograms() {
        for (DWORD i = 0; i < count; ++i)
            CloseHandle(items[i].handle);
    }
};

void logLine(MSIHANDLE install, const wchar_t* text) {
    PMSIHANDLE record = MsiCreateRecord(0);
    MsiRecordSetStringW(record, 0, text);
    MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

// True when `path` names a file inside `folder` (which ends with a backslash), whatever the case.
bool isInside(const wchar_t* path, const wchar_t* folder) {
    const int folderLength = int(wcslen(folder));
    return int(wcslen(path)) > folderLength &&
           CompareStringOrdinal(path, folderLength, folder, folderLength, TRUE) == CSTR_EQUAL;
}

// Every process whose program file lies in the install folder (its subfolders included).
void findRunning(const wchar_t* folder, RunningPrograms& found) {
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && found.count < kMaxProcesses;
         more = Process32NextW(snapshot, &entry)) {
        const HANDLE process =
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        wchar_t image[MAX_PATH * 2];
        DWORD length = DWORD(sizeof image / sizeof image[0]);
        if (QueryFullProcessImageNameW(process, 0, image, &length) && isInside(image, folder)) {
            found.items[found.count].id = entry.th32ProcessID;
            found.items[found.count].handle = process;
            found.items[found.count].isWindow = lstrcmpiW(entry.szExeFile, L"corvane.exe") == 0;
            ++found.count;
        } else {
            CloseHandle(process);
        }
    }
    CloseHandle(snapshot);
}

// Asks every visible top-level window of the found programs to close, as its close button does. Sent again
// on each pass: a program with a dialog open closes the dialog first and its main window on the next ask, and
// a Corvane that is still starting gets the ask once its window is there.
BOOL CALLBACK askToClose(HWND window, LPARAM param) {
    auto* programs = reinterpret_cast<RunningPrograms*>(param);
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    for (DWORD i = 0; i < programs->count; ++i) {
        if (programs->items[i].id == processId && IsWindowVisible(window)) {
            programs->items[i].hasWindow = true;
            PostMessageW(window, WM_CLOSE, 0, 0);
        }
    }
    return TRUE;
}

bool hasEnded(const RunningProgram& program) {
    return WaitForSingleObject(program.handle, 0) == WAIT_OBJECT_0;
}

} // namespace

extern "C" __declspec(dllexport) UINT __stdcall CloseRunningCorvane(MSIHANDLE install) {
    wchar_t folder[MAX_PATH * 2];
    DWORD length = DWORD(sizeof folder / sizeof folder[0]);
    if (MsiGetTargetPathW(install, L"INSTALLDIR", folder, &length) != ERROR_SUCCESS || length == 0)
        return ERROR_SUCCESS;
    if (folder[length - 1] != L'\\' && length + 1 < sizeof folder / sizeof folder[0]) {
        folder[length] = L'\\';
        folder[length + 1] = L'\0';
    }

    RunningPrograms programs;
    findRunning(folder, programs);
    if (programs.count == 0)
        return ERROR_SUCCESS;

    // With no user interface (msiexec /qn) the answer is 0 and the programs are closed without asking.
    PMSIHANDLE question = MsiCreateRecord(0);
    MsiRecordSetStringW(question, 0,
                        L"Corvane is running. Setup closes it before it changes Corvane's files.\n\n"
                        L"Click OK to close Corvane and go on, or Cancel to stop.");
    const int answer = MsiProcessMessage(
        install, INSTALLMESSAGE(INSTALLMESSAGE_USER | MB_OKCANCEL | MB_ICONWARNING | MB_DEFBUTTON1),
        question);
    if (answer == IDCANCEL) {
        logLine(install, L"Corvane is running and was not closed: setup stopped.");
        return ERROR_INSTALL_USEREXIT;
    }

    const DWORD start = GetTickCount();
    for (;;) {
        bool hadWindow[kMaxProcesses];
        for (DWORD i = 0; i < programs.count; ++i) {
            hadWindow[i] = programs.items[i].hasWindow;
            programs.items[i].hasWindow = false;
        }
        EnumWindows(askToClose, reinterpret_cast<LPARAM>(&programs));
        const DWORD now = GetTickCount();
        bool waiting = false;
        for (DWORD i = 0; i < programs.count; ++i) {
            RunningProgram& program = programs.items[i];
            if (!program.isWindow || hasEnded(program))
                continue;
            if (hadWindow[i] && !program.hasWindow)
                program.windowsGoneAt = now ? now : 1;
            if (program.windowsGoneAt && !program.hasWindow && now - program.windowsGoneAt >= kExitGraceMs) {
                if (const HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, program.id)) {
                    TerminateProcess(process, 0);
                    CloseHandle(process);
                }
            }
            waiting = true;
        }
        if (!waiting || now - start >= kCloseTimeoutMs)
            break;
        Sleep(kCloseRetryMs);
    }

    for (DWORD i = 0; i < programs.count; ++i) {
        wchar_t line[160];
        const bool ended = hasEnded(programs.items[i]);
        swprintf(line, sizeof line / sizeof line[0],
                 ended ? L"Closed Corvane (process %lu)."
                       : L"Corvane (process %lu) is still running: its files are replaced or removed at the "
                         L"next restart.",
                 static_cast<unsigned long>(programs.items[i].id));
        logLine(install, line);
    }
    return ERROR_SUCCESS;
}
