#include "platform/FileSystem.h"

#include <ctime>
#include <limits>

namespace ostrel {

namespace {

// Floor division, also for times before the epoch.
std::int64_t TwoSecondStep(std::int64_t seconds)
{
    return seconds >= 0 ? seconds / 2 : -((-seconds + 1) / 2);
}

// The local wall-clock time of an instant, counted in seconds as if it were UTC: what a file
// system that keeps local times stores.
std::int64_t LocalSeconds(std::int64_t seconds)
{
    if (seconds < std::numeric_limits<time_t>::min() || seconds > std::numeric_limits<time_t>::max()) {
        return seconds;
    }
    const auto instant = static_cast<time_t>(seconds);
    struct tm local
    {
    };
    if (!::localtime_r(&instant, &local)) {
        return seconds;
    }
    return static_cast<std::int64_t>(::timegm(&local));
}

} // namespace

int CompareFileTimes(const FileTime& a, const FileTime& b)
{
    const bool local = a.local || b.local;
    const std::int64_t left = TwoSecondStep(local ? LocalSeconds(a.seconds) : a.seconds);
    const std::int64_t right = TwoSecondStep(local ? LocalSeconds(b.seconds) : b.seconds);
    return left < right ? -1 : (left > right ? 1 : 0);
}

DosTime ToDosTime(const FileTime& time)
{
    constexpr DosTime kFirst = (0u << 25) | (1u << 21) | (1u << 16); // 1980/01/01 0:00:00
    constexpr DosTime kLast = (127u << 25) | (12u << 21) | (31u << 16) | (23u << 11) | (59u << 5) | 29u;
    struct tm local
    {
    };
    if (time.seconds < std::numeric_limits<time_t>::min()
        || time.seconds > std::numeric_limits<time_t>::max()) {
        return time.seconds < 0 ? kFirst : kLast;
    }
    const auto instant = static_cast<time_t>(time.seconds);
    if (!::localtime_r(&instant, &local)) {
        return time.seconds < 0 ? kFirst : kLast;
    }
    const long year = static_cast<long>(local.tm_year) + 1900;
    if (year < 1980) {
        return kFirst;
    }
    if (year > 2107) {
        return kLast;
    }
    auto date = static_cast<DosTime>(((year - 1980) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
    // A leap second (tm_sec 60) stays within the 5-bit field as step 30.
    auto clock = static_cast<DosTime>((local.tm_hour << 11) | (local.tm_min << 5) | (local.tm_sec / 2));
    return (date << 16) | clock;
}

} // namespace ostrel
