// Control of the host stand-in, for tests: set the scene, make platform calls
// fail, and read the outcome. Never part of a deliverable.
//
// Every stand-in area (installer engine, registry, files, heap, ...) keeps its
// state in this process; host::Reset() returns all of it to a fresh machine.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace host {

// ---------------------------------------------------------------- everything
// A fresh machine: no properties, tables, keys, faults, open handles...
void Reset();

// ---------------------------------------------------------------- faults
// Every stand-in function counts itself as one platform call and asks
// ShouldFail(name) first; a call made to fail answers the failure its real
// counterpart gives (an error code, FALSE, NULL or INVALID_HANDLE_VALUE, with
// GetLastError set) and changes nothing.
//
// Fail the n-th call (1-based) of the given function, or every call when n is 0.
void FailCall(const std::string& api, int nth = 0, DWORD error = 0);
// Fail the k-th platform call of any kind (1-based), counted from now.
void FailNthCall(long k, DWORD error = 0);
// An allocation failure at the k-th platform call (1-based) of any kind,
// counted from now: that call throws std::bad_alloc before it does anything.
// A call that releases a handle or a heap block never throws (destructors
// make them); the next call that does not release throws instead.
void ThrowAtNthCall(long k);
// Platform calls made since the last Reset()/ResetCallCount().
long CallCount();
void ResetCallCount();
// Names of the calls made, in order (since the last reset of the count).
const std::vector<std::string>& CallLog();
// How many calls were made to fail.
long FaultsInjected();
void ClearFaults();

// Used by the stand-in itself: counts the call and answers whether it fails.
// When it fails, *error holds the code the test asked for (0: the default).
bool ShouldFail(const char* api, DWORD* error = nullptr);

// ---------------------------------------------------------------- engine
// An installation session. Its handle is what the engine passes to actions.
MSIHANDLE OpenSession();
void SetProperty(const std::string& name, const std::string& value);
std::optional<std::string> GetProperty(const std::string& name);
void RemoveProperty(const std::string& name);
const std::map<std::string, std::string>& Properties();

// Deferred mode: the engine answers only CustomActionData and ProductCode, as
// Windows does inside deferred actions; every other property reads as empty
// and cannot be set. Reads and writes of other names are recorded.
void SetDeferred(bool deferred);
const std::vector<std::string>& ForbiddenPropertyAccesses();

// The installation log: each INFO message after "[n]" template formatting.
const std::vector<std::string>& LogLines();

// Tables of the active database. Fields are text or integers; a null field is
// an empty text. keyColumns: how many leading columns form the primary key.
// Views take "SELECT * FROM t" or a list of columns ("SELECT `a`, `b` FROM t"),
// each with an optional "WHERE `c` = 'v'"; temporary rows go in through "*".
struct Field {
    bool isInteger = false;
    int integer = 0;
    std::string text;
    static Field Int(int v) { return Field{true, v, {}}; }
    static Field Text(std::string s) { return Field{false, 0, std::move(s)}; }
    bool operator==(const Field& o) const {
        return isInteger == o.isInteger && integer == o.integer && text == o.text;
    }
};
using Row = std::vector<Field>;
void AddTable(const std::string& name, const std::vector<std::string>& columns, int keyColumns = 1);
void AddRow(const std::string& table, const Row& row);
bool HasTable(const std::string& name);
struct TableRow {
    Row fields;
    bool temporary = false;
};
std::vector<TableRow> TableRows(const std::string& table);

// Features: installed state and the state requested by actions.
void AddFeature(const std::string& name, INSTALLSTATE installed = INSTALLSTATE_ABSENT,
                INSTALLSTATE action = INSTALLSTATE_UNKNOWN);
std::optional<INSTALLSTATE> FeatureRequest(const std::string& name);
std::optional<int> InstallLevel();

// Products registered under an upgrade code, as the engine reports them.
void AddRelatedProduct(const std::string& upgradeCode, const std::string& productCode);

// Installer handles (sessions excluded) that are still open.
int OpenMsiHandles();

// Products of this machine, for MsiQueryProductStateA (the state given;
// unknown ones -1) and MsiGetProductInfoA("VersionString", answered for an
// installed product, INSTALLSTATE_DEFAULT; 1605 for any other).
void AddProduct(const std::string& productCode, const std::string& version,
                INSTALLSTATE state = INSTALLSTATE_DEFAULT);
void RemoveProduct(const std::string& productCode);
// Messages of type INSTALLMESSAGE_ERROR, formatted as the INFO ones are; they
// do not go to LogLines().
const std::vector<std::string>& ErrorMessages();

// ---------------------------------------------------------------- registry
// HKEY_LOCAL_MACHINE, with the keys "SOFTWARE" and "SYSTEM" always present.
// Paths use "\\" and are case-insensitive, as on Windows.
struct RegValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
    std::string Text() const; // data up to its first NUL
};
bool KeyExists(const std::string& path);
void CreateKey(const std::string& path);
std::optional<RegValue> GetRegValue(const std::string& path, const std::string& name);
void SetRegValue(const std::string& path, const std::string& name, DWORD type,
                 const std::vector<BYTE>& data);
void SetRegString(const std::string& path, const std::string& name, const std::string& text);
// Subkey names directly under path.
std::vector<std::string> SubKeys(const std::string& path);
int OpenRegistryKeys();

