// Scaffolding shared by the detectors' tests: what a report shows of one detector, and the
// apartments a caller may hold when a detector runs.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "driver/run_detection.h"
#include "enterprise/core/addons/addon.h"
#include "support/log_capture.h"
#include "support/process.h"

namespace DetectionTest {

using Lines = std::vector<std::string>;

inline Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// What an in-process capture of a detector shows besides the line of the report: the source
// path, the line and the function of each message.
constexpr uint32_t kWhereFlags = 0x1000F4 | 0x200 | 0x400;  // OF_DUMPLINE | OF_DUMPFUNCTION

// A detector's line, from "<level letter> <text>", and with a function (and its source path)
// where it was logged, as a capture with kWhereFlags shows it after Located.
inline std::string Line(const std::string& tag, const std::string& text, const std::string& function = "",
                        const std::string& source = "") {
    return text.substr(0, 1) + "00000000: [" + tag + "] " + text.substr(2) +
           (function.empty() ? "" : " file: " + source + " line: # " + function + "()");
}

// The captured texts, each source line number replaced by "#".
inline Lines Located(const TestSupport::LogCapture& log) {
    Lines texts = log.Texts();
    for (std::string& text : texts) {
        text = std::regex_replace(text, std::regex(" line: [0-9]+ "), " line: # ");
    }
    return texts;
}

// Checks a run with an XML report: the exit code, the verdict, and the messages of the detector
// tagged `tag`, given as "<level letter> <text>".
inline void ExpectXmlReport(const TestSupport::ProcessResult& r, const std::string& appId, bool detected,
                            const std::string& tag, const Lines& messages) {
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out.find("<Application guid=\"" + appId + "\"/>") != std::string::npos, detected) << r.out;
    const std::string open = "<Message>", close = "</Message>";
    Lines lines, expected;
    for (size_t at = r.out.find(open); at != std::string::npos; at = r.out.find(open, at + 1)) {
        const std::string message = r.out.substr(at + open.size(), r.out.find(close, at) - at - open.size());
        if (message.find(": [" + tag + "] ") == 9) {
            lines.push_back(message);
        }
    }
    for (const std::string& message : messages) {
        expected.push_back(Line(tag, message));
    }
    EXPECT_EQ(lines, expected) << r.out;
}

// Runs the detector in-process, capturing its debug lines with where each was logged,
// then checks the text report of the same machine: the identifier, and every detector's
// messages as they are logged in-process.
template <typename Addon>
void ExpectDetection(const std::string& appId, bool detected, const Lines& logged) {
    using Applications = MachineManagement::InstalledApplications;
    {
        TestSupport::LogCapture log("", Logging::DEBUG_TRACE, kWhereFlags);
        EXPECT_EQ(Addon().GetMachineInstalledApplications(), (detected ? Applications{{appId, L""}} : Applications()));
        EXPECT_EQ(Located(log), logged);
    }
    TestSupport::LogCapture all;
    Hostprobe::RunDetection(nullptr);
    const auto r = TestSupport::RunHostprobe({});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, detected ? appId + "\r\n" : "");
    EXPECT_EQ(r.err, TestSupport::ReportLogLines(all.Texts()));
}

// Sets a string value while it lives, then puts back the value that was there, or none.
class ScopedStringValue {
public:
    ScopedStringValue(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value)
        : root_(root), path_(path), name_(name) {
        wchar_t old[MAX_PATH];
        DWORD size = sizeof old;
        had_ = ::RegGetValueW(root, path.c_str(), name.c_str(), RRF_RT_REG_SZ, nullptr, old, &size) == ERROR_SUCCESS;
        old_ = had_ ? old : L"";
        Set(value);
    }
    ~ScopedStringValue() {
        if (had_) {
            Set(old_);
        } else {
            ::RegDeleteKeyValueW(root_, path_.c_str(), name_.c_str());
        }
    }

private:
    void Set(const std::wstring& value) {
        EXPECT_EQ(::RegSetKeyValueW(root_, path_.c_str(), name_.c_str(), REG_SZ, value.c_str(),
                                    static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    HKEY root_;
    std::wstring path_, name_, old_;
    bool had_;
};

// Points the WMI locator's class at the fake WMI provider beside the test while it lives.
class FakeLocatorRegistration : ScopedStringValue {
public:
    FakeLocatorRegistration()
        : ScopedStringValue(HKEY_LOCAL_MACHINE,
                            L"Software\\Classes\\CLSID\\{4590F811-1D3A-11D0-891F-00AA004B2E24}\\InprocServer32", L"",
                            TestSupport::ModuleDirectory() + L"fake_wmi_provider.dll") {}
};

// Wine loads its own vssapi.dll even when another lies beside the program, unless the program's
// DLL overrides (read from the registry, not from a child's environment) ask for the other
// first. An empty order disables the library.
class ScopedVssApiOverride : ScopedStringValue {
public:
    explicit ScopedVssApiOverride(const std::wstring& order)
        : ScopedStringValue(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\hostprobe.exe\\DllOverrides", L"vssapi",
                            order) {}
};

// Runs `detect` on a thread in no apartment, then in a single-threaded and a multithreaded one:
// a detector undoes its own COM initialisation only.
inline void InEachApartment(const std::function<void()>& detect) {
    const auto apartment = [] {
        APTTYPE type;
        APTTYPEQUALIFIER qualifier;
        return FAILED(::CoGetApartmentType(&type, &qualifier)) ? "none" : type == APTTYPE_MTA ? "MTA" : "STA";
    };
    for (const std::string model : {"none", "STA", "MTA"}) {
        SCOPED_TRACE(model);
        std::thread([&] {
            const bool initialise = model != "none";
            if (initialise) {
                ASSERT_EQ(::CoInitializeEx(nullptr, model == "STA" ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED),
                          S_OK);
            }
            detect();
            EXPECT_EQ(apartment(), model);
            if (initialise) {
                ::CoUninitialize();
            }
            EXPECT_EQ(apartment(), std::string("none"));
        }).join();
    }
}

}  // namespace DetectionTest
