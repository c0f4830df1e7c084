// The per-product registry cache of the user's device choices and of the
// install folder: filled during installation (and a change of the choices)
// so that every later run acts with the choices and in the folder of the
// first installation, removed on uninstall.
#include "common/action_boundary.h"
#include "common/choices.h"
#include "common/log_line.h"
#include "common/property.h"
#include "setup/exports.h"

#include <cstring>
#include <string>

using namespace vantor;

namespace {

// The five choices, then the record of the install folder.
constexpr std::size_t kCachedCount = kChoiceCount + 1;

LPCSTR CachedName(std::size_t index) {
    return index < kChoiceCount ? kChoices[index] : kInstallFolder;
}

// The install folder as the engine resolved it ends with "\"; one that does
// not gets it, so that every reader compares the same form.
std::unique_ptr<char[]> WithSeparator(std::unique_ptr<char[]> folder) {
    const std::size_t length = std::strlen(folder.get());
    if (length == 0 || folder[length - 1] == '\\')
        return folder;
    std::unique_ptr<char[]> joined(new char[length + 2]);
    std::memcpy(joined.get(), folder.get(), length);
    joined[length] = '\\';
    joined[length + 1] = '\0';
    return joined;
}

UINT CacheChoices(MSIHANDLE installation) {
    bool keyless = false;
    for (std::size_t index = 0; index < kCachedCount; ++index) {
        const LPCSTR name = CachedName(index);
        // A property that cannot be read is cached as the empty text; a value
        // that cannot be written is skipped and the others still go on.
        MsiProperty property(installation, name);
        UINT readResult = ERROR_SUCCESS;
        std::unique_ptr<char[]> value = FetchValue(property, &readResult);
        if (index == kChoiceCount)
            value = WithSeparator(std::move(value));
        RegistryProperty cached(installation, name);
        // Without a product code no value has a key to go to: one line says so.
        if (!cached.KeyPath()) {
            keyless = true;
            continue;
        }
        if (readResult != ERROR_SUCCESS)
            LogFailure(installation,
                       std::string(name) + " cached as empty: the property cannot be read",
                       readResult);
        cached.SetValue(value.get(), static_cast<DWORD>(std::strlen(value.get())));
        const UINT written = cached.Write();
        if (written != ERROR_SUCCESS)
            LogFailure(installation,
                       std::string(name) + " not cached: the registry value cannot be written",
                       written);
    }
    if (keyless)
        LogFailure(installation,
                   "Choices not cached: ProductCode is empty or cannot be read, and the cache "
                   "key is named by it",
                   ERROR_INSTALL_FAILURE);
    return ERROR_SUCCESS;
}

UINT ClearCache(MSIHANDLE installation) {
    RegistryProperty cache(installation);
    LONG productKey = ERROR_SUCCESS;
    cache.DeleteKey(&productKey);
    // The walk always ends on a refused deletion (the company key while other
    // products are cached, else "SOFTWARE"); the engine would fail the whole
    // uninstallation on that code. What counts is that the product's key is
    // gone: deleted now, or not there to begin with.
    if (productKey == ERROR_SUCCESS || productKey == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    return static_cast<UINT>(productKey);
}

} // namespace

extern "C" UINT WINAPI CacheProperties(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, CacheChoices);
}

extern "C" UINT WINAPI ClearPropertiesCache(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, ClearCache);
}
