// The chunk check on plain byte buffers: header search, trailers, and which chunks the scan
// cuts off, keeps and restores. What the check writes into the log is tested on real files.

#include "logging/static/writers/gz_integrity.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "logging/static/writers/fake_owner.h"
#include "logging/static/writers/gz_files.h"

namespace {

using namespace Logging::GzIntegrity;
using TestSupport::GzipMember;

// A file in memory from offset `base` on; inflating behaves as gzread does: what a cut-off
// member still gives, nothing for data that does not inflate.
class BufferFile final : public ChunkFile {
public:
    BufferFile(std::string content, uint32_t from) : bytes(std::move(content)), base(from) {}
    bool Seek(uint32_t offset) override {
        position = offset - base;
        return !failSeek && position <= bytes.size();
    }
    uint32_t InflateLastChunk(std::string& text) override {
        text.clear();
        size_t consumed = 0;
        int status = Z_OK;
        TestSupport::InflateMember(bytes, position, text, consumed, &status);
        text.resize(status == Z_DATA_ERROR ? 0 : std::min<size_t>(text.size(), kInflateLimit));
        return static_cast<uint32_t>(text.size());
    }
    bool Truncate(uint32_t size) override {
        truncations.push_back(size);
        bytes.resize(failTruncate ? bytes.size() : size - base);
        return !failTruncate;
    }

    std::string bytes;
    uint32_t base;
    size_t position = 0;
    bool failSeek = false;
    bool failTruncate = false;
    std::vector<uint32_t> truncations;
};

std::string HexLines(size_t lines, uint32_t seed) {
    std::string text;
    for (size_t i = 0; i < lines; ++i) {
        for (int k = 0; k < 52; ++k) {
            seed = seed * 1103515245u + 12345u;
            text += "0123456789abcdef"[(seed >> 16) & 15];
        }
        text += '\n';
    }
    return text;
}

std::string Inflatable(const std::string& bytes) {
    std::string text;
    size_t consumed = 0;
    TestSupport::InflateMember(bytes, 0, text, consumed);
    return text;
}

TEST(GzIntegrity, HeaderPatternComparesIdMethodFlagsAndExtraFlagsOnly) {
    const std::string header = GzipMember("x").substr(0, 10);
    const auto bytes = [](const std::string& s) { return reinterpret_cast<const unsigned char*>(s.data()); };
    for (size_t at = 0; at < 10; ++at) {
        std::string changed = header;
        changed[at] ^= 0x41;
        EXPECT_EQ(IsChunkHeader(bytes(changed)), at >= 4 && at != 8) << at;  // time and OS are not compared
    }
    const std::string data = "abc" + header + "defg" + header;  // headers at 3 and 17
    EXPECT_EQ(FindHeaderBackwards(bytes(data), data.size(), 100), 17);
    EXPECT_EQ(FindHeaderBackwards(bytes(data), data.size(), 16), 3);
    EXPECT_EQ(FindHeaderBackwards(bytes(data), data.size(), 2), -1);
    EXPECT_EQ(FindHeaderBackwards(bytes(data), data.size() - 1, 100), 3);  // only whole headers count
    EXPECT_EQ(ReadTrailer(bytes("\x78\x56\x34\x12\x04\x03\x02\x81")).crc, 0x12345678u);
    EXPECT_EQ(ReadTrailer(bytes("\x78\x56\x34\x12\x04\x03\x02\x81")).isize, 0x81020304u);
}

TEST(GzIntegrity, ScanCutsDamagedChunksAndPicksWhatFollowsFromIt) {
    const std::string a = GzipMember(HexLines(50, 1));
    const std::string b = GzipMember(HexLines(400, 2)), bCut = b.substr(0, b.size() / 2);
    const std::string c = GzipMember(HexLines(400, 3)), cCut = c.substr(0, c.size() * 2 / 3);
    std::string big = GzipMember(std::string(3 * kInflateLimit, 'z'));
    big.resize(big.size() - 20);                 // cut, but far past the limit's worth of text
    std::string stray = b.substr(b.size() - 8);  // a trailer of the right length, not of the right CRC
    stray[0] ^= 1;
    const uint32_t A = static_cast<uint32_t>(a.size());
    struct Case {
        const char* name;
        std::string bytes;
        uint32_t base;  // file offset of the window
        bool valid, fatal;
        uint32_t offset;
        std::string text;
        std::vector<uint32_t> truncations;
    };
    const Case cases[] = {
        {"intact last chunk", a + b, 5000, true, false, 5000 + A, "", {}},
        {"empty members dropped", a + GzipMember("") + GzipMember(""), 0, true, false, 0, "", {A + 20, A}},
        {"two damaged chunks, text in file order",
         a + bCut + cCut,
         0,
         false,
         false,
         A,
         Inflatable(bCut) + Inflatable(cCut),
         {A + uint32_t(bCut.size()), A}},
        {"crc mismatch", a + b + stray, 0, false, false, A, HexLines(400, 2), {A}},
        {"inflate limit reached: its text and what followed dropped",
         a + big + cCut,
         0,
         false,
         false,
         A,
         "",
         {A + uint32_t(big.size()), A}},
        {"no header", std::string(300, 'q'), 0, false, true, 0, "", {}},
        {"shorter than a header", a.substr(0, 9), 0, false, true, 0, "", {}},
        {"damaged chunk at the front of the file", bCut, 0, false, true, 0, "", {0}},
        // Its trailer would lie before the window, so no chunk before it can be whole inside.
        {"damaged chunk 5 bytes into the window", "12345" + bCut, 700, false, true, 0, "", {705}},
        {"damaged chunk after a stray header", b.substr(0, 10) + "xxxxxxxx" + bCut, 0, false, true, 0, "", {18, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BufferFile file(c.bytes, c.base);
        TestSupport::FakeOwner owner(true);
        const PickResult result =
            PickChunk(file, owner, c.base, reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size());
        EXPECT_EQ(result.valid, c.valid);
        EXPECT_EQ(result.fatal, c.fatal);
        if (!c.fatal) {
            EXPECT_EQ(result.offset, c.offset);
            EXPECT_EQ(result.text, c.text);
            // Valid: the text of the intact chunk, which is not handed out.
            EXPECT_EQ(result.length, c.valid ? (c.base != 0 ? 400 : 50) * 53 : c.text.size());
        }
        EXPECT_EQ(file.truncations, c.truncations);
        EXPECT_TRUE(owner.texts.empty());
    }
}

TEST(GzIntegrity, FailedSeekOrTruncationIsFatal) {
    const std::string a = GzipMember(HexLines(50, 1));
    const std::string b = GzipMember(HexLines(300, 2));
    char offset[16];
    std::snprintf(offset, sizeof offset, "%08X", static_cast<unsigned>(a.size()));
    for (const bool seek : {true, false}) {
        const std::string bytes = a + b.substr(0, seek ? b.size() : b.size() / 2);
        BufferFile file(bytes, 0);
        (seek ? file.failSeek : file.failTruncate) = true;
        TestSupport::FakeOwner owner(true);
        EXPECT_TRUE(
            PickChunk(file, owner, 0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()).fatal);
        EXPECT_EQ(owner.debugLines.back(),
                  (seek ? "@@ analyzing chunk at " : "@@ truncate file to size ") + std::string(offset));
    }
}

}  // namespace
