#include "common/file_security.h"

#include "common/handles.h"

#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

namespace vantor {

namespace {

// What an object is to the program: the rights that matter differ.
enum ObjectKind : unsigned {
    kProgram = 1,       // the program's own file
    kProgramFolder = 2, // the folder it runs from
    kFolderAbove = 4,   // every folder above that, up to the drive's root
    kEveryKind = kProgram | kProgramFolder | kFolderAbove,
};

struct DangerousRight {
    ACCESS_MASK right;
    const char* name; // as the log line names it
    unsigned kinds;   // the objects on which an untrusted account must not hold it
};

// The rights that let their holder choose what runs as LocalSystem. Adding a
// file or folder to a folder above the program's own is not among them: every
// name on the path exists already and is checked itself, so a new entry
// beside it changes nothing (Windows' own drive root lets Authenticated
// Users create folders, and Program Files below it is safe).
constexpr DangerousRight kDangerousRights[] = {
    // The program's bytes are what runs.
    {FILE_WRITE_DATA, "write", kProgram},
    {FILE_APPEND_DATA, "append", kProgram},
    // The loader looks for a program's DLLs in its own folder first: a file
    // added there is loaded into the program.
    {FILE_ADD_FILE, "add file", kProgramFolder},
    // A folder added there ("dpinst.exe.local") redirects the program's DLLs.
    {FILE_ADD_SUBDIRECTORY, "add folder", kProgramFolder},
    // Deletes or renames any entry of the folder whatever the entry's own
    // rights: the program, or the next folder of its path, moves away and
    // another takes its name.
    {FILE_DELETE_CHILD, "delete child", kProgramFolder | kFolderAbove},
    // Deletes or renames the object itself, freeing its name for another.
    {DELETE, "delete", kEveryKind},
    // Grants its holder every other right.
    {WRITE_DAC, "change permissions", kEveryKind},
    // The owner may change the permissions.
    {WRITE_OWNER, "take ownership", kEveryKind},
};

ACCESS_MASK DangerousOn(unsigned kind) {
    ACCESS_MASK rights = 0;
    for (const DangerousRight& r : kDangerousRights)
        if (r.kinds & kind)
            rights |= r.right;
    return rights;
}

std::string RightNames(ACCESS_MASK rights, unsigned kind) {
    std::string names;
    for (const DangerousRight& r : kDangerousRights) {
        if ((r.kinds & kind) && (rights & r.right))
            names += (names.empty() ? "" : ", ") + std::string(r.name);
    }
    return names;
}

// An access list may hold generic rights; the platform grants them as the
// file rights they stand for.
ACCESS_MASK FileRights(ACCESS_MASK mask) {
    if (mask & GENERIC_ALL)
        mask |= FILE_ALL_ACCESS;
    if (mask & GENERIC_WRITE)
        mask |= FILE_GENERIC_WRITE;
    if (mask & GENERIC_READ)
        mask |= FILE_GENERIC_READ;
    if (mask & GENERIC_EXECUTE)
        mask |= FILE_GENERIC_EXECUTE;
    return mask & ~(GENERIC_ALL | GENERIC_WRITE | GENERIC_READ | GENERIC_EXECUTE);
}

// A SID of a fixed account, laid out as the platform's SID.
struct FixedSid {
    BYTE revision;
    BYTE count;
    BYTE authority[6];
    DWORD sub[6];
};
static_assert(offsetof(FixedSid, count) == offsetof(SID, SubAuthorityCount), "SID layout");
static_assert(offsetof(FixedSid, authority) == offsetof(SID, IdentifierAuthority), "SID layout");
static_assert(offsetof(FixedSid, sub) == offsetof(SID, SubAuthority), "SID layout");

constexpr FixedSid kAdministrators{SID_REVISION, 2, {0, 0, 0, 0, 0, 5}, {32, 544}};
constexpr FixedSid kLocalSystem{SID_REVISION, 1, {0, 0, 0, 0, 0, 5}, {18}};
constexpr FixedSid kTrustedInstaller{
    SID_REVISION,
    6,
    {0, 0, 0, 0, 0, 5},
    {80, 956008885u, 3418522649u, 1831038044u, 1853292631u, 2271478464u}};
// Stand-ins for whoever creates an object below: an entry for them that is
// not inherit-only grants nobody anything.
constexpr FixedSid kCreatorOwner{SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {0}};
constexpr FixedSid kCreatorGroup{SID_REVISION, 1, {0, 0, 0, 0, 0, 3}, {1}};

PSID AsSid(const FixedSid& sid) {
    return const_cast<FixedSid*>(&sid); // the platform reads it only
}

bool Trusted(PSID account, PSID self) {
    return EqualSid(account, AsSid(kAdministrators)) || EqualSid(account, AsSid(kLocalSystem)) ||
           EqualSid(account, AsSid(kTrustedInstaller)) || EqualSid(account, self);
}

// "DOMAIN\name" as the system names the account, or its SID text.
std::string AccountName(PSID account) {
    char name[256] = "";
    char domain[256] = "";
    DWORD nameSize = sizeof name;
    DWORD domainSize = sizeof domain;
    SID_NAME_USE use = SidTypeUser;
    if (LookupAccountSidA(nullptr, account, name, &nameSize, domain, &domainSize, &use))
        return domain[0] ? std::string(domain) + "\\" + name : std::string(name);
    LPSTR text = nullptr;
    if (ConvertSidToStringSidA(account, &text)) {
        LocalMemory owned(text);
        return text;
    }
    return "an account without a name";
}

TrustCheck Refused(DWORD error, std::string why) {
    return TrustCheck{error, std::move(why)};
}

// One object's owner and access list; name is how the log line calls it.
TrustCheck CheckObject(const std::string& name, unsigned kind, PSID owner, PACL dacl, PSID self) {
    if (!owner || !IsValidSid(owner))
        return Refused(ERROR_ACCESS_DENIED, name + " has no owner that can be read");
    if (!Trusted(owner, self))
        return Refused(ERROR_ACCESS_DENIED, name + " is owned by " + AccountName(owner));
    if (!dacl)
        return Refused(ERROR_ACCESS_DENIED,
                       name + " can be changed by everyone: it has no access list");
    const ACCESS_MASK dangerous = DangerousOn(kind);
    // Entries are read in their order, as the platform does: a deny entry
    // takes its rights from later allow entries of the same account only.
    std::vector<std::pair<PSID, ACCESS_MASK>> denied;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        LPVOID entry = nullptr;
        if (!GetAce(dacl, i, &entry))
            return Refused(GetLastError(), "the access list of " + name + " cannot be read");
        const ACE_HEADER* header = static_cast<const ACE_HEADER*>(entry);
        if (header->AceFlags & INHERIT_ONLY_ACE)
            continue; // for objects created below, not for this one
        const BYTE type = header->AceType;
        if (type == ACCESS_ALLOWED_COMPOUND_ACE_TYPE || type == ACCESS_ALLOWED_OBJECT_ACE_TYPE ||
            type == ACCESS_ALLOWED_CALLBACK_OBJECT_ACE_TYPE)
            return Refused(ERROR_ACCESS_DENIED, name +
                                                    " has an access entry of a kind this check "
                                                    "cannot read (type " +
                                                    std::to_string(type) + ")");
        // Audit, alarm and label entries grant nothing; a conditional deny
        // entry may not apply, so it takes nothing away here.
        if (type != ACCESS_ALLOWED_ACE_TYPE && type != ACCESS_ALLOWED_CALLBACK_ACE_TYPE &&
            type != ACCESS_DENIED_ACE_TYPE)
            continue;
        // Allow, conditional allow and deny entries begin alike.
        ACCESS_ALLOWED_ACE* ace = static_cast<ACCESS_ALLOWED_ACE*>(entry);
        PSID account = &ace->SidStart;
        if (!IsValidSid(account)) {
            if (type == ACCESS_DENIED_ACE_TYPE)
                continue;
            return Refused(ERROR_ACCESS_DENIED,
                           name + " grants rights to an account that cannot be read");
        }
        if (EqualSid(account, AsSid(kCreatorOwner)) || EqualSid(account, AsSid(kCreatorGroup)))
            continue;
        const ACCESS_MASK rights = FileRights(ace->Mask);
        auto earlier = denied.begin();
        while (earlier != denied.end() && !EqualSid(earlier->first, account))
            ++earlier;
        if (type == ACCESS_DENIED_ACE_TYPE) {
            if (earlier == denied.end())
                denied.emplace_back(account, rights);
            else
                earlier->second |= rights;
            continue;
        }
        const ACCESS_MASK granted = rights & ~(earlier == denied.end() ? 0 : earlier->second);
        if ((granted & dangerous) && !Trusted(account, self))
            return Refused(ERROR_ACCESS_DENIED, name + " can be changed by " +
                                                    AccountName(account) + " (" +
                                                    RightNames(granted, kind) + ")");
    }
    return TrustCheck{};
}

// The SID of this process's own account, in buffer.
DWORD ReadOwnAccount(std::vector<BYTE>& buffer, PSID* account) {
    KernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()))
        return GetLastError();
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size))
        return ERROR_INVALID_DATA;
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER)
        return error;
    if (size < sizeof(TOKEN_USER))
        return ERROR_INVALID_DATA;
    buffer.assign(size, 0);
    if (!GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size))
        return GetLastError();
    TOKEN_USER user;
    std::memcpy(&user, buffer.data(), sizeof user);
    if (!user.User.Sid || !IsValidSid(user.User.Sid))
        return ERROR_INVALID_DATA;
    *account = user.User.Sid;
    return ERROR_SUCCESS;
}