// ---------------------------------------------------------------- files
// Files are real files of the host; paths given to the platform functions may
// use "\\", which stands for "/". A temporary folder for one test:
std::string MakeTempDir();                        // host path, ends without "/"
std::string WinPath(const std::string& hostPath); // "/x/y" -> "C:\\x\\y"
std::string ReadHostFile(const std::string& hostPath);
void WriteHostFile(const std::string& hostPath, const std::string& data);
bool FileExists(const std::string& hostPath); // follows links
// Links, as Windows has them. PlantLink makes a symbolic link (a junction
// when the target is a folder) at linkHostPath: opened with
// FILE_FLAG_OPEN_REPARSE_POINT it shows FILE_ATTRIBUTE_REPARSE_POINT and a
// new file cannot be made at its name; otherwise CreateFileA and CopyFileA
// follow it to its target, existing or not. DeleteFileA removes the link
// and leaves its target. PlantHardLink gives an existing file a second name;
// GetFileInformationByHandle then counts 2 links.
void PlantLink(const std::string& linkHostPath, const std::string& targetHostPath);
void PlantHardLink(const std::string& linkHostPath, const std::string& existingHostPath);
bool IsLink(const std::string& hostPath);
// Windows file times, which the host has no creation time for: the stand-in
// keeps one per file (a file without one reports its modification time).
void SetCreationTime(const std::string& hostPath, std::uint64_t fileTime);
std::uint64_t CreationTime(const std::string& hostPath);
std::uint64_t LastWriteTime(const std::string& hostPath);
std::uint64_t LastAccessTime(const std::string& hostPath);
// Files another process holds open without sharing: opening them answers 32.
void LockFile(const std::string& hostPath, bool locked = true);
// Read-only files (root ignores the host's own permission bits): opening them
// for writing, replacing or deleting them answers 5.
void SetReadOnly(const std::string& hostPath, bool readOnly = true);
// Pretend the disk is full after this many more bytes written (-1: never).
void SetDiskSpace(long long bytes);
int OpenFileHandles();

// ---------------------------------------------------------------- heap
// Heap blocks from HeapAlloc not yet freed.
int OpenHeapBlocks();

// ---------------------------------------------------------------- handles
// All handles of every area still open: the sum of the counters above.
int OpenHandles();

// ---------------------------------------------------------------- call log
// The call log grows with every platform call. Programs that make millions of
// them (the patch benchmark, the record tool on big files) turn it off; the
// call count and fault injection go on. Reset() turns it back on.
void KeepCallLog(bool keep);

// ---------------------------------------------------------------- services
// The service control manager. A service is stopped until started; a start
// runs it at once, unless a start refusal is set. Tests may script what
// QueryServiceStatus and ControlService report: each answer takes the next
// status of the script, and the last one stays.
struct ServiceInfo {
    std::string name;
    std::string displayName;
    std::string binaryPath;
    DWORD type = SERVICE_WIN32_OWN_PROCESS;
    DWORD startType = SERVICE_DEMAND_START;
    DWORD errorControl = SERVICE_ERROR_NORMAL;
    DWORD createAccess = 0;          // access asked by CreateServiceA (0: added by a test)
    bool createOptionalsNull = true; // group, tag, dependencies, account, password
    DWORD state = SERVICE_STOPPED;   // the service's own state, scripts aside
    bool markedForDelete = false;
    int startRequests = 0; // StartServiceA calls, accepted or not
    int stopControls = 0;  // SERVICE_CONTROL_STOP sent, accepted or not
};
void AddService(const std::string& name, DWORD type = SERVICE_WIN32_OWN_PROCESS,
                DWORD state = SERVICE_STOPPED);
// Registered services only: a deleted one is gone once no handle holds it.
std::optional<ServiceInfo> GetService(const std::string& name);
// A service object even after deletion (the last one of that name).
std::optional<ServiceInfo> LastService(const std::string& name);
SERVICE_STATUS Status(DWORD state, DWORD checkPoint = 0, DWORD waitHint = 0);
void ScriptServiceStatus(const std::string& name, const std::vector<SERVICE_STATUS>& statuses);
// StartServiceA / ControlService refuse with this code (0: accept).
void RefuseServiceStart(const std::string& name, DWORD error);
void RefuseServiceControl(const std::string& name, DWORD error);
// Every OpenSCManagerA call, and every OpenServiceA call.
struct ManagerOpen {
    std::optional<std::string> machine;
    std::optional<std::string> database;
    DWORD access = 0;
};
const std::vector<ManagerOpen>& ManagerOpens();
struct ServiceOpen {
    std::string name;
    DWORD access = 0;
};
const std::vector<ServiceOpen>& ServiceOpens();
int OpenServiceHandles(); // manager and service handles

// ---------------------------------------------------------------- clock
// Virtual time: Sleep advances it by its argument and returns at once;
// GetTickCount answers it, then advances it by the tick step (default 0).
void SetTickCount(DWORD now);
void SetTickStep(DWORD milliseconds);
// Every Sleep's argument, in order.
const std::vector<DWORD>& Sleeps();
std::uint64_t SleptMilliseconds();

// ---------------------------------------------------------------- processes
// CreateProcessA starts nothing: it records the call and succeeds when the
// program (the application name, or else the command line's first token)
// names an existing file and the current directory, when given, a folder.
// The process has already exited with the exit code set here (default 0).
struct Launch {
    std::optional<std::string> applicationName;
    std::string commandLine;
    bool inheritHandles = false;
    DWORD creationFlags = 0;
    bool environmentNull = true;
    bool currentDirectoryNull = true;
    std::optional<std::string> currentDirectory; // as given; a missing folder fails with 267
    DWORD startupInfoSize = 0;
    DWORD startupFlags = 0;
};
void SetExitCode(DWORD exitCode);
const std::vector<Launch>& Launches();
int OpenProcessHandles(); // process and thread handles

} // namespace host
