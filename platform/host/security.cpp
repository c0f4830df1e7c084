// Security: owners and access lists of files and folders, account names,
// and the process token, in the binary forms Windows hands out (a
// self-relative security descriptor in one LocalFree block, SIDs and ACLs
// read in place).
#include "platform/host/internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace host {

namespace {

constexpr char kSystem[] = "S-1-5-18";
constexpr char kAdministrators[] = "S-1-5-32-544";
constexpr char kUsers[] = "S-1-5-32-545";

struct Account {
    std::string domain;
    std::string name;
    SID_NAME_USE use = SidTypeUser;
};

struct SecurityState {
    std::map<std::string, Security> descriptors; // by canonical host path
    std::string processUser = kSystem;
    std::map<std::string, Account> accounts; // by SID text
};

std::map<std::string, Account> WellKnownAccounts() {
    return {
        {"S-1-1-0", {"", "Everyone", SidTypeWellKnownGroup}},
        {"S-1-3-0", {"", "CREATOR OWNER", SidTypeWellKnownGroup}},
        {"S-1-3-1", {"", "CREATOR GROUP", SidTypeWellKnownGroup}},
        {"S-1-5-11", {"NT AUTHORITY", "Authenticated Users", SidTypeWellKnownGroup}},
        {kSystem, {"NT AUTHORITY", "SYSTEM", SidTypeWellKnownGroup}},
        {kAdministrators, {"BUILTIN", "Administrators", SidTypeAlias}},
        {kUsers, {"BUILTIN", "Users", SidTypeAlias}},
        {"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464",
         {"NT SERVICE", "TrustedInstaller", SidTypeWellKnownGroup}},
    };
}

SecurityState& S() {
    static SecurityState state{{}, kSystem, WellKnownAccounts()};
    return state;
}

Area area(
    "security",
    [] {
        S() = SecurityState{{}, kSystem, WellKnownAccounts()};
    },
    [] { return OpenKernelHandles("token"); });

struct TokenObject : KernelObject {
    DWORD access = 0;
    const char* Kind() const override { return "token"; }
};

constexpr int kMaxSubAuthorities = 15;
constexpr WORD kSelfRelative = 0x8000; // SE_SELF_RELATIVE
constexpr WORD kDaclPresent = 0x0004;  // SE_DACL_PRESENT

// "S-1-<authority>-<sub>...": the binary SID (revision, count, 48-bit
// authority big-endian, sub-authorities), or empty when the text is not one.
std::vector<BYTE> ParseSid(const std::string& text) {
    std::vector<unsigned long long> parts;
    if (text.compare(0, 4, "S-1-") != 0)
        return {};
    const char* at = text.c_str() + 4;
    while (true) {
        char* end = nullptr;
        parts.push_back(std::strtoull(at, &end, 0));
        if (end == at)
            return {};
        if (!*end)
            break;
        if (*end != '-')
            return {};
        at = end + 1;
    }
    if (parts.size() > kMaxSubAuthorities + 1 || parts[0] >= (1ull << 48))
        return {};
    std::vector<BYTE> sid(8 + 4 * (parts.size() - 1));
    sid[0] = SID_REVISION;
    sid[1] = BYTE(parts.size() - 1);
    for (int i = 0; i < 6; ++i)
        sid[2 + i] = BYTE(parts[0] >> (8 * (5 - i)));
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i] > 0xFFFFFFFFull)
            return {};
        const DWORD sub = DWORD(parts[i]);
        std::memcpy(&sid[8 + 4 * (i - 1)], &sub, 4);
    }
    return sid;
}

bool ValidSid(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    return bytes && bytes[0] == SID_REVISION && bytes[1] <= kMaxSubAuthorities;
}

std::size_t SidLength(const void* sid) {
    return 8 + 4 * std::size_t(static_cast<const BYTE*>(sid)[1]);
}

