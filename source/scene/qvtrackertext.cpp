// Tracker texts: integer and clock formatting into fixed UTF-16 buffers, and
// the tracker's words where the string table holds the word game's.
#include "scene/qvtrackertext.h"

#include <array>

#ifndef VELMORIN_VERSION
#define VELMORIN_VERSION "0.0.0"
#endif

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

constexpr int kRussian = 1;
constexpr int kGerman = 2;

}  // namespace

// The captions stand left of fixed value columns at font size 50, so each is
// short enough to end before its value: the X row leaves 4.3 units, the
// odometer row 8.5 and the others 10.7 or more (a bitmap glyph of the
// 48-pixel face is 0.03 units a pixel there), which is why "Макс. скорость:"
// (11.9 units) is abbreviated. The makers' name stays as it is in every
// language, as a name does.
std::span<const QvTextEntry> qvTrackerWords()
{
    static const std::array<QvTextEntry, 20> words{{
        {kRussian, 10, u"Эко"},
        {kGerman, 10, u"Öko"},
        {kRussian, 11, u"Мощность"},
        {kGerman, 11, u"Leistung"},
        {kRussian, 16, u"Velmorin, версия " VELMORIN_VERSION u", \u00A9 2026 the Velmorin developers"},
        {kGerman, 16, u"Velmorin Version " VELMORIN_VERSION u", \u00A9 2026 the Velmorin developers"},
        {kRussian, 19, u"Одометр:"},
        {kGerman, 19, u"Strecke:"},
        {kRussian, 20, u"Спидометр:"},
        {kGerman, 20, u"Tacho:"},
        {kRussian, 21, u"X:"},
        {kGerman, 21, u"X:"},
        {kRussian, 22, u"Y:"},
        {kGerman, 22, u"Y:"},
        {kRussian, 23, u"Макс. скор.:"},
        {kGerman, 23, u"Höchsttempo:"},
        {kRussian, 24, u"Остановки:"},
        {kGerman, 24, u"Stopps:"},
        {kRussian, 25, u"Время:"},
        {kGerman, 25, u"Zeit:"},
    }};
    return words;
}

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
