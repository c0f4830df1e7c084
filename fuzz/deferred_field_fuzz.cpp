// The field pick of the deferred data string, on arbitrary data: Read always
// succeeds, never leaks, and gives what an independent reading of the layout
// gives (fields separated by runs of "|", an "X" prefix dropped).
#include "common/property.h"
#include "platform/host/control.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char* const kNames[] = {"INSTALLDIR",       "DEFAULT_CONVERTER", "ProductVersion",
                              "DEFAULT_PAR_PORT", "DEFAULT_COM_PORT",  "ProductLanguage",
                              "SERIAL_NUMBER",    "REINSTALLMODE",     "installdir",
                              "NOT_A_FIELD"};

std::string Expected(const std::string& data, int index) {
    std::vector<std::string> fields;
    std::string field;
    for (char c : data + "|") {
        if (c != '|') {
            field += c;
        } else if (!field.empty()) {
            fields.push_back(field);
            field.clear();
        }
    }
    const std::size_t at = index < 0 ? 0 : std::size_t(index);
    if (at >= fields.size())
        return "";
    const std::string& token = fields[at];
    return token[0] == 'X' ? token.substr(1) : token;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size < 1)
        return 0;
    const int pick = bytes[0] % 10;
    // Installation properties are texts: they end at the first NUL.
    std::string data(reinterpret_cast<const char*>(bytes + 1), size - 1);
    data = data.c_str();

    host::Reset();
    MSIHANDLE session = host::OpenSession();
    host::SetDeferred(true);
    host::SetProperty("CustomActionData", data);
    {
        vantor::DeferredProperty property(session, kNames[pick]);
        if (property.Read() != 0)
            std::abort();
        std::string value = vantor::FetchValue(property).get();
        int index = vantor::DeferredProperty::FieldIndex(kNames[pick]);
        if (value != Expected(data, index))
            std::abort();
    }
    if (host::OpenHandles() != 0 || !host::ForbiddenPropertyAccesses().empty())
        std::abort();
    return 0;
}
