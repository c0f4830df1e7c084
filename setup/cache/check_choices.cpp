// CheckChoices: a choice that cannot work stops the installation before
// anything is installed, with one error message that names the property, the
// value and what is allowed. The actions that later use the values keep
// their own rules for what reaches them anyway.
#include "common/action_boundary.h"
#include "common/choices.h"
#include "common/handles.h"
#include "common/log_line.h"
#include "common/property.h"
#include "common/text.h"
#include "common/wiring.h"
#include "setup/cache/lifecycle.h"
#include "setup/catalogue/catalogue.h"
#include "setup/exports.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using namespace vantor;

namespace {

// Custom actions and their places: does the package patch applications?
constexpr const char kCustomActionQuery[] = "SELECT `Action`, `Type`, `Target` FROM `CustomAction`";
enum CustomActionColumn : UINT { kAction = 1, kType = 2, kTarget = 3 };
// The low three bits of a custom action's type: 1 is a function of a DLL.
constexpr std::int32_t kBaseTypeMask = 0x7;
constexpr std::int32_t kDllFunction = 0x1;

// The files a profile may name.
constexpr const char kProfileQuery[] =
    "SELECT `FileName` FROM `File` WHERE `Component_` = 'rondoconfig'";

// What the record and the data string can hold.
constexpr std::size_t kSerialRoom = 8;
constexpr long kLargestPort = 65535;

// A choice's number is digits only: no white space, no sign. The value of
// such a text, no more than limit + 1.
long DigitsValue(const std::string& digits, long limit) {
    const char* p = digits.c_str();
    const std::uint64_t cut = static_cast<std::uint64_t>(limit) + 1;
    return static_cast<long>(std::min(ReadDigits(p, cut).value, cut));
}

bool SameNameNoCase(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

class ChoiceCheck {
  public:
    explicit ChoiceCheck(MSIHANDLE installation)
        : installation_(installation), database_(MsiGetActiveDatabase(installation)) {}

    UINT Run() {
        std::string values[kChoiceCount];
        for (std::size_t i = 0; i < kChoiceCount; ++i) {
            UINT read = ERROR_SUCCESS;
            values[i] = PropertyText(installation_, kChoices[i], &read);
            if (read != ERROR_SUCCESS)
                return Unchecked(std::string(kChoices[i]) + " cannot be read", read);
        }
        // The deferred actions' data separates its fields with "|".
        for (std::size_t i = 0; i < kChoiceCount; ++i) {
            if (values[i].find('|') != std::string::npos)
                return Refuse(kChoices[i], values[i],
                              "\"|\" separates the fields of the deferred actions' data and "
                              "cannot be part of a value");
        }
        UINT result = CheckConverter(values[0]);
        if (result == ERROR_SUCCESS)
            result = CheckPort(kChoices[1], values[1]);
        if (result == ERROR_SUCCESS)
            result = CheckPort(kChoices[2], values[2]);
        if (result == ERROR_SUCCESS && values[3].size() > kSerialRoom)
            result =
                Refuse(kChoices[3], values[3],
                       "at most " + std::to_string(kSerialRoom) + " characters fit the record");
        if (result == ERROR_SUCCESS)
            result = CheckProfile(values[4]);
        return result;
    }

  private:
    // One error message, which the engine logs and a user interface shows;
    // the installation then ends with 1603.
    UINT Refuse(LPCSTR name, const std::string& value, const std::string& allowed) {
        const std::string text = std::string(name) + "=" + value + " cannot be used: " + allowed;
        MsiHandle record(MsiCreateRecord(1));
        bool shown = false;
        if (record) {
            MsiRecordSetStringA(record.get(), 0, "[1]");
            MsiRecordSetStringA(record.get(), 1, text.c_str());
            shown = MsiProcessMessage(installation_, INSTALLMESSAGE_ERROR, record.get()) >= 0;
        }
        // A message the engine could not take still reaches the log.
        if (!shown)
            LogAction(installation_, text.c_str());
        return ERROR_INSTALL_FAILURE;
    }

    // What the package itself cannot tell stops the installation too: a
    // choice that was not checked is not let through.
    UINT Unchecked(const std::string& what, UINT code) {
        LogFailure(installation_, "Choices not checked: " + what, code);
        return ERROR_INSTALL_FAILURE;
    }

    // A sequenced DLL action whose entry is one of the patch actions (the
    // wiring table's actions that patch an application).
    UINT PatchesApplications(bool* patches) {
        *patches = false;
        TextRows actions;
        UINT result = QueryTexts(database_.get(), kCustomActionQuery, 3, actions);
        if (result == ERROR_BAD_QUERY_SYNTAX)
            return ERROR_SUCCESS; // no CustomAction table
        if (result != ERROR_SUCCESS)
            return result;
        for (const auto& row : actions) {
            const std::string& action = row[kAction - 1];
            const wiring::Action* entry = wiring::Find(row[kTarget - 1].c_str());
            if ((ParseDecimal(row[kType - 1].c_str()) & kBaseTypeMask) != kDllFunction || !entry ||
                entry->ships != wiring::Ships::Application ||
                action.find('\'') != std::string::npos)
                continue;
            TextRows places;
            result = QueryTexts(database_.get(),
                                "SELECT `Action` FROM `InstallExecuteSequence` WHERE `Action` = '" +
                                    action + "'",
                                1, places);
            if (result == ERROR_BAD_QUERY_SYNTAX)
                return ERROR_SUCCESS;
            if (result != ERROR_SUCCESS)
                return result;
            if (!places.empty()) {
                *patches = true;
                return ERROR_SUCCESS;
            }
        }
        return ERROR_SUCCESS;
    }

    UINT CheckConverter(std::string value) {
        LPCSTR name = kChoices[0];
        // CONVERTER_LIST: comma-separated ids; those of the catalogue are offered.
        UINT read = ERROR_SUCCESS;
        const std::string list = PropertyText(installation_, "CONVERTER_LIST", &read);
        if (read != ERROR_SUCCESS)
            return Unchecked("CONVERTER_LIST cannot be read", read);
        std::vector<std::int32_t> offered;
        for (std::size_t start = 0; start < list.size();) {
            std::size_t end = list.find(',', start);
            if (end == std::string::npos)
                end = list.size();
            const std::string piece = list.substr(start, end - start);
            start = end + 1;
            const ConverterInfo* row =
                piece.empty() ? nullptr : FindConverter(ParseDecimal(piece.c_str()));
            if (row && std::find(offered.begin(), offered.end(), row->id) == offered.end())
                offered.push_back(row->id);
        }
        const bool listed = !list.empty();
        std::string allowed;
        if (listed) {
            std::vector<std::string> ids;
            for (std::int32_t id : offered)
                ids.push_back(std::to_string(id));
            allowed = "this package offers " +
                      (ids.empty() ? std::string("none") : JoinNames(ids)) + " (CONVERTER_LIST)";
        } else {
            std::vector<std::string> ids;
            for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
                ids.push_back(std::to_string(ConverterCatalogue[i].id));
            allowed = "a converter of the catalogue: " + JoinNames(ids);
        }

        // A package that offers one converter gets it, as its dialog would.
        if (value.empty() && listed && offered.size() == 1) {
            value = std::to_string(offered.front());
            const UINT set = SetPropertyText(installation_, name, value);
            if (set != ERROR_SUCCESS)
                return Unchecked("the only converter offered cannot be chosen", set);
            LogAction(installation_, (std::string(name) + " chosen: " + value +
                                      ", the only converter this package offers (CONVERTER_LIST)")
                                         .c_str());
        }

        if (!value.empty() && !IsDigits(value))
            return Refuse(name, value, "a converter is a decimal id; " + allowed);
        const long id = value.empty() ? 0 : DigitsValue(value, 65535);
        if (id == 0) {
            bool patches = false;
            const UINT looked = PatchesApplications(&patches);
            if (looked != ERROR_SUCCESS)
                return Unchecked("the package's custom actions cannot be read", looked);
            if (patches)
                return Refuse(name, value,
                              "no converter chosen, and this package patches applications; " +
                                  allowed);
            return ERROR_SUCCESS;
        }
        const ConverterInfo* row = FindConverter(static_cast<std::int32_t>(id));
        if (!row)
            return Refuse(name, value, "no such converter; " + allowed);
        if (listed && std::find(offered.begin(), offered.end(), row->id) == offered.end())
            return Refuse(name, value, "this package does not offer it; " + allowed);
        return ERROR_SUCCESS;
    }

    UINT CheckPort(LPCSTR name, const std::string& value) {
        if (value.empty() || (IsDigits(value) && DigitsValue(value, kLargestPort) <= kLargestPort))
            return ERROR_SUCCESS;
        return Refuse(name, value, "a port is a whole number from 0 to 65535, or empty");
    }

    UINT CheckProfile(const std::string& value) {
        if (value.empty())
            return ERROR_SUCCESS;
        TextRows files;
        const UINT result = QueryTexts(database_.get(), kProfileQuery, 1, files);
        if (result == ERROR_BAD_QUERY_SYNTAX)
            return ERROR_SUCCESS; // no File table: nothing to choose from
        if (result != ERROR_SUCCESS)
            return Unchecked("the files of component rondoconfig cannot be read", result);
        if (files.empty())
            return ERROR_SUCCESS;
        std::vector<std::string> names;
        for (const auto& row : files) {
            // "SHORT~1.INI|long name.ini" or a single name.
            const std::string& fileName = row.front();
            const std::size_t bar = fileName.find('|');
            names.push_back(bar == std::string::npos ? fileName : fileName.substr(bar + 1));
            if (SameNameNoCase(names.back(), value))
                return ERROR_SUCCESS;
        }
        return Refuse(kChoices[4], value,
                      "no such file of component rondoconfig; allowed: " + JoinNames(names) +
                          ", or empty");
    }

    MSIHANDLE installation_;
    MsiHandle database_;
};

UINT CheckAll(MSIHANDLE installation) {
    return ChoiceCheck(installation).Run();
}

} // namespace

extern "C" UINT WINAPI CheckChoices(MSIHANDLE installation) {
    return RunAction(installation, __func__, ERROR_INSTALL_FAILURE, CheckAll);
}
