#include "host_fixture.h"
#include "setup/exports.h"
#include "setup/language/config_language.h"

#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

using namespace vantor;

namespace {

constexpr std::uint64_t kCreated = 132000000000000000ull; // a 2019 file time

class ConfigLanguageTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        NewFolder();
    }
    void NewFolder() {
        dir = host::MakeTempDir();
        config = dir + "/Rondo.exe.config";
    }
    // A fresh machine for the next case of a table (its folder goes too).
    void Fresh() {
        host::Reset();
        session = host::OpenSession();
        NewFolder();
    }

    // Runs the deferred action on data, as the engine hands it over.
    UINT Run(const std::string& data) {
        host::SetProperty("CustomActionData", data);
        host::SetDeferred(true);
        return SetConfigLanguage(session);
    }
    UINT RunFor(const std::string& lcid) { return Run(host::WinPath(config) + "|" + lcid); }

    std::string dir;
    std::string config;
};

// Input lines joined with LF, output lines with CRLF.
std::string Lf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}
std::string Crlf(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines)
        text += line + "\r\n";
    return text;
}

const std::string kGerman = "\t\t<add key=\"Language\" value=\"de-DE\"/>";

TEST_F(ConfigLanguageTest, CultureTable) {
    struct Case {
        const char* lcid;
        const char* culture; // null: unknown
    } cases[] = {
        {"1028", "zh-HK"},
        {"1029", "cs-CZ"},
        {"1030", "da-DK"},
        {"1031", "de-DE"},
        {"1032", "el-GR"},
        {"1033", "en-US"},
        {"1034", "es-ES"},
        {"1035", "fi-FI"},
        {"1036", "fr-FR"},
        {"1038", "hu-HU"},
        {"1040", "it-IT"},
        {"1041", "ja-JP"},
        {"1043", "nl-BE"},
        {"1044", "nn-NO"},
        {"1045", "pl-PL"},
        {"1048", "ro-RO"},
        {"1049", "ru-RU"},
        {"1053", "sv-SE"},
        {"1055", "tr-TR"},
        {"2052", "zh-CN"},
        {"2067", "nl-BE"},
        {"2068", "nn-NO"},
        {"2070", "pt-PT"},
        // A decimal prefix: white space and sign allowed, text after it ignored.
        {" +1031", "de-DE"},
        {"1031abc", "de-DE"},
        {"1033.7", "en-US"},
        {"\t2052 ", "zh-CN"},
        // Unknown numbers.
        {"1042", nullptr},
        {"1037", nullptr},
        {"0", nullptr},
        {"", nullptr},
        {"abc", nullptr},
        {"-1031", nullptr},
        {"4294968327", nullptr},
        {"10310", nullptr},
        {"x1031", nullptr},
    };
    for (const Case& c : cases) {
        LPCSTR culture = "unchanged";
        const UINT result = CultureNameForLcid(c.lcid, &culture);
        if (c.culture) {
            EXPECT_EQ(result, 0u) << c.lcid;
            EXPECT_STREQ(culture, c.culture) << c.lcid;
        } else {
            EXPECT_EQ(result, 13u) << c.lcid;
            EXPECT_STREQ(culture, "unchanged") << c.lcid;
        }
    }
}

