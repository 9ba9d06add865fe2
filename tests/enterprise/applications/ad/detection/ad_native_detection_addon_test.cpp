// The Active Directory detector against Wine's own WMI (a stand-alone machine, domain role 0)
// and against a fake WMI provider that the tests register in place of the WMI locator.

#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <wbemcli.h>

#include <map>
#include <string>
#include <thread>
#include <vector>

#include "core/common/handles.h"
#include "enterprise/core/addons/app_ids.h"
#include "inproc_server_registration.h"
#include "support/process.h"
#include "support/temp_dir.h"

namespace {

using AdTest::InprocServerKey;
using AdTest::ReadRegistryValue;
using AdTest::ScopedInprocServer;

const std::wstring kLocatorClsid = L"{4590F811-1D3A-11D0-891F-00AA004B2E24}";
const std::string kApplicationLine = "    <Application guid=\"017131FD-ABB7-4B39-8C5A-6F0A8EB70966\"/>\r\n";

std::wstring FakeProviderPath() {
    return TestSupport::ModuleDirectory() + L"fake_wmi_provider.dll";
}

std::wstring AsString(const AdTest::RegistryValue& value) {
    if (!value.present || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) {
        return L"<not a string>";
    }
    return std::wstring(reinterpret_cast<const wchar_t*>(value.data.data()), value.data.size() / sizeof(wchar_t))
        .c_str();
}

// Sets an environment variable of this process for the life of the object.
class ScopedEnvironment {
public:
    ScopedEnvironment(const wchar_t* name, const std::wstring& value) : name_(name) {
        wchar_t buffer[4096];
        const DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
        hadValue_ = length > 0 && length < 4096;
        if (hadValue_) {
            previous_.assign(buffer, length);
        }
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedEnvironment() { ::SetEnvironmentVariableW(name_, hadValue_ ? previous_.c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const wchar_t* name_;
    bool hadValue_ = false;
    std::wstring previous_;
};

// Asks WMI for the domain role without the detector: -1 when a step fails, -2 for no object.
long QueryDomainRole() {
    const Common::ComInitScope com(::CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    Common::ComPtr<IWbemLocator> locator;
    if (FAILED(::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                  locator.put_void()))) {
        return -1;
    }
    Common::ComPtr<IWbemServices> services;
    const Common::UniqueBstr wmiNamespace(::SysAllocString(L"ROOT\\CIMV2"));
    if (FAILED(locator->ConnectServer(wmiNamespace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                      services.put()))) {
        return -1;
    }
    Common::ComPtr<IEnumWbemClassObject> enumerator;
    const Common::UniqueBstr language(::SysAllocString(L"WQL"));
    const Common::UniqueBstr query(::SysAllocString(L"SELECT DomainRole FROM Win32_ComputerSystem"));
    if (FAILED(services->ExecQuery(language.get(), query.get(), WBEM_FLAG_FORWARD_ONLY, nullptr, enumerator.put()))) {
        return -1;
    }
    Common::ComPtr<IWbemClassObject> object;
    ULONG returned = 0;
    if (enumerator->Next(10000, 1, object.put(), &returned) != WBEM_S_NO_ERROR || returned != 1) {
        return -2;
    }
    Common::UniqueVariant role;
    if (FAILED(object->Get(L"DomainRole", 0, role.get(), nullptr, nullptr)) || role.get()->vt != VT_I4) {
        return -1;
    }
    return role.get()->lVal;
}

std::vector<std::string> SplitLines(const std::string& bytes) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = bytes.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(bytes.substr(start, end - start));
    }
    return lines;
}

// Checks what the fake's log says about references: every object it handed out is released,
// each enumerated object before the next call of Next, and the locator, the services and the
// enumerator in the reverse order of their creation. Returns what is wrong, or "".
std::string CheckReleases(const std::vector<std::string>& calls) {
    std::map<std::string, int> live;
    std::vector<std::string> created;
    std::vector<std::string> deleted;
    for (const std::string& line : calls) {
        if (line.rfind("new ", 0) == 0) {
            const std::string kind = line.substr(4);
            ++live[kind];
            if (kind != "IWbemClassObject") {
                created.push_back(kind);
            }
        } else if (line.rfind("delete ", 0) == 0) {
            const std::string kind = line.substr(7);
            if (--live[kind] < 0) {
                return "released too often: " + kind;
            }
            if (kind != "IWbemClassObject") {
                deleted.push_back(kind);
            }
        } else if (line.rfind("Next ", 0) == 0 && live["IWbemClassObject"] != 0) {
            return "object still held when Next was called again";
        }
    }
    for (const auto& entry : live) {
        if (entry.second != 0) {
            return "leaked: " + entry.first;
        }
    }
    if (std::vector<std::string>(created.rbegin(), created.rend()) != deleted) {
        return "released out of order";
    }
    return "";
}

size_t CountPrefix(const std::vector<std::string>& lines, const std::string& prefix) {
    size_t count = 0;
    for (const std::string& line : lines) {
        count += line.rfind(prefix, 0) == 0;
    }
    return count;
}

const char kCreate[] = "CreateInstance outer=null iid=IWbemLocator";
const char kConnect[] =
    "ConnectServer namespace=ROOT\\CIMV2 user=(null) password=(null) locale=(null) flags=0 authority=(null) "
    "context=null";
const char kBlanket[] =
    "SetBlanket proxy=services authn=10 authz=0 principal=(null) level=3 impersonation=3 identity=null "
    "capabilities=0";
const char kExecQuery[] =
    "ExecQuery language=WQL query=SELECT DomainRole FROM Win32_ComputerSystem flags=48 context=null";
const char kNext[] = "Next timeout=30000 count=1";
const char kGet[] = "Get name=DomainRole flags=0 vt-in=0 type=null flavor=null";

// A test run that died with the fake registered must not make this one test the fake.
class RegistrationRecovery : public ::testing::Environment {
public:
    void SetUp() override { ScopedInprocServer::RecoverAbandoned(kLocatorClsid); }
};
const auto* const kRecovery = ::testing::AddGlobalTestEnvironment(new RegistrationRecovery);

// ---- Wine's own WMI

TEST(WineWmi, StandAloneMachineIsNotADomainController) {
    ASSERT_EQ(QueryDomainRole(), 0) << "Wine's WMI should answer with domain role 0";
    ActiveDirectory::NativeDetectionAddon addon;
    EXPECT_FALSE(addon.IsDomainController());
    EXPECT_TRUE(addon.GetMachineInstalledApplications().empty());
}

TEST(WineWmi, ReportDoesNotNameActiveDirectory) {
    const auto r = TestSupport::RunHostprobe({"--format=xml"});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out.find("017131FD"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("<Warnings>"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("<Errors>"), std::string::npos) << r.out;
}

// ---- the registration of the fake

TEST(FakeWmiRegistration, SwapsTheServerAndPutsWinesBack) {
    const std::wstring key = InprocServerKey(kLocatorClsid);
    const auto server = ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY);
    const auto threading = ReadRegistryValue(key, L"ThreadingModel", KEY_WOW64_64KEY);
    const auto server32 = ReadRegistryValue(key, nullptr, KEY_WOW64_32KEY);
    const auto threading32 = ReadRegistryValue(key, L"ThreadingModel", KEY_WOW64_32KEY);
    ASSERT_TRUE(server.present) << "the prefix registers no WMI locator";
    {
        ScopedInprocServer guard(kLocatorClsid, FakeProviderPath());
        EXPECT_EQ(AsString(ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY)), FakeProviderPath());
        EXPECT_EQ(AsString(ReadRegistryValue(key, L"ThreadingModel", KEY_WOW64_64KEY)), L"Both");
        EXPECT_EQ(ReadRegistryValue(key, nullptr, KEY_WOW64_32KEY), server32);

        ScopedEnvironment script(L"HOSTPROBE_FAKE_WMI", L"objects=7");
        EXPECT_EQ(QueryDomainRole(), 7) << "the fake should answer";
    }
    EXPECT_EQ(ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY), server);
    EXPECT_EQ(ReadRegistryValue(key, L"ThreadingModel", KEY_WOW64_64KEY), threading);
    EXPECT_FALSE(ReadRegistryValue(key, ScopedInprocServer::kBackupValue, KEY_WOW64_64KEY).present);
    EXPECT_EQ(ReadRegistryValue(key, nullptr, KEY_WOW64_32KEY), server32);
    EXPECT_EQ(ReadRegistryValue(key, L"ThreadingModel", KEY_WOW64_32KEY), threading32);

