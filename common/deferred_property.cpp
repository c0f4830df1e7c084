#include "common/property.h"
#include "common/wiring.h"

#include <cstring>

namespace vantor {

static_assert(wiring::kDataFieldCount == DeferredProperty::kLayoutFields,
              "one name per field of the layout");

int DeferredProperty::FieldIndex(LPCSTR name) {
    if (!name)
        return -1;
    for (int i = 0; i < int(wiring::kDataFieldCount); ++i) {
        if (std::strcmp(name, wiring::kDataFields[i].name) == 0)
            return i;
    }
    return -1;
}

UINT DeferredProperty::Read() {
    value_.reset();
    fieldCount_ = 0;
    MsiProperty data(installation_, "CustomActionData");
    UINT readResult = ERROR_SUCCESS;
    std::unique_ptr<char[]> text = FetchValue(data, &readResult);
    if (readResult != ERROR_SUCCESS)
        return readResult;

    // CustomActionData: the fields of wiring::kDataFields, each behind an "X",
    // separated by "|", and it may stop after any field. The "X" keeps an empty
    // value a field of its own: a run of "|" separates like a single one, so an
    // empty field without it vanishes and the later fields move up.
    // The scan goes on past the field wanted, to count them all.
    const int index = FieldIndex(name_);
    const char* token = nullptr;
    std::size_t tokenLength = 0;
    for (const char* p = text.get();;) {
        while (*p == '|')
            ++p;
        if (!*p)
            break;
        const std::size_t length = std::strcspn(p, "|");
        // index 0 and -1 both take the first field
        if (fieldCount_ == (index < 0 ? 0 : index)) {
            token = p;
            tokenLength = length;
        }
        ++fieldCount_;
        p += length;
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
