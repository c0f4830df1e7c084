// The Kappa driver and the parallel-port driver: kernel driver services that
// start with the system, each with an event-log source so that the drivers'
// I/O error events have message texts.
#include "setup/services/legacy_driver.h"

#include "common/action_boundary.h"
#include "common/log_line.h"
#include "common/property.h"
#include "setup/exports.h"

#include <cstring>
#include <string>

namespace vantor {

namespace {

constexpr char kKappaImage[] = "%SystemRoot%\\system32\\drivers\\kappa.sys";
constexpr char kKappaService[] = "kappa";
constexpr char kKappaDisplay[] = "Vantor Technology Kappa Driver";
constexpr char kVantorImage[] = "%SystemRoot%\\system32\\drivers\\vantor.sys";
constexpr char kVantorService[] = "vantor";
constexpr char kVantorDisplay[] = "Vantor Technology Parallel Port Device Driver";

constexpr char kEventLogKey[] = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\%s";
// The platform's generic I/O messages first, then the driver's own.
constexpr char kMessageFile[] = "%%SystemRoot%%\\System32\\IoLogMsg.dll;%s";
constexpr DWORD kTypesSupported = 7; // error, warning, information

// Both texts are formatted into path-sized buffers.
static_assert(sizeof kEventLogKey + sizeof kKappaService < MAX_PATH, "key fits");
static_assert(sizeof kEventLogKey + sizeof kVantorService < MAX_PATH, "key fits");
static_assert(sizeof kMessageFile + sizeof kKappaImage < MAX_PATH, "message file fits");
static_assert(sizeof kMessageFile + sizeof kVantorImage < MAX_PATH, "message file fits");

// What this class does with a service: query, start, stop and delete it.
// The same number as the manager's all-access, asked as service rights; not
// SERVICE_ALL_ACCESS.
constexpr DWORD kServiceRights = STANDARD_RIGHTS_REQUIRED | SERVICE_QUERY_CONFIG |
                                 SERVICE_CHANGE_CONFIG | SERVICE_QUERY_STATUS |
                                 SERVICE_ENUMERATE_DEPENDENTS | SERVICE_START | SERVICE_STOP;
static_assert(kServiceRights == SC_MANAGER_ALL_ACCESS, "the manager's all-access number");

// Each pass of the start wait sleeps a tenth of the wait hint, within these.
constexpr DWORD kShortestStartPoll = 1000;
constexpr DWORD kLongestStartPoll = 10000;
// Each stop phase gives up once this much has passed without the service stopping.
constexpr DWORD kStopLimit = 10000;

} // namespace

void LegacyDriverInstall::Failed(const char* what, DWORD error) {
    why_ = WithError(what, error);
}

bool LegacyDriverInstall::OpenManager() {
    if (!scmHandle_) {
        scmHandle_.reset(OpenSCManagerA("", "ServicesActive", SC_MANAGER_ALL_ACCESS));
        if (!scmHandle_)
            Failed("the service control manager cannot be opened", GetLastError());
    }
    return scmHandle_.valid();
}

// A status that cannot be read counts as no state at all: neither running
// nor stopped, so no wait goes on and no success is claimed on it.
bool LegacyDriverInstall::Query(SC_HANDLE service) {
    if (QueryServiceStatus(service, &status_))
        return true;
    status_ = SERVICE_STATUS{};
    return false;
}

SC_HANDLE LegacyDriverInstall::OpenOrCreateService() {
    if (serviceHandle_)
        return serviceHandle_.get();
    if (OpenManager())
        serviceHandle_.reset(OpenServiceA(scmHandle_.get(), serviceName_, kServiceRights));
    if (!serviceHandle_)
        CreateDriverService();
    return serviceHandle_.get();
}

bool LegacyDriverInstall::CreateDriverService() {
    AddEventLogSource();
    if (OpenManager()) {
        serviceHandle_.reset(CreateServiceA(scmHandle_.get(), serviceName_, displayName_,
                                            SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                            SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, imagePath_,
                                            nullptr, nullptr, nullptr, nullptr, nullptr));
        if (!serviceHandle_)
            Failed("the service can be neither opened nor created", GetLastError());
    }
    return serviceHandle_.valid();
}

LONG LegacyDriverInstall::AddEventLogSource() {
    char keyPath[MAX_PATH];
    wsprintfA(keyPath, kEventLogKey, serviceName_);
    RegKey key;
    LONG status = RegCreateKeyA(HKEY_LOCAL_MACHINE, keyPath, key.put());
    if (status != ERROR_SUCCESS)
        return status;
    char messageFile[MAX_PATH];
    wsprintfA(messageFile, kMessageFile, imagePath_);
    status = RegSetValueExA(key.get(), "EventMessageFile", 0, REG_EXPAND_SZ,
                            reinterpret_cast<const BYTE*>(messageFile),
                            static_cast<DWORD>(std::strlen(messageFile) + 1));
    if (status == ERROR_SUCCESS)
        status =
            RegSetValueExA(key.get(), "TypesSupported", 0, REG_DWORD,
                           reinterpret_cast<const BYTE*>(&kTypesSupported), sizeof kTypesSupported);
    return status;
}

void LegacyDriverInstall::RemoveEventLogSource() {
    char keyPath[MAX_PATH];
    wsprintfA(keyPath, kEventLogKey, serviceName_);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath);
}

