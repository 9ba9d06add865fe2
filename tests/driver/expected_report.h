// The XML report hostprobe writes, built from what each detector logs: by default what it logs
// on the clean prefix.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "tests/enterprise/detection_test.h"

namespace ExpectedReport {

using DetectionTest::Lines;
using DetectionTest::operator+;

enum Detector { kSql, kExchange, kActiveDirectory, kOracle, kDetectors };
using DetectorLines = std::array<Lines, kDetectors>;  // "<level letter> <text>" each, in logging order

const char* const kTags[] = {"MSSQL Native", "Exchange Native", "AD Native", "Oracle Detection"};
const char* const kIds[] = {"BC3DA61F-A909-4A22-852E-81B3D92A4B94", "9127E80B-C6C3-4bbf-817D-517E4CE428FC",
                            "017131FD-ABB7-4B39-8C5A-6F0A8EB70966", "02AC1E0B-C6C3-4bbf-817D-517E4CE428FC"};

const std::string kSqlKey = "SOFTWARE\\Microsoft\\Microsoft SQL Server\\Instance Names\\SQL";
const std::string kExchangeRoots[] = {"SOFTWARE\\Microsoft\\Exchange", "SOFTWARE\\Microsoft\\Exchange\\v8.0",
                                      "SOFTWARE\\Microsoft\\ExchangeServer\\v14",
                                      "SOFTWARE\\Microsoft\\ExchangeServer\\v15"};

inline std::string SqlKeyMissing(const char* view) {
    return "W Failed to open registry key: " + kSqlKey + " (" + view + " view, error=2)";
}
// The Setup keys missing before root `roots` of the table.
inline Lines ExchangeSetupsMissing(int roots) {
    Lines lines;
    for (int root = 0; root < roots; ++root) {
        lines.push_back("W Failed to open registry key: " + kExchangeRoots[root] + "\\Setup (error=2)");
    }
    return lines;
}

// The prefix's own vssapi.dll has no backup components (E_NOTIMPL).
inline DetectorLines CleanLines() {
    return {Lines{"I Microsoft SQL Server not detected", SqlKeyMissing("64-bit"), SqlKeyMissing("32-bit")},
            Lines{"I Microsoft Exchange not detected"} + ExchangeSetupsMissing(4),
            Lines{"I Active Directory not detected (not a Domain Controller)"},
            Lines{"I Starting Oracle VSS Writer detection", "I Oracle VSS Writer not found",
                  "W Failed to create VSS backup components: 0x80004001"}};
}

// The report's log lines: information, then warnings, then errors, each in detector order.
inline Lines LogLines(const DetectorLines& lines) {
    Lines log;
    for (const char level : {'I', 'W', 'E'}) {
        for (int detector = 0; detector < kDetectors; ++detector) {
            for (const std::string& line : lines[detector]) {
                if (line[0] == level) {
                    log.push_back(DetectionTest::Line(kTags[detector], line));
                }
            }
        }
    }
    return log;
}

inline std::string Wrap(const Lines& lines, const std::string& before, const std::string& after) {
    std::string text;
    for (const std::string& line : lines) {
        text += before + line + after + "\r\n";
    }
    return text;
}

// The report of a run in which the detectors `detected` found their application; the lines are
// as the report shows them (escaped, and a line feed inside a message as the stream writes it).
inline std::string Xml(const std::vector<Detector>& detected, const DetectorLines& lines) {
    Lines applications;
    for (const Detector detector : detected) {
        applications.push_back(kIds[detector]);
    }
    const Lines messages = LogLines(lines);
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<DetectionResult exitCode=\"0\">\r\n  <Applications>\r\n" +
           Wrap(applications, "    <Application guid=\"", "\"/>") + "  </Applications>\r\n" +
           (messages.empty()
                ? ""
                : "  <LogMessages>\r\n" + Wrap(messages, "    <Message>", "</Message>") + "  </LogMessages>\r\n") +
           "</DetectionResult>\r\n";
}

}  // namespace ExpectedReport
