#include "common/property.h"

#include "common/handles.h"

#include <cstring>

namespace vantor {

RegistryProperty::RegistryProperty(MSIHANDLE installation, LPCSTR name) : name_(name) {
    DWORD size = 0;
    char empty[1] = "";
    if (MsiGetPropertyA(installation, "ProductCode", empty, &size) != ERROR_MORE_DATA)
        return;
    ++size;
    std::unique_ptr<char[]> productCode(new char[size + 1]);
    productCode[0] = '\0';
    productCode[size] = '\0';
    if (MsiGetPropertyA(installation, "ProductCode", productCode.get(), &size) != ERROR_SUCCESS)
        return;
    SetKeyPath(productCode.get());
}

RegistryProperty RegistryProperty::OfProduct(LPCSTR productCode, LPCSTR name) {
    RegistryProperty property(name);
    property.SetKeyPath(productCode);
    return property;
}

void RegistryProperty::SetKeyPath(LPCSTR productCode) {
    // An empty product code would name the company key that every product
    // of the family shares: no key then.
    if (!productCode || productCode[0] == '\0')
        return;
    const std::size_t length = std::strlen(kRoot) + 1 + std::strlen(productCode) + 1;
    keyPath_.reset(new char[length]);
    std::strcpy(keyPath_.get(), kRoot);
    std::strcat(keyPath_.get(), "\\");
    std::strcat(keyPath_.get(), productCode);
}

UINT RegistryProperty::Read() {
    value_.reset();
    size_ = 0;
    keyFound_ = false;
    registryError_ = ERROR_INVALID_PARAMETER; // no key path or no name
    if (!keyPath_ || !name_)
        return ERROR_INSTALL_FAILURE;
    RegKey key;
    registryError_ =
        RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath_.get(), 0, KEY_QUERY_VALUE, key.put());
    if (registryError_ != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    keyFound_ = true;
    DWORD size = 0;
    registryError_ = RegQueryValueExA(key.get(), name_, nullptr, nullptr, nullptr, &size);
    if (registryError_ != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    // One byte more than stored, so that data stored without a terminator
    // still ends as a text after its last byte.
    std::unique_ptr<char[]> value(new char[size + 1]);
    std::memset(value.get(), 0, size + 1);
    DWORD got = size;
    registryError_ = RegQueryValueExA(key.get(), name_, nullptr, nullptr,
                                      reinterpret_cast<LPBYTE>(value.get()), &got);
    if (registryError_ != ERROR_SUCCESS)
        return ERROR_INSTALL_FAILURE;
    value_ = std::move(value);
    size_ = got;
    return ERROR_SUCCESS;
}

UINT RegistryProperty::Write() {
    if (!keyPath_ || !name_)
        return ERROR_INSTALL_FAILURE;
    RegKey key;
    LONG result =
        RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath_.get(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_ALL_ACCESS, nullptr, key.put(), nullptr);
    if (result != ERROR_SUCCESS)
        return static_cast<UINT>(result);
    // A value never set is stored as the empty text.
    const char* data = value_ ? value_.get() : "";
    const DWORD bytes = value_ ? size_ : 1;
    return static_cast<UINT>(
        RegSetValueExA(key.get(), name_, 0, REG_SZ, reinterpret_cast<const BYTE*>(data), bytes));
}

void RegistryProperty::SetValue(LPCSTR text, DWORD length) {
    value_ = CopyValueIn(text, length);
    size_ = length + 1;
}

LONG RegistryProperty::DeleteKey(LONG* productKeyResult) {
    if (!keyPath_) {
        if (productKeyResult)
            *productKeyResult = ERROR_INSTALL_FAILURE;
        return ERROR_INSTALL_FAILURE;
    }
    // A key that still has subkeys cannot be deleted, so the walk removes the
    // product key, the company key when no other product is left under it,
    // and ends on "SOFTWARE", which always refuses.
    std::unique_ptr<char[]> path =
        CopyValueIn(keyPath_.get(), static_cast<DWORD>(std::strlen(keyPath_.get())));
    LONG result = ERROR_SUCCESS;
    bool first = true;
    for (;;) {
        result = RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.get());
        if (first && productKeyResult)
            *productKeyResult = result;
        first = false;
        char* separator = std::strrchr(path.get(), '\\');
        if (!separator || result != ERROR_SUCCESS)
            break;
        *separator = '\0';
    }
    return result;
}

} // namespace vantor