std::string SidText(const void* sid) {
    const BYTE* bytes = static_cast<const BYTE*>(sid);
    unsigned long long authority = 0;
    for (int i = 0; i < 6; ++i)
        authority = (authority << 8) | bytes[2 + i];
    char part[32];
    // Windows writes an authority above 32 bits in hexadecimal.
    std::snprintf(part, sizeof part, authority >> 32 ? "S-1-0x%012llX" : "S-1-%llu", authority);
    std::string text = part;
    for (int i = 0; i < bytes[1]; ++i) {
        DWORD sub;
        std::memcpy(&sub, bytes + 8 + 4 * i, 4);
        text += "-" + std::to_string(sub);
    }
    return text;
}

bool IsFolder(const std::string& hostPath) {
    std::error_code ignored;
    return std::filesystem::is_directory(hostPath, ignored);
}

// Writes the object's descriptor as one self-relative block and points the
// requested outputs into it.
DWORD Describe(const std::string& key, bool folder, SECURITY_INFORMATION info, PSID* ppsidOwner,
               PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
               PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    if ((ppsidOwner || ppsidGroup || ppDacl || ppSacl) && !ppSecurityDescriptor)
        return ERROR_INVALID_PARAMETER;
    auto stored = S().descriptors.find(key);
    Security security = stored != S().descriptors.end() ? stored->second : DefaultSecurity();
    if (stored == S().descriptors.end() && folder)
        for (Ace& ace : *security.dacl)
            ace.flags |= OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE;

    std::vector<BYTE> owner;
    if ((info & OWNER_SECURITY_INFORMATION) && !security.owner.empty())
        owner = ParseSid(security.owner);
    std::vector<BYTE> acl;
    const bool wantsDacl = (info & DACL_SECURITY_INFORMATION) != 0;
    if (wantsDacl && security.dacl) {
        acl.resize(sizeof(ACL));
        for (const Ace& ace : *security.dacl) {
            const std::vector<BYTE> sid = ParseSid(ace.sid);
            ACCESS_ALLOWED_ACE entry{};
            entry.Header.AceType = ace.type;
            entry.Header.AceFlags = ace.flags;
            entry.Header.AceSize = WORD(offsetof(ACCESS_ALLOWED_ACE, SidStart) + sid.size());
            entry.Mask = ace.mask;
            const std::size_t at = acl.size();
            acl.resize(at + entry.Header.AceSize);
            std::memcpy(&acl[at], &entry, offsetof(ACCESS_ALLOWED_ACE, SidStart));
            std::memcpy(&acl[at + offsetof(ACCESS_ALLOWED_ACE, SidStart)], sid.data(), sid.size());
        }
        ACL header{};
        header.AclRevision = ACL_REVISION;
        header.AclSize = WORD(acl.size());
        header.AceCount = WORD(security.dacl->size());
        std::memcpy(acl.data(), &header, sizeof header);
    }

    // SECURITY_DESCRIPTOR_RELATIVE: revision, padding, control, then the
    // offsets of owner, group, SACL and DACL (0: none).
    constexpr std::size_t kHeader = 20;
    BYTE* block = static_cast<BYTE*>(LocalBlock(kHeader + owner.size() + acl.size()));
    const WORD control = WORD(kSelfRelative | (wantsDacl ? kDaclPresent : 0));
    const DWORD ownerAt = owner.empty() ? 0 : DWORD(kHeader);
    const DWORD daclAt = acl.empty() ? 0 : DWORD(kHeader + owner.size());
    block[0] = 1;
    std::memcpy(block + 2, &control, 2);
    std::memcpy(block + 4, &ownerAt, 4);
    std::memcpy(block + 16, &daclAt, 4);
    if (ownerAt)
        std::memcpy(block + ownerAt, owner.data(), owner.size());
    if (daclAt)
        std::memcpy(block + daclAt, acl.data(), acl.size());

    if (ppsidOwner)
        *ppsidOwner = ownerAt ? block + ownerAt : nullptr;
    if (ppsidGroup)
        *ppsidGroup = nullptr;
    if (ppDacl)
        *ppDacl = daclAt ? reinterpret_cast<PACL>(block + daclAt) : nullptr;
    if (ppSacl)
        *ppSacl = nullptr;
    *ppSecurityDescriptor = block;
    return ERROR_SUCCESS;
}

} // namespace

