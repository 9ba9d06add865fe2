#include "driver/report_writers.h"

#include <iostream>

namespace Hostprobe {

namespace {

void WriteSection(const char* section, const char* element, const std::vector<std::string>& entries) {
    if (entries.empty()) {
        return;
    }
    std::cout << "  <" << section << ">" << std::endl;
    for (const std::string& entry : entries) {
        std::cout << "    <" << element << ">" << EscapeXml(entry) << "</" << element << ">" << std::endl;
    }
    std::cout << "  </" << section << ">" << std::endl;
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
    std::cout << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>" << std::endl;
    std::cout << "<DetectionResult exitCode=\"" << result.exitCode << "\">" << std::endl;
    std::cout << "  <Applications>" << std::endl;
    for (const std::string& id : result.applications) {
        std::cout << "    <Application guid=\"" << EscapeXml(id) << "\"/>" << std::endl;
    }
    std::cout << "  </Applications>" << std::endl;
    WriteSection("Errors", "Error", result.errors);
    WriteSection("Warnings", "Warning", result.warnings);
    WriteSection("LogMessages", "Message", result.logMessages);
    std::cout << "</DetectionResult>" << std::endl;
}

void WriteTextReport(const DetectionResult& result) {
    for (const std::string& id : result.applications) {
        std::cout << id << std::endl;
    }
    for (const std::string& message : result.logMessages) {
        std::cerr << "[LOG] " << message << std::endl;
    }
}

}  // namespace Hostprobe
