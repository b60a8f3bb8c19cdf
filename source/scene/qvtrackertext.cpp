// Tracker texts: integer and clock formatting into fixed UTF-16 buffers.
#include "scene/qvtrackertext.h"

namespace {

constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kSecondsPerHour = 3600;
constexpr std::int64_t kSecondsPerDay = 86400;

// Two decimal digits of a value 0..99 at buffer[0..1].
void writeTwoDigits(std::int64_t value, char16_t* buffer)
{
    buffer[0] = char16_t(u'0' + value / 10);
    buffer[1] = char16_t(u'0' + value % 10);
}

}  // namespace

int qvIntToStr(std::int64_t value, char16_t* buffer)
{
    // The magnitude as unsigned, so that the most negative value has one too.
    std::uint64_t magnitude = value < 0 ? 0u - std::uint64_t(value) : std::uint64_t(value);
    int length = 0;
    do {
        buffer[length++] = char16_t(u'0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) buffer[length++] = u'-';
    buffer[length] = 0;
    for (int i = 0, j = length - 1; i < j; ++i, --j) {
        const char16_t unit = buffer[i];
        buffer[i] = buffer[j];
        buffer[j] = unit;
    }
    return length;
}

int qvAppendText(char16_t* buffer, int length, int capacity, const char16_t* text)
{
    if (length < 0 || capacity <= 0) return 0;
    while (*text != 0 && length < capacity - 1) buffer[length++] = *text++;
    if (length < capacity) buffer[length] = 0;
    return length;
}

int qvClockText(std::int64_t totalSeconds, char16_t* buffer)
{
    const std::int64_t daySeconds = totalSeconds < 0 ? 0 : totalSeconds % kSecondsPerDay;
    writeTwoDigits(daySeconds / kSecondsPerHour, buffer);
    buffer[2] = u':';
    writeTwoDigits(daySeconds % kSecondsPerHour / kSecondsPerMinute, buffer + 3);
    buffer[5] = u':';
    writeTwoDigits(daySeconds % kSecondsPerMinute, buffer + 6);
    buffer[qvClockTextLength] = 0;
    return qvClockTextLength;
}
