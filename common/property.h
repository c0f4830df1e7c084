// Named text values of the three stores the actions use, behind one interface,
// and the action log message.
//
// Every object is made, used and destroyed within one action call, always
// through its own class (the interface has no virtual destructor). A property
// borrows its name, which is always a string literal, and owns its value.
#pragma once

#include "platform/platform.h"

#include <memory>

namespace vantor {

struct IProperty {
    // Fetches the value from the store into the object: 0 or 1603.
    virtual UINT Read() = 0;
    // Stores the object's value; the store's own code, 0 on success.
    virtual UINT Write() = 0;
    // Two-call copy-out: with *size too small (or no value held) only *size
    // changes, to the room needed including the terminator (0 for no value);
    // otherwise the value and its terminator are copied into buffer, if any.
    virtual void GetValue(LPSTR buffer, DWORD* size) = 0;
    // The value becomes the first length characters of text.
    virtual void SetValue(LPCSTR text, DWORD length) = 0;
};

// The common copy-out and copy-in behind GetValue and SetValue.
void CopyValueOut(const char* value, LPSTR buffer, DWORD* size);
std::unique_ptr<char[]> CopyValueIn(LPCSTR text, DWORD length);

// A property of the running installation.
class MsiProperty final : public IProperty {
  public:
    MsiProperty(MSIHANDLE installation, LPCSTR name) : name_(name), installation_(installation) {}

    UINT Read() override;
    UINT Write() override;
    void GetValue(LPSTR buffer, DWORD* size) override { CopyValueOut(value_.get(), buffer, size); }
    void SetValue(LPCSTR text, DWORD length) override;

  private:
    LPCSTR name_;
    std::unique_ptr<char[]> value_;
    DWORD size_ = 0; // characters after Read, length + 1 after SetValue
    MSIHANDLE installation_;
};

// One field of the deferred-action data string. Read-only.
class DeferredProperty final : public IProperty {
  public:
    DeferredProperty(MSIHANDLE installation, LPCSTR name)
        : name_(name), installation_(installation) {}

    UINT Read() override;
    UINT Write() override { return ERROR_SUCCESS; }
    void GetValue(LPSTR buffer, DWORD* size) override { CopyValueOut(value_.get(), buffer, size); }
    void SetValue(LPCSTR, DWORD) override {}

    // Place of a name in the data string's field list, -1 when not listed.
    static int FieldIndex(LPCSTR name);

    // The fields that the last Read found in the data string, counted as it
    // splits them (a run of "|" is one separator). The layout holds
    // kLayoutFields; more means that a value held a "|" and every later
    // field has moved: the data is malformed and no field of it can be
    // trusted.
    static constexpr int kLayoutFields = 8;
    int FieldCount() const { return fieldCount_; }
    bool Malformed() const { return fieldCount_ > kLayoutFields; }

  private:
    LPCSTR name_;
    std::unique_ptr<char[]> value_;
    [[maybe_unused]] DWORD size_ = 0; // never set
    MSIHANDLE installation_;
    int fieldCount_ = 0;
};

// One value of the product's key in the registry cache, under
// HKEY_LOCAL_MACHINE\SOFTWARE\Vantor Technology\<ProductCode>.
class RegistryProperty final : public IProperty {
  public:
    RegistryProperty(MSIHANDLE installation, LPCSTR name);
    // Nameless, made only to delete the key.
    explicit RegistryProperty(MSIHANDLE installation) : RegistryProperty(installation, nullptr) {}
    // A value (or, nameless, the key) of another product of the family, named
    // by its product code; an empty code gives no key, as above.
    static RegistryProperty OfProduct(LPCSTR productCode, LPCSTR name = nullptr);

    UINT Read() override;
    UINT Write() override;
    void GetValue(LPSTR buffer, DWORD* size) override { CopyValueOut(value_.get(), buffer, size); }
    void SetValue(LPCSTR text, DWORD length) override;

    // Deletes the product key, then each key above it while that succeeds.
    // Answers the code of the last deletion tried; productKeyResult, when
    // given, receives the code of the first one (the product key's own).
    LONG DeleteKey(LONG* productKeyResult = nullptr);

    // Null when the product code could not be read: no key is ever touched then.
    LPCSTR KeyPath() const { return keyPath_.get(); }

    // Why the last Read answered 1603: the registry's own code (2 for a key
    // or value that is not there), and whether the key itself opened.
    LONG RegistryError() const { return registryError_; }
    bool KeyFound() const { return keyFound_; }

    static constexpr const char* kRoot = "SOFTWARE\\Vantor Technology";

  private:
    explicit RegistryProperty(LPCSTR name) : name_(name) {}
    void SetKeyPath(LPCSTR productCode);

    LPCSTR name_;
    std::unique_ptr<char[]> value_;
    DWORD size_ = 0; // bytes with terminator, as stored
    std::unique_ptr<char[]> keyPath_;
    LONG registryError_ = ERROR_SUCCESS;
    bool keyFound_ = false;
};

// Sends text to the installation log as "VantorCustomAction: <text>".
UINT LogAction(MSIHANDLE installation, LPCSTR text);

// Reads a property of any store by the two-call rule into an owned text
// ("" when the store holds no value). The store's Read result is returned in
// readResult when asked for.
std::unique_ptr<char[]> FetchValue(IProperty& property, UINT* readResult = nullptr);

} // namespace vantor