TEST_F(ConfigLanguageTest, RewriteRulesLineByLine) {
    struct Case {
        const char* what;
        const char* culture;
        std::string input;
        std::string expected;
    } cases[] = {
        {"settings in the section that mention Language go, the new one follows the opening",
         "de-DE",
         Lf({"<?xml version=\"1.0\"?>", "<configuration>", "  <appSettings>",
             "    <add key=\"Language\" value=\"fr-FR\"/>",
             "    <add key=\"Port\" value=\"COM1\"/>", "    <!-- Language chosen at setup -->",
             "    <add key=\"UiLanguageHint\" value=\"x\"/>", "  </appSettings>",
             "  <Language>outside stays</Language>", "</configuration>"}),
         Crlf({"<?xml version=\"1.0\"?>", "<configuration>", "  <appSettings>", kGerman,
               "    <add key=\"Port\" value=\"COM1\"/>", "  </appSettings>",
               "  <Language>outside stays</Language>", "</configuration>"})},
        {"the default culture only removes", "en-US",
         Lf({"<appSettings>", "<add key=\"Language\" value=\"de-DE\"/>", "<add key=\"A\"/>",
             "</appSettings>"}),
         Crlf({"<appSettings>", "<add key=\"A\"/>", "</appSettings>"})},
        {"an opening line that mentions Language is kept when a setting follows", "de-DE",
         Lf({"<appSettings><!-- Language -->", "</appSettings>"}),
         Crlf({"<appSettings><!-- Language -->", kGerman, "</appSettings>"})},
        {"an opening line that mentions Language goes for the default culture", "en-US",
         Lf({"<appSettings><!-- Language -->", "<add key=\"A\"/>", "</appSettings>"}),
         Crlf({"<add key=\"A\"/>", "</appSettings>"})},
        {"the closing line is copied even when it mentions Language", "de-DE",
         Lf({"<appSettings>", "</appSettings><!-- Language -->", "<Language/>"}),
         Crlf({"<appSettings>", kGerman, "</appSettings><!-- Language -->", "<Language/>"})},
        {"a one-line section leaves the flag on until a later closing line", "de-DE",
         Lf({"<appSettings></appSettings>", "<Language/>", "<other/>", "</appSettings>",
             "<Language/>"}),
         Crlf({"<appSettings></appSettings>", kGerman, "<other/>", "</appSettings>",
               "<Language/>"})},
        {"an opening tag with attributes is no section start", "de-DE",
         Lf({"<appSettings file=\"user.config\">", "<add key=\"Language\" value=\"fr-FR\"/>",
             "</appSettings>"}),
         Crlf({"<appSettings file=\"user.config\">", "<add key=\"Language\" value=\"fr-FR\"/>",
               "</appSettings>"})},
        {"a self-closing section is no section start", "de-DE",
         Lf({"<appSettings/>", "<Language/>"}), Crlf({"<appSettings/>", "<Language/>"})},
        {"without a section the file is copied unchanged", "de-DE",
         Lf({"<configuration>", "  <Language>x</Language>", "</configuration>"}),
         Crlf({"<configuration>", "  <Language>x</Language>", "</configuration>"})},
        {"the tag is matched case-sensitively", "de-DE", Lf({"<AppSettings>", "<Language/>"}),
         Crlf({"<AppSettings>", "<Language/>"})},
        {"each section start outside a section gets its own setting", "de-DE",
         Lf({"<appSettings>", "</appSettings>", "<appSettings>", "<Language/>", "</appSettings>"}),
         Crlf({"<appSettings>", kGerman, "</appSettings>", "<appSettings>", kGerman,
               "</appSettings>"})},
        {"a second opening tag inside the section is an ordinary line", "de-DE",
         Lf({"<appSettings>", "<appSettings>", "</appSettings>"}),
         Crlf({"<appSettings>", kGerman, "<appSettings>", "</appSettings>"})},
        {"CRLF input keeps its lines; blank lines stay", "de-DE",
         "<appSettings>\r\n\r\n<Language/>\r\n</appSettings>\r\n",
         Crlf({"<appSettings>", kGerman, "", "</appSettings>"})},
        {"a last line without a line end gets one", "de-DE", "<appSettings>\n</appSettings>",
         Crlf({"<appSettings>", kGerman, "</appSettings>"})},
        {"a carriage return not before a line feed is part of the line", "de-DE",
         "a\rb\n<appSettings>\r\r\n</appSettings>\n",
         "a\rb\r\n<appSettings>\r\r\n" + kGerman + "\r\n</appSettings>\r\n"},
        {"an empty file stays empty", "de-DE", "", ""},
    };
    for (const Case& c : cases) {
        host::WriteHostFile(config, c.input);
        EXPECT_EQ(RewriteAppSettings(host::WinPath(config).c_str(), c.culture), 0u) << c.what;
        EXPECT_EQ(host::ReadHostFile(config), c.expected) << c.what;
        EXPECT_FALSE(host::FileExists(config + ".tmp")) << c.what;
    }
}

