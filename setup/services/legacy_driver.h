// Legacy (not plug-and-play) kernel drivers, installed as kernel driver
// services of their own with an event-log source each.
#pragma once

#include "common/handles.h"
#include "platform/platform.h"

#include <memory>
#include <string>

namespace vantor {

class LegacyDriverInstall {
  public:
    // The texts are the library's constants; the object only points at them.
    LegacyDriverInstall(LPCSTR imagePath, LPCSTR serviceName, LPCSTR displayName)
        : imagePath_(imagePath), serviceName_(serviceName), displayName_(displayName) {}

    // True when the service ends up running; a service not yet registered is
    // registered first.
    bool Install() { return StartDriver(); }
    // True when the platform accepted the deletion.
    bool Uninstall() { return DeleteDriverService(); }

    // Why the last operation answered no, with the platform's code, for the
    // log: "the start request was refused (error 1058)".
    const std::string& Why() const { return why_; }
    LPCSTR ServiceName() const { return serviceName_; }
    LPCSTR DisplayName() const { return displayName_; }

  private:
    enum class StopWait { Stopped, GaveUp, LeftPending };

    bool StartDriver();
    bool StopDriver();
    StopWait WaitForStop(SC_HANDLE service, DWORD since, bool onlyWhilePending);
    bool DeleteDriverService();
    bool CreateDriverService();
    // The held service handle, opening or else creating the service on the
    // first need; null when neither works.
    SC_HANDLE OpenOrCreateService();
    LONG AddEventLogSource();
    void RemoveEventLogSource();
    bool OpenManager();
    bool Query(SC_HANDLE service);
    void Failed(const char* what, DWORD error);

    LPCSTR imagePath_;
    LPCSTR serviceName_;
    LPCSTR displayName_;
    // Members end in reverse order: the manager is closed first, then the service.
    ScHandle serviceHandle_;
    ScHandle scmHandle_;
    SERVICE_STATUS status_{};
    std::string why_;
};

std::unique_ptr<LegacyDriverInstall> MakeKappaDriver();
std::unique_ptr<LegacyDriverInstall> MakeVantorDriver();

} // namespace vantor
