// hostprobe on a machine whose data nobody would plant on purpose: registry values of every type
// and of absurd sizes where the detectors read, install paths and writer names of any length and
// of any UTF-16 units, damaged ese.dll version resources, DomainRole variants of the wrong type,
// and the program itself in a folder with characters beyond ASCII and the BMP. The report stays
// exact and the exit code 0. The report stays well-formed XML too, except where a message holds
// what XML cannot carry (C0 controls, U+FFFE, unpaired surrogates): the report writer copies
// those as they are.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>

#include "core/common/utf.h"
#include "support/registry.h"
#include "support/temp_dir.h"
#include "support/xml_check.h"
#include "tests/driver/expected_report.h"

namespace {

using DetectionTest::Lines;
using DetectionTest::operator+;
using ExpectedReport::Detector;

constexpr size_t kHalfMiB = 512 * 1024;  // units: 1 MiB of UTF-16
constexpr size_t kMaxText = 16383;       // the units of a message's text that a record keeps

// Where the detectors read: the instance-names key in either view, and the Setup and
// MailboxRole keys of the last Exchange root.
enum Key { kSql64, kSql32, kSetup, kMailbox };

struct Value {
    std::wstring name;
    DWORD type;
    std::wstring data;     // stored as it is, without a terminator of its own
    size_t dropBytes = 0;  // bytes left off its end
};
Value Sz(const std::wstring& name, const std::wstring& text) {
    return {name, REG_SZ, text + L'\0'};
}
Value Configured(const std::wstring& version) {
    return Sz(L"ConfiguredVersion", version);
}

struct Case {
    const char* what;
    std::vector<std::pair<Key, std::vector<Value>>> registry;
    std::string wmi;                                   // the fake WMI's scenario; empty: Wine's WMI
    std::optional<std::vector<std::wstring>> writers;  // the fake VSS writers; none: Wine's vssapi.dll
    Detector detector;                                 // the detector whose lines differ from a clean run
    bool detected;
    Lines lines;  // as the report shows them: escaped, a line feed as the stream writes it
    bool wellFormed = true;
};

std::string Repeat(const std::string& text, size_t count) {
    std::string repeated;
    repeated.reserve(text.size() * count);
    for (size_t i = 0; i < count; ++i) {
        repeated += text;
    }
    return repeated;
}

// A line whose text, with its tag, fills the units a record keeps: `head` (ASCII, with its
// level letter), then copies of one unit (given in UTF-8) up to the cut.
std::string Filled(Detector detector, const std::string& head, const std::string& unit) {
    const size_t tag = std::char_traits<char>::length(ExpectedReport::kTags[detector]) + 3;  // "[" tag "] "
    return head + Repeat(unit, kMaxText - tag - (head.size() - 2));
}

// The names file of the fake vssapi.dll.
std::string NamesFile(const std::vector<std::wstring>& names) {
    std::string bytes;
    for (const std::wstring& name : names) {
        const auto count = static_cast<uint32_t>(name.size());
        bytes.append(reinterpret_cast<const char*>(&count), sizeof count).append(TestSupport::UnitBytes(name));
    }
    return bytes;
}

class HostileMachine : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(TestSupport::RegistryKeyExists(TestSupport::Widen(ExpectedReport::kSqlKey), KEY_WOW64_32KEY))
            << "prefix not clean";
        ASSERT_TRUE(::CreateDirectoryW(programFolder.c_str(), nullptr));
        ASSERT_TRUE(
            ::CopyFileW(TestSupport::HostprobePath().c_str(), (programFolder + L"hostprobe.exe").c_str(), TRUE));
        for (const auto& [folder, library] : {std::pair<std::wstring, const wchar_t*>{L"e15", L"15_1_2507_6"},
                                              {kBeyondBmp, L"15_1_2507_6"},
                                              {L"none", L"none"},
                                              {L"header", L"header"},
                                              {L"cut", L"cut"},
                                              {L"nofixed", L"nofixed"}}) {
            const std::wstring path = dir.path() + folder;
            ASSERT_TRUE(::CreateDirectoryW(path.c_str(), nullptr) &&
                        ::CreateDirectoryW((path + L"\\bin").c_str(), nullptr) &&
                        ::CopyFileW((TestSupport::ModuleDirectory() + L"fake_ese_" + library + L".dll").c_str(),
                                    (path + L"\\bin\\ese.dll").c_str(), TRUE));
        }
    }

    // Plants what the case names, runs the copy of hostprobe, and checks its report.
    void Check(const Case& c) {
        SCOPED_TRACE(c.what);
        std::vector<std::unique_ptr<TestSupport::ScopedRegistryKey>> keys;
        for (const auto& [key, values] : c.registry) {
            const std::wstring path = key == kSql64 || key == kSql32 ? TestSupport::Widen(ExpectedReport::kSqlKey)
                                      : key == kSetup                ? kV15 + L"\\Setup"
                                                                     : kV15 + L"\\MailboxRole";
            keys.push_back(std::make_unique<TestSupport::ScopedRegistryKey>(
                path, key == kSql32 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY));
            for (const Value& value : values) {
                const std::string bytes = TestSupport::UnitBytes(value.data);
                keys.back()->SetBytes(value.name, value.type, bytes.substr(0, bytes.size() - value.dropBytes));
            }
        }
        std::optional<DetectionTest::FakeLocatorRegistration> wmi;
        if (!c.wmi.empty()) {
            wmi.emplace();
        }
        std::optional<DetectionTest::ScopedVssApiOverride> vss;
        ::DeleteFileW((programFolder + L"vssapi.dll").c_str());
        if (c.writers) {
            ASSERT_TRUE(::CopyFileW((TestSupport::ModuleDirectory() + L"fakes\\vssapi\\vssapi.dll").c_str(),
                                    (programFolder + L"vssapi.dll").c_str(), FALSE));
            TestSupport::WriteFileBytes(dir.path() + L"names", NamesFile(*c.writers));
            vss.emplace(L"native,builtin");
        }
        const std::wstring fakeLog = dir.path() + L"fake.log";
        ::DeleteFileW(fakeLog.c_str());
        TestSupport::ProcessOptions options;
        options.environment = {{L"HOSTPROBE_FAKE_WMI", TestSupport::Widen(c.wmi)},
                               {L"HOSTPROBE_FAKE_WMI_LOG", fakeLog},
                               {L"HOSTPROBE_FAKE_VSS", c.writers ? L"names=" + dir.path() + L"names" : L""},
                               {L"HOSTPROBE_FAKE_VSS_LOG", fakeLog}};
        const auto r = TestSupport::RunProcess(programFolder + L"hostprobe.exe", {L"--format=xml"}, options);

        ExpectedReport::DetectorLines lines = ExpectedReport::CleanLines();
        lines[c.detector] = c.lines;
        const std::string expected =
            ExpectedReport::Xml(c.detected ? std::vector<Detector>{c.detector} : std::vector<Detector>{}, lines);
        const std::string outcome = std::to_string(r.exitCode) + "|" + r.out + "|" + r.err;
        EXPECT_TRUE(outcome == "0|" + expected + "|") << "got:\n" << outcome.substr(0, 4000);
        const std::string parseError = TestSupport::XmlParseError(r.out);
        EXPECT_EQ(parseError.empty(), c.wellFormed) << parseError;
        EXPECT_EQ(TestSupport::ReadFileBytes(fakeLog).substr(0, 7), c.writers || wmi ? "live=0 " : "");
        exitCodesZero += r.exitCode == 0;
        exact += outcome == "0|" + expected + "|";
        wellFormed += parseError.empty();
    }

    const std::wstring kV15 = TestSupport::Widen(ExpectedReport::kExchangeRoots[3]);
    const std::wstring kBeyondBmp = L"\U0001F600 \u00e9 \u6f22";  // a folder name of 4-, 2- and 3-byte UTF-8
    TestSupport::TempDir dir;
    const std::wstring programFolder = dir.path() + L"Hostile " + kBeyondBmp + L"\\";
    int exitCodesZero = 0, exact = 0, wellFormed = 0;
};

