#include "host_fixture.h"
#include "setup/exports.h"
#include "setup/services/legacy_driver.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

using namespace vantor;

namespace {

struct Driver {
    const char* service;
    const char* display;
    const char* image;
    UINT(WINAPI* install)(MSIHANDLE);
    UINT(WINAPI* uninstall)(MSIHANDLE);
};

const Driver kDrivers[] = {
    {"kappa", "Vantor Technology Kappa Driver", "%SystemRoot%\\system32\\drivers\\kappa.sys",
     InstallKappaSys, UninstallKappaSys},
    {"vantor", "Vantor Technology Parallel Port Device Driver",
     "%SystemRoot%\\system32\\drivers\\vantor.sys", InstallVantorSys, UninstallVantorSys},
};

std::string EventLogKey(const char* service) {
    return std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\") + service;
}

int Calls(const char* api) {
    return int(std::count(host::CallLog().begin(), host::CallLog().end(), std::string(api)));
}

std::vector<DWORD> Repeat(DWORD value, std::size_t times) {
    return std::vector<DWORD>(times, value);
}

class LegacyDriverTest : public HostTest {
  protected:
    // A fresh machine for the next case of a table.
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
    }
};

TEST_F(LegacyDriverTest, InstallRegistersEventSourceAndCreatesService) {
    for (const Driver& d : kDrivers) {
        Fresh();
        EXPECT_EQ(d.install(session), 0u) << d.service;

        const std::string key = EventLogKey(d.service);
        std::optional<host::RegValue> messages = host::GetRegValue(key, "EventMessageFile");
        ASSERT_TRUE(messages) << d.service;
        const std::string expected = std::string("%SystemRoot%\\System32\\IoLogMsg.dll;") + d.image;
        EXPECT_EQ(messages->type, DWORD(REG_EXPAND_SZ));
        EXPECT_EQ(messages->data.size(), expected.size() + 1) << "the NUL is stored";
        EXPECT_EQ(messages->Text(), expected);
        std::optional<host::RegValue> types = host::GetRegValue(key, "TypesSupported");
        ASSERT_TRUE(types) << d.service;
        EXPECT_EQ(types->type, DWORD(REG_DWORD));
        EXPECT_EQ(types->data, (std::vector<BYTE>{7, 0, 0, 0}));

        std::optional<host::ServiceInfo> service = host::GetService(d.service);
        ASSERT_TRUE(service) << d.service;
        EXPECT_EQ(service->displayName, d.display);
        EXPECT_EQ(service->binaryPath, d.image);
        EXPECT_EQ(service->type, DWORD(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(service->startType, DWORD(SERVICE_AUTO_START));
        EXPECT_EQ(service->errorControl, DWORD(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(service->createAccess, DWORD(SERVICE_ALL_ACCESS));
        EXPECT_TRUE(service->createOptionalsNull);
        EXPECT_EQ(service->state, DWORD(SERVICE_RUNNING));
        EXPECT_EQ(service->startRequests, 1);

        ASSERT_EQ(host::ManagerOpens().size(), 1u) << "the manager is opened once and kept";
        EXPECT_EQ(host::ManagerOpens()[0].machine, std::optional<std::string>(""));
        EXPECT_EQ(host::ManagerOpens()[0].database, std::optional<std::string>("ServicesActive"));
        EXPECT_EQ(host::ManagerOpens()[0].access, DWORD(0xF003F));
        ASSERT_EQ(host::ServiceOpens().size(), 1u);
        EXPECT_EQ(host::ServiceOpens()[0].name, d.service);
        EXPECT_EQ(host::ServiceOpens()[0].access, DWORD(0xF003F));
        EXPECT_TRUE(host::Sleeps().empty()) << "a service that runs at once needs no wait";
        EXPECT_EQ(host::OpenServiceHandles(), 0);
    }
}

TEST_F(LegacyDriverTest, InstallOverAnExistingService) {
    struct Case {
        const char* what;
        DWORD state;
        DWORD refusal; // start refusal
        UINT result;
        DWORD stateAfter;
    } cases[] = {
        {"already running: the refused start still finds it running", SERVICE_RUNNING, 0, 0,
         SERVICE_RUNNING},
        {"stopped: started with its own configuration", SERVICE_STOPPED, 0, 0, SERVICE_RUNNING},
        {"the driver cannot load", SERVICE_STOPPED, ERROR_DLL_INIT_FAILED, 1603, SERVICE_STOPPED},
    };
    for (const Case& c : cases) {
        Fresh();
        host::AddService("kappa", SERVICE_KERNEL_DRIVER, c.state);
        host::RefuseServiceStart("kappa", c.refusal);
        EXPECT_EQ(InstallKappaSys(session), c.result) << c.what;
        EXPECT_FALSE(host::KeyExists(EventLogKey("kappa"))) << c.what;
        EXPECT_EQ(Calls("CreateServiceA"), 0) << c.what;
        EXPECT_EQ(host::GetService("kappa")->binaryPath, "") << c.what << ": config untouched";
        EXPECT_EQ(host::GetService("kappa")->state, c.stateAfter) << c.what;
        EXPECT_TRUE(host::Sleeps().empty()) << c.what;
    }
}

// The start wait: a tenth of the wait hint per pass, within 1000..10000 ms;
// it ends when the service leaves the pending state or makes no progress
// for longer than its wait hint.
TEST_F(LegacyDriverTest, StartPendingWait) {
    using host::Status;
    struct Case {
        const char* what;
        std::vector<SERVICE_STATUS> script;
        std::vector<DWORD> sleeps;
        UINT result;
    } cases[] = {
        {"wait hint 0: one pass of 1000 ms, then no progress ends it",
         {Status(SERVICE_START_PENDING, 1, 0)},
         {1000},
         1603},
        {"wait hint 200000: passes of 10000 ms until 200000 ms pass without progress",
         {Status(SERVICE_START_PENDING, 1, 200000)},
         Repeat(10000, 21),
         1603},
        {"a tenth of a short hint is raised to 1000 ms",
         {Status(SERVICE_START_PENDING, 1, 5000), Status(SERVICE_START_PENDING, 2, 5000),
          Status(SERVICE_RUNNING)},
         {1000, 1000},
         0},
        {"a tenth of the hint between the limits is slept as it is",
         {Status(SERVICE_START_PENDING, 1, 50000), Status(SERVICE_START_PENDING, 2, 50000),
          Status(SERVICE_START_PENDING, 3, 50000), Status(SERVICE_RUNNING)},
         {5000, 5000, 5000},
         0},
        {"progress restarts the count; it gives up only when strictly more than the hint passed",
         {Status(SERVICE_START_PENDING, 1, 3000), Status(SERVICE_START_PENDING, 2, 3000)},
         Repeat(1000, 5),
         1603},
        {"the hint of the latest status counts",
         {Status(SERVICE_START_PENDING, 1, 0), Status(SERVICE_START_PENDING, 1, 2500),
          Status(SERVICE_START_PENDING, 1, 2500), Status(SERVICE_START_PENDING, 1, 2500),
          Status(SERVICE_STOPPED)},
         {1000, 1000, 1000},
         1603},
        {"a service that stops while starting is not running",
         {Status(SERVICE_START_PENDING, 1, 0), Status(SERVICE_STOPPED)},
         {1000},
         1603},
    };
    for (const Case& c : cases) {
        Fresh();
        host::AddService("kappa", SERVICE_KERNEL_DRIVER, SERVICE_STOPPED);
        host::ScriptServiceStatus("kappa", c.script);
        EXPECT_EQ(InstallKappaSys(session), c.result) << c.what;
        EXPECT_EQ(host::Sleeps(), c.sleeps) << c.what;
    }
}

TEST_F(LegacyDriverTest, UninstallStopsAndDeletes) {
    using host::Status;
    struct Case {
        const char* what;
        DWORD state;
        DWORD controlRefusal;
        std::vector<SERVICE_STATUS> script; // empty: the service's own states
        DWORD tickStep;
        int stopControls;
        std::vector<DWORD> sleeps; // empty with tickStep: only zero-length sleeps
    } cases[] = {
        {"stopped: deleted without a stop", SERVICE_STOPPED, 0, {}, 0, 0, {}},
        {"running: stopped, then deleted", SERVICE_RUNNING, 0, {}, 0, 1, {}},
        {"the stop is refused: deleted all the same",
         SERVICE_RUNNING,
         ERROR_SERVICE_CANNOT_ACCEPT_CTRL,
         {},
         0,
         1,
         {}},
        {"never stops: gives up after 10000 ms of the stopping phase",
         SERVICE_RUNNING,
         0,
         {Status(SERVICE_RUNNING), Status(SERVICE_RUNNING), Status(SERVICE_STOP_PENDING, 0, 3000)},
         0,
         1,
         Repeat(3000, 4)},
        {"stop pending from the start: full wait hints until strictly more than 10000 ms",
         SERVICE_RUNNING,
         0,
         {Status(SERVICE_STOP_PENDING, 0, 2500)},
         0,
         0,
         Repeat(2500, 5)},
        {"the two limits are separate: the second runs from the stop control",
         SERVICE_RUNNING,
         0,
         {Status(SERVICE_STOP_PENDING, 0, 4000), Status(SERVICE_STOP_PENDING, 0, 4000),
          Status(SERVICE_STOP_PENDING, 0, 4000), Status(SERVICE_RUNNING, 0, 4000),
          Status(SERVICE_STOP_PENDING, 0, 4000)},
         0,
         1,
         Repeat(4000, 5)},
        {"a pending stop that ends is not asked again",
         SERVICE_RUNNING,
         0,
         {Status(SERVICE_STOP_PENDING, 0, 1500), Status(SERVICE_STOP_PENDING, 0, 1500),
          Status(SERVICE_STOPPED)},
         0,
         0,
         {1500}},
        {"stop pending with wait hint 0: polls without sleeping until 10000 ms passed",
         SERVICE_RUNNING,
         0,
         {Status(SERVICE_STOP_PENDING, 0, 0)},
         1,
         0,
         {}},
    };
    for (const Case& c : cases) {
        Fresh();
        host::AddService("kappa", SERVICE_KERNEL_DRIVER, c.state);
        host::RefuseServiceControl("kappa", c.controlRefusal);
        if (!c.script.empty())
            host::ScriptServiceStatus("kappa", c.script);
        host::SetTickStep(c.tickStep);
        host::SetRegString(EventLogKey("kappa"), "EventMessageFile", "old");

        EXPECT_EQ(UninstallKappaSys(session), 0u) << c.what;
        EXPECT_FALSE(host::GetService("kappa")) << c.what << ": deleted";
        EXPECT_TRUE(host::LastService("kappa")->markedForDelete) << c.what;
        EXPECT_FALSE(host::KeyExists(EventLogKey("kappa"))) << c.what;
        EXPECT_EQ(host::LastService("kappa")->stopControls, c.stopControls) << c.what;
        if (c.tickStep) {
            EXPECT_GT(host::Sleeps().size(), 1000u) << c.what << ": it polled";
            EXPECT_EQ(host::SleptMilliseconds(), 0u) << c.what;
        } else {
            EXPECT_EQ(host::Sleeps(), c.sleeps) << c.what;
        }
    }
}

TEST_F(LegacyDriverTest, UninstallOfAnUnregisteredServiceCreatesAndDeletesIt) {
    for (const Driver& d : kDrivers) {
        Fresh();
        EXPECT_EQ(d.uninstall(session), 0u) << d.service;
        EXPECT_FALSE(host::GetService(d.service)) << d.service;
        ASSERT_TRUE(host::LastService(d.service)) << d.service;
        EXPECT_EQ(host::LastService(d.service)->binaryPath, d.image);
        EXPECT_TRUE(host::LastService(d.service)->markedForDelete);
        EXPECT_EQ(host::LastService(d.service)->stopControls, 0);
        // Written again by the creation, after the removal.
        EXPECT_TRUE(host::KeyExists(EventLogKey(d.service))) << d.service;
    }
}

TEST_F(LegacyDriverTest, PlatformFailures) {
    struct Case {
        const char* what;
        const char* api;
        int nth;
        bool registered;
        UINT install;
        UINT uninstall;
        const char* why; // after "... not installed: " or "... not removed: "
    } cases[] = {
        {"no service manager", "OpenSCManagerA", 0, false, 1603, 1603,
         "the service control manager cannot be opened (error 5)"},
        {"service neither opened nor created", "CreateServiceA", 0, false, 1603, 1603,
         "the service can be neither opened nor created (error 5)"},
        {"status unreadable", "QueryServiceStatus", 0, true, 1603, 0,
         "its status cannot be read (error 5)"},
        {"start refused", "StartServiceA", 0, true, 1603, 0,
         "the start request was refused (error 5)"},
        {"deletion refused", "DeleteService", 0, true, 0, 1603,
         "the service cannot be deleted (error 5)"},
        {"event source not written: the service is still created", "RegSetValueExA", 0, false, 0, 0,
         ""},
    };
    for (const Case& c : cases) {
        for (bool install : {true, false}) {
            Fresh();
            if (c.registered)
                host::AddService("vantor", SERVICE_KERNEL_DRIVER, SERVICE_STOPPED);
            host::FailCall(c.api, c.nth, ERROR_ACCESS_DENIED);
            const UINT result = install ? InstallVantorSys(session) : UninstallVantorSys(session);
            EXPECT_EQ(result, install ? c.install : c.uninstall)
                << c.what << (install ? " (install)" : " (uninstall)");
            // A failure says why in one line; success says nothing.
            std::vector<std::string> log;
            if (result != 0)
                log.push_back(std::string("VantorCustomAction: Vantor Technology Parallel Port "
                                          "Device Driver (vantor) not ") +
                              (install ? "installed: " : "removed: ") + c.why);
            EXPECT_EQ(host::LogLines(), log) << c.what << (install ? " (install)" : " (uninstall)");
            EXPECT_EQ(host::OpenHandles(), 0) << c.what;
        }
    }
}

TEST_F(LegacyDriverTest, EventSourceTypesOnlyAfterTheMessageFile) {
    host::FailCall("RegSetValueExA", 1);
    EXPECT_EQ(InstallKappaSys(session), 0u) << "the service is still created";
    EXPECT_TRUE(host::KeyExists(EventLogKey("kappa")));
    EXPECT_FALSE(host::GetRegValue(EventLogKey("kappa"), "TypesSupported"));
    EXPECT_EQ(Calls("RegSetValueExA"), 1);
}

TEST_F(LegacyDriverTest, AutoLaunchService) {
    const char* name = "Vantor Auto Launch Service";
    struct Case {
        const char* what;
        bool registered;
        DWORD state;
        DWORD refusal;
        const char* failApi;
        UINT result;
        const char* why; // after "Vantor Auto Launch Service not started: "; "" for no line
    } cases[] = {
        {"not installed", false, 0, 0, nullptr, 1603,
         "it is not installed: is the package's ServiceInstall row missing? (error 1060)"},
        {"stopped: started without waiting", true, SERVICE_STOPPED, 0, nullptr, 0, ""},
        {"already running (a repair)", true, SERVICE_RUNNING, 0, nullptr, 0, ""},
        {"disabled", true, SERVICE_STOPPED, ERROR_SERVICE_DISABLED, nullptr, 1603,
         "the start request was refused (error 1058)"},
        {"marked for deletion", true, SERVICE_STOPPED, ERROR_SERVICE_MARKED_FOR_DELETE, nullptr,
         1603, "the start request was refused (error 1072)"},
        {"no service manager", true, SERVICE_STOPPED, 0, "OpenSCManagerA", 1603,
         "the service control manager cannot be opened (error 5)"},
        {"service cannot be opened", true, SERVICE_STOPPED, 0, "OpenServiceA", 1603,
         "the service cannot be opened (error 5)"},
        {"start refused with access denied", true, SERVICE_STOPPED, 0, "StartServiceA", 1603,
         "the start request was refused (error 5)"},
    };
    for (const Case& c : cases) {
        Fresh();
        if (c.registered) {
            host::AddService(name, SERVICE_WIN32_OWN_PROCESS, c.state);
            host::RefuseServiceStart(name, c.refusal);
        }
        if (c.failApi)
            host::FailCall(c.failApi, 0, ERROR_ACCESS_DENIED);
        EXPECT_EQ(StartVantorAutoLauchService(session), c.result) << c.what;
        EXPECT_EQ(host::LogLines(),
                  *c.why ? std::vector<std::string>{std::string("VantorCustomAction: Vantor Auto "
                                                                "Launch Service not started: ") +
                                                    c.why}
                         : std::vector<std::string>())
            << c.what;
        EXPECT_EQ(host::OpenServiceHandles(), 0) << c.what;
        EXPECT_EQ(Calls("QueryServiceStatus"), 0) << c.what;
        EXPECT_TRUE(host::Sleeps().empty()) << c.what;
        if (c.registered && !c.failApi && !c.refusal) {
            EXPECT_EQ(host::GetService(name)->state, DWORD(SERVICE_RUNNING)) << c.what;
        }
    }
}

TEST_F(LegacyDriverTest, AutoLaunchServiceParameters) {
    host::AddService("Vantor Auto Launch Service");
    ASSERT_EQ(StartVantorAutoLauchService(session), 0u);
    ASSERT_EQ(host::ManagerOpens().size(), 1u);
    EXPECT_FALSE(host::ManagerOpens()[0].machine);
    EXPECT_FALSE(host::ManagerOpens()[0].database);
    EXPECT_EQ(host::ManagerOpens()[0].access, DWORD(SC_MANAGER_CREATE_SERVICE));
    ASSERT_EQ(host::ServiceOpens().size(), 1u);
    EXPECT_EQ(host::ServiceOpens()[0].name, "Vantor Auto Launch Service");
    EXPECT_EQ(host::ServiceOpens()[0].access, DWORD(SERVICE_ALL_ACCESS));
    // The manager is closed as soon as the service is open, before the start.
    const std::vector<std::string>& calls = host::CallLog();
    auto start = std::find(calls.begin(), calls.end(), "StartServiceA");
    EXPECT_NE(std::find(calls.begin(), start, "CloseServiceHandle"), start);
}

} // namespace

#include "sweep.h"

namespace {

void Registered(const char* name, DWORD state) {
    host::AddService(name, SERVICE_KERNEL_DRIVER, state);
    host::SetRegString(EventLogKey(name), "EventMessageFile", "old");
}

VANTOR_SWEEP(InstallKappaSys, "not registered", [](SweepScene&) {}, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(InstallKappaSys, "start pending, then running",
             [](SweepScene&) {
                 Registered("kappa", SERVICE_STOPPED);
                 host::ScriptServiceStatus("kappa", {host::Status(SERVICE_START_PENDING, 1, 20000),
                                                     host::Status(SERVICE_START_PENDING, 2, 20000),
                                                     host::Status(SERVICE_RUNNING)});
             },
             {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(UninstallKappaSys, "running",
             [](SweepScene&) { Registered("kappa", SERVICE_RUNNING); }, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(InstallVantorSys, "stopped",
             [](SweepScene&) { Registered("vantor", SERVICE_STOPPED); }, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(UninstallVantorSys, "stop pending",
             [](SweepScene&) {
                 Registered("vantor", SERVICE_RUNNING);
                 host::ScriptServiceStatus("vantor", {host::Status(SERVICE_STOP_PENDING, 0, 3000),
                                                      host::Status(SERVICE_STOP_PENDING, 0, 3000),
                                                      host::Status(SERVICE_STOPPED)});
             },
             {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(UninstallVantorSys, "not registered", [](SweepScene&) {}, {ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(StartVantorAutoLauchService, "stopped",
             [](SweepScene&) { host::AddService("Vantor Auto Launch Service"); },
             {ERROR_INSTALL_FAILURE});

} // namespace