    EXPECT_EQ(QueryDomainRole(), 0) << "Wine's WMI should answer again";
    ActiveDirectory::NativeDetectionAddon addon;
    EXPECT_FALSE(addon.IsDomainController());
}

TEST(FakeWmiRegistration, NextGuardRecoversFromARunThatDied) {
    const std::wstring key = InprocServerKey(kLocatorClsid);
    const auto server = ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY);
    {
        ScopedInprocServer died(kLocatorClsid, FakeProviderPath());
        died.Abandon();
    }
    EXPECT_EQ(AsString(ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY)), FakeProviderPath());
    { ScopedInprocServer next(kLocatorClsid, FakeProviderPath()); }
    EXPECT_EQ(ReadRegistryValue(key, nullptr, KEY_WOW64_64KEY), server);
    EXPECT_FALSE(ReadRegistryValue(key, ScopedInprocServer::kBackupValue, KEY_WOW64_64KEY).present);
}

// ---- the detector against the fake

class FakeWmi : public ::testing::Test {
protected:
    // Runs the detector with the fake answering as `script` says, on a thread of its own, and
    // checks that the thread leaves no apartment behind.
    bool Detect(const std::string& script) {
        ::DeleteFileW(logPath_.c_str());
        ScopedEnvironment answers(L"HOSTPROBE_FAKE_WMI", TestSupport::Widen(script));
        ScopedEnvironment log(L"HOSTPROBE_FAKE_WMI_LOG", logPath_);
        bool detected = false;
        HRESULT afterwards = E_FAIL;
        std::thread([&] {
            detected = addon_.IsDomainController();
            // Succeeds with S_OK only on a thread that COM no longer knows.
            afterwards = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            if (SUCCEEDED(afterwards)) {
                ::CoUninitialize();
            }
        }).join();
        EXPECT_EQ(afterwards, S_OK) << "COM left initialised";
        return detected;
    }

