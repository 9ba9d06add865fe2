#include "logging/common/win_pipe.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

namespace {

using Strings = std::vector<std::string>;

std::string SidText(PSID sid) {
    char* text = nullptr;
    if (!::ConvertSidToStringSidA(sid, &text)) {
        return "<bad sid>";
    }
    const Common::UniqueLocal owned(text);
    return text;
}

std::string ProcessUser() {
    HANDLE raw = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw);
    const Common::UniqueHandle token(raw);
    std::vector<uint8_t> buffer(1024);
    DWORD size = 0;
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
        return "<no user>";
    }
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

// The entries of the pipe's DACL as read back from the system, "<type> <mask> <sid>".
Strings DaclOf(HANDLE pipe) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(pipe, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                          &descriptor) != ERROR_SUCCESS) {
        return {"<unreadable>"};
    }
    const Common::UniqueLocal owned(descriptor);
    if (dacl == nullptr) {
        return {"<null dacl>"};
    }
    Strings entries;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        ::GetAce(dacl, i, &ace);
        const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(ace);
        char mask[16];
        std::snprintf(mask, sizeof mask, "%#lx", allowed->Mask);
        entries.push_back(std::to_string(allowed->Header.AceType) + " " + mask + " " +
                          SidText(const_cast<DWORD*>(&allowed->SidStart)));
    }
    return entries;
}

std::string UniqueName(const char* what) {
    return std::string("hostprobe-test-") + what + "-" + std::to_string(::GetCurrentProcessId());
}

TEST(WinPipe, AdmitsOnlyTheProcessUserLocalSystemAndTheAdministrators) {
    DWORD error = 0;
    const auto pipe = Logging::WinPipe::Create(UniqueName("dacl"), nullptr, error);
    ASSERT_TRUE(pipe) << error;
    EXPECT_EQ(DaclOf(pipe->Handle()),
              (Strings{"0 0x1f01ff " + ProcessUser(), "0 0x1f01ff S-1-5-18", "0 0x1f01ff S-1-5-32-544"}));
    // Nobody, ourselves included, may make a second instance of the name.
    EXPECT_FALSE(Logging::WinPipe::Create(UniqueName("dacl"), nullptr, error));
}

}  // namespace
