// Texts of the tracker: the per-frame label texts, assembled in a caller's
// fixed UTF-16 buffer (the statistics change up to sixty times a second and
// the program runs all day, so nothing there allocates), and the tracker's
// own words in the interface language.
#pragma once

#include "engine/core/qvdictionary.h"

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

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

// The tracker's Russian and German words for the table's keys 10 and 11 (the
// VSync switch), 16 (the about line) and 19-25 (the statistics captions):
// the table's English entries there are the tracker's, but its Russian and
// German ones belong to the word game. The scene's dictionary is the table
// with these in their place.
std::span<const QvTextEntry> qvTrackerWords();
