#pragma once

// The C runtime's local time, which the logging library's day checks read, put in a zone of
// the test's choosing.

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace TestSupport {

// For its lifetime, a zone without summer time in which it is now about midday and whose
// offset from UTC is not 0: the local day then neither begins at UTC midnight nor ends while a
// test runs.
class MiddayTimeZone {
public:
    MiddayTimeZone() {
        const char* saved = std::getenv("TZ");
        saved_ = saved != nullptr ? saved : "";
        const __time64_t now = _time64(nullptr);
        std::tm utc{};
        _gmtime64_s(&utc, &now);
        const int east = utc.tm_hour == 12 ? 6 : 12 - utc.tm_hour;  // -11 to 12
        // TZ names the hours to add to local time for UTC.
        _putenv(("TZ=HPT" + std::to_string(-east)).c_str());
        _tzset();
    }
    ~MiddayTimeZone() {
        _putenv(("TZ=" + saved_).c_str());
        _tzset();
    }
    MiddayTimeZone(const MiddayTimeZone&) = delete;
    MiddayTimeZone& operator=(const MiddayTimeZone&) = delete;

    // The first second of today, local time, in seconds since 1970 (UTC).
    int64_t Midnight() const {
        const __time64_t now = _time64(nullptr);
        std::tm local{};
        _localtime64_s(&local, &now);
        local.tm_hour = local.tm_min = local.tm_sec = 0;
        local.tm_isdst = 0;
        return _mktime64(&local);
    }

private:
    std::string saved_;
};

}  // namespace TestSupport