void SetSecurity(const std::string& hostPath, const Security& security) {
    S().descriptors[CanonicalPath(hostPath)] = security;
}

Security DefaultSecurity() {
    Security security;
    security.owner = kAdministrators;
    security.dacl = std::vector<Ace>{
        {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, kSystem},
        {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_ALL_ACCESS, kAdministrators},
        {ACCESS_ALLOWED_ACE_TYPE, 0, FILE_GENERIC_READ | FILE_GENERIC_EXECUTE, kUsers},
    };
    return security;
}

void SetProcessUser(const std::string& sid) {
    S().processUser = sid;
}

void AddAccount(const std::string& sid, const std::string& domain, const std::string& name) {
    S().accounts[sid] = Account{domain, name, SidTypeUser};
}

} // namespace host

using namespace host;

extern "C" DWORD WINAPI GetSecurityInfo(HANDLE handle, SE_OBJECT_TYPE ObjectType,
                                        SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                                        PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                        PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    DWORD error = 0;
    if (ShouldFail("GetSecurityInfo", &error))
        return FaultError(error, ERROR_ACCESS_DENIED);
    if (ObjectType != SE_FILE_OBJECT)
        return ERROR_INVALID_PARAMETER;
    std::string path;
    DWORD access = 0;
    if (!OpenFileOf(handle, &path, &access))
        return ERROR_INVALID_HANDLE;
    // Reading a descriptor takes READ_CONTROL, which the generic read right
    // of files includes.
    if (!(access & (READ_CONTROL | GENERIC_READ | GENERIC_ALL)))
        return ERROR_ACCESS_DENIED;
    return Describe(path, IsFolder(path), SecurityInfo, ppsidOwner, ppsidGroup, ppDacl, ppSacl,
                    ppSecurityDescriptor);
}

extern "C" DWORD WINAPI GetNamedSecurityInfoA(LPCSTR pObjectName, SE_OBJECT_TYPE ObjectType,
                                              SECURITY_INFORMATION SecurityInfo, PSID* ppsidOwner,
                                              PSID* ppsidGroup, PACL* ppDacl, PACL* ppSacl,
                                              PSECURITY_DESCRIPTOR* ppSecurityDescriptor) {
    DWORD error = 0;
    if (ShouldFail("GetNamedSecurityInfoA", &error))
        return FaultError(error, ERROR_ACCESS_DENIED);
    if (!pObjectName || ObjectType != SE_FILE_OBJECT)
        return ERROR_INVALID_PARAMETER;
    const std::string path = HostPath(pObjectName);
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        const std::filesystem::path parent =
            std::filesystem::path(CanonicalPath(path)).parent_path();
        return std::filesystem::is_directory(parent, ignored) ? ERROR_FILE_NOT_FOUND
                                                              : ERROR_PATH_NOT_FOUND;
    }
    return Describe(CanonicalPath(path), IsFolder(path), SecurityInfo, ppsidOwner, ppsidGroup,
                    ppDacl, ppSacl, ppSecurityDescriptor);
}

extern "C" BOOL WINAPI GetAce(PACL pAcl, DWORD dwAceIndex, LPVOID* pAce) {
    DWORD error = 0;
    if (ShouldFail("GetAce", &error) || !pAcl || !pAce || dwAceIndex >= pAcl->AceCount) {
        SetLastError(FaultError(error, ERROR_INVALID_PARAMETER));
        return FALSE;
    }
    BYTE* at = reinterpret_cast<BYTE*>(pAcl) + sizeof(ACL);
    for (DWORD i = 0; i < dwAceIndex; ++i)
        at += reinterpret_cast<ACE_HEADER*>(at)->AceSize;
    *pAce = at;
    return TRUE;
}

extern "C" BOOL WINAPI IsValidSid(PSID pSid) {
    if (ShouldFail("IsValidSid"))
        return FALSE;
    return ValidSid(pSid);
}

extern "C" BOOL WINAPI EqualSid(PSID pSid1, PSID pSid2) {
    if (ShouldFail("EqualSid") || !ValidSid(pSid1) || !ValidSid(pSid2))
        return FALSE;
    return SidLength(pSid1) == SidLength(pSid2) && std::memcmp(pSid1, pSid2, SidLength(pSid1)) == 0;
}

