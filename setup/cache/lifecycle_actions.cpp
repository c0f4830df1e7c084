// The choices across the product's life: a maintenance run takes them (and
// the install folder) from the product's own cache, an installation that
// replaces older products carries them over from the newest one's cache, and
// once it has succeeded the replaced products' caches go.
#include "common/action_boundary.h"
#include "common/choices.h"
#include "common/handles.h"
#include "common/install_folder.h"
#include "common/log_line.h"
#include "common/property.h"
#include "setup/cache/lifecycle.h"
#include "setup/exports.h"

#include <cctype>
#include <string>
#include <vector>

using namespace vantor;

namespace {

void Log(MSIHANDLE installation, const std::string& line) {
    LogAction(installation, line.c_str());
}

// A value in a log line; an empty one shows as "".
std::string Shown(const std::string& value) {
    return value.empty() ? std::string("\"\"") : value;
}

bool IsRemoval(MSIHANDLE installation) {
    std::string remove = PropertyText(installation, "REMOVE");
    for (char& c : remove)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return remove == "ALL";
}

// One value of a product's cache; present says whether it was there.
struct CachedValue {
    bool present = false;
    std::string text;
    LONG error = ERROR_SUCCESS; // the registry's code when not present
};

CachedValue ReadCached(const std::string& productCode, LPCSTR name) {
    RegistryProperty cached = RegistryProperty::OfProduct(productCode.c_str(), name);
    CachedValue value;
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> text = FetchValue(cached, &readResult);
    value.present = readResult == ERROR_SUCCESS;
    value.text = text.get();
    value.error = value.present ? ERROR_SUCCESS : cached.RegistryError();
    return value;
}

// ---------------------------------------------------------------- RecallChoices

UINT Recall(MSIHANDLE installation) {
    const std::string product = PropertyText(installation, "ProductCode");
    const LONG opened = product.empty() ? LONG(ERROR_FILE_NOT_FOUND) : OpenCacheKey(product);
    if (opened != ERROR_SUCCESS) {
        LogFailure(installation,
                   "No cached choices for " + (product.empty() ? "this product" : product) +
                       ": the choices and INSTALLDIR stay as this run has them, and the patch "
                       "actions fall back as before",
                   opened);
        return ERROR_SUCCESS;
    }
    MsiHandle database(MsiGetActiveDatabase(installation));

    // The folder of the first installation, before CostFinalize resolves the
    // product's directories: later runs install, repair and remove there.
    const CachedValue folder = ReadCached(product, kInstallFolder);
    if (folder.present && !folder.text.empty()) {
        const std::string current = PropertyText(installation, kInstallFolder);
        if (Given(current, PackageDefault(database.get(), kInstallFolder)) &&
            !SameFolder(current.c_str(), folder.text.c_str()))
            Log(installation, std::string(kInstallFolder) + "=" + current +
                                  " given, the folder of the first installation " + folder.text +
                                  " is used");
        const UINT set = SetPropertyText(installation, kInstallFolder, folder.text);
        if (set != ERROR_SUCCESS)
            LogFailure(installation,
                       std::string(kInstallFolder) +
                           " not set to the folder of the first installation " + folder.text,
                       set);
    }

    // A removal uses no choice.
    if (IsRemoval(installation))
        return ERROR_SUCCESS;
    const bool change = PropertyText(installation, "VANTOR_CHANGE_CHOICES") == "1";
    for (const char* name : kChoices) {
        const std::string current = PropertyText(installation, name);
        const CachedValue cached = ReadCached(product, name);
        if (!cached.present) {
            // A product cached by an earlier release lacks the newer values.
            LogFailure(installation,
                       std::string(name) + " is not in the cache of " + product +
                           ": this run's \"" + current + "\" is used",
                       cached.error);
            continue;
        }
        const bool given = Given(current, PackageDefault(database.get(), name));
        if (change && given) {
            // Cached by CacheProperties, patched through the cache.
            if (current != cached.text)
                Log(installation, std::string(name) + " changed: " + Shown(cached.text) + " -> " +
                                      current + " (VANTOR_CHANGE_CHOICES=1)");
            continue;
        }
        if (current == cached.text)
            continue;
        if (given)
            Log(installation, std::string(name) + "=" + current + " given, the cached " +
                                  Shown(cached.text) +
                                  " is used: a repair keeps the first installation's choices; "
                                  "VANTOR_CHANGE_CHOICES=1 changes them");
        const UINT set = SetPropertyText(installation, name, cached.text);
        if (set != ERROR_SUCCESS)
            LogFailure(installation, std::string(name) + " not set to the cached " + cached.text,
                       set);
    }
    return ERROR_SUCCESS;
}

// The products this installation replaces. False, after one line
// "<undone>: the Upgrade table cannot be read (error N)", when the package's
// Upgrade table cannot be read.
bool ReadReplaced(MSIHANDLE installation, MSIHANDLE database, const char* undone,
                  std::vector<std::string>* replaced) {
    UINT queried = ERROR_SUCCESS;
    *replaced = ReplacedProducts(installation, database, PropertyText(installation, "ProductCode"),
                                 &queried);
    if (queried == ERROR_SUCCESS)
        return true;
    LogFailure(installation, std::string(undone) + ": the Upgrade table cannot be read", queried);
    return false;
}

// ---------------------------------------------------------------- CarryOverChoices

UINT CarryOver(MSIHANDLE installation) {
    MsiHandle database(MsiGetActiveDatabase(installation));
    std::vector<std::string> replaced;
    if (!ReadReplaced(installation, database.get(), "Choices not carried over", &replaced))
        return ERROR_SUCCESS;
    if (replaced.empty()) {
        Log(installation, "Choices not carried over: no older product is being replaced");
        return ERROR_SUCCESS;
    }

    // The newest of those with a cache; the first listed of equal versions.
    std::string from;
    std::string fromVersion;
    for (const std::string& code : replaced) {
        if (OpenCacheKey(code) != ERROR_SUCCESS)
            continue;
        const std::string version = InstalledVersion(code);
        if (from.empty() || CompareVersions(version, fromVersion) > 0) {
            from = code;
            fromVersion = version;
        }
    }
    if (from.empty()) {
        Log(installation,
            "Choices not carried over: " +
                (replaced.size() == 1 ? replaced.front() + " has no cached choices"
                                      : "none of " + JoinNames(replaced) + " has cached choices"));
        return ERROR_SUCCESS;
    }

    std::vector<std::string> carried;
    std::vector<std::string> kept;
    std::vector<std::string> failed;
    const auto fill = [&](LPCSTR name, const std::string& value) {
        const UINT set = SetPropertyText(installation, name, value);
        if (set == ERROR_SUCCESS)
            carried.push_back(std::string(name) + "=" + value);
        else
            failed.push_back(WithError(std::string(name), set));
    };
    for (const char* name : kChoices) {
        if (Given(PropertyText(installation, name), PackageDefault(database.get(), name))) {
            kept.push_back(name);
            continue;
        }
        // An empty or missing cached value carries nothing: the package's
        // default stays.
        const CachedValue cached = ReadCached(from, name);
        if (!cached.text.empty())
            fill(name, cached.text);
    }
    // The install folder only when nothing (the command line) set it.
    const CachedValue folder = ReadCached(from, kInstallFolder);
    if (!folder.text.empty()) {
        if (PropertyText(installation, kInstallFolder).empty())
            fill(kInstallFolder, folder.text);
        else
            kept.push_back(kInstallFolder);
    }

    std::string line = "Choices carried over from " + from + " (" +
                       (fromVersion.empty() ? std::string("version unknown") : fromVersion) +
                       "): " + (carried.empty() ? std::string("nothing") : JoinNames(carried));
    if (!kept.empty())
        line += "; kept as given: " + JoinNames(kept);
    if (!failed.empty())
        line += "; not set: " + JoinNames(failed);
    Log(installation, line);
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- ClearReplacedCaches

UINT ClearReplaced(MSIHANDLE installation) {
    MsiHandle database(MsiGetActiveDatabase(installation));
    std::vector<std::string> replaced;
    if (!ReadReplaced(installation, database.get(), "Caches of replaced products not looked at",
                      &replaced))
        return ERROR_SUCCESS;
    int lines = 0;
    for (const std::string& code : replaced) {
        const LONG opened = OpenCacheKey(code);
        if (opened == ERROR_FILE_NOT_FOUND)
            continue;
        ++lines;
        if (opened != ERROR_SUCCESS) {
            LogFailure(installation,
                       "Cache of replaced product " + code + " kept: its key cannot be opened",
                       opened);
            continue;
        }
        const INSTALLSTATE state = MsiQueryProductStateA(code.c_str());
        if (state == INSTALLSTATE_DEFAULT) {
            Log(installation, "Cache of " + code + " kept: the product is still installed");
            continue;
        }
        RegistryProperty cache = RegistryProperty::OfProduct(code.c_str());
        const LONG deleted = RegDeleteKeyA(HKEY_LOCAL_MACHINE, cache.KeyPath());
        if (deleted == ERROR_SUCCESS)
            Log(installation, "Cache of replaced product " + code + " deleted");
        else
            LogFailure(installation,
                       "Cache of replaced product " + code + " kept: its key cannot be deleted",
                       deleted);
    }
    if (lines == 0)
        Log(installation, replaced.empty()
                              ? std::string("No cache of a replaced product to delete: no older "
                                            "product was replaced")
                              : "No cache of a replaced product to delete: none of " +
                                    JoinNames(replaced) + " has one");
    return ERROR_SUCCESS;
}

} // namespace

extern "C" UINT WINAPI RecallChoices(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, Recall);
}

extern "C" UINT WINAPI CarryOverChoices(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, CarryOver);
}

extern "C" UINT WINAPI ClearReplacedCaches(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, ClearReplaced);
}