TEST_F(ConfigLanguageTest, VeryLongLinesSurviveWhole) {
    const std::string longSetting =
        "<add key=\"Blob\" value=\"" + std::string(3 << 20, 'b') + "\"/>";
    const std::string longOutside(5 << 20, 'o');
    host::WriteHostFile(config, Lf({longOutside, "<appSettings>", longSetting, "</appSettings>"}));
    ASSERT_EQ(RunFor("1031"), 0u);
    EXPECT_EQ(host::ReadHostFile(config),
              Crlf({longOutside, "<appSettings>", kGerman, longSetting, "</appSettings>"}));
}

TEST_F(ConfigLanguageTest, ManyShortLines) {
    std::string input = "<appSettings>\n";
    std::string expected = "<appSettings>\r\n" + kGerman + "\r\n";
    for (int i = 0; i < 400000; ++i) {
        input += i % 2 ? "a\n" : "b\r\n";
        expected += i % 2 ? "a\r\n" : "b\r\n";
    }
    host::WriteHostFile(config, input);
    ASSERT_EQ(RunFor("1031"), 0u);
    EXPECT_EQ(host::ReadHostFile(config), expected);
}

TEST_F(ConfigLanguageTest, ActionWritesLanguageAndKeepsCreationTime) {
    host::WriteHostFile(
        config, Lf({"<appSettings>", "<add key=\"Language\" value=\"en-US\"/>", "</appSettings>"}));
    host::SetCreationTime(config, kCreated);
    ASSERT_EQ(RunFor("1031"), 0u);
    // Times first: reading the file moves the host's access time.
    EXPECT_EQ(host::CreationTime(config), kCreated);
    EXPECT_EQ(host::LastWriteTime(config), kCreated);
    EXPECT_EQ(host::LastAccessTime(config), kCreated);
    EXPECT_EQ(host::ReadHostFile(config), Crlf({"<appSettings>", kGerman, "</appSettings>"}));
    ASSERT_EQ(host::LogLines().size(), 1u);
    EXPECT_EQ(host::LogLines()[0],
              "VantorCustomAction: Appling language: 1031 to " + host::WinPath(config));
    EXPECT_TRUE(host::ForbiddenPropertyAccesses().empty());
    // The finished copy takes the file's place in one step; the file itself
    // is never deleted first.
    int moves = 0, deletes = 0;
    for (const std::string& call : host::CallLog()) {
        moves += call == "MoveFileExA";
        deletes += call == "DeleteFileA";
    }
    EXPECT_EQ(moves, 1);
    EXPECT_EQ(deletes, 0);
}

TEST_F(ConfigLanguageTest, TwoRunsLeaveOneSetting) {
    const std::string input = Lf({"<configuration>", "  <appSettings>", "    <add key=\"A\"/>",
                                  "  </appSettings>", "</configuration>"});
    const std::string once = Crlf({"<configuration>", "  <appSettings>", kGerman,
                                   "    <add key=\"A\"/>", "  </appSettings>", "</configuration>"});
    host::WriteHostFile(config, input);
    ASSERT_EQ(RunFor("1031"), 0u);
    EXPECT_EQ(host::ReadHostFile(config), once);
    ASSERT_EQ(RunFor("1031"), 0u);
    EXPECT_EQ(host::ReadHostFile(config), once);
}

// "@" in a case stands for the configuration file's path.
std::string WithPath(std::string text, const std::string& path) {
    for (std::size_t at = text.find('@'); at != std::string::npos; at = text.find('@', at))
        text.replace(at, 1, path), at += path.size();
    return text;
}

