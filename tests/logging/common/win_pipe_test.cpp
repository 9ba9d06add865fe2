#include "logging/common/win_pipe.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <string>
#include <vector>

#include "logging/common/thread_win.h"

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

struct Exchange {
    Logging::WinPipe* pipe;
    std::string received;
    uint32_t readResult = 0;
};

uint32_t ServeOnce(void* argument) {
    auto* exchange = static_cast<Exchange*>(argument);
    ::WaitForSingleObject(static_cast<HANDLE>(exchange->pipe->Event()), INFINITE);
    char buffer[6] = {};
    exchange->readResult = exchange->pipe->Read(buffer, 6, 5000);
    exchange->received.assign(buffer, 6);
    exchange->pipe->Write("reply", 5, 5000);
    char unused;
    exchange->pipe->Read(&unused, 1, 5000);  // until the client has gone
    return 0;
}

TEST(WinPipe, ReadsAndWritesMoveWholeBuffersPiecesIncludedAndFailWhenTheOtherEndGoes) {
    DWORD error = 0;
    const auto pipe = Logging::WinPipe::Create(UniqueName("io"), nullptr, error);
    ASSERT_TRUE(pipe && pipe->Listen()) << error;
    Exchange exchange{pipe.get(), "", 0};
    Logging::ThreadHandle server = Logging::StartThread(ServeOnce, &exchange);
    ASSERT_TRUE(server);
    {
        auto client = Logging::WinPipeClient::Connect(UniqueName("io"), 5000, error);
        ASSERT_TRUE(client) << error;
        EXPECT_EQ(client->Write("abc", 3, 1000), 3u);  // the server's read takes two pieces
        EXPECT_EQ(client->Write("def", 3, 1000), 3u);
        char reply[5];
        EXPECT_EQ(client->Read(reply, 5, 5000), 5u);
        EXPECT_EQ(std::string(reply, 5), "reply");
    }
    server.reset();
    EXPECT_EQ(exchange.readResult, 6u);
    EXPECT_EQ(exchange.received, "abcdef");
    EXPECT_FALSE(Logging::WinPipeClient::Connect(UniqueName("none"), 0, error));
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST(ThreadHandle, RunsTheFunctionWithItsArgumentAndJoinsOnRelease) {
    int value = 0;
    Logging::ThreadHandle thread = Logging::StartThread(
        [](void* argument) -> uint32_t {
            ::Sleep(50);
            *static_cast<int*>(argument) = 42;
            return 0;
        },
        &value);
    ASSERT_TRUE(thread);
    EXPECT_NE(Logging::ThreadId(thread), 0u);
    thread.reset();
    EXPECT_EQ(value, 42);
    EXPECT_FALSE(Logging::StartThread(nullptr, nullptr));
}

}  // namespace
