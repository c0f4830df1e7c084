#include "engine_session.h"

#include <cstdlib>
#include <vector>

namespace engine {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

Session::Session() {
    MsiSetInternalUI(INSTALLUILEVEL_NONE, nullptr);
    openResult_ = MsiOpenPackageA(Env("VANTOR_PACKAGE").c_str(), &handle_);
    if (openResult_ != ERROR_SUCCESS)
        handle_ = 0;
}

Session::~Session() {
    if (handle_)
        MsiCloseHandle(handle_);
}

UINT Session::Set(const char* name, const std::string& value) {
    return MsiSetPropertyA(handle_, name, value.c_str());
}

std::string Session::Get(const char* name) {
    char empty[1] = "";
    DWORD size = 0;
    UINT result = MsiGetPropertyA(handle_, name, empty, &size);
    if (result != ERROR_MORE_DATA)
        return "";
    std::vector<char> buffer(size + 1);
    size = static_cast<DWORD>(buffer.size());
    if (MsiGetPropertyA(handle_, name, buffer.data(), &size) != ERROR_SUCCESS)
        return "";
    return std::string(buffer.data(), size);
}

UINT Session::DoAction(const char* action) {
    return MsiDoActionA(handle_, action);
}

ActionLibrary::ActionLibrary(const char* fileName) : path_(Env("VANTOR_DIST") + "\\" + fileName) {
    module_ = LoadLibraryA(path_.c_str());
}

ActionLibrary::~ActionLibrary() {
    if (module_)
        FreeLibrary(module_);
}

namespace {

using CustomAction = UINT(WINAPI*)(MSIHANDLE);

struct Call {
    CustomAction action;
    MSIHANDLE installation;
    UINT result;
};

DWORD WINAPI RunCall(LPVOID parameter) {
    Call* call = static_cast<Call*>(parameter);
    call->result = call->action(call->installation);
    return 0;
}

CustomAction Find(HMODULE module, const char* action) {
    if (!module)
        return nullptr;
    return reinterpret_cast<CustomAction>(reinterpret_cast<void*>(GetProcAddress(module, action)));
}

} // namespace

bool ActionLibrary::Exports(const char* action) const {
    return Find(module_, action) != nullptr;
}

UINT ActionLibrary::Call(const char* action, MSIHANDLE installation) const {
    engine::Call call{Find(module_, action), installation, ~0u};
    if (!call.action)
        return ~0u;
    HANDLE thread = CreateThread(nullptr, 0, RunCall, &call, 0, nullptr);
    if (!thread)
        return ~0u;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return call.result;
}

bool KeyExists(const std::string& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

StoredValue ReadValue(const std::string& path, const char* name) {
    StoredValue stored;
    HKEY key = nullptr;
    stored.result = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_QUERY_VALUE, &key);
    if (stored.result != ERROR_SUCCESS)
        return stored;
    DWORD size = 0;
    stored.result = RegQueryValueExA(key, name, nullptr, &stored.type, nullptr, &size);
    if (stored.result == ERROR_SUCCESS) {
        std::vector<BYTE> data(size + 1);
        stored.result = RegQueryValueExA(key, name, nullptr, &stored.type, data.data(), &size);
        stored.bytes.assign(reinterpret_cast<const char*>(data.data()), size);
    }
    RegCloseKey(key);
    return stored;
}

LONG CreateKey(const std::string& path) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result == ERROR_SUCCESS)
        RegCloseKey(key);
    return result;
}

LONG WriteString(const std::string& path, const char* name, const std::string& value) {
    HKEY key = nullptr;
    LONG result = RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
    return result;
}

LONG DeleteTree(const std::string& path) {
    return RegDeleteTreeA(HKEY_LOCAL_MACHINE, path.c_str());
}

LogCapture::LogCapture() {
    previous_ = MsiSetExternalUIA(Handler, INSTALLLOGMODE_INFO, this);
}

LogCapture::~LogCapture() {
    MsiSetExternalUIA(previous_, 0, nullptr);
}

// Called on the action's thread; the test reads the lines only after that
// thread has ended.
int WINAPI LogCapture::Handler(LPVOID context, UINT type, LPCSTR message) {
    if ((type & 0xFF000000u) == INSTALLMESSAGE_INFO && message)
        static_cast<LogCapture*>(context)->lines_.push_back(message);
    return 0; // not handled: the engine goes on as without a handler
}

} // namespace engine
