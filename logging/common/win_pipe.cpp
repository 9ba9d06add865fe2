#include "logging/common/win_pipe.h"

#include <vector>

namespace Logging {

namespace {

constexpr DWORD kPipeBufferSize = 4096;

// One overlapped read or write loop on `file`, until `size` bytes have moved, the time-out has
// passed, `abort` is signalled or the transfer fails.
uint32_t TimedTransfer(HANDLE file, HANDLE ioEvent, HANDLE abort, bool write, void* buffer, uint32_t size,
                       uint32_t timeoutMs) {
    const ULONGLONG deadline = ::GetTickCount64() + timeoutMs;
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    uint32_t done = 0;
    while (done < size) {
        OVERLAPPED overlapped = {};
        overlapped.hEvent = ioEvent;
        const BOOL started = write ? ::WriteFile(file, bytes + done, size - done, nullptr, &overlapped)
                                   : ::ReadFile(file, bytes + done, size - done, nullptr, &overlapped);
        if (!started && ::GetLastError() != ERROR_IO_PENDING) {
            return 0;
        }
        const ULONGLONG now = ::GetTickCount64();
        const DWORD remaining = now < deadline ? static_cast<DWORD>(deadline - now) : 0;
        const HANDLE events[2] = {ioEvent, abort};
        const DWORD waited = ::WaitForMultipleObjects(abort != nullptr ? 2 : 1, events, FALSE, remaining);
        DWORD moved = 0;
        if (waited != WAIT_OBJECT_0) {
            ::CancelIoEx(file, &overlapped);
            // The buffer belongs to the operation until it has ended.
            ::GetOverlappedResult(file, &overlapped, &moved, TRUE);
            return 0;
        }
        if (!::GetOverlappedResult(file, &overlapped, &moved, FALSE) || moved == 0) {
            return 0;
        }
        done += moved;
    }
    return size;
}

// A copy of a SID in a buffer of its own.
std::vector<uint8_t> CopyOfSid(PSID sid) {
    std::vector<uint8_t> copy(::GetLengthSid(sid));
    if (!::CopySid(static_cast<DWORD>(copy.size()), copy.data(), sid)) {
        copy.clear();
    }
    return copy;
}

std::vector<uint8_t> ProcessUserSid() {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) {
        return {};
    }
    const Common::UniqueHandle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    std::vector<uint8_t> buffer(size);
    if (size == 0 || !::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) {
        return {};
    }
    return CopyOfSid(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid);
}

std::vector<uint8_t> WellKnownSid(WELL_KNOWN_SID_TYPE type) {
    std::vector<uint8_t> sid(SECURITY_MAX_SID_SIZE);
    DWORD size = static_cast<DWORD>(sid.size());
    if (!::CreateWellKnownSid(type, nullptr, sid.data(), &size)) {
        return {};
    }
    sid.resize(size);
    return sid;
}

// The control pipe can reconfigure logging: only the process's own user, LocalSystem and the
// Administrators may open it.
class PipeSecurity {
public:
    // False, with the system error, when the descriptor cannot be built.
    bool Build(DWORD& error) {
        sids_[0] = ProcessUserSid();
        sids_[1] = WellKnownSid(WinLocalSystemSid);
        sids_[2] = WellKnownSid(WinBuiltinAdministratorsSid);
        DWORD aclSize = sizeof(ACL);
        for (const std::vector<uint8_t>& sid : sids_) {
            if (sid.empty()) {
                error = ::GetLastError() != 0 ? ::GetLastError() : ERROR_INVALID_SID;
                return false;
            }
            aclSize += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(sid.size());
        }
        acl_.assign(aclSize, 0);
        ACL* acl = reinterpret_cast<ACL*>(acl_.data());
        bool built = ::InitializeAcl(acl, aclSize, ACL_REVISION) != FALSE;
        for (std::vector<uint8_t>& sid : sids_) {
            built = built && ::AddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, sid.data());
        }
        built = built && ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE);
        if (!built) {
            error = ::GetLastError();
            return false;
        }
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
        return true;
    }

    SECURITY_ATTRIBUTES* Attributes() { return &attributes_; }

private:
    std::vector<uint8_t> sids_[3];
    std::vector<uint8_t> acl_;
    SECURITY_DESCRIPTOR descriptor_ = {};
    SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

std::wstring PipePath(const std::string& name) {
    return L"\\\\.\\pipe\\" + std::wstring(name.begin(), name.end());
}

