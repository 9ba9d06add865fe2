#pragma once

// The logging configuration files: XML documents whose "logging" section lists statements
// (channels with their properties, levels, redirections, links, the default channel) that are
// applied through the manager's own operations, in document order, file after file. Nothing
// in a file stops the others; every rejected value is traced to "logging-trace" and replaced
// by its default.

#include <cstdint>
#include <memory>
#include <string>

namespace Xml {
class Document;
class Element;
}  // namespace Xml

namespace Logging {

class ChannelConfig;
class LoggingManager;

// Walks the child elements of an element, handing each to HandleElement in document order.
class BaseReader {
public:
    virtual ~BaseReader() = default;
    virtual void HandleElement(const Xml::Element& element) = 0;

    void ReadChildren(const Xml::Element& parent);
};

// The statements of a "logging" section.
class ConfigReader final : public BaseReader {
public:
    explicit ConfigReader(LoggingManager& manager) : manager_(manager) {}
    void HandleElement(const Xml::Element& element) override;

private:
    LoggingManager& manager_;
};

// The "property" children of one "channel" statement.
class PropReader final : public BaseReader {
public:
    PropReader(LoggingManager& manager, std::string channel) : manager_(manager), channel_(std::move(channel)) {}
    void HandleElement(const Xml::Element& element) override;

private:
    LoggingManager& manager_;
    std::string channel_;
};

// The configuration that a "channel" element describes: the defaults of its "type", its own
// attributes, then the common ones. A type that is no channel type, or one the library cannot
// build, gives a null configuration.
std::unique_ptr<ChannelConfig> BuildChannelConfig(const Xml::Element& channel);

// Applies the section "config/logging" of a document, or "<executableName>/logging" when the
// root is named like the executable; a document with another root applies nothing.
void ApplyConfigurationDocument(LoggingManager& manager, const Xml::Document& document,
                                const std::string& executableName);

// Reads and applies the configuration files of `directory` (the executable's folder when
// empty): in mode 1 only one ending in "<executable name>.config", in mode 3 only the file
// `name`, otherwise every "*.config" file.
void ReadConfiguration(LoggingManager& manager, const std::string& directory, const std::string& name, uint32_t mode);

}  // namespace Logging
