// The kernel driver services and the auto-launch service against Wine's own
// service control manager. Wine cannot load a kernel driver, so the driver
// installs answer 1603 there: the checks read what was registered.
#include "engine_session.h"
#include "scratch.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

using namespace engine;

namespace {

const char kAutoLaunch[] = "Vantor Auto Launch Service";

std::string EventLogKey(const char* service) {
    return std::string("SYSTEM\\CurrentControlSet\\Services\\EventLog\\System\\") + service;
}

struct Registered {
    bool exists = false;
    DWORD type = 0, start = 0, errorControl = 0;
    std::string binaryPath, displayName;
};

Registered Lookup(const char* name) {
    Registered r;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_CONFIG) : nullptr;
    if (service) {
        DWORD size = 0;
        QueryServiceConfigA(service, nullptr, 0, &size);
        std::vector<BYTE> buffer(size + 1);
        auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
        if (QueryServiceConfigA(service, config, size, &size)) {
            r.exists = true;
            r.type = config->dwServiceType;
            r.start = config->dwStartType;
            r.errorControl = config->dwErrorControl;
            r.binaryPath = config->lpBinaryPathName ? config->lpBinaryPathName : "";
            r.displayName = config->lpDisplayName ? config->lpDisplayName : "";
        }
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return r;
}

DWORD State(const char* name) {
    SERVICE_STATUS status{};
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceA(manager, name, SERVICE_QUERY_STATUS) : nullptr;
    if (service) {
        QueryServiceStatus(service, &status);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    return status.dwCurrentState;
}

// Stops and deletes a service left by a test; true when none remains.
bool Remove(const char* name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (!manager)
        return false;
    SC_HANDLE service = OpenServiceA(manager, name, SERVICE_ALL_ACCESS);
    if (service) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        for (int i = 0; i < 100 && State(name) != SERVICE_STOPPED; ++i)
            Sleep(50);
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return !Lookup(name).exists;
}

class Services : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library_.loaded()) << "cannot load " << library_.path();
        ASSERT_NE(session_.handle(), 0u)
            << "cannot open " << Env("VANTOR_PACKAGE") << ": " << session_.openResult();
        for (const char* name : {"kappa", "vantor", kAutoLaunch}) {
            ASSERT_TRUE(Remove(name)) << name;
            DeleteTree(EventLogKey(name));
        }
    }
    void TearDown() override {
        for (const char* name : {"kappa", "vantor", kAutoLaunch}) {
            Remove(name);
            DeleteTree(EventLogKey(name));
        }
    }
    UINT Run(const char* action) { return library_.Call(action, session_.handle()); }

    Session session_;
    ActionLibrary library_{"VantorSetup.dll"};
};

