// The installer database on Windows, through the installer's own msi.dll.
#include "database.h"

#include "common/handles.h"
#include "platform/platform.h"

namespace wirecheck {
namespace {

using vantor::MsiHandle;

std::string Reason(UINT result) {
    return "error " + std::to_string(result);
}

class MsiRow : public Row {
  public:
    explicit MsiRow(MSIHANDLE record) : record_(record) {}

    unsigned FieldCount() const override { return MsiRecordGetFieldCount(record_); }

    bool IsNull(unsigned field) const override { return MsiRecordIsNull(record_, field) != FALSE; }

    // A string field by the two-call rule: the length first, then the text.
    std::string Text(unsigned field) const override {
        char empty[1] = "";
        DWORD size = 0;
        UINT result = MsiRecordGetStringA(record_, field, empty, &size);
        if (result != ERROR_MORE_DATA && result != ERROR_SUCCESS)
            return "";
        std::string text(size + 1, '\0');
        size = static_cast<DWORD>(text.size());
        if (MsiRecordGetStringA(record_, field, &text[0], &size) != ERROR_SUCCESS)
            return "";
        text.resize(size);
        return text;
    }

    std::optional<int> Integer(unsigned field) const override {
        if (MsiRecordIsNull(record_, field))
            return std::nullopt;
        int value = MsiRecordGetInteger(record_, field);
        if (value == static_cast<int>(MSI_NULL_INTEGER))
            return std::nullopt;
        return value;
    }

    bool Stream(unsigned field, std::vector<unsigned char>* bytes) const override {
        bytes->clear();
        if (MsiRecordIsNull(record_, field))
            return true;
        char chunk[64 * 1024];
        for (;;) {
            DWORD size = sizeof chunk;
            if (MsiRecordReadStream(record_, field, chunk, &size) != ERROR_SUCCESS)
                return false;
            if (size == 0)
                return true;
            bytes->insert(bytes->end(), chunk, chunk + size);
        }
    }

  private:
    MSIHANDLE record_;
};

class MsiFile : public Database {
  public:
    MsiFile(MsiHandle database, Access access) : Database(access), database_(std::move(database)) {}

    bool HasTable(const char* table) override {
        return MsiDatabaseIsTablePersistentA(database_.get(), table) == MSICONDITION_TRUE;
    }

    bool Select(const std::string& query, const std::vector<Value>& values,
                const std::function<void(const Row&)>& each, std::string* problem) override {
        MsiHandle view;
        if (!Run(query, values, &view, problem))
            return false;
        for (;;) {
            MsiHandle record;
            UINT result = MsiViewFetch(view.get(), record.put());
            if (result == ERROR_NO_MORE_ITEMS)
                return true;
            if (result != ERROR_SUCCESS) {
                *problem = Reason(result);
                return false;
            }
            each(MsiRow(record.get()));
        }
    }

    bool RunChange(const std::string& query, const std::vector<Value>& values,
                   std::string* problem) override {
        MsiHandle view;
        if (!Run(query, values, &view, problem))
            return false;
        MsiViewClose(view.get());
        return true;
    }

    bool CommitChanges(std::string* problem) override {
        UINT result = MsiDatabaseCommit(database_.get());
        if (result != ERROR_SUCCESS) {
            *problem = Reason(result);
            return false;
        }
        return true;
    }

  private:
    bool Run(const std::string& query, const std::vector<Value>& values, MsiHandle* view,
             std::string* problem) {
        MsiHandle parameters;
        if (!values.empty()) {
            parameters.reset(MsiCreateRecord(static_cast<UINT>(values.size())));
            for (std::size_t i = 0; i < values.size(); ++i) {
                UINT field = static_cast<UINT>(i + 1);
                UINT result;
                if (const std::string* text = std::get_if<std::string>(&values[i]))
                    result = MsiRecordSetStringA(parameters.get(), field, text->c_str());
                else if (const int* number = std::get_if<int>(&values[i]))
                    result = MsiRecordSetInteger(parameters.get(), field, *number);
                else
                    result = MsiRecordSetStreamA(parameters.get(), field,
                                                 std::get<StreamFile>(values[i]).path.c_str());
                if (result != ERROR_SUCCESS) {
                    *problem = "value " + std::to_string(field) + " cannot be set (" +
                               Reason(result) + ")";
                    return false;
                }
            }
        }
        UINT result = MsiDatabaseOpenViewA(database_.get(), query.c_str(), view->put());
        if (result == ERROR_SUCCESS)
            result = MsiViewExecute(view->get(), parameters.get());
        if (result != ERROR_SUCCESS) {
            *problem = Reason(result);
            return false;
        }
        return true;
    }

    MsiHandle database_;
};

} // namespace

std::unique_ptr<Database> OpenDatabase(const char* path, Database::Access access,
                                       std::string* problem) {
    LPCSTR mode = access == Database::Access::ReadOnly ? MSIDBOPEN_READONLY
                  : access == Database::Access::Create ? MSIDBOPEN_CREATE
                                                       : MSIDBOPEN_TRANSACT;
    MsiHandle database;
    UINT result = MsiOpenDatabaseA(path, mode, database.put());
    if (result != ERROR_SUCCESS) {
        *problem =
            std::string(access == Database::Access::Create ? "cannot create" : "cannot open") +
            " it as an installer database (" + Reason(result) + ")";
        return nullptr;
    }
    return std::make_unique<MsiFile>(std::move(database), access);
}

} // namespace wirecheck
