#include "update/version_check.h"

#include "base/text_helpers.h"

namespace vistrel {

namespace {

// Local wall-clock seconds, so that "20 days" are counted in days of the
// calendar the user sees.
long long Wall_Seconds(const std::tm& t) {
    // Days from civil, for the proleptic Gregorian calendar.
    long long y = t.tm_year + 1900;
    const int m = t.tm_mon + 1;
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const long long yoe = y - era * 400;
    const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.tm_mday - 1;
    const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const long long days = era * 146097 + doe - 719468;
    return days * 86400 + t.tm_hour * 3600 + t.tm_min * 60 + t.tm_sec;
}

} // namespace

std::string Version_Remote_From(const std::string& body) {
    return body.substr(0, 4);
}

bool Is_Newer(const std::string& remote, const std::string& local) {
    if (remote.empty() || local.empty() || remote == local)
        return false;
    return Str_To_Float(remote.substr(1)) > Str_To_Float(local.substr(1));
}

bool Is_Old(std::time_t modified, std::time_t now) {
    std::tm file{};
    std::tm today{};
    ::tzset(); // the zone may have changed since start-up; localtime_r would not see it
    if (::localtime_r(&modified, &file) == nullptr || ::localtime_r(&now, &today) == nullptr)
        return false;
    today.tm_hour = today.tm_min = today.tm_sec = 0;
    return Wall_Seconds(file) + 20LL * 86400 < Wall_Seconds(today);
}

std::vector<std::string> Update_Dialog_Lines(const std::string& app_name, const std::string& local,
                                             const std::string& remote) {
    if (!remote.empty() && !local.empty() && remote != local)
        return {"Your version " + local + " of " + app_name + " is out of date !",
                "Actual version available : " + remote,
                "You could miss the benefit of new functions and fixed issues !",
                "Proceed to download this new application version ..."};
    return {"Your application :", app_name,
            " may be out of date and you could miss the benefit of new functions !",
            "Do you want to proceed to check the latest version of this application ?"};
}

} // namespace vistrel
