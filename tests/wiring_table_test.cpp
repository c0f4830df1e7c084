// The includes in package/ write the wiring that common/wiring.h states: for
// every action of the table, its CustomAction row (library, entry, type), its
// places and conditions in both sequences, its data setter, its rollback and
// the define that brings it, in the include the table names; and no include
// wires an action the table does not know.
#include "common/wiring.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

using namespace vantor::wiring;

namespace {

struct Element {
    std::map<std::string, std::string> attributes;
    std::string text;                // between the tags, entities decoded
    std::vector<std::string> ifdefs; // the <?ifdef var.X ?> blocks around it
    std::string sequence;            // the sequence table it lies in, if any
};

std::string Decode(std::string text) {
    const std::pair<const char*, const char*> entities[] = {
        {"&gt;", ">"}, {"&lt;", "<"}, {"&quot;", "\""}, {"&amp;", "&"}, {"$$", "$"}};
    for (const auto& [from, to] : entities)
        for (std::size_t at = text.find(from); at != std::string::npos;
             at = text.find(from, at + std::string(to).size()))
            text.replace(at, std::string(from).size(), to);
    return text;
}

std::map<std::string, std::string> Attributes(const std::string& tag) {
    std::map<std::string, std::string> attributes;
    std::size_t at = 0;
    while ((at = tag.find("=\"", at)) != std::string::npos) {
        std::size_t name = tag.find_last_of(" \t\r\n", at);
        std::size_t end = tag.find('"', at + 2);
        attributes[tag.substr(name + 1, at - name - 1)] = Decode(tag.substr(at + 2, end - at - 2));
        at = end + 1;
    }
    return attributes;
}

// The <CustomAction> and <Custom> elements of one include, with where they lie.
struct Include {
    std::vector<Element> customActions;
    std::vector<Element> customs;
};

Include Parse(const std::string& text) {
    Include include;
    std::vector<std::string> ifdefs; // "" for an <?ifndef ?> block
    std::string sequence;
    for (std::size_t at = 0; (at = text.find('<', at)) != std::string::npos;) {
        if (text.compare(at, 4, "<!--") == 0) {
            at = text.find("-->", at);
            continue;
        }
        std::size_t end = text.find('>', at);
        const std::string tag = text.substr(at, end - at + 1);
        if (tag.rfind("<?ifdef var.", 0) == 0)
            ifdefs.push_back(tag.substr(12, tag.find(' ', 12) - 12));
        else if (tag.rfind("<?ifndef ", 0) == 0 || tag.rfind("<?if ", 0) == 0)
            ifdefs.push_back("");
        else if (tag.rfind("<?endif", 0) == 0 && !ifdefs.empty())
            ifdefs.pop_back();
        else if (tag == "<InstallExecuteSequence>" || tag == "<InstallUISequence>")
            sequence = tag.substr(1, tag.size() - 2);
        else if (tag.rfind("</Install", 0) == 0)
            sequence.clear();
        else if (tag.rfind("<CustomAction ", 0) == 0 || tag.rfind("<Custom ", 0) == 0) {
            Element element{Attributes(tag), "", {}, sequence};
            for (const std::string& name : ifdefs)
                if (!name.empty())
                    element.ifdefs.push_back(name);
            if (tag.compare(tag.size() - 2, 2, "/>") != 0) {
                std::size_t close = text.find("</Custom>", end);
                element.text = Decode(text.substr(end + 1, close - end - 1));
            }
            (tag.rfind("<Custom ", 0) == 0 ? include.customs : include.customActions)
                .push_back(element);
        }
        at = end;
    }
    return include;
}

std::map<std::string, Include> ReadIncludes() {
    const std::string folder = std::string(VANTOR_SOURCE_DIR) + "/package";
    std::map<std::string, Include> includes;
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr)
        return includes;
    while (dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name.size() < 4 || name.compare(name.size() - 4, 4, ".wxi") != 0)
            continue;
        std::ifstream in(folder + "/" + name);
        std::stringstream text;
        text << in.rdbuf();
        includes[name] = Parse(text.str());
    }
    closedir(dir);
    return includes;
}

const Element* ById(const Include& include, const std::string& id) {
    for (const Element& element : include.customActions)
        if (element.attributes.count("Id") && element.attributes.at("Id") == id)
            return &element;
    return nullptr;
}

std::string Attribute(const Element& element, const char* name) {
    auto it = element.attributes.find(name);
    return it == element.attributes.end() ? "" : it->second;
}

