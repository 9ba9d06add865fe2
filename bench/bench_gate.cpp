// The gate back-end to a receiver process: this program starts itself again as the receiver
// (the network listener on for every channel, a null channel "bench.gate" that only counts
// what arrives) and sends it records of about 100 bytes through a gate channel of the same
// name, paced at a given rate. It searches the highest rate at which every record of a burst
// arrives, then measures the share lost at twice that rate.
//   bench_gate                 the sender, which prints the figures
//   bench_gate receive         the receiver; reads "count" and "quit" lines on standard input

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "bench/log_workload.h"
#include "core/common/handles.h"
#include "logging/channel_config.h"
#include "logging/initialize.h"
#include "logging/logging_manager.h"
#include "logging/static/control_worker.h"

namespace {

constexpr char kChannel[] = "bench.gate";
// Records per burst: long enough for the receiver's socket buffer to fill when it falls behind.
constexpr uint64_t kBurst = 20000;

uint64_t Received() {
    uint64_t count = 0;
    Logging::LoggingManager::Instance().GetUsageCount(kChannel, count);
    return count;
}

int Receive() {
    if (Logging::LoggingManager::Instance().TuneChannel(kChannel, Logging::NullConfig()) != 0) {
        return 2;
    }
    Logging::InitParameters parameters{};
    parameters.listener = Logging::kListenerAllChannels;
    const Logging::Initialize logging(nullptr, nullptr, parameters);
    std::printf("%u\n", static_cast<unsigned>(Logging::ControlWorkerListenerPort()));
    std::fflush(stdout);
    // The worker thread receives and re-emits; this one answers the sender.
    char line[64];
    while (std::fgets(line, sizeof line, stdin) != nullptr && std::strncmp(line, "quit", 4) != 0) {
        std::printf("%llu\n", static_cast<unsigned long long>(Received()));
        std::fflush(stdout);
    }
    return 0;
}

// The receiver process, spoken to through its standard input and output.
class Receiver {
public:
    bool Start() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        HANDLE childIn = nullptr;
        HANDLE toChild = nullptr;
        HANDLE fromChild = nullptr;
        HANDLE childOut = nullptr;
        if (!::CreatePipe(&childIn, &toChild, &inherit, 0)) {
            return false;
        }
        const Common::UniqueFileHandle childInOwner(childIn);
        toChild_.reset(toChild);
        if (!::CreatePipe(&fromChild, &childOut, &inherit, 0)) {
            return false;
        }
        const Common::UniqueFileHandle childOutOwner(childOut);
        fromChild_.reset(fromChild);
        ::SetHandleInformation(toChild_.get(), HANDLE_FLAG_INHERIT, 0);
        ::SetHandleInformation(fromChild_.get(), HANDLE_FLAG_INHERIT, 0);

        wchar_t self[MAX_PATH];
        ::GetModuleFileNameW(nullptr, self, MAX_PATH);
        std::wstring command = L"\"" + std::wstring(self) + L"\" receive";
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = childIn;
        startup.hStdOutput = childOut;
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
        PROCESS_INFORMATION process{};
        if (!::CreateProcessW(self, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
            return false;
        }
        process_.reset(process.hProcess);
        const Common::UniqueHandle thread(process.hThread);
        port_ = static_cast<uint32_t>(std::stoul("0" + ReadLine()));
        return port_ != 0;
    }

    ~Receiver() {
        if (process_) {
            Send("quit\n");
            ::WaitForSingleObject(process_.get(), 10000);
        }
    }

    uint32_t Port() const { return port_; }

    uint64_t Count() {
        Send("count\n");
        return std::stoull("0" + ReadLine());
    }

    // The count once it has stopped growing: what was on its way has arrived or is lost.
    uint64_t SettledCount() {
        uint64_t last = Count();
        for (;;) {
            ::Sleep(200);
            const uint64_t now = Count();
            if (now == last) {
                return now;
            }
            last = now;
        }
    }

private:
    void Send(const char* text) {
        DWORD written = 0;
        ::WriteFile(toChild_.get(), text, static_cast<DWORD>(std::strlen(text)), &written, nullptr);
    }

