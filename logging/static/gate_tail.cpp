#include "logging/static/gate_tail.h"

#include <vector>

#include "logging/static/gate_datagrams.h"

namespace Logging {

bool GateTail::Open(uint32_t minPort, uint32_t maxPort) {
    if (!socket_.Create() || socket_.BindLoopback(minPort, maxPort, true) == 0 || !socket_.StartReceive()) {
        socket_.Close();
        return false;
    }
    return true;
}

void GateTail::OnReceived(const std::function<void(const std::string& line)>& print) {
    size_t bytes = 0;
    if (socket_.GetResult(bytes) && bytes > 0) {
        for (const Gate::ScannedItem& item : Gate::ScanBuffer(socket_.Buffer(), bytes)) {
            if (item.kind == Gate::ScannedItem::FilterRequest) {
                const std::vector<std::vector<uint8_t>> reply = Gate::FilterReplyWriter().Finish();
                socket_.SendTo(socket_.Sender(), reply[0].data(), reply[0].size());
            } else {
                print(Gate::TailLine(item.record));
            }
        }
    }
    socket_.StartReceive();
}

}  // namespace Logging
