#include "common/property.h"

#include "common/handles.h"

#include <cstring>

namespace vantor {

void CopyValueOut(const char* value, LPSTR buffer, DWORD* size) {
    if (!size)
        return;
    if (!value) {
        *size = 0;
        return;
    }
    const DWORD need = static_cast<DWORD>(std::strlen(value)) + 1;
    if (need > *size) {
        *size = need;
        return;
    }
    // The whole value, however long: a cut here would silently shorten
    // paths and the deferred data string.
    if (buffer)
        std::memcpy(buffer, value, need);
}

std::unique_ptr<char[]> CopyValueIn(LPCSTR text, DWORD length) {
    std::unique_ptr<char[]> copy(new char[length + 1]);
    if (length)
        std::memcpy(copy.get(), text, length);
    copy[length] = '\0';
    return copy;
}

std::unique_ptr<char[]> FetchValue(IProperty& property, UINT* readResult) {
    const UINT read = property.Read();
    if (readResult)
        *readResult = read;
    DWORD size = 0;
    property.GetValue(nullptr, &size);
    std::unique_ptr<char[]> text(new char[size ? size : 1]);
    text[0] = '\0';
    if (size)
        property.GetValue(text.get(), &size);
    return text;
}

UINT MsiProperty::Read() {
    value_.reset();
    size_ = 0;
    char empty[1] = "";
    UINT result = MsiGetPropertyA(installation_, name_, empty, &size_);
    if (result == ERROR_SUCCESS)
        return ERROR_SUCCESS;
    if (result != ERROR_MORE_DATA)
        return ERROR_INSTALL_FAILURE;
    ++size_;
    // The size is the engine's count; the buffer gets a terminator of its own
    // so that the value is a text whatever the engine copies.
    std::unique_ptr<char[]> value(new char[size_ + 1]);
    value[0] = '\0';
    value[size_] = '\0';
    result = MsiGetPropertyA(installation_, name_, value.get(), &size_);
    if (result != ERROR_SUCCESS) {
        size_ = 0;
        return ERROR_INSTALL_FAILURE;
    }
    value_ = std::move(value);
    return ERROR_SUCCESS;
}

UINT MsiProperty::Write() {
    return MsiSetPropertyA(installation_, name_, value_.get());
}

void MsiProperty::SetValue(LPCSTR text, DWORD length) {
    value_ = CopyValueIn(text, length);
    size_ = length + 1;
}

UINT LogAction(MSIHANDLE installation, LPCSTR text) {
    MsiHandle record(MsiCreateRecord(1));
    if (record) {
        MsiRecordSetStringA(record.get(), 0, "VantorCustomAction: [1]");
        MsiRecordSetStringA(record.get(), 1, text);
        MsiProcessMessage(installation, INSTALLMESSAGE_INFO, record.get());
    }
    return ERROR_SUCCESS;
}

} // namespace vantor
