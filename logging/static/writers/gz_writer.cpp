#include "logging/static/writers/gz_writer.h"

#include <windows.h>
// The runtime's descriptor interface.
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "core/common/assert.h"
#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/common/file_io.h"
#include "logging/log.h"
#include "logging/result_codes.h"
#include "logging/static/manager_internal.h"
#include "logging/static/writers/gz_integrity.h"

namespace Logging {

namespace {

constexpr char kGzWriterSource[] = "logging/static/gz_writer";
// A position meaning "the end of the file"; as a signed size it truncates to 0.
constexpr uint32_t kEnd = 0xFFFFFFFF;
constexpr uint32_t kNoSizeLimit = 0xFFFFFFFF;
constexpr char kRestoredBegin[] = "\n------ begin of restored log ------\n";
constexpr char kRestoredEnd[] = "\n------ end of restored log ------\n";

uint64_t CurrentThreadId() {
    return ::GetCurrentThreadId();
}

}  // namespace

struct GzWriter::State final : GzIntegrity::ChunkFile {
    explicit State(GzWriter& owner) : writer(owner) {}

    const char* Name() const { return displayName.c_str(); }
    bool Assert(bool condition, const char* expression, int line) {
        if (!condition) {
            Common::ReportAssertion(expression, kGzWriterSource, line);
        }
        return condition;
    }

    uint32_t OpenLog();
    uint32_t BeginChunk(uint32_t position);
    void EndChunk();
    void CloseAll();
    int64_t FileSize();
    bool Truncate(uint32_t size) override;
    uint32_t TruncateAndBegin(uint32_t position);
    uint32_t VerifyTail();
    bool OpenStream();
    void CloseStream();
    // Text bytes written into the current chunk; negative when zlib cannot tell.
    z_off_t ChunkPosition() {
        const z_off_t position = gztell(stream.get());
        return position < 0 ? -1 : position - chunkBase;
    }

    bool Seek(uint32_t offset) override { return _lseeki64(fd.get(), offset, SEEK_SET) == offset; }
    uint32_t InflateLastChunk(std::string& text) override;

