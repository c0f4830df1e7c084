// vantor-tables: prints the reference tables of the library as Markdown, from
// the very tables that VantorSetup is built from (the converter catalogue,
// the culture names and the country codes), so that the README's copy cannot
// drift from the code. tools/tables/readme-tables.sh compares the two.
#include "setup/catalogue/catalogue.h"
#include "setup/language/config_language.h"
#include "setup/patch/executable_patcher.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

using namespace vantor;

namespace {

const char* PortKindText(std::int32_t kind) {
    switch (kind) {
    case kSerialPort:
        return "serial (`DEFAULT_COM_PORT`)";
    case kParallelPort:
        return "parallel (`DEFAULT_PAR_PORT`)";
    case kUsbPort:
        return "USB";
    case kNoLocalPort:
        return "none";
    default:
        return "?";
    }
}

std::string CodeText(std::int32_t code) {
    return code == 0 ? "—" : std::to_string(code);
}

void Converters() {
    std::vector<const ConverterInfo*> rows;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        rows.push_back(&ConverterCatalogue[i]);
    std::sort(rows.begin(), rows.end(),
              [](const ConverterInfo* a, const ConverterInfo* b) { return a->id < b->id; });
    std::printf("### Converters\n\n"
                "`CONVERTER_LIST` and `DEFAULT_CONVERTER` take the id. The patch record carries "
                "the layout 1 code\n(fathom, quill, larch32, TERN32), the layout 2 code "
                "(sable32) or the id itself (the others);\n— means that layout has no code for "
                "the converter: the record then carries 0.\n\n");
    std::printf("| Id | Name | Port | Layout 1 code | Layout 2 code | Drivers feature |\n");
    std::printf("|---:|---|---|---:|---:|---|\n");
    for (const ConverterInfo* row : rows)
        std::printf("| %d | %s | %s | %s | %s | %s |\n", row->id, row->displayName,
                    PortKindText(row->portKind), CodeText(row->layout1Code).c_str(),
                    CodeText(row->layout2Code).c_str(),
                    *row->feature ? ("`" + std::string(row->feature) + "`").c_str() : "—");
}

void Features() {
    std::map<std::string, std::vector<std::int32_t>> ids;
    for (std::size_t i = 0; i < ConverterCatalogueCount; ++i)
        if (*ConverterCatalogue[i].feature)
            ids[ConverterCatalogue[i].feature].push_back(ConverterCatalogue[i].id);
    std::printf("\n### Drivers features\n\n"
                "The package's Feature table needs each feature of the converters it offers; "
                "with a single\nconverter listed, `AppendComboBox` requests that converter's "
                "feature.\n\n");
    std::printf("| Feature | Converter ids |\n|---|---|\n");
    for (auto& [feature, list] : ids) {
        std::sort(list.begin(), list.end());
        std::string text;
        for (std::int32_t id : list)
            text += (text.empty() ? "" : ", ") + std::to_string(id);
        std::printf("| `%s` | %s |\n", feature.c_str(), text.c_str());
    }
}

void Languages() {
    std::map<std::int32_t, std::pair<const char*, int>> byLcid; // culture, country code
    for (std::size_t i = 0; i < CultureTableCount; ++i)
        byLcid[CultureTable[i].lcid] = {CultureTable[i].name, 0};
    for (std::size_t i = 0; i < CountryCodeTableCount; ++i) {
        auto& entry = byLcid[CountryCodeTable[i].lcid];
        entry.second = CountryCodeTable[i].code;
    }
    std::printf("\n### Languages\n\n"
                "`ProductLanguage` (and the LCID of `SetConfigLanguage`'s data). The culture "
                "name is what\n`SetConfigLanguage` writes (an LCID without one answers 13); "
                "the country code is what the\npatch actions write (an LCID without one "
                "leaves the applications as shipped).\n\n");
    std::printf("| LCID | Culture name | Country code |\n|---:|---|---:|\n");
    for (const auto& [lcid, entry] : byLcid)
        std::printf("| %d | %s | %s |\n", lcid, entry.first ? entry.first : "—",
                    entry.second ? std::to_string(entry.second).c_str() : "—");
}

} // namespace

int main() {
    Converters();
    Features();
    Languages();
    return 0;
}
