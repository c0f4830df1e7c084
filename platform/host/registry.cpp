// HKEY_LOCAL_MACHINE as a tree in memory, answering Windows' codes.
#include "platform/host/internal.h"

#include <cstring>
#include <memory>
#include <set>

namespace host {

namespace {

struct Key {
    std::string name;
    std::map<std::string, std::unique_ptr<Key>> subkeys;            // by lower-case name
    std::map<std::string, std::pair<std::string, RegValue>> values; // by lower-case name
};

struct OpenKey {
    std::string path;
};

struct Registry {
    Key root;
    std::set<OpenKey*> open;
};

Registry& R() {
    static Registry registry;
    return registry;
}

void ResetRegistry() {
    for (OpenKey* key : R().open)
        delete key;
    R().open.clear();
    R().root = Key{};
    // Keys that Windows always has and never lets anyone delete.
    for (const char* name : {"SOFTWARE", "SYSTEM"}) {
        auto key = std::make_unique<Key>();
        key->name = name;
        R().root.subkeys[Lower(name)] = std::move(key);
    }
}

struct Init {
    Init() { ResetRegistry(); }
} init;

Area area("registry", ResetRegistry, [] { return int(R().open.size()); });

std::vector<std::string> Split(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c == '\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

Key* Walk(const std::string& path, bool create) {
    Key* key = &R().root;
    for (const std::string& part : Split(path)) {
        auto it = key->subkeys.find(Lower(part));
        if (it == key->subkeys.end()) {
            if (!create)
                return nullptr;
            auto sub = std::make_unique<Key>();
            sub->name = part;
            it = key->subkeys.emplace(Lower(part), std::move(sub)).first;
        }
        key = it->second.get();
    }
    return key;
}

// The full path below HKEY_LOCAL_MACHINE that a handle and a subkey name.
bool Resolve(HKEY hKey, LPCSTR subKey, std::string* path) {
    std::string base;
    if (hKey == HKEY_LOCAL_MACHINE) {
        base.clear();
    } else {
        OpenKey* open = reinterpret_cast<OpenKey*>(hKey);
        if (!R().open.count(open))
            return false;
        base = open->path;
    }
    *path = base;
    if (subKey && *subKey)
        *path += (base.empty() ? "" : "\\") + std::string(subKey);
    return true;
}

HKEY NewOpenKey(const std::string& path) {
    OpenKey* key = new OpenKey{path};
    R().open.insert(key);
    return reinterpret_cast<HKEY>(key);
}

} // namespace

std::string RegValue::Text() const {
    std::string text(data.begin(), data.end());
    return text.substr(0, text.find('\0'));
}

bool KeyExists(const std::string& path) {
    return Walk(path, false) != nullptr;
}

void CreateKey(const std::string& path) {
    Walk(path, true);
}

std::optional<RegValue> GetRegValue(const std::string& path, const std::string& name) {
    Key* key = Walk(path, false);
    if (!key)
        return std::nullopt;
    auto it = key->values.find(Lower(name));
    if (it == key->values.end())
        return std::nullopt;
    return it->second.second;
}

void SetRegValue(const std::string& path, const std::string& name, DWORD type,
                 const std::vector<BYTE>& data) {
    Walk(path, true)->values[Lower(name)] = {name, RegValue{type, data}};
}

void SetRegString(const std::string& path, const std::string& name, const std::string& text) {
    std::vector<BYTE> data(text.begin(), text.end());
    data.push_back(0);
    SetRegValue(path, name, REG_SZ, data);
}

std::vector<std::string> SubKeys(const std::string& path) {
    std::vector<std::string> names;
    if (Key* key = Walk(path, false)) {
        for (const auto& entry : key->subkeys)
            names.push_back(entry.second->name);
    }
    return names;
}

int OpenRegistryKeys() {
    return int(R().open.size());
}

} // namespace host

using namespace host;

extern "C" LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM,
                                        PHKEY phkResult) {
    DWORD error = 0;
    if (ShouldFail("RegOpenKeyExA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(hKey, lpSubKey, &path))
        return ERROR_INVALID_HANDLE;
    if (!Walk(path, false))
        return ERROR_FILE_NOT_FOUND;
    *phkResult = NewOpenKey(path);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD, REGSAM,
                                          const LPSECURITY_ATTRIBUTES, PHKEY phkResult,
                                          LPDWORD lpdwDisposition) {
    DWORD error = 0;
    if (ShouldFail("RegCreateKeyExA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(hKey, lpSubKey, &path))
        return ERROR_INVALID_HANDLE;
    const bool existed = Walk(path, false) != nullptr;
    Walk(path, true);
    if (lpdwDisposition)
        *lpdwDisposition = existed ? 2 : 1; // REG_OPENED_EXISTING_KEY : REG_CREATED_NEW_KEY
    *phkResult = NewOpenKey(path);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCreateKeyA(HKEY hKey, LPCSTR lpSubKey, PHKEY phkResult) {
    DWORD error = 0;
    if (ShouldFail("RegCreateKeyA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    if (!phkResult)
        return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(hKey, lpSubKey, &path))
        return ERROR_INVALID_HANDLE;
    Walk(path, true);
    *phkResult = NewOpenKey(path);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) {
    DWORD error = 0;
    if (ShouldFail("RegQueryValueExA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    std::string path;
    if (!Resolve(hKey, nullptr, &path))
        return ERROR_INVALID_HANDLE;
    if (lpData && !lpcbData)
        return ERROR_INVALID_PARAMETER;
    std::optional<RegValue> value = GetRegValue(path, lpValueName ? lpValueName : "");
    if (!value)
        return ERROR_FILE_NOT_FOUND;
    if (lpType)
        *lpType = value->type;
    const DWORD size = DWORD(value->data.size());
    if (!lpData) {
        if (lpcbData)
            *lpcbData = size;
        return ERROR_SUCCESS;
    }
    if (*lpcbData < size) {
        *lpcbData = size;
        return ERROR_MORE_DATA;
    }
    if (size)
        std::memcpy(lpData, value->data.data(), size);
    *lpcbData = size;
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                         const BYTE* lpData, DWORD cbData) {
    DWORD error = 0;
    if (ShouldFail("RegSetValueExA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    std::string path;
    if (!Resolve(hKey, nullptr, &path) || hKey == HKEY_LOCAL_MACHINE)
        return ERROR_INVALID_HANDLE;
    if (!lpData && cbData)
        return ERROR_INVALID_PARAMETER;
    std::vector<BYTE> data(lpData, lpData + cbData);
    SetRegValue(path, lpValueName ? lpValueName : "", dwType, data);
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) {
    DWORD error = 0;
    if (ShouldFail("RegDeleteKeyA", &error))
        return LSTATUS(FaultError(error, ERROR_ACCESS_DENIED));
    if (!lpSubKey)
        return ERROR_INVALID_PARAMETER;
    std::string path;
    if (!Resolve(hKey, lpSubKey, &path))
        return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts = Split(path);
    // HKEY_LOCAL_MACHINE itself and its top-level keys cannot be deleted.
    if (parts.size() <= 1)
        return Walk(path, false) ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
    Key* key = Walk(path, false);
    if (!key)
        return ERROR_FILE_NOT_FOUND;
    if (!key->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    std::string parent;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i)
        parent += (i ? "\\" : "") + parts[i];
    Walk(parent, false)->subkeys.erase(Lower(parts.back()));
    return ERROR_SUCCESS;
}

extern "C" LSTATUS WINAPI RegCloseKey(HKEY hKey) {
    ShouldFail("RegCloseKey"); // counted, never made to fail
    if (hKey == HKEY_LOCAL_MACHINE)
        return ERROR_SUCCESS;
    OpenKey* open = reinterpret_cast<OpenKey*>(hKey);
    if (!R().open.erase(open))
        return ERROR_INVALID_HANDLE;
    delete open;
    return ERROR_SUCCESS;
}