    GzWriter& writer;
    Common::UniqueFd fd;  // the writer's own descriptor of file 0: seeking, measuring, truncating
    int64_t fileTime = 0;
    // Writes the chunks of file 0 through a duplicate of `fd`, which shares its position. One
    // stream serves all chunks of a file: each chunk is finished with Z_FINISH and zlib begins
    // a new gzip member at the next write, so deflate's state is made once per file, not once
    // per chunk. `fd` is used only between chunks, when the stream holds nothing unwritten.
    Common::UniqueGzFile stream;
    bool streamFresh = false;  // the stream has not finished a member yet
    bool chunkOpen = false;    // a chunk is in progress
    z_off_t chunkBase = 0;     // gztell of the stream where the current chunk began
    uint32_t chunkStart = 0;   // file offset of the current chunk
    std::string displayName;
    uint64_t ownerThread = 0;
    SrwLock lock;  // keeps ReadLog out of a rotation
};

uint32_t GzWriter::State::OpenLog() {
    if (!Assert(!fd, "Handle == -1", __LINE__) || !Assert(!chunkOpen, "!GZFile", __LINE__)) {
        return 1;
    }
    const std::string path = writer.GetFileName(0, true);
    fd.reset(FileIo::OpenChecked(path.c_str(), _O_BINARY | _O_RDWR, 0));
    bool created = false;
    if (!fd) {
        if (errno != ENOENT) {
            ReportBackendError("gzWriter(%s): failed to open log: %s", Name(), std::strerror(errno));
            return 1;
        }
        fd.reset(FileIo::OpenChecked(path.c_str(), _O_BINARY | _O_CREAT | _O_RDWR, _S_IREAD | _S_IWRITE));
        if (!fd) {
            ReportBackendError("GzWriter(%s): failed to create log file: %s", Name(), std::strerror(errno));
            return 1;
        }
        created = true;
    }
    fileTime = FileIo::GetFileTime(fd.get());
    return created ? BeginChunk(kEnd) : VerifyTail();
}

bool GzWriter::State::OpenStream() {
    Common::UniqueFd duplicate(FileIo::DuplicateFd(fd.get(), Name()));
    if (!duplicate) {
        return false;
    }
    stream.reset(gzdopen(duplicate.get(), "w5"));
    if (!stream) {
        if (_close(duplicate.release()) != 0) {
            ReportBackendError("gzWriter(%s): closing of the duplicated handle failed: %i", Name(), errno);
        }
        ReportBackendError("gzWrite(%s): failed to open zip stream", Name());
        return false;
    }
    duplicate.release();  // closed by gzclose
    streamFresh = true;
    return true;
}

void GzWriter::State::CloseStream() {
    if (stream) {
        const int result = gzclose(stream.release());
        if (result != Z_OK) {
            ReportBackendError("gzWriter(%s): gzclose failed: %i", Name(), result == Z_ERRNO ? errno : result);
        }
    }
}

uint32_t GzWriter::State::BeginChunk(uint32_t position) {
    if (!Assert(fd.valid(), "Handle != -1", __LINE__) || !Assert(!chunkOpen, "!GZFile", __LINE__)) {
        return 1;
    }
    const int64_t reached =
        position == kEnd ? _lseeki64(fd.get(), 0, SEEK_END) : _lseeki64(fd.get(), position, SEEK_SET);
    if (reached < 0) {
        ReportBackendError("gzWrite(%s): seek failed: %i", Name(), errno);
        return 1;
    }
    if (position != kEnd && reached != position) {
        ReportBackendError("gzWrite(%s): seek failed: requested pos=%li, returned=%li", Name(),
                           static_cast<long>(position), static_cast<long>(reached));
        return 1;
    }
    chunkStart = static_cast<uint32_t>(reached);
    if (!stream && !OpenStream()) {
        return 1;
    }
    chunkBase = gztell(stream.get());
    if (chunkBase < 0) {
        ReportBackendError("gzWriter(%s): gztell failed", Name());
        CloseStream();
        return 1;
    }
    chunkOpen = true;
    return 0;
}

void GzWriter::State::EndChunk() {
    if (!chunkOpen) {
        return;
    }
    chunkOpen = false;
    // zlib begins a member only with data; an empty chunk still ends as an empty member, as
    // from a stream of its own.
    if (!streamFresh && ChunkPosition() == 0) {
        CloseStream();
        if (!OpenStream()) {
            return;
        }
    }
    // Writes the rest of the member and its trailer.
    const int result = gzflush(stream.get(), Z_FINISH);
    streamFresh = false;
    if (result != Z_OK) {
        ReportBackendError("gzWriter(%s): gzclose failed: %i", Name(), result == Z_ERRNO ? errno : result);
        stream.reset();  // broken: the next chunk gets a stream of its own
    }
}

void GzWriter::State::CloseAll() {
    EndChunk();
    CloseStream();
    if (fd && _close(fd.release()) != 0) {
        ReportBackendError("gzWriter(%s): _close failed: %i", Name(), errno);
    }
}

int64_t GzWriter::State::FileSize() {
    if (!Assert(fd.valid(), "Handle != -1", __LINE__)) {
        return -1;
    }
    const int64_t size = _lseeki64(fd.get(), 0, SEEK_END);
    if (size < 0) {
        ReportBackendError("gzWrite(%s): seek failed: %i", Name(), errno);
    }
    return size;
}

bool GzWriter::State::Truncate(uint32_t size) {
    if (!Assert(fd.valid(), "Handle != -1", __LINE__) || !Assert(!chunkOpen, "!GZFile", __LINE__)) {
        return false;
    }
    const int32_t signedSize = static_cast<int32_t>(size);
    const long length = signedSize > 0 ? signedSize : 0;
    if (_chsize(fd.get(), length) != 0) {
        ReportBackendError("gzWriter(%s): truncate(%li) failed: %s", Name(), length, std::strerror(errno));
        return false;
    }
    return true;
}

uint32_t GzWriter::State::TruncateAndBegin(uint32_t position) {
    return Truncate(position) ? BeginChunk(position == 0 ? kEnd : position) : 1;
}

uint32_t GzWriter::State::InflateLastChunk(std::string& text) {
    text.clear();
    // The duplicate shares the file position, which Seek left at the chunk's start.
    Common::UniqueFd duplicate(FileIo::DuplicateFd(fd.get(), Name()));
    if (!duplicate) {
        return 0;
    }
    Common::UniqueGzFile input(gzdopen(duplicate.get(), "r"));
    if (!input) {
        return 0;
    }
    duplicate.release();
    text.resize(GzIntegrity::kInflateLimit);
    uint32_t inflated = 0;
    while (inflated < GzIntegrity::kInflateLimit) {
        const int got = gzread(input.get(), &text[inflated], GzIntegrity::kInflateLimit - inflated);
        if (got < 0) {
            inflated = 0;
            break;
        }
        if (got == 0) {
            break;
        }
        inflated += static_cast<uint32_t>(got);
    }
    text.resize(inflated);
    return inflated;
}

uint32_t GzWriter::State::VerifyTail() {
    if (!Assert(fd.valid(), "Handle != -1", __LINE__) || !Assert(!chunkOpen, "!GZFile", __LINE__)) {
        return 1;
    }
    LogWriterOwner& owner = writer.owner_;
    const int64_t size = FileSize();
    TraceFromBackend(INFORMATION, "gzWriter(%s): Verifying size=%u", Name(), static_cast<unsigned>(size));
    owner.QueueDebugLine("@@ size of file %08X", static_cast<unsigned>(size));
    if (size < GzIntegrity::kSmallestCheckedFile) {
        TraceFromBackend(INFORMATION, "gzWriter(%s): size is too small", Name());
        return TruncateAndBegin(kEnd);
    }
    const int64_t start = size > GzIntegrity::kVerifyWindow ? size - GzIntegrity::kVerifyWindow : 0;
    // A window that cannot be read cannot be checked: the file is emptied and begun again
    // rather than appended to blindly, so a passing I/O error here costs the whole file.
    if (_lseeki64(fd.get(), start, SEEK_SET) != start) {
        ReportBackendError("gzWriter(%s): _lseek error %i", Name(), errno);
        return TruncateAndBegin(kEnd);
    }
    std::vector<unsigned char> tail(GzIntegrity::kVerifyWindow);
    const int read = _read(fd.get(), tail.data(), GzIntegrity::kVerifyWindow);
    if (read < 0) {
        ReportBackendError("gzWriter(%s): can't read tail of log - %s", Name(), std::strerror(errno));
        return TruncateAndBegin(kEnd);
    }

    GzIntegrity::PickResult picked =
        GzIntegrity::PickChunk(*this, owner, static_cast<uint32_t>(start), tail.data(), static_cast<size_t>(read));
    if (picked.valid) {
        TraceFromBackend(INFORMATION, "gzWriter(%s): last chunk is correct. offset=%li length=%u %s", Name(),
                         static_cast<long>(picked.offset), picked.length,
                         picked.length == 0 ? "(will be dropped)" : "");
        return BeginChunk(picked.length != 0 ? kEnd : picked.offset);
    }
    if (picked.fatal) {
        return TruncateAndBegin(kEnd);
    }
    const uint32_t result = BeginChunk(picked.offset);
    if (result == 0 && picked.length != 0) {
        TraceFromBackend(INFORMATION, "gzWriter(%s): restored %u bytes of damaged chunk", Name(), picked.length);
        owner.QueueText(kRestoredBegin);
        owner.QueueText(picked.text);
        owner.QueueText(kRestoredEnd);
    }
    return result;
}

GzWriter::GzWriter(const std::string& homeDirectory, const LogScopeConfig& config, LogWriterOwner& owner)
    : LogWriter(homeDirectory, config, owner), state_(std::make_unique<State>(*this)) {}

GzWriter::~GzWriter() {
    state_->CloseAll();
}

uint32_t GzWriter::Open() {
    CompactNumbers();
    state_->CloseAll();
    state_->displayName = GetFileName(0, false);
    TraceFromBackend(INFORMATION, "process=%i LogScope %s", static_cast<int>(::GetCurrentProcessId()), state_->Name());
    state_->OpenLog();
    return 0;
}

std::string GzWriter::GetFileName(uint32_t index, bool withDirectory) {
    return LogWriter::GetFileName(index, withDirectory) + ".gz";
}

void GzWriter::Write(const char* data, SizeList& sizes) {
    State& s = *state_;
    const uint64_t caller = CurrentThreadId();
    if (!s.Assert(s.ownerThread == 0 || s.ownerThread == caller, "!ThreadId || ThreadId == id", __LINE__)) {
        return;
    }
    s.ownerThread = caller;
    if (config_.OneDay && !SameLocalDay(s.fileTime, CurrentTime())) {
        Flush();
    }
    bool justFlushed = false;
    while (!sizes.Empty()) {
        if (!s.chunkOpen) {
            return;
        }
        z_off_t position = s.ChunkPosition();
        if (position < 0) {
            ReportBackendError("gzWriter(%s): gztell failed", s.Name());
            return;
        }
        if (position < static_cast<z_off_t>(CHUNK_SIZE)) {
            const uint64_t n = GetNextChunk(sizes, CHUNK_SIZE - position, false);
            const int written = n <= INT_MAX ? gzwrite(s.stream.get(), data, static_cast<unsigned>(n)) : -1;
            data += n;
            justFlushed = false;
            if (static_cast<uint64_t>(written) != n) {
                // The chunk may hold part of the group now: it is cut off and begun again.
                ReportBackendError("gzWriter: gzwrite failed: nb=%u rc=%i", static_cast<unsigned>(n), written);
                s.EndChunk();
                ReportBackendError("gzWriter: overwrite damaged chunk at %xh", s.chunkStart);
                const uint32_t result = s.TruncateAndBegin(s.chunkStart);
                if (result != 0) {
                    ReportBackendError("gzWriter: unable to begin chunk: %i", static_cast<int>(result));
                    return;
                }
            }
            position = s.ChunkPosition();
            if (position < 0) {
                ReportBackendError("gzWriter(%s): gztell failed", s.Name());
                return;
            }
        } else if (justFlushed) {
            ReportBackendError("gzWriter: pos >= CHUNK_SIZE after flush");
            return;
        }
        if (position >= static_cast<z_off_t>(CHUNK_SIZE)) {
            Flush();
            justFlushed = true;
        }
    }
}

void GzWriter::Flush() {
    State& s = *state_;
    if (!s.Assert(s.ownerThread == 0 || s.ownerThread == CurrentThreadId(),
                  "!ThreadId || ThreadId == GetCurrentThreadId()", __LINE__)) {
        return;
    }
    if (!s.fd && s.OpenLog() != 0) {
        return;
    }
    if (s.chunkOpen) {
        const z_off_t position = s.ChunkPosition();
        if (position < 0) {
            ReportBackendError("gzWriter(%s): gztell failed", s.Name());
            return;
        }
        if (position == 0) {
            return;
        }
        s.EndChunk();
        const int64_t now = CurrentTime();
        if (config_.OneDay && !SameLocalDay(s.fileTime, now)) {
            TraceFromBackend(INFORMATION, "gzWrite(%s): rotate logs day=%i prev=%i", s.Name(), LocalDayOfMonth(now),
                             LocalDayOfMonth(s.fileTime));
            Rotate();
            s.fileTime = now;
            return;
        }
        if (config_.MaxSize != kNoSizeLimit) {
            const int64_t size = s.FileSize();
            if (size >= static_cast<int64_t>(config_.MaxSize)) {
                TraceFromBackend(INFORMATION, "gzWrite(%s): rotate logs size=%u limit=%u", s.Name(),
                                 static_cast<unsigned>(size), config_.MaxSize);
                Rotate();
                return;
            }
        }
    }
    if (s.BeginChunk(kEnd) != 0) {
        s.CloseAll();
        s.OpenLog();  // checks the file again
    }
}

void GzWriter::Rotate() {
    ExclusiveGuard guard(state_->lock);
    state_->CloseAll();
    LogWriter::Rotate();
    state_->OpenLog();
}

int32_t GzWriter::ReadLog(uint32_t lines, std::string& out, uint32_t index) {
    out.clear();
    ExclusiveGuard guard(state_->lock);
    Common::UniqueFd fd(_open(GetFileName(index, true).c_str(), _O_BINARY));
    if (!fd) {
        return LOGGING_RC_NO_ACCESS;
    }
    Common::UniqueGzFile input(gzdopen(fd.get(), "r"));
    if (!input) {
        return LOGGING_RC_INTERNAL;
    }
    fd.release();
    std::string text;
    char piece[4095];
    for (int got; (got = gzread(input.get(), piece, sizeof piece)) > 0;) {
        text.append(piece, strnlen(piece, static_cast<size_t>(got)));
    }
    input.reset();

    std::vector<size_t> starts;
    for (size_t at = 0; at < text.size();) {
        starts.push_back(at);
        const size_t newline = text.find('\n', at);
        if (newline == std::string::npos) {
            break;
        }
        at = newline + 1;
    }
    if (lines >= 1 && lines <= starts.size()) {
        out = text.substr(starts[starts.size() - lines]);
    } else {
        out = std::move(text);
    }
    return LOGGING_RC_NOERROR;
}

}  // namespace Logging
