#pragma once

// Stands in for the log-scope back-end that owns a file writer: collects what the writer
// queues, in order, and hands it back to the writer as the back-end's writer thread would.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "logging/static/writers/log_writer.h"

namespace TestSupport {

class FakeOwner final : public Logging::LogWriterOwner {
public:
    // `debug`: the channel's flags hold OF_DEBUG, so "@@" lines are queued.
    explicit FakeOwner(bool debug = false) : debug_(debug) {}

    void NotifyRotation() override { ++rotations; }
    void QueueText(const std::string& text) override {
        texts.push_back(text);
        queued.push_back(text);
    }
    void QueueDebugLine(const char* format, ...) override {
        if (!debug_) {
            return;
        }
        char line[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(line, sizeof line, format, args);
        va_end(args);
        debugLines.push_back(line);
        queued.push_back(std::string(line) + "\n");
    }

    // Writes what was queued as one batch, and forgets it.
    void Drain(Logging::LogWriter& writer) {
        std::string data;
        Logging::SizeList sizes;
        for (const std::string& record : queued) {
            data += record;
            sizes.Push(record.size());
        }
        if (!sizes.Empty()) {
            writer.Write(data.data(), sizes);
        }
        queued.clear();
    }
    void Clear() {
        texts.clear();
        debugLines.clear();
        queued.clear();
    }

    int rotations = 0;
    std::vector<std::string> texts;       // raw texts, as queued
    std::vector<std::string> debugLines;  // "@@" lines, without a line end
    std::vector<std::string> queued;      // both, as records not written yet

private:
    bool debug_;
};

}  // namespace TestSupport
