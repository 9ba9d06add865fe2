#pragma once

// Identifiers by which the report names applications. Consumers compare them as plain byte
// strings, so they must stay exactly as written here (including the lower-case "4bbf").
// Each unit that includes this header holds its own copy.

#include <string>

namespace Core {

static const std::string ExchangeAppId = "9127E80B-C6C3-4bbf-817D-517E4CE428FC";
static const std::string SqlServerAppId = "BC3DA61F-A909-4A22-852E-81B3D92A4B94";
static const std::string ActiveDirectoryAppId = "017131FD-ABB7-4B39-8C5A-6F0A8EB70966";
static const std::string OracleAppId = "02AC1E0B-C6C3-4bbf-817D-517E4CE428FC";
static const std::string MySqlAppId = "zet_sdk.mysql.B715B697-D741-4DD8-B901-345A9CA6029C";
static const std::string AppId0AB8D017 = "0AB8D017-65DB-4B8C-8500-41BC300E7DA3";
static const std::string AppId30BFB5EC = "30BFB5EC-1B44-44DA-A547-FCDF8BF34AF0";
static const std::string AppId6FA65817 = "6FA65817-181A-4EB3-8ADF-BD10C686CAC5";
static const std::string AppId7D420DD3 = "7D420DD3-F162-4036-98EC-B56C283A57DB";
static const std::string AppId8F0372E1 = "8F0372E1-9FED-42C3-8F8D-664FDD223C5E";
static const std::string AppIdE260E53C = "E260E53C-86C7-4606-8A6D-C0224A7CD842";
static const std::string AppId09D3EDE7 = "09D3EDE7-9B90-4AD9-8FBF-09DF159D26EF";
static const std::string AppIdD8EA452E = "D8EA452E-0767-4EC2-93AE-0F2253FFBF89";
static const std::string AppId29B591D4 = "29B591D4-5C9F-4B68-946D-AD32106849AB";

}  // namespace Core