TEST_F(ConfigLanguageTest, DataStringFields) {
    struct Case {
        const char* data;
        UINT result;
        bool rewritten;
        const char* log; // empty: nothing logged
        const char* why; // the line that says why nothing was done, or empty
    } cases[] = {
        {"@|1031", 0, true, "Appling language: 1031 to @", ""},
        {"|@||1031|", 0, true, "Appling language: 1031 to @", ""},
        {"@|1036|ignored|1031", 0, true, "Appling language: 1031 to @", ""},
        // One field is both path and LCID: the path reads as LCID 0.
        {"@", 13, false, "Appling language: @ to @",
         "@ not changed: unknown LCID \"@\" (error 13)"},
        {"@|1042", 13, false, "Appling language: 1042 to @",
         "@ not changed: unknown LCID \"1042\" (error 13)"},
        {"@|-1031", 13, false, "Appling language: -1031 to @",
         "@ not changed: unknown LCID \"-1031\" (error 13)"},
        {"", 13, false, "",
         "Language not set: CustomActionData is empty: is the type-51 action that sets it "
         "missing? (error 13)"},
        {"|||", 13, false, "",
         "Language not set: CustomActionData \"|||\" names no file, \"<path>|<LCID>\" expected "
         "(error 13)"},
    };
    const std::string input = Lf({"<appSettings>", "</appSettings>"});
    for (const Case& cs : cases) {
        Fresh();
        const std::string path = host::WinPath(config);
        const struct {
            std::string data;
            UINT result;
            bool rewritten;
            std::string log;
            std::string why;
        } c{WithPath(cs.data, path), cs.result, cs.rewritten, WithPath(cs.log, path),
            WithPath(cs.why, path)};
        host::WriteHostFile(config, input);
        host::SetCreationTime(config, kCreated);
        const std::uint64_t written = host::LastWriteTime(config);
        EXPECT_EQ(Run(c.data), c.result) << c.data;
        EXPECT_EQ(host::ReadHostFile(config) != input, c.rewritten) << c.data;
        if (!c.rewritten) {
            EXPECT_EQ(host::LastWriteTime(config), written) << c.data << ": times untouched";
        }
        std::vector<std::string> log;
        for (const std::string* line : {&c.log, &c.why})
            if (!line->empty())
                log.push_back("VantorCustomAction: " + *line);
        EXPECT_EQ(host::LogLines(), log) << c.data;
    }
}

TEST_F(ConfigLanguageTest, UnreadableDataTouchesNothing) {
    host::WriteHostFile(config, "<appSettings>\n");
    host::FailCall("MsiGetPropertyA");
    EXPECT_EQ(RunFor("1031"), 1603u);
    EXPECT_EQ(host::ReadHostFile(config), "<appSettings>\n");
    EXPECT_EQ(host::LogLines(),
              std::vector<std::string>{
                  "VantorCustomAction: Language not set: CustomActionData cannot be read (error "
                  "1603)"});
}

