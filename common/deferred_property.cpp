#include "common/property.h"

#include <cstring>

namespace vantor {

namespace {

// The fields of CustomActionData, in order.
constexpr const char* kFields[] = {
    "INSTALLDIR",       "DEFAULT_CONVERTER", "ProductVersion", "DEFAULT_PAR_PORT",
    "DEFAULT_COM_PORT", "ProductLanguage",   "SERIAL_NUMBER",  "REINSTALLMODE",
};

} // namespace

int DeferredProperty::FieldIndex(LPCSTR name) {
    if (!name)
        return -1;
    for (int i = 0; i < int(sizeof kFields / sizeof kFields[0]); ++i) {
        if (std::strcmp(name, kFields[i]) == 0)
            return i;
    }
    return -1;
}

UINT DeferredProperty::Read() {
    value_.reset();
    MsiProperty data(installation_, "CustomActionData");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> text = FetchValue(data, &readResult);
    if (readResult != ERROR_SUCCESS)
        return readResult;

    // CustomActionData: "X<INSTALLDIR>|X<DEFAULT_CONVERTER>|X<ProductVersion>|
    // X<DEFAULT_PAR_PORT>|X<DEFAULT_COM_PORT>|X<ProductLanguage>|X<SERIAL_NUMBER>|
    // X<REINSTALLMODE>", and it may stop after any field. The "X" keeps an empty
    // value a field of its own: a run of "|" separates like a single one, so an
    // empty field without it vanishes and the later fields move up.
    const int index = FieldIndex(name_);
    const char* token = nullptr;
    std::size_t tokenLength = 0;
    const char* p = text.get();
    for (int taken = 0;; ++taken) {
        while (*p == '|')
            ++p;
        if (!*p) {
            token = nullptr;
            break;
        }
        token = p;
        tokenLength = std::strcspn(p, "|");
        p += tokenLength;
        if (taken >= index) // index 0 and -1 both end with the first field
            break;
    }

    if (!token)
        value_ = CopyValueIn("", 0);
    else if (*token == 'X')
        value_ = CopyValueIn(token + 1, static_cast<DWORD>(tokenLength - 1));
    else
        value_ = CopyValueIn(token, static_cast<DWORD>(tokenLength));
    return ERROR_SUCCESS;
}

} // namespace vantor
