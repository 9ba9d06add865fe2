#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <memory>

#include "driver/detection_result.h"
#include "driver/log_collecting_tracer.h"
#include "driver/logging_hooks.h"
#include "driver/options.h"
#include "driver/report_writers.h"
#include "driver/run_detection.h"
#include "logging/initialize.h"

namespace {

void IgnoreInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*, unsigned int, uintptr_t) {}

// Before main: no critical-error dialogs, and invalid arguments to runtime functions return
// their error codes instead of ending the process.
struct ProcessSetup {
    ProcessSetup() {
        ::SetErrorMode(SEM_FAILCRITICALERRORS);
        if (_get_invalid_parameter_handler() == nullptr) {
            _set_invalid_parameter_handler(IgnoreInvalidParameter);
        }
    }
} const g_processSetup;

// Points std::cout at another stream buffer for its lifetime.
class CoutRedirect {
public:
    explicit CoutRedirect(std::streambuf* target) : previous_(std::cout.rdbuf(target)) {}
    ~CoutRedirect() { std::cout.rdbuf(previous_); }
    CoutRedirect(const CoutRedirect&) = delete;
    CoutRedirect& operator=(const CoutRedirect&) = delete;

private:
    std::streambuf* previous_;
};

}  // namespace

int main(int argc, char* argv[]) {
    // The runtime leaves the standard streams unbuffered on a console or the NUL device, where
    // every character would be a system call of its own; the report is flushed as a whole.
    std::setvbuf(stdout, nullptr, _IOFBF, 16384);
    std::setvbuf(stderr, nullptr, _IOFBF, 16384);
    const Hostprobe::Options options = Hostprobe::ParseOptions(argc, argv);
    if (!Hostprobe::IsValidFormat(options.format)) {
        std::cerr << "Error: Invalid format '" << options.format << "'. Valid formats: text, xml" << std::endl;
        return 1;
    }

    // Deleted explicitly after the logging library has let go of it, and on any early exit.
    std::unique_ptr<Hostprobe::LogCollectingTracer> tracer(new Hostprobe::LogCollectingTracer);
    int exitCode = 0;
    {
        // Declared in this order so that they are destroyed in the reverse one: the file, the
        // result, then the logging library; the tracer goes last, after the library let go.
        const Logging::InitParameters noPipeNoListener{};
        Logging::Initialize logging(Hostprobe::FormatErrorForLogging, Hostprobe::FormatFieldsForLogging,
                                    noPipeNoListener);
        // The result is ignored: without the channel the report simply holds no log messages.
        Hostprobe::RouteDefaultChannelTo(tracer.get());

        Hostprobe::DetectionResult result = Hostprobe::RunDetection(tracer.get());

        std::unique_ptr<std::ofstream> file;
        if (!options.output.empty()) {
            file = std::make_unique<std::ofstream>(options.output, std::ios_base::out);
            if (!file->is_open()) {
                std::cerr << "Error: Cannot open output file: " << options.output << std::endl;
                exitCode = 1;
            }
        }
        if (exitCode == 0) {
            std::unique_ptr<CoutRedirect> redirect;
            if (file) {
                redirect = std::make_unique<CoutRedirect>(file->rdbuf());
            }
            if (options.format == "xml") {
                Hostprobe::WriteXmlReport(result);
            } else {
                Hostprobe::WriteTextReport(result);
            }
            exitCode = result.exitCode;
        }
        file.reset();
    }
    tracer.reset();
    return exitCode;
}