// Whatever goes wrong, the configuration file stays whole and as it was, no
// temporary copy is left behind, and a line says why.
TEST_F(ConfigLanguageTest, FailuresLeaveTheFileAsItWas) {
    const std::string input = Lf({"<appSettings>", "<add key=\"Language\" value=\"fr-FR\"/>",
                                  std::string(200000, 'x'), "</appSettings>"});
    std::string temp;
    struct Case {
        const char* what;
        std::function<void()> arrange;
        UINT result;
        const char* log; // the last line; "@" stands for the path
    } cases[] = {
        {"configuration file read-only", [&] { host::SetReadOnly(config); }, 5,
         "@ not changed: it cannot be opened (error 5)"},
        {"configuration file locked by another process", [&] { host::LockFile(config); }, 5,
         "Refused to rewrite @: it cannot be examined (error 32)"},
        // Opens before it: the link checks of the file and its copy.
        {"configuration file cannot be opened",
         [] { host::FailCall("CreateFileA", 3, ERROR_ACCESS_DENIED); }, 5,
         "@ not changed: it cannot be opened (error 5)"},
        {"temporary copy cannot be created",
         [&] {
             host::WriteHostFile(temp, "stale");
             host::SetReadOnly(temp);
         },
         5, "@ not changed: @.tmp cannot be created (error 5)"},
        {"disk full part-way", [] { host::SetDiskSpace(70000); }, 1603,
         "@ not changed: the copy @.tmp cannot be completed (error 112)"},
        {"a write fails", [] { host::FailCall("WriteFile", 2, ERROR_WRITE_FAULT); }, 1603,
         "@ not changed: the copy @.tmp cannot be completed (error 29)"},
        {"the flush fails", [] { host::FailCall("FlushFileBuffers", 0, ERROR_WRITE_FAULT); }, 1603,
         "@ not changed: the copy @.tmp cannot be completed (error 29)"},
        // The file is read through for a NUL byte first: four pieces of 64 KiB
        // and the end; the copy's reads follow.
        {"the look for a NUL byte cannot read",
         [] { host::FailCall("ReadFile", 2, ERROR_READ_FAULT); }, 1603,
         "@ not changed: it cannot be read (error 30)"},
        {"a read fails", [] { host::FailCall("ReadFile", 7, ERROR_READ_FAULT); }, 1603,
         "@ not changed: the copy @.tmp cannot be completed (error 30)"},
        {"the replace fails", [] { host::FailCall("MoveFileExA", 0, ERROR_ACCESS_DENIED); }, 5,
         "@ not changed: the copy @.tmp cannot replace it (error 5)"},
    };
    for (const Case& c : cases) {
        Fresh();
        temp = config + ".tmp";
        host::WriteHostFile(config, input);
        host::SetCreationTime(config, kCreated);
        c.arrange();
        EXPECT_EQ(RunFor("1031"), c.result) << c.what;
        const std::string path = host::WinPath(config);
        EXPECT_EQ(host::LogLines().back(), "VantorCustomAction: " + WithPath(c.log, path))
            << c.what;
        EXPECT_EQ(host::ReadHostFile(config), input) << c.what;
        const bool staleTempStays = std::string(c.what) == "temporary copy cannot be created";
        EXPECT_EQ(host::FileExists(temp), staleTempStays) << c.what;
        EXPECT_EQ(host::OpenHandles(), 0) << c.what;
    }
}

// A link at the file's name or at its copy's, or a second name of the file,
// planted by someone who may write the folder, would have the action write
// or re-time another file: refused, and nothing is touched.
TEST_F(ConfigLanguageTest, NeverWritesThroughALink) {
    const std::string input = Lf({"<appSettings>", "</appSettings>"});
    const std::string rewritten = Crlf({"<appSettings>", kGerman, "</appSettings>"});
    std::string victim;
    struct Case {
        const char* what;
        std::function<void()> plant;
        const char* why; // null: rewritten as usual
        bool actionOnly; // false: RewriteAppSettings alone (the check on its own handles)
    } cases[] = {
        {"the file is a symbolic link",
         [&] {
             host::WriteHostFile(victim, input);
             host::PlantLink(config, victim);
         },
         "it is a symbolic link or junction (error 5)", true},
        {"the file has a second name",
         [&] {
             host::WriteHostFile(victim, input);
             host::PlantHardLink(config, victim);
         },
         "it has 2 hard links (error 5)", true},
        {"the copy's name is a symbolic link",
         [&] {
             host::WriteHostFile(config, input);
             host::WriteHostFile(victim, "victim");
             host::PlantLink(config + ".tmp", victim);
         },
         "@.tmp is a symbolic link or junction (error 5)", true},
        {"the copy's name is a link to a file not there yet",
         [&] {
             host::WriteHostFile(config, input);
             host::PlantLink(config + ".tmp", victim);
         },
         "@.tmp is a symbolic link or junction (error 5)", true},
        {"the copy's name cannot be examined",
         [&] {
             host::WriteHostFile(config, input);
             host::LockFile(config + ".tmp");
         },
         "@.tmp cannot be examined (error 32)", true},
        {"a plain leftover copy is replaced",
         [&] {
             host::WriteHostFile(config, input);
             host::WriteHostFile(config + ".tmp", "stale");
         },
         nullptr, true},
        {"rewrite alone: a linked file is refused",
         [&] {
             host::WriteHostFile(victim, input);
             host::PlantLink(config, victim);
         },
         "", false},
        {"rewrite alone: a hard-linked file is refused",
         [&] {
             host::WriteHostFile(victim, input);
             host::PlantHardLink(config, victim);
         },
         "", false},
        {"rewrite alone: a link at the copy's name goes, its target stays",
         [&] {
             host::WriteHostFile(config, input);
             host::WriteHostFile(victim, "victim");
             host::PlantLink(config + ".tmp", victim);
         },
         nullptr, false},
    };
    for (const Case& c : cases) {
        Fresh();
        victim = host::MakeTempDir() + "/victim.config";
        c.plant();
        host::SetCreationTime(config, kCreated);
        const bool victimThere = host::FileExists(victim);
        const std::string victimBefore = victimThere ? host::ReadHostFile(victim) : "";
        const std::uint64_t victimWritten = host::LastWriteTime(victim);
        const std::uint64_t configWritten = host::LastWriteTime(config);
        const bool tmpWasLink = host::IsLink(config + ".tmp");

        const UINT result = c.actionOnly
                                ? RunFor("1031")
                                : RewriteAppSettings(host::WinPath(config).c_str(), "de-DE");
        EXPECT_EQ(host::FileExists(victim), victimThere) << c.what;
        EXPECT_EQ(victimThere ? host::ReadHostFile(victim) : "", victimBefore) << c.what;
        EXPECT_EQ(host::LastWriteTime(victim), victimWritten) << c.what;
        if (c.why) {
            EXPECT_EQ(result, 5u) << c.what;
            EXPECT_EQ(host::LastWriteTime(config), configWritten) << c.what;
            EXPECT_EQ(host::IsLink(config + ".tmp"), tmpWasLink) << c.what;
            if (!tmpWasLink) {
                EXPECT_FALSE(host::FileExists(config + ".tmp")) << c.what;
            }
        } else {
            EXPECT_EQ(result, 0u) << c.what;
            EXPECT_EQ(host::ReadHostFile(config), rewritten) << c.what;
            EXPECT_FALSE(host::IsLink(config + ".tmp") || host::FileExists(config + ".tmp"))
                << c.what;
        }
        if (c.actionOnly) {
            const std::string path = host::WinPath(config);
            std::vector<std::string> log = {"VantorCustomAction: Appling language: 1031 to " +
                                            path};
            if (c.why)
                log.push_back("VantorCustomAction: Refused to rewrite " + path + ": " +
                              WithPath(c.why, path));
            EXPECT_EQ(host::LogLines(), log) << c.what;
        }
    }
}