TEST_F(Services, DriverInstallRegistersTheServiceAndItsEventSource) {
    struct Case {
        const char* install;
        const char* uninstall;
        const char* service;
        const char* display;
        const char* image;
    } cases[] = {
        {"InstallKappaSys", "UninstallKappaSys", "kappa", "Vantor Technology Kappa Driver",
         "%SystemRoot%\\system32\\drivers\\kappa.sys"},
        {"InstallVantorSys", "UninstallVantorSys", "vantor",
         "Vantor Technology Parallel Port Device Driver",
         "%SystemRoot%\\system32\\drivers\\vantor.sys"},
    };
    for (const Case& c : cases) {
        // No such driver file loads here: the service is created, its start fails.
        EXPECT_EQ(Run(c.install), 1603u) << c.install;

        Registered r = Lookup(c.service);
        ASSERT_TRUE(r.exists) << c.service;
        EXPECT_EQ(r.type, DWORD(SERVICE_KERNEL_DRIVER));
        EXPECT_EQ(r.start, DWORD(SERVICE_AUTO_START));
        EXPECT_EQ(r.errorControl, DWORD(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(r.binaryPath, c.image);
        EXPECT_EQ(r.displayName, c.display);

        const std::string messageFile =
            std::string("%SystemRoot%\\System32\\IoLogMsg.dll;") + c.image;
        StoredValue messages = ReadValue(EventLogKey(c.service), "EventMessageFile");
        ASSERT_EQ(messages.result, ERROR_SUCCESS) << c.service;
        EXPECT_EQ(messages.type, DWORD(REG_EXPAND_SZ));
        EXPECT_EQ(messages.bytes, messageFile + std::string(1, '\0'));
        StoredValue types = ReadValue(EventLogKey(c.service), "TypesSupported");
        ASSERT_EQ(types.result, ERROR_SUCCESS) << c.service;
        EXPECT_EQ(types.type, DWORD(REG_DWORD));
        EXPECT_EQ(types.bytes, std::string("\x07\0\0\0", 4));

        EXPECT_EQ(Run(c.uninstall), 0u) << c.uninstall;
        EXPECT_FALSE(Lookup(c.service).exists) << c.service << " removed";
        EXPECT_FALSE(KeyExists(EventLogKey(c.service))) << c.service << " event source removed";
    }
}

TEST_F(Services, DriverUninstallOfAnUnregisteredService) {
    EXPECT_EQ(Run("UninstallKappaSys"), 0u);
    EXPECT_FALSE(Lookup("kappa").exists);
    // Created on the way to its deletion, with its event source.
    EXPECT_TRUE(KeyExists(EventLogKey("kappa")));
}

// What Wine's service manager refuses, each action says in one line with
// the manager's code.
TEST_F(Services, ActionsThatFailSayWhy) {
    const auto create = [](const char* name, DWORD type, const std::string& program) {
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        SC_HANDLE service =
            manager ? CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, type,
                                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, program.c_str(),
                                     nullptr, nullptr, nullptr, nullptr, nullptr)
                    : nullptr;
        if (manager)
            CloseServiceHandle(manager);
        return service;
    };
    struct Case {
        const char* what;
        const char* action;
        std::function<SC_HANDLE()> arrange; // a handle the test holds while the action runs
        std::string line;                   // after "VantorCustomAction: "
    } cases[] = {
        {"no kernel driver loads here", "InstallKappaSys", [] { return SC_HANDLE(nullptr); },
         "Vantor Technology Kappa Driver (kappa) not installed: the start request was refused "
         "(error 1114)"},
        {"no kernel driver loads here", "InstallVantorSys", [] { return SC_HANDLE(nullptr); },
         "Vantor Technology Parallel Port Device Driver (vantor) not installed: the start request "
         "was refused (error 1114)"},
        {"the service's program is missing", "StartVantorAutoLauchService",
         [&create] {
             CloseServiceHandle(
                 create(kAutoLaunch, SERVICE_WIN32_OWN_PROCESS, "C:\\nowhere\\missing.exe"));
             return SC_HANDLE(nullptr);
         },
         "Vantor Auto Launch Service not started: the start request was refused (error 2)"},
        {"the service is marked for deletion already", "UninstallKappaSys",
         [&create] {
             Remove("kappa"); // the install above registered it
             SC_HANDLE held = create("kappa", SERVICE_KERNEL_DRIVER,
                                     "%SystemRoot%\\system32\\drivers\\kappa.sys");
             DeleteService(held);
             return held;
         },
         "Vantor Technology Kappa Driver (kappa) not removed: the service cannot be deleted "
         "(error 1072)"},
    };
    for (const Case& c : cases) {
        SC_HANDLE held = c.arrange();
        LogCapture log;
        EXPECT_EQ(Run(c.action), 1603u) << c.action << " (" << c.what << ")";
        if (held)
            CloseServiceHandle(held);
        ASSERT_FALSE(log.lines().empty()) << c.action << " (" << c.what << "): nothing logged";
        EXPECT_EQ(log.lines().back(), "VantorCustomAction: " + c.line)
            << c.action << " (" << c.what << ")";
    }
}

// A driver that runs already (a repair, or an earlier product's) is
// installed. Wine loads no kernel driver: a service of the driver's name that
// runs the fixture program stands in for one, as the action takes a service
// that exists as it finds it.
TEST_F(Services, ADriverThatRunsAlreadyIsInstalled) {
    const std::string program = "\"" + FixturePath("service_fixture.exe") + "\"";
    for (const char* install : {"InstallKappaSys", "InstallVantorSys"}) {
        const char* name = std::string(install) == "InstallKappaSys" ? "kappa" : "vantor";
        SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        SC_HANDLE service =
            CreateServiceA(manager, name, name, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                           SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, program.c_str(), nullptr,
                           nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr) << name << ": " << GetLastError();
        EXPECT_TRUE(StartServiceA(service, 0, nullptr)) << name << ": " << GetLastError();
        CloseServiceHandle(service);
        CloseServiceHandle(manager);
        for (int i = 0; i < 100 && State(name) != SERVICE_RUNNING; ++i)
            Sleep(50);
        ASSERT_EQ(State(name), DWORD(SERVICE_RUNNING)) << name;

        LogCapture log;
        EXPECT_EQ(Run(install), 0u) << install;
        EXPECT_TRUE(log.lines().empty()) << install << ": " << log.lines().back();
        EXPECT_EQ(State(name), DWORD(SERVICE_RUNNING)) << name;
    }
}

TEST_F(Services, AutoLaunchServiceIsStarted) {
    EXPECT_EQ(Run("StartVantorAutoLauchService"), 1603u) << "not installed";

    const std::string program = FixturePath("service_fixture.exe");
    ASSERT_TRUE(Exists(program)) << program;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    ASSERT_NE(manager, nullptr);
    SC_HANDLE service = CreateServiceA(manager, kAutoLaunch, kAutoLaunch, SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
                                       SERVICE_ERROR_NORMAL, ("\"" + program + "\"").c_str(),
                                       nullptr, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(service, nullptr) << GetLastError();
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    ASSERT_EQ(State(kAutoLaunch), DWORD(SERVICE_STOPPED));

    EXPECT_EQ(Run("StartVantorAutoLauchService"), 0u);
    DWORD state = State(kAutoLaunch);
    for (int i = 0; i < 100 && state != SERVICE_RUNNING; ++i, state = State(kAutoLaunch))
        Sleep(50);
    EXPECT_EQ(state, DWORD(SERVICE_RUNNING));

    // A repair finds it running: that is success.
    EXPECT_EQ(Run("StartVantorAutoLauchService"), 0u);
    EXPECT_EQ(State(kAutoLaunch), DWORD(SERVICE_RUNNING));
}

} // namespace
