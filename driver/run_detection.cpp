#include "driver/run_detection.h"

#include <utility>

#include "enterprise/applications/ad/detection/ad_native_detection_addon.h"
#include "enterprise/applications/msexchange/detection/exchange_native_detection_addon.h"
#include "enterprise/applications/mssql/detection/mssql_native_detection_addon.h"
#include "enterprise/applications/oracle/detection/oracle_native_detection_addon.h"

namespace Hostprobe {

namespace {
void Append(std::vector<std::string>& target, const std::vector<std::string>& source) {
    target.insert(target.end(), source.begin(), source.end());
}
}  // namespace

DetectionResult RunDetection(LogCollectingTracer* tracer) {
    DetectionResult result;
    try {
        RunAddon<MsSql::NativeDetectionAddon>("SQL Server", result);
        RunAddon<MsExchange::NativeDetectionAddon>("Exchange", result);
        RunAddon<ActiveDirectory::NativeDetectionAddon>("Active Directory", result);
        RunAddon<OracleBackup::NativeDetectionAddon>("Oracle", result);
        if (tracer != nullptr) {
            // Merged in full or not at all: a failure half-way leaves the report's list alone.
            std::vector<std::string> messages = tracer->InfoMessagesUtf8();
            Append(messages, tracer->WarningMessagesUtf8());
            Append(messages, tracer->ErrorMessagesUtf8());
            result.logMessages = std::move(messages);
        }
    } catch (const Common::Error& error) {
        result.errors.push_back("Detection failed: " + Common::Utf16ToUtf8(error.Text()));
        result.exitCode = 1;
    } catch (const std::exception& exception) {
        result.errors.push_back(std::string("Detection failed: ") + exception.what());
        result.exitCode = 1;
    }
    return result;
}

}  // namespace Hostprobe
