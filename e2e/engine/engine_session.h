// What the engine tests need to drive a custom action as the installer does:
// a real installer session on the demo package, the delivered DLL loaded by
// its file name, the action called by its plain export name with the
// session's handle, and plain registry reads to see what the action left.
//
// The program reads two environment variables (Windows paths):
//   VANTOR_DIST     folder of the delivered DLLs of this bitness
//   VANTOR_PACKAGE  the demo package built for this bitness
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace engine {

// The value of an environment variable, "" when it is not set.
std::string Env(const char* name);

// One installer session on the demo package. The handle is closed with the
// session; actions never close it.
class Session {
  public:
    Session();
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Zero when the package could not be opened; openResult says why.
    MSIHANDLE handle() const { return handle_; }
    UINT openResult() const { return openResult_; }

    UINT Set(const char* name, const std::string& value);
    std::string Get(const char* name);
    UINT DoAction(const char* action);

  private:
    MSIHANDLE handle_ = 0;
    UINT openResult_ = ERROR_SUCCESS;
};

// One of the delivered DLLs, loaded from VANTOR_DIST for the life of the object.
class ActionLibrary {
  public:
    explicit ActionLibrary(const char* fileName);
    ~ActionLibrary();
    ActionLibrary(const ActionLibrary&) = delete;
    ActionLibrary& operator=(const ActionLibrary&) = delete;

    bool loaded() const { return module_ != nullptr; }
    const std::string& path() const { return path_; }
    bool Exports(const char* action) const;

    // Calls the export as the engine does, on a thread of its own:
    // MsiCloseAllHandles in an action closes every handle of the calling
    // thread, and the test's thread holds the session. Answers the action's
    // result, or ~0u when the export is missing.
    UINT Call(const char* action, MSIHANDLE installation) const;

  private:
    std::string path_;
    HMODULE module_ = nullptr;
};

// A registry value as stored: its type and its raw bytes.
struct StoredValue {
    LONG result = ERROR_FILE_NOT_FOUND; // of the query; the rest is valid on 0
    DWORD type = REG_NONE;
    std::string bytes;
};

// All paths below HKEY_LOCAL_MACHINE, in the process's default view: the
// same view the actions write through.
bool KeyExists(const std::string& path);
StoredValue ReadValue(const std::string& path, const char* name);
LONG CreateKey(const std::string& path);
LONG WriteString(const std::string& path, const char* name, const std::string& value);
LONG DeleteTree(const std::string& path);

// The installation log's INFO messages, as the engine formats them
// ("VantorCustomAction: ..."), for as long as the object lives: an external
// UI handler that takes only those. One at a time.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    const std::vector<std::string>& lines() const { return lines_; }
    void clear() { lines_.clear(); }

  private:
    static int WINAPI Handler(LPVOID context, UINT type, LPCSTR message);

    std::vector<std::string> lines_;
    INSTALLUI_HANDLERA previous_ = nullptr;
};

} // namespace engine