// Only text is rewritten: a file holding a NUL byte anywhere (an application
// named instead of its configuration file, a file in UTF-16) stays exactly as
// it was, its times too, and no copy of it is made.
TEST_F(ConfigLanguageTest, AFileHoldingANulByteIsLeftAsItWas) {
    const std::string text = Lf({"<appSettings>", "</appSettings>"});
    std::string utf16 = "\xff\xfe";
    for (char c : text)
        utf16 += std::string(1, c) + '\0';
    struct Case {
        const char* what;
        std::string content;
        bool refused;
    } cases[] = {
        {"an application", std::string("MZ\x90\0\x03\0\0\0", 8) + text, true},
        {"a NUL beyond the first piece read", std::string(70000, 'x') + '\0' + "\n" + text, true},
        {"a NUL as the last byte", text + '\0', true},
        {"text in UTF-16", utf16, true},
        {"text", text, false},
    };
    for (const Case& c : cases) {
        Fresh();
        host::WriteHostFile(config, c.content);
        host::SetCreationTime(config, kCreated);
        // Last access older than the last write, so that a read would move it.
        const timespec times[2] = {{1500000000, 0}, {1600000000, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, config.c_str(), times, 0), 0);
        const std::uint64_t accessed = host::LastAccessTime(config);
        const std::uint64_t written = host::LastWriteTime(config);

        const UINT result = RunFor("1031");

        const std::string path = host::WinPath(config);
        EXPECT_FALSE(host::FileExists(config + ".tmp")) << c.what;
        if (!c.refused) {
            EXPECT_EQ(result, 0u) << c.what;
            EXPECT_EQ(host::ReadHostFile(config),
                      Crlf({"<appSettings>", kGerman, "</appSettings>"}))
                << c.what;
            continue;
        }
        EXPECT_EQ(result, 13u) << c.what;
        EXPECT_EQ(host::CreationTime(config), kCreated) << c.what;
        EXPECT_EQ(host::LastWriteTime(config), written) << c.what;
        EXPECT_EQ(host::LastAccessTime(config), accessed) << c.what;
        EXPECT_EQ(host::ReadHostFile(config), c.content) << c.what;
        EXPECT_EQ(host::LogLines(),
                  (std::vector<std::string>{
                      "VantorCustomAction: Appling language: 1031 to " + path,
                      "VantorCustomAction: Refused to rewrite " + path +
                          ": it holds a NUL byte, so it is no text configuration file (error 13)"}))
            << c.what;
    }
}