// Names in buffers too small (or none) answer 122 with both sizes needed,
// terminators included; on success the sizes are the lengths written.
extern "C" BOOL WINAPI LookupAccountSidA(LPCSTR lpSystemName, PSID Sid, LPSTR Name, LPDWORD cchName,
                                         LPSTR ReferencedDomainName,
                                         LPDWORD cchReferencedDomainName, PSID_NAME_USE peUse) {
    DWORD error = 0;
    if (ShouldFail("LookupAccountSidA", &error)) {
        SetLastError(FaultError(error, ERROR_NONE_MAPPED));
        return FALSE;
    }
    if ((lpSystemName && *lpSystemName) || !ValidSid(Sid) || !cchName || !cchReferencedDomainName ||
        !peUse) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    auto found = S().accounts.find(SidText(Sid));
    if (found == S().accounts.end()) {
        SetLastError(ERROR_NONE_MAPPED);
        return FALSE;
    }
    const Account& account = found->second;
    if (!Name || *cchName <= account.name.size() || !ReferencedDomainName ||
        *cchReferencedDomainName <= account.domain.size()) {
        *cchName = DWORD(account.name.size() + 1);
        *cchReferencedDomainName = DWORD(account.domain.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(Name, account.name.c_str(), account.name.size() + 1);
    std::memcpy(ReferencedDomainName, account.domain.c_str(), account.domain.size() + 1);
    *cchName = DWORD(account.name.size());
    *cchReferencedDomainName = DWORD(account.domain.size());
    *peUse = account.use;
    return TRUE;
}

extern "C" BOOL WINAPI ConvertSidToStringSidA(PSID Sid, LPSTR* StringSid) {
    DWORD error = 0;
    if (ShouldFail("ConvertSidToStringSidA", &error)) {
        SetLastError(FaultError(error, ERROR_NOT_ENOUGH_MEMORY));
        return FALSE;
    }
    if (!ValidSid(Sid) || !StringSid) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::string text = SidText(Sid);
    char* copy = static_cast<char*>(LocalBlock(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    *StringSid = copy;
    return TRUE;
}

extern "C" BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess,
                                        PHANDLE TokenHandle) {
    DWORD error = 0;
    if (ShouldFail("OpenProcessToken", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return FALSE;
    }
    if (!TokenHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    // Only the calling process's own pseudo handle is modelled.
    if (ProcessHandle != reinterpret_cast<HANDLE>(LONG_PTR(-1))) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    TokenObject* token = new TokenObject;
    token->access = DesiredAccess;
    *TokenHandle = NewKernelHandle(token);
    return TRUE;
}

// TokenUser: a TOKEN_USER whose SID follows it in the same buffer.
extern "C" BOOL WINAPI GetTokenInformation(HANDLE TokenHandle,
                                           TOKEN_INFORMATION_CLASS TokenInformationClass,
                                           LPVOID TokenInformation, DWORD TokenInformationLength,
                                           PDWORD ReturnLength) {
    DWORD error = 0;
    if (ShouldFail("GetTokenInformation", &error)) {
        SetLastError(FaultError(error, ERROR_ACCESS_DENIED));
        return FALSE;
    }
    TokenObject* token = FindKernel<TokenObject>(TokenHandle);
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!(token->access & TOKEN_QUERY)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (TokenInformationClass != TokenUser || !ReturnLength) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::vector<BYTE> sid = ParseSid(S().processUser);
    const DWORD needed = DWORD(sizeof(TOKEN_USER) + sid.size());
    *ReturnLength = needed;
    if (!TokenInformation || TokenInformationLength < needed) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    BYTE* out = static_cast<BYTE*>(TokenInformation);
    std::memcpy(out + sizeof(TOKEN_USER), sid.data(), sid.size());
    TOKEN_USER user{};
    user.User.Sid = out + sizeof(TOKEN_USER);
    std::memcpy(out, &user, sizeof user);
    return TRUE;
}