bool LegacyDriverInstall::StartDriver() {
    SC_HANDLE service = OpenOrCreateService();
    if (!service)
        return false;
    // A refused start may still find the service running: a driver that
    // already runs is installed.
    const bool accepted = StartServiceA(service, 0, nullptr) != FALSE;
    const DWORD refusal = accepted ? ERROR_SUCCESS : GetLastError();
    if (!Query(service)) {
        Failed("its status cannot be read", GetLastError());
        return false;
    }
    if (accepted) {
        DWORD lastProgress = GetTickCount();
        DWORD lastCheckPoint = status_.dwCheckPoint;
        while (status_.dwCurrentState == SERVICE_START_PENDING) {
            DWORD wait = status_.dwWaitHint / 10;
            if (wait < kShortestStartPoll)
                wait = kShortestStartPoll;
            else if (wait > kLongestStartPoll)
                wait = kLongestStartPoll;
            Sleep(wait);
            if (!Query(service)) {
                Failed("its status cannot be read", GetLastError());
                return false;
            }
            if (status_.dwCheckPoint > lastCheckPoint) {
                lastProgress = GetTickCount();
                lastCheckPoint = status_.dwCheckPoint;
            } else if (GetTickCount() - lastProgress > status_.dwWaitHint) {
                break; // no progress for longer than the service promised
            }
        }
    }
    if (status_.dwCurrentState == SERVICE_RUNNING)
        return true;
    if (!accepted)
        Failed("the start request was refused", refusal);
    else
        why_ = "it is not running after the start request (state " +
               std::to_string(status_.dwCurrentState) + ")";
    return false;
}

bool LegacyDriverInstall::StopDriver() {
    SC_HANDLE service = OpenOrCreateService();
    if (!service || !Query(service))
        return false;
    // A stop already under way: wait for it before asking again.
    const StopWait pending = WaitForStop(service, GetTickCount(), true);
    if (pending != StopWait::LeftPending)
        return pending == StopWait::Stopped;
    if (!ControlService(service, SERVICE_CONTROL_STOP, &status_))
        return false;
    return WaitForStop(service, GetTickCount(), false) == StopWait::Stopped;
}

// One stop phase. While the service is stop-pending (onlyWhilePending) or in
// any state but stopped: sleep the status's full wait hint, query again, and
// give up once more than kStopLimit has passed since `since`.
LegacyDriverInstall::StopWait LegacyDriverInstall::WaitForStop(SC_HANDLE service, DWORD since,
                                                               bool onlyWhilePending) {
    auto waiting = [&] {
        return onlyWhilePending ? status_.dwCurrentState == SERVICE_STOP_PENDING
                                : status_.dwCurrentState != SERVICE_STOPPED;
    };
    while (waiting()) {
        Sleep(status_.dwWaitHint);
        if (!Query(service))
            return StopWait::GaveUp;
        if (status_.dwCurrentState == SERVICE_STOPPED)
            return StopWait::Stopped;
        if (GetTickCount() - since > kStopLimit)
            return StopWait::GaveUp;
    }
    return status_.dwCurrentState == SERVICE_STOPPED ? StopWait::Stopped : StopWait::LeftPending;
}

bool LegacyDriverInstall::DeleteDriverService() {
    RemoveEventLogSource();
    SC_HANDLE service = OpenOrCreateService();
    if (!service)
        return false;
    // A service that does not stop is still marked for deletion: it goes at
    // the next restart. Only the deletion decides the outcome.
    if (!Query(service) || status_.dwCurrentState != SERVICE_STOPPED)
        StopDriver();
    const bool deleted = DeleteService(service) != FALSE;
    if (!deleted)
        Failed("the service cannot be deleted", GetLastError());
    serviceHandle_.reset();
    return deleted;
}

std::unique_ptr<LegacyDriverInstall> MakeKappaDriver() {
    return std::make_unique<LegacyDriverInstall>(kKappaImage, kKappaService, kKappaDisplay);
}

std::unique_ptr<LegacyDriverInstall> MakeVantorDriver() {
    return std::make_unique<LegacyDriverInstall>(kVantorImage, kVantorService, kVantorDisplay);
}

} // namespace vantor

using namespace vantor;

namespace {

// doing: "installed" or "removed", for the line that says why it was not.
UINT RunDriverOperation(MSIHANDLE installation, std::unique_ptr<LegacyDriverInstall> (*make)(),
                        bool (LegacyDriverInstall::*operation)(), const char* doing) {
    std::unique_ptr<LegacyDriverInstall> driver = make();
    if (!driver)
        return ERROR_INSTALL_FAILURE;
    const bool done = (driver.get()->*operation)();
    const std::string line = done ? std::string()
                                  : std::string(driver->DisplayName()) + " (" +
                                        driver->ServiceName() + ") not " + doing + ": " +
                                        driver->Why();
    driver.reset(); // closes the handles before the engine hears the outcome
    if (!done)
        LogAction(installation, line.c_str());
    return done ? ERROR_SUCCESS : ERROR_INSTALL_FAILURE;
}

} // namespace

extern "C" UINT WINAPI InstallKappaSys(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverOperation,
                     MakeKappaDriver, &LegacyDriverInstall::Install, "installed");
}

extern "C" UINT WINAPI UninstallKappaSys(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverOperation,
                     MakeKappaDriver, &LegacyDriverInstall::Uninstall, "removed");
}

extern "C" UINT WINAPI InstallVantorSys(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverOperation,
                     MakeVantorDriver, &LegacyDriverInstall::Install, "installed");
}

extern "C" UINT WINAPI UninstallVantorSys(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, RunDriverOperation,
                     MakeVantorDriver, &LegacyDriverInstall::Uninstall, "removed");
}