// The Type that the engine gets for the element (as a finished package
// carries it: a rollback with its own type).
int TypeOf(const Element& element) {
    const std::string execute = Attribute(element, "Execute");
    int type = kTypeDll;
    if (execute == "deferred" || execute == "rollback" || execute == "commit")
        type |= kTypeInScript;
    if (execute == "rollback")
        type |= kTypeRollback;
    if (Attribute(element, "Impersonate") == "no")
        type |= kTypeNoImpersonate;
    if (Attribute(element, "Return") == "ignore")
        type |= kTypeContinue;
    return type;
}

// "<number> <condition>" of the action in a sequence, or "" when not there.
std::string PlaceOf(const Include& include, const std::string& action, const char* sequence) {
    for (const Element& custom : include.customs)
        if (Attribute(custom, "Action") == action && custom.sequence == sequence)
            return Attribute(custom, "Sequence") + " " + custom.text;
    return "";
}

std::string Expected(int number, const char* condition) {
    return number == 0 ? "" : std::to_string(number) + " " + condition;
}

TEST(WiringTable, TheIncludesWireEachActionAsTheTableSays) {
    const std::map<std::string, Include> includes = ReadIncludes();
    ASSERT_FALSE(includes.empty()) << "no includes in package/";
    for (const Action& action : kActions) {
        SCOPED_TRACE(action.entry);
        auto found = includes.find(action.include);
        ASSERT_NE(found, includes.end()) << "no include " << action.include;
        const Include& include = found->second;
        const Element* row = ById(include, action.entry);
        ASSERT_NE(row, nullptr) << action.include << " has no CustomAction " << action.entry;
        EXPECT_EQ(Attribute(*row, "DllEntry"), action.entry);
        EXPECT_EQ(Attribute(*row, "BinaryKey"), BinaryName(action.dll));
        EXPECT_EQ(TypeOf(*row), action.type);
        EXPECT_EQ(PlaceOf(include, action.entry, "InstallExecuteSequence"),
                  Expected(action.place.execute, action.place.condition));
        EXPECT_EQ(PlaceOf(include, action.entry, "InstallUISequence"),
                  Expected(action.place.ui, action.place.condition));
        if (*action.define != '\0')
            EXPECT_EQ(row->ifdefs, std::vector<std::string>{action.define});
        else
            EXPECT_TRUE(row->ifdefs.empty()) << row->ifdefs.front();

        const std::string setter = std::string("Set") + action.entry;
        const Element* set = ById(include, setter);
        if (action.data == Data::None) {
            EXPECT_EQ(set, nullptr) << setter;
        } else {
            ASSERT_NE(set, nullptr) << action.include << " has no CustomAction " << setter;
            EXPECT_EQ(Attribute(*set, "Property"), action.entry);
            EXPECT_EQ(Attribute(*set, "Value"), action.setterTarget);
            EXPECT_EQ(PlaceOf(include, setter, "InstallExecuteSequence")
                          .substr(0, std::to_string(action.setterPlace).size() + 1),
                      std::to_string(action.setterPlace) + " ");
            EXPECT_EQ(set->ifdefs, row->ifdefs) << setter;
        }

        if (action.rollback.action != nullptr) {
            const Element* undo = ById(include, action.rollback.action);
            ASSERT_NE(undo, nullptr) << action.include << " has no " << action.rollback.action;
            EXPECT_EQ(Attribute(*undo, "DllEntry"), action.rollback.entry);
            EXPECT_EQ(TypeOf(*undo), action.rollback.type);
            EXPECT_EQ(PlaceOf(include, action.rollback.action, "InstallExecuteSequence"),
                      Expected(action.rollback.execute, action.rollback.condition));
        }
    }
}

// Every DLL action of the includes is an action of the table, or a rollback
// that one of its rows names; the shared data string is formatted where the
// table says.
TEST(WiringTable, TheIncludesWireNothingElse) {
    const std::map<std::string, Include> includes = ReadIncludes();
    for (const auto& [name, include] : includes) {
        for (const Element& element : include.customActions) {
            const std::string entry = Attribute(element, "DllEntry");
            if (entry.empty())
                continue;
            const std::string id = Attribute(element, "Id");
            bool known = id == entry && Find(entry.c_str()) != nullptr;
            for (const Action& action : kActions)
                known = known || (action.rollback.action != nullptr &&
                                  id == action.rollback.action && entry == action.rollback.entry);
            EXPECT_TRUE(known) << name << ": CustomAction " << id << " (" << entry << ")";
        }
    }
    const Include& base = includes.at("VantorBase.wxi");
    const Element* shared = ById(base, kSharedDataSetter);
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(Attribute(*shared, "Property"), kSharedData);
    EXPECT_EQ(PlaceOf(base, kSharedDataSetter, "InstallExecuteSequence"),
              std::to_string(kSharedDataPlace) + " ");
}

} // namespace