TEST_F(HostileMachine, EveryValueTheDetectorsReadKeepsTheReportExactAndTheExitCodeZero) {
    using ExpectedReport::kActiveDirectory;
    using ExpectedReport::kExchange;
    using ExpectedReport::kOracle;
    using ExpectedReport::kSql;
    const std::wstring folder = dir.path();
    const std::string folder8 = Common::Utf16ToUtf8(folder);
    const std::string sqlAbsent = "I Microsoft SQL Server not detected", sqlFound = "I Microsoft SQL Server detected";
    const std::string exchangeAbsent = "I Microsoft Exchange not detected";
    const std::string exchangeFound = "I Microsoft Exchange detected";
    const Lines beforeV15 = ExpectedReport::ExchangeSetupsMissing(3);
    const std::string unreadable = "W Failed to read ese.dll version from: ";
    const auto library = [&](const std::string& installFolder, int error) {
        return unreadable + folder8 + installFolder + "\\bin\\ese.dll (GetLastError=" + std::to_string(error) + ")";
    };
    const Value mailbox = Configured(L"15.1");
    std::wstring pairs;
    while (pairs.size() < 20000) {
        pairs += L"\U0001F600";
    }
    const std::wstring e15 = folder + L"e15";
    const std::string oracleStart = "I Starting Oracle VSS Writer detection",
                      oracleFound = "I Oracle detected via VSS Writer";
    const std::string oracleAbsent = "I Oracle VSS Writer not found", checking = "I Checking writer: ";

    const Case cases[] = {
        // SQL Server: only the type of a value counts, never its data, size or name.
        {"instance names of every type but REG_SZ, one of 1 MiB",
         {{kSql64,
           {{L"EXPAND", REG_EXPAND_SZ, L"MSSQL16.A\0"},
            {L"MULTI", REG_MULTI_SZ, std::wstring(L"A\0B\0\0", 5)},
            {L"DWORD", REG_DWORD, L"\x0001\x0000"},
            {L"QWORD", REG_QWORD, std::wstring(L"\x0001\0\0\0", 4)},
            {L"BINARY", REG_BINARY, std::wstring(kHalfMiB, L'\xABCD')},
            {L"NONE", REG_NONE, L""},
            {L"UNKNOWN", 0x7FFFFFFF, L"MSSQL16.B"}}}},
         "",
         std::nullopt,
         kSql,
         false,
         {sqlAbsent, ExpectedReport::SqlKeyMissing("32-bit")}},
        {"an unterminated REG_SZ of 1 MiB",
         {{kSql64, {{L"BINARY", REG_BINARY, L"x"}, {L"HUGE", REG_SZ, std::wstring(kHalfMiB, L'S')}}}},
         "",
         std::nullopt,
         kSql,
         true,
         {sqlFound, ExpectedReport::SqlKeyMissing("32-bit")}},
        {"a REG_SZ of three bytes in the 32-bit view",
         {{kSql32, {{L"ODD", REG_SZ, L"AB", 1}}}},
         "",
         std::nullopt,
         kSql,
         true,
         {sqlFound, ExpectedReport::SqlKeyMissing("64-bit")}},
        {"only the unnamed value",
         {{kSql64, {Sz(L"", L"MSSQL16.MSSQLSERVER")}}},
         "",
         std::nullopt,
         kSql,
         false,
         {sqlAbsent, "W Invalid max value name length (64-bit view)", ExpectedReport::SqlKeyMissing("32-bit")}},
        {"names of 16383 units, beyond the BMP, with unpaired surrogates and controls",
         {{kSql64,
           {{std::wstring(16383, L'N'), REG_DWORD, L"\x0001\x0000"},
            {L"\U0001F600\xD800\x0001", REG_DWORD, L"\x0001\x0000"},
            Sz(L"\xDC00<&>", L"MSSQL16.X")}}},
         "",
         std::nullopt,
         kSql,
         true,
         {sqlFound, ExpectedReport::SqlKeyMissing("32-bit")}},

        // Exchange: the install path must be a REG_SZ, whatever it holds, and is logged as it is.
        {"install paths of other types holding a real path",
         {{kSetup,
           {{L"Services", REG_MULTI_SZ, e15 + std::wstring(2, L'\0')}, {L"MsiInstallPath", REG_BINARY, e15 + L'\0'}}},
          {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15},
        {"install paths of no type and of QWORD",
         {{kSetup, {{L"Services", REG_NONE, e15 + L'\0'}, {L"MsiInstallPath", REG_QWORD, L"\x0001\0\0\0"}}},
          {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15},
        {"an install path whose last unit lost its high byte",
         {{kSetup, {{L"Services", REG_SZ, e15, 1}}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         true,
         Lines{exchangeFound} + beforeV15},
        {"an install path of 1 MiB",
         {{kSetup, {{L"Services", REG_SZ, folder + std::wstring(kHalfMiB, L'p')}}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{Filled(kExchange, unreadable + folder8, "p")}},
        {"an install path of 32767 units, the longest path Windows has",
         {{kSetup, {Sz(L"MsiInstallPath", L"C:\\" + std::wstring(32767 - 3, L'\u00e9'))}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{Filled(kExchange, unreadable + "C:\\", "\xC3\xA9")}},
        {"an install path of pairs beyond the BMP, one of them cut by the record's limit",
         {{kSetup, {Sz(L"MsiInstallPath", L"C:\\" + pairs)}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         // The text keeps 16383 - 18 - 37 - 3 = 16325 units of the pairs: 8162 and a high surrogate.
         Lines{exchangeAbsent} + beforeV15 +
             Lines{unreadable + "C:\\" + Repeat("\xF0\x9F\x98\x80", 8162) + "\xED\xA0\xBD"},
         false},
        {"an install path with unpaired surrogates",
         {{kSetup,
           {Sz(L"Services", folder + L"a\xD83D"
                                     L"b\xDE00")}},
          {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 +
             Lines{library("a\xED\xA0\xBD"
                           "b\xED\xB8\x80",
                           3)},
         false},
        {"an install path with XML's special characters, breaks, a tab and a colour sequence",
         {{kSetup, {Sz(L"Services", folder + L"<a>&\"'\tb\nc\r\nd\x1b[1;31me")}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("&lt;a&gt;&amp;&quot;&apos;\tb\r\nc\r\r\nde", 123)}},
        {"an install path with C0 controls and non-characters",
         {{kSetup, {Sz(L"Services", folder + L"\x0001\x001F\xFFFE\xFFFF")}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("\x01\x1F\xEF\xBF\xBE\xEF\xBF\xBF", 123)},
         false},
        {"an install folder beyond the BMP",
         {{kSetup, {Sz(L"Services", folder + kBeyondBmp)}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         true,
         Lines{exchangeFound} + beforeV15},
        {"an ese.dll without a version resource",
         {{kSetup, {Sz(L"Services", folder + L"none")}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("none", 1812)}},
        {"an ese.dll whose version resource ends after its header",
         {{kSetup, {Sz(L"Services", folder + L"header")}}, {kMailbox, {Configured(L"0")}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("header", 13)}},
        {"an ese.dll whose version resource ends inside its fixed file info",
         {{kSetup, {Sz(L"Services", folder + L"cut")}}, {kMailbox, {mailbox}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("cut", 13)}},
        {"an ese.dll whose version resource has no fixed file info",
         {{kSetup, {Sz(L"Services", folder + L"nofixed")}}, {kMailbox, {Configured(L"0")}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15 + Lines{library("nofixed", 13)}},
        {"a mailbox version of 1 MiB, then one of three bytes",
         {{kSetup, {Sz(L"Services", e15)}},
          {kMailbox,
           {{L"ConfiguredVersion", REG_SZ, std::wstring(kHalfMiB, L'1')}, {L"UnpackedVersion", REG_SZ, L"15", 1}}}},
         "",
         std::nullopt,
         kExchange,
         true,
         Lines{exchangeFound} + beforeV15},
        {"mailbox versions of other types",
         {{kSetup, {Sz(L"Services", e15)}},
          {kMailbox,
           {{L"ConfiguredVersion", REG_DWORD, L"\x000F\x0000"},
            {L"UnpackedVersion", REG_MULTI_SZ, std::wstring(L"15.1\0\0", 6)}}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15},
        {"a mailbox version beyond the BMP and with an unpaired surrogate",
         {{kSetup, {Sz(L"Services", e15)}},
          {kMailbox, {Configured(L"15\U0001F600"), Sz(L"UnpackedVersion", L"15\xD800")}}},
         "",
         std::nullopt,
         kExchange,
         false,
         Lines{exchangeAbsent} + beforeV15},

        // Active Directory: the role's 32-bit field is read whatever the variant's type.
        {"DomainRole as a string, a double, NULL and an object",
         {},
         "objects=8:5,5:4617315517961601024,1:0,13:0",
         std::nullopt,
         kActiveDirectory,
         false,
         {"I Active Directory not detected (not a Domain Controller)"}},
        {"DomainRole as a 16-bit integer",
         {},
         "objects=2:5",
         std::nullopt,
         kActiveDirectory,
         true,
         {"I Active Directory detected on Domain Controller"}},

        // Oracle: a writer name is logged as it is, up to its first NUL.
        {"empty writer names",
         {},
         "",
         std::vector<std::wstring>{L"", L"", L"Oracle VSS Writer"},
         kOracle,
         true,
         {oracleStart, "I Found 3 VSS writers", checking, checking, checking + "Oracle VSS Writer",
          "I Found Oracle VSS Writer: Oracle VSS Writer", oracleFound}},
        {"writer names with XML's special characters, breaks, a colour sequence and a pair beyond the BMP",
         {},
         "",
         std::vector<std::wstring>{L"<Oracle & \"VSS\" 'Writer'>", L"two\nlines\r\n",
                                   L"\x1b[1;31mred\x1b[0m \U0001F600"},
         kOracle,
         false,
         {oracleStart, "I Found 3 VSS writers", checking + "&lt;Oracle &amp; &quot;VSS&quot; &apos;Writer&apos;&gt;",
          checking + "two\r\nlines\r\r\n", checking + "red \xF0\x9F\x98\x80", oracleAbsent}},
        {"a writer name of 1 MiB that ends in the pattern",
         {},
         "",
         std::vector<std::wstring>{std::wstring(kHalfMiB, L'w') + L"Oracle VSS Writer"},
         kOracle,
         true,
         {oracleStart, "I Found 1 VSS writers", Filled(kOracle, checking, "w"),
          Filled(kOracle, "I Found Oracle VSS Writer: ", "w"), oracleFound}},
        {"a writer name with a NUL before the pattern",
         {},
         "",
         std::vector<std::wstring>{std::wstring(L"System\0Oracle VSS Writer", 24)},
         kOracle,
         false,
         {oracleStart, "I Found 1 VSS writers", checking + "System", oracleAbsent}},
        {"writer names with unpaired surrogates",
         {},
         "",
         std::vector<std::wstring>{L"\xD83D",
                                   L"a\xDE00"
                                   L"b",
                                   L"\xDE00\xD83D"},
         kOracle,
         false,
         {oracleStart, "I Found 3 VSS writers", checking + "\xED\xA0\xBD",
          checking + "a\xED\xB8\x80"
                     "b",
          checking + "\xED\xB8\x80\xED\xA0\xBD", oracleAbsent},
         false},
        {"writer names with C0 controls and non-characters",
         {},
         "",
         std::vector<std::wstring>{L"\x0001", L"\x001F", L"\xFFFE\xFFFF"},
         kOracle,
         false,
         {oracleStart, "I Found 3 VSS writers", checking + "\x01", checking + "\x1F",
          checking + "\xEF\xBF\xBE\xEF\xBF\xBF", oracleAbsent},
         false},
    };
    for (const Case& c : cases) {
        Check(c);
    }
    const int count = static_cast<int>(std::size(cases));
    std::printf(
        "hostile machine data: %d cases, exit code 0 in %d, exact reports %d, well-formed %d "
        "(%d carry what XML cannot)\n",
        count, exitCodesZero, exact, wellFormed, count - wellFormed);
}

}  // namespace
