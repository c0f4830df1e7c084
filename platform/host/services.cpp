// The service control manager: services by name, manager and service
// handles, access rights, deletion and scripted status answers, with the
// codes Windows gives.
#include "platform/host/internal.h"

#include <deque>
#include <memory>
#include <set>

namespace host {

namespace {

struct Service {
    ServiceInfo info;
    std::deque<SERVICE_STATUS> script;
    DWORD startRefusal = 0;
    DWORD controlRefusal = 0;
    int handles = 0;
};

struct Handle {
    bool manager = false;
    DWORD access = 0;
    std::shared_ptr<Service> service; // service handles only
};

struct Services {
    std::map<std::string, std::shared_ptr<Service>> installed; // by lower-case name
    std::map<std::string, std::shared_ptr<Service>> last;      // deleted ones too
    std::set<Handle*> open;
    std::vector<ManagerOpen> managerOpens;
    std::vector<ServiceOpen> serviceOpens;
};

Services& S() {
    static Services state;
    return state;
}

void ResetServices() {
    for (Handle* h : S().open)
        delete h;
    S() = Services{};
}

Area area("services", ResetServices, [] { return int(S().open.size()); });

std::shared_ptr<Service> Installed(const std::string& name) {
    auto it = S().installed.find(Lower(name));
    return it == S().installed.end() ? nullptr : it->second;
}

std::shared_ptr<Service> Register(const std::string& name) {
    auto service = std::make_shared<Service>();
    service->info.name = name;
    S().installed[Lower(name)] = service;
    S().last[Lower(name)] = service;
    return service;
}

Handle* FindHandle(SC_HANDLE h) {
    Handle* handle = reinterpret_cast<Handle*>(h);
    return S().open.count(handle) ? handle : nullptr;
}

Handle* ServiceHandle(SC_HANDLE h) {
    Handle* handle = FindHandle(h);
    return handle && !handle->manager ? handle : nullptr;
}

SC_HANDLE NewHandle(bool manager, DWORD access, std::shared_ptr<Service> service) {
    Handle* h = new Handle{manager, access, std::move(service)};
    if (h->service)
        ++h->service->handles;
    S().open.insert(h);
    return reinterpret_cast<SC_HANDLE>(h);
}

SERVICE_STATUS Natural(const Service& s) {
    SERVICE_STATUS status = Status(s.info.state);
    status.dwServiceType = s.info.type;
    return status;
}

// The next scripted answer (the last one stays), or the service's own state.
SERVICE_STATUS NextStatus(Service& s) {
    if (s.script.empty())
        return Natural(s);
    SERVICE_STATUS status = s.script.front();
    if (s.script.size() > 1)
        s.script.pop_front();
    return status;
}

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::optional<std::string> Text(LPCSTR text) {
    return text ? std::optional<std::string>(text) : std::nullopt;
}

} // namespace

void AddService(const std::string& name, DWORD type, DWORD state) {
    std::shared_ptr<Service> service = Register(name);
    service->info.type = type;
    service->info.state = state;
}

std::optional<ServiceInfo> GetService(const std::string& name) {
    std::shared_ptr<Service> service = Installed(name);
    if (!service)
        return std::nullopt;
    return service->info;
}

std::optional<ServiceInfo> LastService(const std::string& name) {
    auto it = S().last.find(Lower(name));
    if (it == S().last.end())
        return std::nullopt;
    return it->second->info;
}

SERVICE_STATUS Status(DWORD state, DWORD checkPoint, DWORD waitHint) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwCheckPoint = checkPoint;
    status.dwWaitHint = waitHint;
    return status;
}

void ScriptServiceStatus(const std::string& name, const std::vector<SERVICE_STATUS>& statuses) {
    std::shared_ptr<Service> service = Installed(name);
    if (!service)
        service = Register(name);
    service->script.assign(statuses.begin(), statuses.end());
}

void RefuseServiceStart(const std::string& name, DWORD error) {
    if (std::shared_ptr<Service> service = Installed(name))
        service->startRefusal = error;
}

void RefuseServiceControl(const std::string& name, DWORD error) {
    if (std::shared_ptr<Service> service = Installed(name))
        service->controlRefusal = error;
}

const std::vector<ManagerOpen>& ManagerOpens() {
    return S().managerOpens;
}

const std::vector<ServiceOpen>& ServiceOpens() {
    return S().serviceOpens;
}

int OpenServiceHandles() {
    return int(S().open.size());
}

} // namespace host

using namespace host;