    std::string ReadLine() {
        std::string line;
        char c = 0;
        DWORD read = 0;
        while (::ReadFile(fromChild_.get(), &c, 1, &read, nullptr) && read == 1 && c != '\n') {
            if (c != '\r') {
                line.push_back(c);
            }
        }
        return line;
    }

    Common::UniqueFileHandle toChild_;
    Common::UniqueFileHandle fromChild_;
    Common::UniqueHandle process_;
    uint32_t port_ = 0;
};

void Emit(uint64_t i) {
    static const Logging::TraceLocation location{"bench/bench_gate", "Bench::Emit", __LINE__};
    Logging::Log(location, Logging::INFORMATION, kChannel, "record %08llu from producer %d: %s",
                 static_cast<unsigned long long>(i), 0, Bench::kPayload);
}

// Sends one burst at `rate` records per second (0: as fast as the sender goes); returns the
// share of it that did not arrive and, in `achieved`, the rate reached.
double Burst(Receiver& receiver, double rate, double& achieved) {
    const uint64_t before = receiver.SettledCount();
    const double start = Bench::Seconds();
    for (uint64_t i = 0; i < kBurst; ++i) {
        if (rate > 0) {
            const double due = start + static_cast<double>(i) / rate;
            while (Bench::Seconds() < due) {
            }
        }
        Emit(i);
    }
    achieved = static_cast<double>(kBurst) / (Bench::Seconds() - start);
    const uint64_t arrived = receiver.SettledCount() - before;
    return arrived >= kBurst ? 0.0 : static_cast<double>(kBurst - arrived) / kBurst;
}

int SendAll() {
    Receiver receiver;
    if (!receiver.Start()) {
        std::fprintf(stderr, "cannot start the receiver\n");
        return 1;
    }
    Logging::GateConfig gate;
    gate.Server = "127.0.0.1";
    gate.Port = receiver.Port();
    if (Logging::LoggingManager::Instance().TuneChannel(kChannel, gate) != 0) {
        std::fprintf(stderr, "cannot set up the gate channel\n");
        return 1;
    }
    // The first record waits for the receiver's filter reply.
    Emit(0);
    receiver.SettledCount();

    double achieved = 0;
    Burst(receiver, 0, achieved);
    const double fastest = achieved;
    // Double the rate until a burst loses records, then halve the gap a few times.
    double good = 0;
    double bad = 0;
    for (double rate = 5000; rate < fastest; rate *= 2) {
        if (Burst(receiver, rate, achieved) > 0) {
            bad = rate;
            break;
        }
        good = rate;
    }
    if (bad == 0) {
        // Nothing was lost below the sender's own speed: that is the highest rate.
        const double loss = Burst(receiver, 0, achieved);
        if (loss == 0) {
            good = achieved;
        } else {
            bad = fastest;
        }
    }
    for (int step = 0; step < 5 && bad != 0; ++step) {
        const double middle = (good + bad) / 2;
        if (Burst(receiver, middle, achieved) > 0) {
            bad = middle;
        } else {
            good = middle;
        }
    }
    std::printf("# bursts of %llu records of about 100 bytes; the sender alone reaches %.0f records/s\n",
                static_cast<unsigned long long>(kBurst), fastest);
    Bench::PrintFigure("gate.sender.rps", fastest);
    Bench::PrintFigure("gate.rps", good);
    const double loss = good > 0 ? Burst(receiver, 2 * good, achieved) : 1.0;
    Bench::PrintFigure("gate.rate2x", achieved);
    Bench::PrintFigure("gate.loss2x", loss);
    Logging::LoggingManager::Instance().RemoveChannel(kChannel);
    return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "receive") == 0) {
        return Receive();
    }
    return SendAll();
}
