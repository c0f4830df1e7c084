// Starting programs: nothing runs; the call is recorded, and the "process"
// has already ended with the exit code the test chose.
#include "platform/host/internal.h"

#include <filesystem>

namespace host {

namespace {

struct ProcessObject : KernelObject {
    DWORD exitCode = 0;
    const char* Kind() const override { return "process"; }
};

struct ThreadObject : KernelObject {
    const char* Kind() const override { return "thread"; }
};

struct Processes {
    DWORD exitCode = 0;
    std::vector<Launch> launches;
    DWORD nextId = 100;
};

Processes& P() {
    static Processes state;
    return state;
}

int OpenProcessAndThreadHandles() {
    return OpenKernelHandles("process") + OpenKernelHandles("thread");
}

Area area(
    "processes", [] { P() = Processes{}; }, OpenProcessAndThreadHandles);

// Without an application name Windows takes the program from the command
// line: a quoted first token, or else the text up to the first blank.
std::string ProgramOf(const Launch& launch) {
    if (launch.applicationName)
        return *launch.applicationName;
    const std::string& line = launch.commandLine;
    if (!line.empty() && line[0] == '"') {
        std::size_t close = line.find('"', 1);
        return line.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    }
    return line.substr(0, line.find_first_of(" \t"));
}

bool Empty(const std::string& hostPath) {
    std::error_code ignored;
    return std::filesystem::file_size(hostPath, ignored) == 0;
}

} // namespace

void SetExitCode(DWORD exitCode) {
    P().exitCode = exitCode;
}

const std::vector<Launch>& Launches() {
    return P().launches;
}

int OpenProcessHandles() {
    return OpenProcessAndThreadHandles();
}

} // namespace host

using namespace host;

extern "C" BOOL WINAPI CreateProcessA(LPCSTR lpApplicationName, LPSTR lpCommandLine,
                                      LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES,
                                      BOOL bInheritHandles, DWORD dwCreationFlags,
                                      LPVOID lpEnvironment, LPCSTR lpCurrentDirectory,
                                      LPSTARTUPINFOA lpStartupInfo,
                                      LPPROCESS_INFORMATION lpProcessInformation) {
    DWORD error = 0;
    if (ShouldFail("CreateProcessA", &error)) {
        SetLastError(FaultError(error, ERROR_FILE_NOT_FOUND));
        return FALSE;
    }
    if (!lpStartupInfo || !lpProcessInformation || (!lpApplicationName && !lpCommandLine)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    Launch launch;
    if (lpApplicationName)
        launch.applicationName = lpApplicationName;
    launch.commandLine = lpCommandLine ? lpCommandLine : "";
    launch.inheritHandles = bInheritHandles != FALSE;
    launch.creationFlags = dwCreationFlags;
    launch.environmentNull = lpEnvironment == nullptr;
    launch.currentDirectoryNull = lpCurrentDirectory == nullptr;
    if (lpCurrentDirectory)
        launch.currentDirectory = lpCurrentDirectory;
    launch.startupInfoSize = lpStartupInfo->cb;
    launch.startupFlags = lpStartupInfo->dwFlags;
    P().launches.push_back(launch);

    // Any file will do as a program; an empty one stands for one that is
    // not a valid executable.
    const std::string program = HostPath(ProgramOf(launch).c_str());
    std::error_code ignored;
    if (lpCurrentDirectory &&
        !std::filesystem::is_directory(HostPath(lpCurrentDirectory), ignored)) {
        SetLastError(ERROR_DIRECTORY);
        return FALSE;
    }
    if (!std::filesystem::is_regular_file(program, ignored)) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    if (Empty(program)) {
        SetLastError(193); // ERROR_BAD_EXE_FORMAT
        return FALSE;
    }
    ProcessObject* process = new ProcessObject;
    process->exitCode = P().exitCode;
    lpProcessInformation->hProcess = NewKernelHandle(process);
    lpProcessInformation->hThread = NewKernelHandle(new ThreadObject);
    lpProcessInformation->dwProcessId = P().nextId++;
    lpProcessInformation->dwThreadId = P().nextId++;
    return TRUE;
}

// The pseudo handle of the calling process: (HANDLE)-1, needing no close.
extern "C" HANDLE WINAPI GetCurrentProcess(void) {
    ShouldFail("GetCurrentProcess"); // counted, never made to fail
    return reinterpret_cast<HANDLE>(LONG_PTR(-1));
}

extern "C" DWORD WINAPI WaitForSingleObject(HANDLE hHandle, DWORD) {
    DWORD error = 0;
    if (ShouldFail("WaitForSingleObject", &error)) {
        SetLastError(FaultError(error, ERROR_INVALID_HANDLE));
        return WAIT_FAILED;
    }
    if (!FindKernelObject(hHandle)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    return WAIT_OBJECT_0; // every process here has already ended
}

extern "C" BOOL WINAPI GetExitCodeProcess(HANDLE hProcess, LPDWORD lpExitCode) {
    DWORD error = 0;
    if (ShouldFail("GetExitCodeProcess", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return FALSE;
    }
    ProcessObject* process = FindKernel<ProcessObject>(hProcess);
    if (!process || !lpExitCode) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    *lpExitCode = process->exitCode;
    return TRUE;
}
