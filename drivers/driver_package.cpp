// Plug-and-play driver packages are installed and removed by the platform's
// driver package installer, which the package ships as "System\dpinst.exe"
// below the install directory. The actions run deferred, so the install
// directory comes from the deferred-action data.
#include "drivers/driver_package.h"

#include "common/action_boundary.h"
#include "common/handles.h"
#include "common/install_folder.h"
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
    // "\\?\", "\\.\") or a folder relative to the current one.
    if (!IsDriveAbsolute(installDir.get())) {
        LogAction(installation,
                  (std::string("DPInst.exe not started, INSTALLDIR is not a local "
                               "absolute folder: ") +
                   installDir.get() + " (error " + std::to_string(ERROR_INVALID_DATA) + ")")
                      .c_str());
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
    const SIZE_T commandSize = tool.size() + tail.size() + 1;
    // Process creation may write into the command line.
    HeapBuffer commandLine(commandSize);
    if (!commandLine) {
        LogAction(installation, (tool + " not started: no memory for its command line (error " +
                                 std::to_string(ERROR_NOT_ENOUGH_MEMORY) + ")")
                                    .c_str());
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
    if (!CreateProcessA(tool.c_str(), commandLine.get(), nullptr, nullptr, FALSE, 0, nullptr,
                        folder.c_str(), &startup, &process)) {
        const DWORD error = GetLastError();
        LogAction(installation,
                  (tool + " could not be started (error " + std::to_string(error) + ")").c_str());
        return result;
    }
    KernelHandle processHandle(process.hProcess);
    KernelHandle threadHandle(process.hThread);
    DWORD exitCode = 0;
    if (!processHandle) {
        LogAction(installation, (tool +
                                 " started, but no process handle came back: its outcome "
                                 "is unknown (error " +
                                 std::to_string(ERROR_INVALID_HANDLE) + ")")
                                    .c_str());
    } else if (WaitForSingleObject(processHandle.get(), INFINITE) != WAIT_OBJECT_0) {
        LogAction(installation, (tool + " was not waited for: its outcome is unknown (error " +
                                 std::to_string(GetLastError()) + ")")
                                    .c_str());
    } else if (!GetExitCodeProcess(processHandle.get(), &exitCode)) {
        LogAction(installation,
                  (tool + " ran, but its exit code cannot be read: its outcome is unknown (error " +
                   std::to_string(GetLastError()) + ")")
                      .c_str());
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
