// Scaffolding shared by the detectors' tests: what a report shows of one detector, and the
// apartments a caller may hold when a detector runs.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "core/common/handles.h"
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

// A detector's line as captured, from "<level letter> <text>", with the function that logs it
// when the capture shows functions.
inline std::string Line(const std::string& tag, const std::string& text, const std::string& function = "") {
    return text.substr(0, 1) + "00000000: [" + tag + "] " + text.substr(2) +
           (function.empty() ? "" : " " + function + "()");
}

// Runs hostprobe with an XML report and checks the exit code, the verdict and the messages of
// the detector tagged `tag`.
inline void ExpectXmlReport(const std::string& appId, const std::string& tag, bool detected, const Lines& expected,
                            const TestSupport::ProcessResult& r) {
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out.find("<Application guid=\"" + appId + "\"/>") != std::string::npos, detected) << r.out;
    const std::string open = "<Message>", close = "</Message>";
    Lines lines;
    for (size_t at = r.out.find(open); at != std::string::npos; at = r.out.find(open, at + 1)) {
        const std::string message = r.out.substr(at + open.size(), r.out.find(close, at) - at - open.size());
        if (message.find(": [" + tag + "] ") == 9) {
            lines.push_back(message);
        }
    }
    EXPECT_EQ(lines, expected) << r.out;
}

// Runs the detector in-process, capturing its debug lines with the function that logs each,
// then checks the text report of the same machine: the identifier, and every detector's
// messages as they are logged in-process.
template <typename Addon>
void ExpectDetection(const std::string& appId, bool detected, const Lines& logged) {
    MachineManagement::InstalledApplications applications;
    if (detected) {
        applications.emplace(appId, L"");
    }
    {
        TestSupport::LogCapture log("", Logging::DEBUG_TRACE, 0x1004F4);
        EXPECT_EQ(Addon().GetMachineInstalledApplications(), applications);
        EXPECT_EQ(log.Texts(), logged);
    }
    TestSupport::LogCapture all;
    Hostprobe::RunDetection(nullptr);
    const auto r = TestSupport::RunHostprobe({});
    EXPECT_EQ(r.exitCode, 0u);
    EXPECT_EQ(r.out, detected ? appId + "\r\n" : "");
    EXPECT_EQ(r.err, TestSupport::ReportLogLines(all.Texts()));
}

// Sets a string value while it lives, then puts back what was there: the value with its type,
// or none. What was there is also kept beside it, so that the next run repairs what a run that
// died here left behind.
class ScopedStringValue {
public:
    ScopedStringValue(HKEY root, const std::wstring& path, const std::wstring& name, const std::wstring& value)
        : name_(name), backup_(name + L" before hostprobe tests") {
        EXPECT_EQ(::RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, key_.put(), nullptr),
                  ERROR_SUCCESS);
        if (!Read(backup_)) {
            Read(name_);
            Write(backup_, type_, old_);
        }
        Write(name_, REG_SZ, value);
    }
    ~ScopedStringValue() {
        if (type_ == REG_NONE) {
            ::RegDeleteValueW(key_.get(), name_.c_str());
        } else {
            Write(name_, type_, old_);
        }
        ::RegDeleteValueW(key_.get(), backup_.c_str());
    }

private:
    bool Read(const std::wstring& name) {
        wchar_t value[MAX_PATH] = L"";
        DWORD size = sizeof value;
        const bool found = ::RegGetValueW(key_.get(), nullptr, name.c_str(), RRF_RT_ANY | RRF_NOEXPAND, &type_, value,
                                          &size) == ERROR_SUCCESS;
        type_ = found ? type_ : REG_NONE;
        old_ = value;
        return found;
    }
    void Write(const std::wstring& name, DWORD type, const std::wstring& value) {
        EXPECT_EQ(::RegSetValueExW(key_.get(), name.c_str(), 0, type, reinterpret_cast<const BYTE*>(value.c_str()),
                                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
                  ERROR_SUCCESS);
    }

    Common::UniqueHkey key_;
    std::wstring name_, backup_, old_;
    DWORD type_ = REG_NONE;
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