    std::vector<std::string> Calls() const { return SplitLines(TestSupport::ReadFileBytes(logPath_)); }

    TestSupport::ProcessOptions ChildOptions(const std::string& script) const {
        TestSupport::ProcessOptions options;
        options.environment = {{L"HOSTPROBE_FAKE_WMI", TestSupport::Widen(script)},
                               {L"HOSTPROBE_FAKE_WMI_LOG", logPath_}};
        return options;
    }

    TestSupport::TempDir dir_;
    const std::wstring logPath_ = dir_.path() + L"calls.log";
    ScopedInprocServer server_{kLocatorClsid, FakeProviderPath()};
    ActiveDirectory::NativeDetectionAddon addon_;
};

TEST_F(FakeWmi, CallsWmiWithTheExactArgumentsAndReleasesInReverseOrder) {
    EXPECT_TRUE(Detect("objects=4"));
    const std::vector<std::string> expected = {
        kCreate,
        "new IWbemLocator",
        kConnect,
        "new IWbemServices",
        kBlanket,
        kExecQuery,
        "new IEnumWbemClassObject",
        kNext,
        "new IWbemClassObject",
        kGet,
        "delete IWbemClassObject",
        kNext,
        "delete IEnumWbemClassObject",
        "delete IWbemServices",
        "delete IWbemLocator",
    };
    EXPECT_EQ(Calls(), expected);
}

TEST_F(FakeWmi, OnlyDomainControllerRolesAreDetected) {
    struct Case {
        const char* objects;
        bool detected;
        size_t nextCalls;  // the loop stops where it should
        size_t getCalls;   // every object that arrives is read
    };
    const Case cases[] = {
        {"0", false, 2, 1},
        {"1", false, 2, 1},
        {"2", false, 2, 1},
        {"3", false, 2, 1},
        {"4", true, 2, 1},
        {"5", true, 2, 1},
        {"6", false, 2, 1},
        {"", false, 1, 0},
        // Several objects: all are read, and a detection stays.
        {"3,4", true, 3, 2},
        {"5,0,1", true, 4, 3},
        {"0,1,2,3", false, 5, 4},
        // The role is taken from the variant's 32-bit field whatever its type.
        {"i2:5", true, 2, 1},
        // A failed read counts for nothing, even when it left a role behind; the loop goes on.
        {"getfail:0x80041002", false, 2, 1},
        {"getfail:0x80041002,4", true, 3, 2},
        // A time-out, a failure or an empty answer ends the loop; what was found stays.
        {"timeout", false, 1, 0},
        {"timeout,5", false, 1, 0},
        {"5,timeout,0", true, 2, 1},
        {"fail:0x80041001,5", false, 1, 0},
        {"fail:0x80070005", false, 1, 0},
        {"4,fail:0x80041001,0", true, 2, 1},
        {"none,5", false, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("objects=") + c.objects);
        EXPECT_EQ(Detect(std::string("objects=") + c.objects), c.detected);
        const auto calls = Calls();
        EXPECT_EQ(CountPrefix(calls, "Next "), c.nextCalls);
        EXPECT_EQ(CountPrefix(calls, "Get "), c.getCalls);
        EXPECT_EQ(CheckReleases(calls), "");
    }
}

