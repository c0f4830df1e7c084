// The installer engine as the actions see it: properties, records, views on
// the active database, features, the install level, the log and related
// products. Answers follow Windows, which differs from Wine in deferred mode.
#include "platform/host/internal.h"

#include <cstring>
#include <memory>
#include <regex>

namespace host {

namespace {

struct Table {
    std::vector<std::string> columns;
    int keyColumns = 1;
    std::vector<TableRow> rows;
};

struct Record {
    std::vector<std::optional<Field>> fields; // 0 .. count
};

struct View {
    std::string table;
    std::vector<int> columns; // selected columns by index; empty: "*", every column
    std::string filterColumn; // empty: every row
    std::string filterValue;
    bool executed = false;
    std::vector<Row> result;
    std::size_t cursor = 0;
};

enum class Kind { Session, Database, View, Record };

struct Object {
    Kind kind;
    Record record;
    View view;
};

struct Feature {
    INSTALLSTATE installed;
    INSTALLSTATE action;
    std::optional<INSTALLSTATE> request;
};

struct Product {
    std::string version;
    INSTALLSTATE state;
};

struct Engine {
    std::map<std::string, std::string> properties;
    bool deferred = false;
    std::vector<std::string> forbidden;
    std::vector<std::string> log;
    std::vector<std::string> errors;
    std::map<std::string, Product> products; // upper-case code
    std::map<std::string, Table> tables;
    std::map<std::string, Feature> features;
    std::optional<int> installLevel;
    std::map<std::string, std::vector<std::string>> related; // upper-case code
    std::map<MSIHANDLE, Object> handles;
    MSIHANDLE next = 1;
};

Engine& E() {
    static Engine engine;
    return engine;
}

int OpenNonSession() {
    int open = 0;
    for (const auto& entry : E().handles)
        open += entry.second.kind != Kind::Session;
    return open;
}

Area area(
    "engine", [] { E() = Engine{}; }, OpenNonSession);

Object* Find(MSIHANDLE h, Kind kind) {
    auto it = E().handles.find(h);
    if (it == E().handles.end() || it->second.kind != kind)
        return nullptr;
    return &it->second;
}

MSIHANDLE NewHandle(Object object) {
    MSIHANDLE h = E().next++;
    E().handles.emplace(h, std::move(object));
    return h;
}

bool AnsweredInDeferred(const std::string& name) {
    return name == "CustomActionData" || name == "ProductCode";
}

// Copies text out as the engine does: *size is the room in characters; with
// too little room the text is cut, ERROR_MORE_DATA answered and *size set to
// the length; with room enough *size is the length copied.
UINT CopyOut(const std::string& text, LPSTR buffer, DWORD* size) {
    const DWORD length = static_cast<DWORD>(text.size());
    if (!buffer) {
        *size = length;
        return ERROR_SUCCESS;
    }
    if (*size <= length) {
        if (*size > 0) {
            std::memcpy(buffer, text.data(), *size - 1);
            buffer[*size - 1] = '\0';
        }
        *size = length;
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, text.c_str(), length + 1);
    *size = length;
    return ERROR_SUCCESS;
}

std::string FieldText(const std::optional<Field>& field) {
    if (!field)
        return "";
    return field->isInteger ? std::to_string(field->integer) : field->text;
}

int ColumnIndex(const Table& table, const std::string& column) {
    for (std::size_t i = 0; i < table.columns.size(); ++i) {
        if (table.columns[i] == column)
            return int(i);
    }
    return -1;
}

bool IsGuid(const char* text) {
    static const std::regex guid(
        "\\{[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}\\}");
    return text && std::regex_match(text, guid);
}

std::string Upper(std::string text) {
    for (char& c : text)
        c = char(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

// ---------------------------------------------------------------- control

MSIHANDLE OpenSession() {
    return NewHandle(Object{Kind::Session, {}, {}});
}

void SetProperty(const std::string& name, const std::string& value) {
    if (value.empty())
        E().properties.erase(name);
    else
        E().properties[name] = value;
}

std::optional<std::string> GetProperty(const std::string& name) {
    auto it = E().properties.find(name);
    if (it == E().properties.end())
        return std::nullopt;
    return it->second;
}

void RemoveProperty(const std::string& name) {
    E().properties.erase(name);
}

const std::map<std::string, std::string>& Properties() {
    return E().properties;
}

void SetDeferred(bool deferred) {
    E().deferred = deferred;
}

const std::vector<std::string>& ForbiddenPropertyAccesses() {
    return E().forbidden;
}

const std::vector<std::string>& LogLines() {
    return E().log;
}

void AddTable(const std::string& name, const std::vector<std::string>& columns, int keyColumns) {
    E().tables[name] = Table{columns, keyColumns, {}};
}

void AddRow(const std::string& table, const Row& row) {
    E().tables.at(table).rows.push_back(TableRow{row, false});
}

bool HasTable(const std::string& name) {
    return E().tables.count(name) != 0;
}

std::vector<TableRow> TableRows(const std::string& table) {
    auto it = E().tables.find(table);
    return it == E().tables.end() ? std::vector<TableRow>{} : it->second.rows;
}

void AddFeature(const std::string& name, INSTALLSTATE installed, INSTALLSTATE action) {
    E().features[name] = Feature{installed, action, std::nullopt};
}

std::optional<INSTALLSTATE> FeatureRequest(const std::string& name) {
    auto it = E().features.find(name);
    if (it == E().features.end())
        return std::nullopt;
    return it->second.request;
}

std::optional<int> InstallLevel() {
    return E().installLevel;
}

void AddRelatedProduct(const std::string& upgradeCode, const std::string& productCode) {
    E().related[Upper(upgradeCode)].push_back(productCode);
}

int OpenMsiHandles() {
    return OpenNonSession();
}

// ---------------------------------------------------------------- control: lifecycle

void AddProduct(const std::string& productCode, const std::string& version, INSTALLSTATE state) {
    E().products[Upper(productCode)] = Product{version, state};
}

void RemoveProduct(const std::string& productCode) {
    E().products.erase(Upper(productCode));
}

const std::vector<std::string>& ErrorMessages() {
    return E().errors;
}

} // namespace host

using namespace host;

// ---------------------------------------------------------------- properties

extern "C" UINT WINAPI MsiGetPropertyA(MSIHANDLE hInstall, LPCSTR szName, LPSTR szValueBuf,
                                       DWORD* pcchValueBuf) {
    DWORD error = 0;
    if (ShouldFail("MsiGetPropertyA", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    if (!Find(hInstall, Kind::Session))
        return ERROR_INVALID_HANDLE;
    if (!szName || !pcchValueBuf)
        return ERROR_INVALID_PARAMETER;
    std::string value;
    if (E().deferred && !AnsweredInDeferred(szName)) {
        E().forbidden.push_back(std::string("read ") + szName);
    } else {
        auto it = E().properties.find(szName);
        if (it != E().properties.end())
            value = it->second;
    }
    return CopyOut(value, szValueBuf, pcchValueBuf);
}

extern "C" UINT WINAPI MsiSetPropertyA(MSIHANDLE hInstall, LPCSTR szName, LPCSTR szValue) {
    DWORD error = 0;
    if (ShouldFail("MsiSetPropertyA", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    if (!Find(hInstall, Kind::Session))
        return ERROR_INVALID_HANDLE;
    if (!szName || !*szName)
        return ERROR_INVALID_PARAMETER;
    if (E().deferred) {
        E().forbidden.push_back(std::string("write ") + szName);
        return ERROR_FUNCTION_FAILED;
    }
    SetProperty(szName, szValue ? szValue : "");
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- records

extern "C" MSIHANDLE WINAPI MsiCreateRecord(UINT cParams) {
    if (ShouldFail("MsiCreateRecord"))
        return 0;
    Object object{Kind::Record, {}, {}};
    object.record.fields.resize(cParams + 1);
    return NewHandle(std::move(object));
}

extern "C" UINT WINAPI MsiRecordSetStringA(MSIHANDLE hRecord, UINT iField, LPCSTR szValue) {
    DWORD error = 0;
    if (ShouldFail("MsiRecordSetStringA", &error))
        return FaultError(error, ERROR_INVALID_PARAMETER);
    Object* r = Find(hRecord, Kind::Record);
    if (!r)
        return ERROR_INVALID_HANDLE;
    if (iField >= r->record.fields.size())
        return ERROR_INVALID_PARAMETER;
    if (!szValue || !*szValue)
        r->record.fields[iField].reset();
    else
        r->record.fields[iField] = Field::Text(szValue);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiRecordSetInteger(MSIHANDLE hRecord, UINT iField, int iValue) {
    DWORD error = 0;
    if (ShouldFail("MsiRecordSetInteger", &error))
        return FaultError(error, ERROR_INVALID_PARAMETER);
    Object* r = Find(hRecord, Kind::Record);
    if (!r)
        return ERROR_INVALID_HANDLE;
    if (iField >= r->record.fields.size())
        return ERROR_INVALID_PARAMETER;
    r->record.fields[iField] = Field::Int(iValue);
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiRecordGetStringA(MSIHANDLE hRecord, UINT iField, LPSTR szValueBuf,
                                           DWORD* pcchValueBuf) {
    DWORD error = 0;
    if (ShouldFail("MsiRecordGetStringA", &error))
        return FaultError(error, ERROR_INVALID_PARAMETER);
    Object* r = Find(hRecord, Kind::Record);
    if (!r)
        return ERROR_INVALID_HANDLE;
    if (!pcchValueBuf)
        return ERROR_INVALID_PARAMETER;
    std::string text;
    if (iField < r->record.fields.size())
        text = FieldText(r->record.fields[iField]);
    return CopyOut(text, szValueBuf, pcchValueBuf);
}

extern "C" int WINAPI MsiRecordGetInteger(MSIHANDLE hRecord, UINT iField) {
    if (ShouldFail("MsiRecordGetInteger"))
        return MSI_NULL_INTEGER;
    Object* r = Find(hRecord, Kind::Record);
    if (!r || iField >= r->record.fields.size() || !r->record.fields[iField])
        return MSI_NULL_INTEGER;
    const Field& f = *r->record.fields[iField];
    if (f.isInteger)
        return f.integer;
    if (!std::regex_match(f.text, std::regex("-?[0-9]+")))
        return MSI_NULL_INTEGER;
    return std::atoi(f.text.c_str());
}

extern "C" UINT WINAPI MsiRecordGetFieldCount(MSIHANDLE hRecord) {
    if (ShouldFail("MsiRecordGetFieldCount"))
        return UINT(-1);
    Object* r = Find(hRecord, Kind::Record);
    return r ? UINT(r->record.fields.size() - 1) : UINT(-1);
}

extern "C" int WINAPI MsiProcessMessage(MSIHANDLE hInstall, INSTALLMESSAGE eMessageType,
                                        MSIHANDLE hRecord) {
    if (ShouldFail("MsiProcessMessage"))
        return -1;
    Object* r = Find(hRecord, Kind::Record);
    if (!Find(hInstall, Kind::Session) || !r)
        return -1;
    const int type = eMessageType & 0xFF000000;
    if (type != INSTALLMESSAGE_INFO && type != INSTALLMESSAGE_ERROR)
        return 0;
    // "[n]" stands for field n; field 0 is the template.
    const std::string templ = FieldText(r->record.fields[0]);
    std::string text;
    for (std::size_t i = 0; i < templ.size(); ++i) {
        std::size_t close = templ.find(']', i);
        if (templ[i] == '[' && close != std::string::npos && close > i + 1 &&
            templ.find_first_not_of("0123456789", i + 1) == close) {
            std::size_t n = std::stoul(templ.substr(i + 1, close - i - 1));
            if (n < r->record.fields.size())
                text += FieldText(r->record.fields[n]);
            i = close;
        } else {
            text += templ[i];
        }
    }
    (type == INSTALLMESSAGE_ERROR ? E().errors : E().log).push_back(text);
    return 1; // IDOK
}

// ---------------------------------------------------------------- database

extern "C" MSIHANDLE WINAPI MsiGetActiveDatabase(MSIHANDLE hInstall) {
    if (ShouldFail("MsiGetActiveDatabase"))
        return 0;
    if (!Find(hInstall, Kind::Session))
        return 0;
    return NewHandle(Object{Kind::Database, {}, {}});
}

extern "C" UINT WINAPI MsiDatabaseOpenViewA(MSIHANDLE hDatabase, LPCSTR szQuery,
                                            MSIHANDLE* phView) {
    DWORD error = 0;
    if (ShouldFail("MsiDatabaseOpenViewA", &error))
        return FaultError(error, ERROR_BAD_QUERY_SYNTAX);
    if (!Find(hDatabase, Kind::Database))
        return ERROR_INVALID_HANDLE;
    if (!szQuery || !phView)
        return ERROR_INVALID_PARAMETER;
    // "SELECT * | `a`, `b` FROM t [WHERE `c` = 'v']": what the actions ask.
    static const std::regex query(
        "\\s*SELECT\\s+(\\*|`?\\w+`?(?:\\s*,\\s*`?\\w+`?)*)\\s+FROM\\s+`?(\\w+)`?"
        "(?:\\s+WHERE\\s+`?(\\w+)`?\\s*=\\s*'([^']*)')?\\s*",
        std::regex::icase);
    std::cmatch m;
    if (!std::regex_match(szQuery, m, query))
        return ERROR_BAD_QUERY_SYNTAX;
    auto table = E().tables.find(m[2].str());
    if (table == E().tables.end())
        return ERROR_BAD_QUERY_SYNTAX;
    View view;
    view.table = m[2].str();
    if (m[1].str() != "*") {
        static const std::regex name("\\w+");
        const std::string list = m[1].str();
        for (std::sregex_iterator it(list.begin(), list.end(), name), end; it != end; ++it) {
            const int index = ColumnIndex(table->second, it->str());
            if (index < 0)
                return ERROR_BAD_QUERY_SYNTAX;
            view.columns.push_back(index);
        }
    }
    if (m[3].matched) {
        if (ColumnIndex(table->second, m[3].str()) < 0)
            return ERROR_BAD_QUERY_SYNTAX;
        view.filterColumn = m[3].str();
        view.filterValue = m[4].str();
    }
    Object object{Kind::View, {}, std::move(view)};
    *phView = NewHandle(std::move(object));
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewExecute(MSIHANDLE hView, MSIHANDLE) {
    DWORD error = 0;
    if (ShouldFail("MsiViewExecute", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    Object* v = Find(hView, Kind::View);
    if (!v)
        return ERROR_INVALID_HANDLE;
    const Table& table = E().tables.at(v->view.table);
    v->view.result.clear();
    v->view.cursor = 0;
    const int column = v->view.filterColumn.empty() ? -1 : ColumnIndex(table, v->view.filterColumn);
    for (const TableRow& row : table.rows) {
        if (column >= 0 && (std::size_t(column) >= row.fields.size() ||
                            FieldText(row.fields[column]) != v->view.filterValue))
            continue;
        if (v->view.columns.empty()) {
            v->view.result.push_back(row.fields);
            continue;
        }
        Row selected;
        for (int index : v->view.columns)
            selected.push_back(std::size_t(index) < row.fields.size() ? row.fields[index]
                                                                      : Field::Text(""));
        v->view.result.push_back(selected);
    }
    v->view.executed = true;
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewFetch(MSIHANDLE hView, MSIHANDLE* phRecord) {
    DWORD error = 0;
    if (ShouldFail("MsiViewFetch", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    Object* v = Find(hView, Kind::View);
    if (!v || !phRecord)
        return ERROR_INVALID_HANDLE;
    if (!v->view.executed)
        return ERROR_FUNCTION_FAILED;
    if (v->view.cursor >= v->view.result.size())
        return ERROR_NO_MORE_ITEMS;
    const Row& row = v->view.result[v->view.cursor++];
    Object object{Kind::Record, {}, {}};
    object.record.fields.resize(row.size() + 1);
    for (std::size_t i = 0; i < row.size(); ++i)
        object.record.fields[i + 1] = row[i];
    *phRecord = NewHandle(std::move(object));
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewModify(MSIHANDLE hView, MSIMODIFY eModifyMode, MSIHANDLE hRecord) {
    DWORD error = 0;
    if (ShouldFail("MsiViewModify", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    Object* v = Find(hView, Kind::View);
    Object* r = Find(hRecord, Kind::Record);
    if (!v || !r)
        return ERROR_INVALID_HANDLE;
    if (eModifyMode != MSIMODIFY_INSERT_TEMPORARY || !v->view.columns.empty())
        return ERROR_INVALID_PARAMETER; // the actions only ever insert temporary rows
    Table& table = E().tables.at(v->view.table);
    if (r->record.fields.size() < table.columns.size() + 1)
        return ERROR_INVALID_DATA;
    Row row;
    for (std::size_t i = 0; i < table.columns.size(); ++i)
        row.push_back(r->record.fields[i + 1] ? *r->record.fields[i + 1] : Field::Text(""));
    for (const TableRow& existing : table.rows) {
        bool same = true;
        for (int k = 0; k < table.keyColumns && same; ++k)
            same = FieldText(existing.fields[k]) == FieldText(row[k]);
        if (same)
            return ERROR_FUNCTION_FAILED; // duplicate key
    }
    table.rows.push_back(TableRow{row, true});
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiViewClose(MSIHANDLE hView) {
    DWORD error = 0;
    if (ShouldFail("MsiViewClose", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    Object* v = Find(hView, Kind::View);
    if (!v)
        return ERROR_INVALID_HANDLE;
    v->view.executed = false;
    v->view.result.clear();
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiCloseHandle(MSIHANDLE hAny) {
    // Closing is never made to fail: the platform's close does not either.
    ShouldFail("MsiCloseHandle");
    if (hAny == 0)
        return ERROR_SUCCESS;
    return E().handles.erase(hAny) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Closes every handle the action's thread opened; the session handle was
// opened by the engine, not by the action, and stays.
extern "C" UINT WINAPI MsiCloseAllHandles(void) {
    ShouldFail("MsiCloseAllHandles");
    UINT closed = 0;
    for (auto it = E().handles.begin(); it != E().handles.end();) {
        if (it->second.kind == Kind::Session) {
            ++it;
        } else {
            it = E().handles.erase(it);
            ++closed;
        }
    }
    return closed;
}

// ---------------------------------------------------------------- features

extern "C" UINT WINAPI MsiSetInstallLevel(MSIHANDLE hInstall, int iInstallLevel) {
    DWORD error = 0;
    if (ShouldFail("MsiSetInstallLevel", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    if (!Find(hInstall, Kind::Session))
        return ERROR_INVALID_HANDLE;
    E().installLevel = iInstallLevel;
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiGetFeatureStateA(MSIHANDLE hInstall, LPCSTR szFeature,
                                           INSTALLSTATE* piInstalled, INSTALLSTATE* piAction) {
    DWORD error = 0;
    if (ShouldFail("MsiGetFeatureStateA", &error))
        return FaultError(error, ERROR_UNKNOWN_FEATURE);
    if (!Find(hInstall, Kind::Session))
        return ERROR_INVALID_HANDLE;
    if (!szFeature || !piInstalled || !piAction)
        return ERROR_INVALID_PARAMETER;
    auto it = E().features.find(szFeature);
    if (it == E().features.end())
        return ERROR_UNKNOWN_FEATURE;
    *piInstalled = it->second.installed;
    *piAction = it->second.request ? *it->second.request : it->second.action;
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiSetFeatureStateA(MSIHANDLE hInstall, LPCSTR szFeature,
                                           INSTALLSTATE iState) {
    DWORD error = 0;
    if (ShouldFail("MsiSetFeatureStateA", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    if (!Find(hInstall, Kind::Session))
        return ERROR_INVALID_HANDLE;
    if (!szFeature)
        return ERROR_INVALID_PARAMETER;
    auto it = E().features.find(szFeature);
    if (it == E().features.end())
        return ERROR_UNKNOWN_FEATURE;
    it->second.request = iState;
    return ERROR_SUCCESS;
}

extern "C" UINT WINAPI MsiEnumRelatedProductsA(LPCSTR lpUpgradeCode, DWORD dwReserved,
                                               DWORD iProductIndex, LPSTR lpProductBuf) {
    DWORD error = 0;
    if (ShouldFail("MsiEnumRelatedProductsA", &error))
        return FaultError(error, ERROR_FUNCTION_FAILED);
    if (dwReserved != 0 || !lpProductBuf || !IsGuid(lpUpgradeCode))
        return ERROR_INVALID_PARAMETER;
    auto it = E().related.find(Upper(lpUpgradeCode));
    if (it == E().related.end() || iProductIndex >= it->second.size())
        return ERROR_NO_MORE_ITEMS;
    std::strcpy(lpProductBuf, it->second[iProductIndex].substr(0, 38).c_str());
    return ERROR_SUCCESS;
}

// ---------------------------------------------------------------- lifecycle

// Products registered on this machine, as the engine answers for any of them.
extern "C" UINT WINAPI MsiGetProductInfoA(LPCSTR szProduct, LPCSTR szAttribute, LPSTR lpValueBuf,
                                          LPDWORD pcchValueBuf) {
    DWORD error = 0;
    if (ShouldFail("MsiGetProductInfoA", &error))
        return FaultError(error, ERROR_UNKNOWN_PRODUCT);
    if (!IsGuid(szProduct) || !szAttribute || (lpValueBuf && !pcchValueBuf))
        return ERROR_INVALID_PARAMETER;
    auto it = E().products.find(Upper(szProduct));
    // Only a product installed for this machine (or this user) answers; one
    // removed, never installed or another user's is unknown here.
    if (it == E().products.end() || it->second.state != INSTALLSTATE_DEFAULT)
        return ERROR_UNKNOWN_PRODUCT;
    if (std::strcmp(szAttribute, "VersionString") != 0)
        return ERROR_UNKNOWN_PROPERTY;
    if (!pcchValueBuf)
        return ERROR_SUCCESS;
    return CopyOut(it->second.version, lpValueBuf, pcchValueBuf);
}

extern "C" INSTALLSTATE WINAPI MsiQueryProductStateA(LPCSTR szProduct) {
    if (ShouldFail("MsiQueryProductStateA"))
        return INSTALLSTATE_UNKNOWN;
    if (!IsGuid(szProduct))
        return INSTALLSTATE_INVALIDARG;
    auto it = E().products.find(Upper(szProduct));
    return it == E().products.end() ? INSTALLSTATE_UNKNOWN : it->second.state;
}