TEST_F(ConfigLanguageTest, TimesAreSetAfterAFailedRewrite) {
    host::WriteHostFile(config, "<appSettings>\n</appSettings>\n");
    host::SetCreationTime(config, kCreated);
    host::FailCall("MoveFileExA");
    EXPECT_EQ(RunFor("1031"), 5u);
    EXPECT_EQ(host::LastWriteTime(config), kCreated);
    EXPECT_EQ(host::LastAccessTime(config), kCreated);
}

TEST_F(ConfigLanguageTest, MissingFileAndUnreadableCreationTime) {
    EXPECT_EQ(RunFor("1031"), 5u) << "no configuration file";
    EXPECT_FALSE(host::FileExists(config + ".tmp"));
    EXPECT_FALSE(host::FileExists(config));

    host::WriteHostFile(config, "<appSettings>\n</appSettings>\n");
    host::ResetCallCount();
    host::FailCall("GetFileTime");
    EXPECT_EQ(RunFor("1031"), 0u) << "the rewrite runs without a creation time";
    EXPECT_EQ(host::ReadHostFile(config), Crlf({"<appSettings>", kGerman, "</appSettings>"}));
    for (const std::string& call : host::CallLog())
        EXPECT_NE(call, "SetFileTime") << "a zero time leaves the times as they are";

    const FILETIME none = ReadCreationTime(host::WinPath(dir + "/absent").c_str());
    EXPECT_EQ(none.dwLowDateTime | none.dwHighDateTime, 0u);
}

} // namespace

#include "sweep.h"

namespace {

void ConfigFor(SweepScene& scene, const char* lcid) {
    const std::string config = host::MakeTempDir() + "/Rondo.exe.config";
    host::WriteHostFile(
        config,
        Lf({"<configuration>", "  <appSettings>", "    <add key=\"Language\" value=\"fr-FR\"/>",
            "    <add key=\"Port\" value=\"COM1\"/>", "  </appSettings>", "</configuration>"}));
    host::SetCreationTime(config, kCreated);
    host::SetProperty("CustomActionData", host::WinPath(config) + "|" + lcid);
    host::SetDeferred(true);
    // The temporary copy must never be left behind either.
    scene.watchedFiles = {config, config + ".tmp"};
}

VANTOR_SWEEP(SetConfigLanguage, "German", [](SweepScene& scene) { ConfigFor(scene, "1031"); },
             {ERROR_ACCESS_DENIED, ERROR_INSTALL_FAILURE});
VANTOR_SWEEP(SetConfigLanguage, "English removes only",
             [](SweepScene& scene) { ConfigFor(scene, "1033"); },
             {ERROR_ACCESS_DENIED, ERROR_INSTALL_FAILURE});
// Whichever call fails, the file the link leads to stays as it was. (The
// link itself is not watched: a failed check lets the rewrite delete it.)
VANTOR_SWEEP(SetConfigLanguage, "copy's name is a link",
             [](SweepScene& scene) {
                 ConfigFor(scene, "1031");
                 const std::string victim = host::MakeTempDir() + "/victim.config";
                 host::WriteHostFile(victim, "victim");
                 host::PlantLink(scene.watchedFiles[1], victim);
                 scene.watchedFiles = {scene.watchedFiles[0], victim};
             },
             {ERROR_SUCCESS, ERROR_ACCESS_DENIED, ERROR_INSTALL_FAILURE});

} // namespace