TEST_F(FakeWmi, AFailedStepEndsTheQueryAndReleasesWhatItHeld) {
    struct Case {
        const char* script;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"create=0x80040154;objects=5", {kCreate}},
        {"connect=0x8004100E;objects=5", {kCreate, "new IWbemLocator", kConnect, "delete IWbemLocator"}},
        {"blanket=0x80070005;objects=5",
         {kCreate, "new IWbemLocator", kConnect, "new IWbemServices", kBlanket, "delete IWbemServices",
          "delete IWbemLocator"}},
        {"query=0x80041017;objects=5",
         {kCreate, "new IWbemLocator", kConnect, "new IWbemServices", kBlanket, kExecQuery, "delete IWbemServices",
          "delete IWbemLocator"}},
        // A provider that claims success without handing out an object is never called through.
        {"create=null;objects=5", {kCreate}},
        {"connect=null;objects=5", {kCreate, "new IWbemLocator", kConnect, "delete IWbemLocator"}},
        {"query=null;objects=5",
         {kCreate, "new IWbemLocator", kConnect, "new IWbemServices", kBlanket, kExecQuery, "delete IWbemServices",
          "delete IWbemLocator"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        EXPECT_FALSE(Detect(c.script));
        EXPECT_EQ(Calls(), c.calls);
    }
}

TEST_F(FakeWmi, RepeatedCallsInOneProcessAnswerAlike) {
    // Process-wide COM security is set by the first call only; later calls accept that.
    EXPECT_TRUE(Detect("objects=5"));
    EXPECT_FALSE(Detect("query=0x80041017"));
    EXPECT_TRUE(Detect("objects=5"));
    EXPECT_FALSE(Detect("objects=3"));
}

TEST_F(FakeWmi, ThreadInASingleThreadedApartmentStillQueriesAndKeepsItsApartment) {
    ::DeleteFileW(logPath_.c_str());
    ScopedEnvironment answers(L"HOSTPROBE_FAKE_WMI", L"objects=5");
    ScopedEnvironment log(L"HOSTPROBE_FAKE_WMI_LOG", logPath_);
    HRESULT before = E_FAIL;
    HRESULT afterwards = E_FAIL;
    bool detected = false;
    std::thread([&] {
        before = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        detected = addon_.IsDomainController();
        // S_FALSE: the thread is still in its apartment, the detector did not leave it.
        afterwards = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (SUCCEEDED(afterwards)) {
            ::CoUninitialize();
        }
        if (SUCCEEDED(before)) {
            ::CoUninitialize();
        }
    }).join();
    EXPECT_EQ(before, S_OK);
    EXPECT_TRUE(detected);
    EXPECT_EQ(afterwards, S_FALSE);
    EXPECT_EQ(CheckReleases(Calls()), "");
}

TEST_F(FakeWmi, DetectionMapHoldsTheIdentifierWithAnEmptyName) {
    ScopedEnvironment answers(L"HOSTPROBE_FAKE_WMI", L"objects=4");
    const auto found = addon_.GetMachineInstalledApplications();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.begin()->first, Core::ActiveDirectoryAppId);
    EXPECT_EQ(found.begin()->first, "017131FD-ABB7-4B39-8C5A-6F0A8EB70966");
    EXPECT_EQ(found.begin()->second, L"");

    ScopedEnvironment member(L"HOSTPROBE_FAKE_WMI", L"objects=3");
    EXPECT_TRUE(addon_.GetMachineInstalledApplications().empty());
}

TEST_F(FakeWmi, ReportNamesActiveDirectoryOnlyOnADomainController) {
    struct Case {
        const char* script;
        bool listed;
    };
    const Case cases[] = {
        {"objects=5", true},           {"objects=4", true},         {"objects=3", false},
        {"objects=0,4", true},         {"objects=timeout", false},  {"objects=fail:0x80041001", false},
        {"connect=0x8004100E", false}, {"query=0x80041017", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.script);
        ::DeleteFileW(logPath_.c_str());
        const auto r = TestSupport::RunHostprobe({"--format=xml"}, ChildOptions(c.script));
        EXPECT_EQ(r.exitCode, 0u);
        if (c.listed) {
            EXPECT_NE(r.out.find("  <Applications>\r\n" + kApplicationLine + "  </Applications>\r\n"),
                      std::string::npos)
                << r.out;
        } else {
            EXPECT_EQ(r.out.find("017131FD"), std::string::npos) << r.out;
        }
        EXPECT_EQ(r.out.find("<Warnings>"), std::string::npos) << r.out;
        EXPECT_EQ(r.out.find("<Errors>"), std::string::npos) << r.out;
        const auto calls = Calls();
        EXPECT_EQ(CountPrefix(calls, kCreate), 1u) << "the fake was not asked";
        EXPECT_EQ(CheckReleases(calls), "");
    }
}

TEST_F(FakeWmi, TextReportListsTheIdentifierOnItsOwnLine) {
    const auto r = TestSupport::RunHostprobe({"--format=text"}, ChildOptions("objects=5"));
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, "017131FD-ABB7-4B39-8C5A-6F0A8EB70966\r\n");
}

}  // namespace