std::unique_ptr<WinPipe> WinPipe::Create(const std::string& name, HANDLE abort, DWORD& error) {
    PipeSecurity security;
    if (!security.Build(error)) {
        return nullptr;
    }
    std::unique_ptr<WinPipe> pipe(new WinPipe);
    pipe->abort_ = abort;
    pipe->connectEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    pipe->ioEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!pipe->connectEvent_ || !pipe->ioEvent_) {
        error = ::GetLastError();
        return nullptr;
    }
    // The first instance only: a pipe of that name made by someone else beforehand is refused.
    pipe->pipe_.reset(::CreateNamedPipeW(
        PipePath(name).c_str(),
        PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_WRITE_THROUGH | FILE_FLAG_FIRST_PIPE_INSTANCE,
        PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBufferSize,
        kPipeBufferSize, 0, security.Attributes()));
    if (!pipe->pipe_) {
        error = ::GetLastError();
        return nullptr;
    }
    error = ERROR_SUCCESS;
    return pipe;
}

WinPipe::~WinPipe() {
    CancelConnect();
    Disconnect();
}

void WinPipe::CancelConnect() {
    if (connectPending_) {
        ::CancelIoEx(pipe_.get(), &connect_);
        DWORD unused = 0;
        ::GetOverlappedResult(pipe_.get(), &connect_, &unused, TRUE);
        connectPending_ = false;
    }
}

bool WinPipe::Listen() {
    CancelConnect();
    for (int attempt = 0; attempt < 2; ++attempt) {
        connect_ = OVERLAPPED{};
        connect_.hEvent = connectEvent_.get();
        if (::ConnectNamedPipe(pipe_.get(), &connect_)) {
            return true;  // connected at once: the event is signalled
        }
        switch (::GetLastError()) {
            case ERROR_IO_PENDING: connectPending_ = true; return true;
            case ERROR_PIPE_CONNECTED: ::SetEvent(connectEvent_.get()); return true;
            case ERROR_NO_DATA:
                // A client came and went before we listened: its end is closed, start afresh.
                ::DisconnectNamedPipe(pipe_.get());
                continue;
            default: ::ResetEvent(connectEvent_.get()); return false;
        }
    }
    ::ResetEvent(connectEvent_.get());
    return false;
}

void WinPipe::Disconnect() {
    if (connectPending_) {
        DWORD unused = 0;
        if (!::GetOverlappedResult(pipe_.get(), &connect_, &unused, FALSE) && ::GetLastError() == ERROR_IO_INCOMPLETE) {
            return;  // nobody connected: nothing to disconnect
        }
        connectPending_ = false;
    }
    ::DisconnectNamedPipe(pipe_.get());
}

uint32_t WinPipe::Read(void* buffer, uint32_t size, uint32_t timeoutMs) {
    return TimedTransfer(pipe_.get(), ioEvent_.get(), abort_, false, buffer, size, timeoutMs);
}

uint32_t WinPipe::Write(const void* buffer, uint32_t size, uint32_t timeoutMs) {
    return TimedTransfer(pipe_.get(), ioEvent_.get(), abort_, true, const_cast<void*>(buffer), size, timeoutMs);
}

std::unique_ptr<WinPipeClient> WinPipeClient::Connect(const std::string& name, DWORD waitMs, DWORD& error) {
    std::unique_ptr<WinPipeClient> client(new WinPipeClient);
    client->ioEvent_.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!client->ioEvent_) {
        error = ::GetLastError();
        return nullptr;
    }
    const std::wstring path = PipePath(name);
    const ULONGLONG deadline = ::GetTickCount64() + waitMs;
    for (;;) {
        // Identification only: a server that is not who it claims to be cannot act as us.
        client->pipe_.reset(::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                          FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION,
                                          nullptr));
        if (client->pipe_) {
            error = ERROR_SUCCESS;
            return client;
        }
        error = ::GetLastError();
        const ULONGLONG now = ::GetTickCount64();
        if (error != ERROR_PIPE_BUSY || now >= deadline) {
            return nullptr;
        }
        ::WaitNamedPipeW(path.c_str(), static_cast<DWORD>(deadline - now));
    }
}

uint32_t WinPipeClient::Read(void* buffer, uint32_t size, uint32_t timeoutMs) {
    return TimedTransfer(pipe_.get(), ioEvent_.get(), nullptr, false, buffer, size, timeoutMs);
}

uint32_t WinPipeClient::Write(const void* buffer, uint32_t size, uint32_t timeoutMs) {
    return TimedTransfer(pipe_.get(), ioEvent_.get(), nullptr, true, const_cast<void*>(buffer), size, timeoutMs);
}

}  // namespace Logging
