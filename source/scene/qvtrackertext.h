// Texts of the tracker: the per-frame label texts, assembled in a caller's
// fixed UTF-16 buffer (the statistics change up to sixty times a second and
// the program runs all day, so nothing there allocates), and the tracker's
// own words in the interface language.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class QvDictionary;

// Units a 64-bit integer can need: 19 digits, the sign and the terminator.
inline constexpr int qvIntTextCapacity = 21;
// Units of a clock text "HH:MM:SS" (no terminator counted).
inline constexpr int qvClockTextLength = 8;

// Writes value in decimal at buffer[0..], then a terminating 0 unit; returns
// the number of units before the terminator. The buffer must hold at least
// qvIntTextCapacity units.
int qvIntToStr(std::int64_t value, char16_t* buffer);

// Appends the zero-terminated units of `text` at buffer[length..] as far as
// `capacity` allows (keeping room for the terminator); returns the new length.
int qvAppendText(char16_t* buffer, int length, int capacity, const char16_t* text);

// Writes the time of day of `totalSeconds` (wrapped at 24 hours) as
// "HH:MM:SS" and a terminator; returns qvClockTextLength. Negative input
// shows 00:00:00. The buffer must hold at least 9 units.
int qvClockText(std::int64_t totalSeconds, char16_t* buffer);

// The text the tracker shows for string-table key `key` in `language`. The
// table's English entries 10 and 11 (the VSync switch), 16 (the about line)
// and 19-25 (the statistics captions) are the tracker's words, but its Russian
// and German entries under those keys belong to the word game; for those the
// tracker has words of its own. Every other key, and English, reads the table.
const std::u16string& qvTrackerText(const QvDictionary& dictionary, int language, std::int32_t key);
