#pragma once

// Both ends of a local named pipe, with overlapped reads and writes bounded by time-outs. The
// server end admits only the process's own user, LocalSystem and the Administrators group,
// and no client from another machine.

#include <cstdint>
#include <memory>
#include <string>

#include "core/common/handles.h"
#include "logging/common/pipe.h"

namespace Logging {

// "\\.\pipe\" followed by `name`.
std::wstring PipePath(const std::string& name);

class WinPipe final : public Pipe {
public:
    // The only instance of the pipe `name`, byte mode, 4096-byte buffers each way; null, with
    // the system error in `error`, when it cannot be created (it exists already, say). When
    // `abort` (an event, may be null) is signalled, reads and writes stop at once and fail.
    static std::unique_ptr<WinPipe> Create(const std::string& name, HANDLE abort, DWORD& error);
    ~WinPipe() override;

    void* Event() const override { return connectEvent_.get(); }
    bool Listen() override;
    void Disconnect() override;
    uint32_t Read(void* buffer, uint32_t size, uint32_t timeoutMs) override;
    uint32_t Write(const void* buffer, uint32_t size, uint32_t timeoutMs) override;

    HANDLE Handle() const { return pipe_.get(); }

private:
    WinPipe() = default;
    void CancelConnect();

    Common::UniqueFileHandle pipe_;
    Common::UniqueHandle connectEvent_;
    Common::UniqueHandle ioEvent_;
    HANDLE abort_ = nullptr;
    OVERLAPPED connect_ = {};
    bool connectPending_ = false;
};

// The client end, for tools and tests.
class WinPipeClient {
public:
    // Opens the pipe `name`, waiting up to `waitMs` while another client is being served; null,
    // with the system error in `error`, when that fails.
    static std::unique_ptr<WinPipeClient> Connect(const std::string& name, DWORD waitMs, DWORD& error);

    // As Pipe::Read and Pipe::Write.
    uint32_t Read(void* buffer, uint32_t size, uint32_t timeoutMs);
    uint32_t Write(const void* buffer, uint32_t size, uint32_t timeoutMs);

private:
    WinPipeClient() = default;

    Common::UniqueFileHandle pipe_;
    Common::UniqueHandle ioEvent_;
};

}  // namespace Logging