extern "C" SC_HANDLE WINAPI OpenSCManagerA(LPCSTR lpMachineName, LPCSTR lpDatabaseName,
                                           DWORD dwDesiredAccess) {
    DWORD error = 0;
    if (ShouldFail("OpenSCManagerA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return nullptr;
    }
    S().managerOpens.push_back({Text(lpMachineName), Text(lpDatabaseName), dwDesiredAccess});
    // Only the local machine's active database exists: an empty or null
    // machine name, a null database or "ServicesActive".
    if (lpDatabaseName && !EqualNoCase(lpDatabaseName, "ServicesActive")) {
        SetLastError(1065); // ERROR_DATABASE_DOES_NOT_EXIST
        return nullptr;
    }
    if (lpMachineName && *lpMachineName) {
        SetLastError(1722); // RPC_S_SERVER_UNAVAILABLE
        return nullptr;
    }
    return NewHandle(true, dwDesiredAccess, nullptr);
}

extern "C" SC_HANDLE WINAPI OpenServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                         DWORD dwDesiredAccess) {
    DWORD error = 0;
    if (ShouldFail("OpenServiceA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return nullptr;
    }
    Handle* manager = FindHandle(hSCManager);
    if (!manager || !manager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!lpServiceName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    S().serviceOpens.push_back({lpServiceName, dwDesiredAccess});
    std::shared_ptr<Service> service = Installed(lpServiceName);
    if (!service) {
        SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
        return nullptr;
    }
    return NewHandle(false, dwDesiredAccess, service);
}

extern "C" SC_HANDLE WINAPI CreateServiceA(SC_HANDLE hSCManager, LPCSTR lpServiceName,
                                           LPCSTR lpDisplayName, DWORD dwDesiredAccess,
                                           DWORD dwServiceType, DWORD dwStartType,
                                           DWORD dwErrorControl, LPCSTR lpBinaryPathName,
                                           LPCSTR lpLoadOrderGroup, LPDWORD lpdwTagId,
                                           LPCSTR lpDependencies, LPCSTR lpServiceStartName,
                                           LPCSTR lpPassword) {
    DWORD error = 0;
    if (ShouldFail("CreateServiceA", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return nullptr;
    }
    Handle* manager = FindHandle(hSCManager);
    if (!manager || !manager->manager) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (!(manager->access & SC_MANAGER_CREATE_SERVICE)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    if (!lpServiceName || !*lpServiceName || !lpBinaryPathName || !*lpBinaryPathName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (std::shared_ptr<Service> existing = Installed(lpServiceName)) {
        SetLastError(existing->info.markedForDelete ? ERROR_SERVICE_MARKED_FOR_DELETE
                                                    : ERROR_SERVICE_EXISTS);
        return nullptr;
    }
    std::shared_ptr<Service> service = Register(lpServiceName);
    ServiceInfo& info = service->info;
    info.displayName = lpDisplayName ? lpDisplayName : "";
    info.binaryPath = lpBinaryPathName;
    info.type = dwServiceType;
    info.startType = dwStartType;
    info.errorControl = dwErrorControl;
    info.createAccess = dwDesiredAccess;
    info.createOptionalsNull =
        !lpLoadOrderGroup && !lpdwTagId && !lpDependencies && !lpServiceStartName && !lpPassword;
    return NewHandle(false, dwDesiredAccess, service);
}

extern "C" BOOL WINAPI StartServiceA(SC_HANDLE hService, DWORD dwNumServiceArgs,
                                     LPCSTR* lpServiceArgVectors) {
    DWORD error = 0;
    if (ShouldFail("StartServiceA", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    Handle* handle = ServiceHandle(hService);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (dwNumServiceArgs && !lpServiceArgVectors)
        return Fail(ERROR_INVALID_PARAMETER);
    Service& s = *handle->service;
    ++s.info.startRequests;
    if (!(handle->access & SERVICE_START))
        return Fail(ERROR_ACCESS_DENIED);
    if (s.info.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    if (s.startRefusal)
        return Fail(s.startRefusal);
    if (s.info.state != SERVICE_STOPPED)
        return Fail(ERROR_SERVICE_ALREADY_RUNNING);
    s.info.state = SERVICE_RUNNING;
    return TRUE;
}

extern "C" BOOL WINAPI ControlService(SC_HANDLE hService, DWORD dwControl,
                                      LPSERVICE_STATUS lpServiceStatus) {
    DWORD error = 0;
    if (ShouldFail("ControlService", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    Handle* handle = ServiceHandle(hService);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpServiceStatus)
        return Fail(ERROR_INVALID_PARAMETER);
    Service& s = *handle->service;
    if (dwControl != SERVICE_CONTROL_STOP)
        return Fail(ERROR_INVALID_PARAMETER);
    ++s.info.stopControls;
    if (!(handle->access & SERVICE_STOP))
        return Fail(ERROR_ACCESS_DENIED);
    if (s.controlRefusal)
        return Fail(s.controlRefusal);
    if (s.info.state == SERVICE_STOPPED && s.script.empty())
        return Fail(ERROR_SERVICE_NOT_ACTIVE);
    s.info.state = SERVICE_STOPPED;
    *lpServiceStatus = NextStatus(s);
    return TRUE;
}

extern "C" BOOL WINAPI QueryServiceStatus(SC_HANDLE hService, LPSERVICE_STATUS lpServiceStatus) {
    DWORD error = 0;
    if (ShouldFail("QueryServiceStatus", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    Handle* handle = ServiceHandle(hService);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!lpServiceStatus)
        return Fail(ERROR_INVALID_PARAMETER);
    if (!(handle->access & SERVICE_QUERY_STATUS))
        return Fail(ERROR_ACCESS_DENIED);
    *lpServiceStatus = NextStatus(*handle->service);
    return TRUE;
}

extern "C" BOOL WINAPI DeleteService(SC_HANDLE hService) {
    DWORD error = 0;
    if (ShouldFail("DeleteService", &error))
        return Fail(FaultError(error, ERROR_ACCESS_DENIED));
    Handle* handle = ServiceHandle(hService);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    if (!(handle->access & DELETE))
        return Fail(ERROR_ACCESS_DENIED);
    Service& s = *handle->service;
    if (s.info.markedForDelete)
        return Fail(ERROR_SERVICE_MARKED_FOR_DELETE);
    s.info.markedForDelete = true;
    return TRUE;
}

extern "C" BOOL WINAPI CloseServiceHandle(SC_HANDLE hSCObject) {
    ShouldFail("CloseServiceHandle"); // counted, never made to fail
    Handle* handle = FindHandle(hSCObject);
    if (!handle)
        return Fail(ERROR_INVALID_HANDLE);
    S().open.erase(handle);
    if (std::shared_ptr<Service> service = handle->service) {
        // A service marked for deletion goes once its last handle closes.
        if (--service->handles == 0 && service->info.markedForDelete &&
            Installed(service->info.name) == service)
            S().installed.erase(Lower(service->info.name));
    }
    delete handle;
    return TRUE;
}
