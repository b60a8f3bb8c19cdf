// qvdictionary: every localised text of the interface.
//
// One table per language (0 English, 1 Russian, 2 German), each mapping the
// keys 1..34 to a UTF-16 string. The tables are filled once by the constructor
// and never change; controls keep a reference to the one dictionary of the
// scene and read their key again when they switch language.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <span>
#include <string>

using QvTextTable = std::map<std::int32_t, std::u16string>;

// One entry of the tables: the text of `key` in `language`.
struct QvTextEntry {
    int language;
    std::int32_t key;
    std::u16string text;
};

class QvDictionary {
public:
    static constexpr int kLanguageCount = 3;
    static constexpr std::int32_t kFirstKey = 1;
    static constexpr std::int32_t kLastKey = 34;

    QvDictionary();
    // The same tables with `replaced` put in place of their entries; an entry
    // whose language or key the tables do not have is left out.
    explicit QvDictionary(std::span<const QvTextEntry> replaced);
    // `table` points into this object, so a copy would point into the original.
    QvDictionary(const QvDictionary&) = delete;
    QvDictionary& operator=(const QvDictionary&) = delete;

    // The text of `key` (1..34) in `language` (0..2). A language or key outside
    // those ranges is refused: the result is an empty string, never an exception
    // and never a read outside the tables. Use `has` to tell the two apart.
    const std::u16string& text(int language, std::int32_t key) const;
    // True when `language` and `key` name an entry of the tables.
    bool has(int language, std::int32_t key) const;

    const QvTextTable english;
    const QvTextTable russian;
    const QvTextTable german;
    // Index 0 english, 1 russian, 2 german: the language number is the index.
    const std::array<const QvTextTable*, kLanguageCount> table;
};
