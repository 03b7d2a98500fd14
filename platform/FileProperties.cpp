// The facts of one file for the properties dialog, read in one query, and their texts.
// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/FileProperties.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FolderListing.h"
#include "text/Text.h"
#include "versioninfo/VersionResource.h"

namespace platform {

namespace {

std::uint64_t ticksOf(const struct statx_timestamp& t)
{
    return fileTimeTicks(t.tv_sec, t.tv_nsec);
}

// The file system's compression flag, where it can be read.
bool compressed(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    const bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    ::close(fd);
    return ok && (flags & FS_COMPR_FL) != 0;
}

struct CivilTime {
    std::int64_t year;
    int month;
    int day;
    int hour;
    int minute;
    int second;
};

// A proleptic Gregorian date from days since 1970-01-01.
CivilTime civilFrom(std::int64_t seconds)
{
    std::int64_t days = seconds / 86400;
    std::int64_t rest = seconds % 86400;
    if (rest < 0) {
        rest += 86400;
        --days;
    }
    days += 719468;
    const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    CivilTime t;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0);
    t.hour = static_cast<int>(rest / 3600);
    t.minute = static_cast<int>(rest % 3600 / 60);
    t.second = static_cast<int>(rest % 60);
    return t;
}

CivilTime civilFromTicks(std::uint64_t ticks)
{
    constexpr std::int64_t kEpochDifference = 11644473600;
    const std::int64_t seconds = static_cast<std::int64_t>(ticks / 10000000u) - kEpochDifference;
    return civilFrom(seconds);
}

std::string dateText(const CivilTime& t, const text::Locale& locale)
{
    char year[24];
    std::snprintf(year, sizeof year, "%04lld", static_cast<long long>(t.year));
    return std::string(year) + "-" + locale.shortMonths[static_cast<std::size_t>(t.month - 1)] +
           "-" + text::twoDigits(t.day);
}

}  // namespace

bool gatherFileProperties(const std::string& path, FileProperties& properties)
{
    struct statx st = {};
    if (::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME,
                &st) != 0 ||
        !S_ISREG(st.stx_mode)) {
        return false;
    }
    properties = FileProperties();
    properties.longName = std::string(nameOf(path));
    if (!properties.longName.empty() && properties.longName.front() == '.') {
        properties.attributes |= kAttrHidden;
    }
    if ((st.stx_mode & S_IWUSR) == 0) {
        properties.attributes |= kAttrReadOnly;
    }
    if (compressed(path)) {
        properties.attributes |= kAttrCompressed;
    }
    properties.size = st.stx_size;
    properties.lastWriteTime = ticksOf(st.stx_mtime);
    properties.lastAccessTime = ticksOf(st.stx_atime);
    properties.creationTime = (st.stx_mask & STATX_BTIME) != 0 ? ticksOf(st.stx_btime) : 0;
    properties.hasCompressedSize = (st.stx_mask & STATX_BLOCKS) != 0;
    properties.compressedSize = st.stx_blocks * 512u;
    versioninfo::readVersionBlock(path, properties.versionBlock);
    return true;
}

std::string SizeText(std::uint64_t n, const text::Locale& locale)
{
    std::string first;
    if (n < 1024) {
        first = text::formatCount(static_cast<std::int64_t>(n), locale) + " bytes";
    } else if (n < 1048576) {
        first = text::formatDecimal(static_cast<double>(n) / 1024.0, 2, locale) + " KB";
    } else if (n < 1073741824) {
        first = text::formatDecimal(static_cast<double>(n) / 1048576.0, 2, locale) + " MB";
    } else {
        first = text::formatDecimal(static_cast<double>(n) / 1073741824.0, 2, locale) + " GB";
    }
    return first + " (" + text::formatCount(static_cast<std::int64_t>(n), locale) + " bytes)";
}

std::string CompressedSizeText(std::uint64_t c, const text::Locale& locale)
{
    std::string first;
    if (c < 1024) {
        first = std::to_string(c) + " bytes";
    } else if (c < 1048576) {
        first = text::formatDecimal(static_cast<double>(c) / 1024.0, 2, locale) + " KB";
    } else {
        first = text::formatDecimal(static_cast<double>(c) / 1048576.0, 2, locale) + " MB";
    }
    return first + " (" + text::formatCount(static_cast<std::int64_t>(c), locale) + " bytes)";
}

std::string FileTimeText(std::uint64_t ticks, const text::Locale& locale)
{
    if (ticks == 0) {
        return "(unknown)";
    }
    const CivilTime t = civilFromTicks(ticks);
    return dateText(t, locale) + " " + text::twoDigits(t.hour) + locale.timeSeparator +
           text::twoDigits(t.minute) + locale.timeSeparator + text::twoDigits(t.second);
}

std::string FileDateText(std::uint64_t ticks, const text::Locale& locale)
{
    return ticks == 0 ? "(unknown)" : dateText(civilFromTicks(ticks), locale);
}

std::string TypeText(const std::string& path)
{
    const std::string_view name = nameOf(path);
    const std::size_t dot = name.rfind('.');
    const std::string extension =
        dot == std::string_view::npos ? "" : std::string(name.substr(dot + 1));
    return text::upperCase(extension) + " file";
}

}  // namespace platform
