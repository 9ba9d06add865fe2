#include "driver/report_writers.h"

#include <iostream>
#include <string>

namespace Hostprobe {

namespace {

void AppendSection(std::string& report, const char* section, const char* element,
                   const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    report.append("  <").append(section).append(">\n");
    for (const std::string& entry : entries) {
        report.append("    <").append(element).append(">").append(EscapeXml(entry));
        report.append("</").append(element).append(">\n");
    }
    report.append("  </").append(section).append(">\n");
}

// The report leaves in one write and one flush: every write to an unbuffered stream (a
// console, the NUL device) is a system call of its own.
void WriteWhole(std::ostream& stream, const std::string& text) {
    stream.write(text.data(), static_cast<std::streamsize>(text.size()));
    stream.flush();
}

std::string XmlReport(const DetectionResult& result) {
    std::string report = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    report.append("<DetectionResult exitCode=\"").append(std::to_string(result.exitCode)).append("\">\n");
    report.append("  <Applications>\n");
    for (const std::string& id : result.applications) {
        report.append("    <Application guid=\"").append(EscapeXml(id)).append("\"/>\n");
    }
    report.append("  </Applications>\n");
    AppendSection(report, "Errors", "Error", result.errors);
    AppendSection(report, "Warnings", "Warning", result.warnings);
    AppendSection(report, "LogMessages", "Message", result.logMessages);
    report.append("</DetectionResult>\n");
    return report;
}

}  // namespace

std::string EscapeXml(const std::string& text) {
    std::string escaped;
    escaped.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '"': escaped += "&quot;"; break;
            case '&': escaped += "&amp;"; break;
            case '\'': escaped += "&apos;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped.push_back(c); break;
        }
    }
    return escaped;
}

void WriteXmlReport(const DetectionResult& result) {
    WriteWhole(std::cout, XmlReport(result));
}

void WriteTextReport(const DetectionResult& result) {
    std::string applications;
    for (const std::string& id : result.applications) {
        applications.append(id).append("\n");
    }
    std::string messages;
    for (const std::string& message : result.logMessages) {
        messages.append("[LOG] ").append(message).append("\n");
    }
    WriteWhole(std::cout, applications);
    WriteWhole(std::cerr, messages);
}

}  // namespace Hostprobe