constexpr SECURITY_INFORMATION kOwnerAndDacl =
    OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;

} // namespace

TrustCheck CheckOnlyTrustedCanChange(HANDLE file, const std::string& program) {
    std::vector<BYTE> accountBuffer;
    PSID self = nullptr;
    if (const DWORD error = ReadOwnAccount(accountBuffer, &self))
        return Refused(error, "the account it would run as cannot be read");

    // The separators that end the folders of the path: "C:\", "C:\a\",
    // "C:\a\b\" for "C:\a\b\tool.exe".
    std::vector<std::size_t> ends;
    for (std::size_t end = program.find('\\'); end != std::string::npos;
         end = program.find('\\', end + 1))
        ends.push_back(end);
    // Root first, so that the line names the highest folder that someone
    // else controls.
    for (std::size_t end : ends) {
        const std::string name = program.substr(0, end + 1);
        // The root keeps its separator; other folders are named without.
        const std::string path = end == ends.front() ? name : program.substr(0, end);
        PSID owner = nullptr;
        PACL dacl = nullptr;
        LocalMemory descriptor;
        const DWORD error =
            GetNamedSecurityInfoA(path.c_str(), SE_FILE_OBJECT, kOwnerAndDacl, &owner, nullptr,
                                  &dacl, nullptr, descriptor.put());
        if (error != ERROR_SUCCESS)
            return Refused(error, "the security of " + name + " cannot be read");
        TrustCheck check = CheckObject(name, end == ends.back() ? kProgramFolder : kFolderAbove,
                                       owner, dacl, self);
        if (check.error)
            return check;
    }

    PSID owner = nullptr;
    PACL dacl = nullptr;
    LocalMemory descriptor;
    const DWORD error = GetSecurityInfo(file, SE_FILE_OBJECT, kOwnerAndDacl, &owner, nullptr, &dacl,
                                        nullptr, descriptor.put());
    if (error != ERROR_SUCCESS)
        return Refused(error, "the security of " + program + " cannot be read");
    return CheckObject(program, kProgram, owner, dacl, self);
}

} // namespace vantor
