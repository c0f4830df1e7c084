// The installer database on Linux, through msitools' libmsi.
#include "database.h"

#include <libmsi.h>

#include <cstdio>

namespace wirecheck {
namespace {

// libmsi reports its inner troubles through GLib's log as warnings and
// criticals ("fetching stream Binary.X, error = 15" for a row without a
// stream, "Couldn't find id for X" when asked for a table the package lacks).
// Each such case also reaches the caller as a result, so they are not shown;
// the last one is kept to explain a failure.
std::string& LastLibraryMessage() {
    static std::string message;
    return message;
}

void KeepLibraryMessage(const gchar*, GLogLevelFlags, const gchar* message, gpointer) {
    LastLibraryMessage() = message != nullptr ? message : "";
}

void QuietLibraryLog() {
    static bool quiet = false;
    if (quiet)
        return;
    quiet = true;
    auto levels =
        static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                    G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
    g_log_set_handler(nullptr, levels, KeepLibraryMessage, nullptr);
}

// Owners of libmsi's reference-counted objects and GLib's errors.
template <typename T> struct Unref {
    void operator()(T* object) const {
        if (object != nullptr)
            g_object_unref(object);
    }
};
template <typename T> using Ref = std::unique_ptr<T, Unref<T>>;

struct ErrorOwner {
    GError* error = nullptr;
    ~ErrorOwner() { g_clear_error(&error); }
    GError** put() {
        g_clear_error(&error);
        return &error;
    }
    // "libmsi error 13: init", with the library's last log message when it
    // says more ("libmsi: open failed for x.msi" where it set no error).
    std::string Reason() const {
        std::string reason = "libmsi";
        if (error != nullptr)
            reason += " error " + std::to_string(error->code) + ": " + error->message;
        std::string said = LastLibraryMessage();
        said.erase(said.find_last_not_of(" \t\r\n") + 1);
        if (!said.empty())
            reason += (error != nullptr ? "; " : ": ") + said;
        return reason;
    }
};

class LibmsiRow : public Row {
  public:
    explicit LibmsiRow(LibmsiRecord* record) : record_(record) {}

    unsigned FieldCount() const override { return libmsi_record_get_field_count(record_); }

    bool IsNull(unsigned field) const override { return libmsi_record_is_null(record_, field); }

    std::string Text(unsigned field) const override {
        gchar* text = libmsi_record_get_string(record_, field);
        std::string value = text != nullptr ? text : "";
        g_free(text);
        return value;
    }

    std::optional<int> Integer(unsigned field) const override {
        // Asked of a null or string field, libmsi logs a complaint and
        // answers its null integer: only integer fields are asked.
        if (libmsi_record_is_null(record_, field))
            return std::nullopt;
        gint value = libmsi_record_get_int(record_, field);
        if (value == static_cast<gint>(LIBMSI_NULL_INT))
            return std::nullopt;
        return value;
    }

    bool Stream(unsigned field, std::vector<unsigned char>* bytes) const override {
        bytes->clear();
        if (libmsi_record_is_null(record_, field))
            return true;
        Ref<GInputStream> stream(libmsi_record_get_stream(record_, field));
        if (!stream)
            return false;
        unsigned char chunk[64 * 1024];
        for (;;) {
            ErrorOwner error;
            gssize size =
                g_input_stream_read(stream.get(), chunk, sizeof chunk, nullptr, error.put());
            if (size < 0)
                return false;
            if (size == 0)
                return true;
            bytes->insert(bytes->end(), chunk, chunk + size);
        }
    }

  private:
    LibmsiRecord* record_;
};

class LibmsiFile : public Database {
  public:
    LibmsiFile(LibmsiDatabase* database, Access access) : Database(access), database_(database) {}

    bool HasTable(const char* table) override {
        ErrorOwner error;
        return libmsi_database_is_table_persistent(database_.get(), table, error.put());
    }

    bool Select(const std::string& query, const std::vector<Value>& values,
                const std::function<void(const Row&)>& each, std::string* problem) override {
        Ref<LibmsiQuery> view = Run(query, values, problem);
        if (!view)
            return false;
        for (;;) {
            ErrorOwner error;
            LastLibraryMessage().clear();
            Ref<LibmsiRecord> record(libmsi_query_fetch(view.get(), error.put()));
            if (!record) {
                // The end of the rows is a fetch without a record and without an error.
                if (error.error == nullptr)
                    return true;
                *problem = error.Reason();
                return false;
            }
            each(LibmsiRow(record.get()));
        }
    }

    bool RunChange(const std::string& query, const std::vector<Value>& values,
                   std::string* problem) override {
        Ref<LibmsiQuery> view = Run(query, values, problem);
        if (!view)
            return false;
        ErrorOwner error;
        libmsi_query_close(view.get(), error.put());
        return true;
    }

    bool CommitChanges(std::string* problem) override {
        ErrorOwner error;
        LastLibraryMessage().clear();
        if (!libmsi_database_commit(database_.get(), error.put())) {
            *problem = error.Reason();
            return false;
        }
        return true;
    }

  private:
    // A prepared and executed query, or nothing with the reason.
    Ref<LibmsiQuery> Run(const std::string& query, const std::vector<Value>& values,
                         std::string* problem) {
        Ref<LibmsiRecord> parameters;
        if (!values.empty()) {
            parameters.reset(libmsi_record_new(static_cast<guint>(values.size())));
            for (std::size_t i = 0; i < values.size(); ++i) {
                guint field = static_cast<guint>(i + 1);
                bool set = false;
                if (const std::string* text = std::get_if<std::string>(&values[i]))
                    set = libmsi_record_set_string(parameters.get(), field, text->c_str());
                else if (const int* number = std::get_if<int>(&values[i]))
                    set = libmsi_record_set_int(parameters.get(), field, *number);
                else
                    set = libmsi_record_load_stream(parameters.get(), field,
                                                    std::get<StreamFile>(values[i]).path.c_str());
                if (!set) {
                    *problem = "value " + std::to_string(field) + " cannot be set";
                    return nullptr;
                }
            }
        }
        ErrorOwner error;
        LastLibraryMessage().clear();
        Ref<LibmsiQuery> view(libmsi_query_new(database_.get(), query.c_str(), error.put()));
        if (!view || !libmsi_query_execute(view.get(), parameters.get(), error.put())) {
            *problem = error.Reason();
            return nullptr;
        }
        return view;
    }

    Ref<LibmsiDatabase> database_;
};

} // namespace

std::unique_ptr<Database> OpenDatabase(const char* path, Database::Access access,
                                       std::string* problem) {
    QuietLibraryLog();
    // Transacted, with no second file to persist into: libmsi then writes
    // the file only on commit. (Opened otherwise, it replaces the file with
    // its own output when the database is closed, and without a commit that
    // output does not exist: the file is gone.)
    guint flags = LIBMSI_DB_FLAGS_TRANSACT;
    if (access == Database::Access::ReadOnly)
        flags = LIBMSI_DB_FLAGS_READONLY;
    else if (access == Database::Access::Create)
        flags |= LIBMSI_DB_FLAGS_CREATE;
    ErrorOwner error;
    LastLibraryMessage().clear();
    LibmsiDatabase* database = libmsi_database_new(path, flags, nullptr, error.put());
    if (database == nullptr) {
        *problem =
            std::string(access == Database::Access::Create ? "cannot create" : "cannot open") +
            " it as an installer database (" + error.Reason() + ")";
        return nullptr;
    }
    return std::make_unique<LibmsiFile>(database, access);
}

} // namespace wirecheck
