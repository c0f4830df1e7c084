// Plug-and-play driver packages are installed and removed by the platform's
// driver package installer, which the package ships as "System\dpinst.exe"
// below the install directory. The actions run deferred, so the install
// directory comes from the deferred-action data. The tool runs as
// LocalSystem: it starts only when no one but the trusted can change it.
#include "drivers/driver_package.h"

#include "common/action_boundary.h"
#include "common/file_security.h"
#include "common/handles.h"
#include "common/install_folder.h"
#include "common/log_line.h"
#include "common/paths.h"
#include "common/property.h"
#include "drivers/exports.h"

#include <cstring>
#include <string>

namespace vantor {

namespace {

constexpr char kToolFolder[] = "System\\";
constexpr char kTool[] = "dpinst.exe";
// Silent, all packages, no prompts, suppress the wizard.
constexpr char kInstallSwitches[] = " /SA /A /D /SW";
constexpr char kRemovalSwitch[] = " /u ";

constexpr DWORD kFailureBit = 0x80000000u;
constexpr DWORD kRestartBit = 0x40000000u;

// Log buffers: the command-line line has this much room besides the command
// line; the return-code line this much in all.
constexpr SIZE_T kLogRoom = 80;

} // namespace

UINT DriverPackageResult(DWORD exitCode) {
    if (exitCode & kFailureBit)
        return ERROR_INSTALL_FAILURE;
    if (exitCode & kRestartBit)
        return ERROR_SUCCESS_REBOOT_REQUIRED;
    return ERROR_SUCCESS;
}

UINT RunDriverPackageInstaller(MSIHANDLE installation, bool removal, LPCSTR arguments) {
    UINT result = ERROR_INSTALL_FAILURE;
    std::unique_ptr<char[]> installDir;
    {
        DeferredProperty property(installation, "INSTALLDIR");
        installDir = FetchValue(property); // unreadable counts as empty
    }
    if (!installDir[0]) {
        LogAction(installation, "Empty Path return from DeferredProperty");
        return result;
    }
    // The tool runs as LocalSystem: only from a folder of this machine's own
    // disks, never from a share or a device path ("\\host\share\",
    // "\\?\", "\\.\") or a folder relative to the current one, and only by
    // the plain form of its path (no "/", ".." or second ":" leading it
    // elsewhere).
    if (!IsPlainAbsolutePath(installDir.get())) {
        LogFailure(installation,
                   std::string("DPInst.exe not started, INSTALLDIR is not a local absolute "
                               "folder: ") +
                       installDir.get(),
                   ERROR_INVALID_DATA);
        return result;
    }
    // Once the product has recorded its install folder, nothing starts from another.
    const FolderCheck recorded = CheckRecordedFolder(installation, installDir.get());
    if (recorded.Refused()) {
        LogAction(installation, ("DPInst.exe not started, " + recorded.why).c_str());
        return result;
    }

    // The install directory ends with its separator; nothing is added, so a
    // directory without one names no program and nothing starts.
    const std::string folder = std::string(installDir.get()) + kToolFolder;
    const std::string tool = folder + kTool;
    const std::string tail =
        removal ? std::string(kRemovalSwitch) + (arguments ? arguments : "") : kInstallSwitches;

    // Held open from the check until the process has started, reading and
    // sharing only reading: nobody can write, replace or delete the file in
    // between. A file someone else holds open for writing cannot be held.
    FileHandle held(CreateFileA(tool.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!held) {
        const DWORD error = GetLastError();
        LogFailure(installation, tool + " not started: it cannot be held open", error);
        return result;
    }
    // The file held must be the one the path names: a junction or link in
    // any folder of the path (or at its name) leads elsewhere.
    const FinalPathCheck final = CheckFinalPath(held.get(), tool.c_str());
    if (final.kind != FinalPathCheck::kSame) {
        // An unreadable final path says its own code.
        const std::string refusal = tool + " not started: " + FinalPathRefusal(final);
        LogAction(installation,
                  (final.kind == FinalPathCheck::kDiffers ? WithError(refusal, ERROR_ACCESS_DENIED)
                                                          : refusal)
                      .c_str());
        return result;
    }
    const TrustCheck trust = CheckOnlyTrustedCanChange(held.get(), tool);
    if (trust.error) {
        LogFailure(installation, tool + " not started: " + trust.why, trust.error);
        return result;
    }

    const SIZE_T commandSize = tool.size() + tail.size() + 1;
    // Process creation may write into the command line.
    HeapBuffer commandLine(commandSize);
    if (!commandLine) {
        LogFailure(installation, tool + " not started: no memory for its command line",
                   ERROR_NOT_ENOUGH_MEMORY);
        return result;
    }
    std::memcpy(commandLine.get(), tool.data(), tool.size());
    std::memcpy(commandLine.get() + tool.size(), tail.c_str(), tail.size() + 1);

    {
        HeapBuffer line(commandSize + kLogRoom);
        if (line) {
            wsprintfA(line.get(), "Calling DPInst.exe with command line: %s", commandLine.get());
            LogAction(installation, line.get());
        }
    }

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    // The program is named apart from the command line: an unquoted path
    // with a blank ("C:\Program Files\...") would otherwise let the platform
    // try "C:\Program.exe" first. It runs in its own folder, where the INF
    // names of the removals lead to the package's own files.
    const auto start = [&] {
        return CreateProcessA(tool.c_str(), commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.c_str(), &startup, &process);
    };
    BOOL started = start();
    DWORD error = GetLastError();
    // The platform's internal error is its own trouble with a new process
    // (Wine answers it now and then when the process ends in its start-up).
    // The file is still held as checked, so a second start is as safe as the
    // first; one try more, and a line for the first.
    if (!started && error == ERROR_INTERNAL_ERROR) {
        LogFailure(installation, tool + " could not be started, tried once more", error);
        started = start();
        error = GetLastError();
    }
    held.reset(); // the process has its own hold on its image now
    if (!started) {
        LogFailure(installation, tool + " could not be started", error);
        return result;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    DWORD exitCode = 0;
    if (!processHandle) {
        LogFailure(installation,
                   tool + " started, but no process handle came back: its outcome is unknown",
                   ERROR_INVALID_HANDLE);
    } else if (WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0) {
        const DWORD waitError = GetLastError();
        LogFailure(installation, tool + " was not waited for: its outcome is unknown", waitError);
    } else if (!GetExitCodeProcess(processHandle.get(), &exitCode)) {
        const DWORD exitError = GetLastError();
        LogFailure(installation,
                   tool + " ran, but its exit code cannot be read: its outcome is unknown",
                   exitError);
    } else {
        HeapBuffer line(kLogRoom);
        if (line) {
            wsprintfA(line.get(), "DPInst.exe return code: 0x%X", exitCode);
            LogAction(installation, line.get());
        }
        result = DriverPackageResult(exitCode);
    }
    processHandle.reset();
    threadHandle.reset();
    return result;
}

} // namespace vantor

using namespace vantor;

extern "C" UINT WINAPI DIFxInstall(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverPackageInstaller,
                     false, nullptr);
}

extern "C" UINT WINAPI WinUsbUninstall(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverPackageInstaller, true,
                     " vantorwinusb.inf");
}

extern "C" UINT WINAPI VantorppUninstall(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverPackageInstaller, true,
                     " vantorpp.inf");
}
