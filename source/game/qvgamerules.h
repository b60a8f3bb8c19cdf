// qvgamerules: the state and rules of the Lexfall word game that need no
// letter tiles and no OpenGL.
//
// Board size, score, level, speed and attempts with their two save files, the
// interface language, the word lists of the three languages, the letter tables
// and random letters and words, the board's column geometry, the search for a
// word at the end of a column's letters and the scoring of a found word.
// QvGameLogic (qvgamelogic) adds the operations on the tiles themselves; this
// half is what the unit tests and the scene's start-up reach without a context.
//
// Save files: "savegame/save.sqv" (score, level, attempts) and
// "savegame/saveOptions.sqv" (speed, columns, language), each three
// little-endian 32-bit signed integers, no header.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

enum Language : std::int32_t { English = 0, Russian = 1, German = 2 };

using QvWordSet = std::set<std::u16string>;

class QvGameRules {
public:
    static constexpr std::int32_t kLanguageCount = 3;
    static constexpr const char* kSaveDirectory = "savegame";
    static constexpr const char* kGameFile = "savegame/save.sqv";
    static constexpr const char* kOptionsFile = "savegame/saveOptions.sqv";
    static constexpr const char* kWordListFiles[kLanguageCount] = {
        "dictionary/english.txt", "dictionary/russian.txt", "dictionary/german.txt"};
    static constexpr std::int32_t kStartColumns = 5;
    static constexpr float kFirstRowY = 6.9f;
    static constexpr float kRowHeight = 1.03f;
    static constexpr std::int32_t kLastLevel = 13;  // passing it wins the game
    static constexpr std::size_t kShortestWord = 2;

    // Reads the game save and then the options; missing files leave the
    // defaults (score 0, level 1, attempts 1, speed 5, columns 5, English).
    QvGameRules();
    virtual ~QvGameRules() = default;
    QvGameRules(const QvGameRules&) = delete;
    QvGameRules& operator=(const QvGameRules&) = delete;

    // --- rounds and levels -------------------------------------------------
    // A new round: no word found, every column empty.
    virtual void restart();
    // Score, level and attempts back to the start, then a new round.
    virtual void reset();
    virtual void moveToNewLevel();

    // --- save files ----------------------------------------------------------
    // Writes score, level, attempts; a failure throws std::runtime_error and
    // leaves the previous file as it was.
    virtual void save();
    // Reads score, level, attempts; sets noSaveFile when there is no file.
    virtual void load();
    // Rewrites the stored score and level with the current attempts (and
    // takes the stored score and level); nothing without a stored game.
    virtual void saveAttempts();
    virtual void saveOptions();
    // Reads speed, columns, language; a language outside 0..2 becomes English.
    virtual void loadOptions();
    virtual bool checkSaved() const { return saved; }

    // --- word lists and random letters and words -----------------------------
    // The separators of the word-list files: code units 7..13 and space.
    virtual bool isMyControl(char16_t c) const;
    // Reads the three word lists; a list that is missing, no regular file,
    // larger than 64 MiB or not UTF-8 leaves its language empty, with one line
    // naming the file.
    virtual void loadDictionary();
    // A code point of the current language: every third (the first included)
    // a vowel, the others consonants.
    virtual std::int64_t makeRandomLetter();
    // The lexfall word: a word of level + 1 letters (or the nearest shorter
    // length the list holds). False, with both emptied, when there is none.
    virtual bool makeRandomWord(std::u16string& word);
    // The bonus word of 2 letters (below level 4) or 2 to 4 letters; false,
    // with both emptied, when the list holds no word of 2 to 4 letters.
    virtual bool makeRandomBonusWord(std::u16string& word);
    // Is `word` in the current language's list?
    bool findInAssociativeArray(const std::u16string& word) const;

    // --- board ---------------------------------------------------------------
    // Column under a reference at x: clamped to the board, column 0 on a board
    // without columns.
    int dockColumn(float x) const;
    // Centre x of column c; row r's y.
    float columnCentre(int c) const;
    static float rowY(int r);
    // Appends a docked tile's letter (lower-cased) to its column's text.
    void appendLetter(int column, std::u16string letter);
    // Looks for a word at the end of column `column`'s text (the longest
    // suffix of two letters or more); on a find sets foundColumn, foundRow and
    // the flags, raises the level for the lexfall word, and writes the save
    // when the game is won.
    bool findWordInColumn(int column, std::u16string& word);
    // Scores the found word (already removed from the board by the caller):
    // cuts its letters off its column, adds the increase, applies the bonus.
    void scoreFoundWord();
    // The greatest number of letters in any column.
    virtual std::int8_t findTheMostLongString() const;

    // --- score, level, speed, attempts ---------------------------------------
    // increase = n^2 x (speed + 10 - columns) x 10; score += increase. Both
    // saturate at the 32-bit limits.
    void addScore(std::int32_t n);
    virtual void setScore(std::int32_t value) { score = value; }
    virtual void setLevel(std::int32_t value) { level = value; }
    virtual void setSpeed(std::int32_t value) { speed = value; }
    // Stores the attempts and writes them into the stored game.
    virtual void setAttempts(std::int32_t value);
    virtual std::int32_t getScore() const { return score; }
    virtual std::int32_t getIncrese() const { return increase; }
    virtual std::int32_t getLevel() const { return level; }
    virtual std::int32_t getSpeed() const { return speed; }
    virtual std::int32_t getAttempts() const { return attempts; }
    virtual std::u16string getBonusWord() const { return bonusWord; }

    // Lower case of a letter of the three alphabets (Latin with the German
    // umlauts, Cyrillic with Ё); other code units stay as they are.
    static char16_t lowerLetter(char16_t c);
    static std::u16string lowerWord(std::u16string word);
    // Splits UTF-16 text at the separators into `words`.
    void splitWords(const std::u16string& text, QvWordSet& words) const;

    std::int32_t columns = 0;
    float cellSize = 1.5f;
    std::int32_t foundColumn = 0;
    std::int32_t foundRow = 0;
    bool noSaveFile = true;
    bool wordFound = false;
    bool bonusFound = false;
    bool cubesDeleted = false;
    bool levelUp = false;
    bool saved = false;
    bool won = false;
    std::map<std::int32_t, std::u16string> columnLetters;  // per column, first docked first
    std::vector<const QvWordSet*> wordSets;                // English, Russian, German
    QvWordSet englishWords;
    QvWordSet russianWords;
    QvWordSet germanWords;
    Language language = English;
    std::map<std::int32_t, std::int32_t> englishLetters;
    std::map<std::int32_t, std::int32_t> russianLetters;
    std::map<std::int32_t, std::int32_t> germanLetters;
    std::int32_t letterCounter = 0;
    std::int32_t wordLength = 0;
    std::int32_t score = 0;
    std::int32_t increase = 0;
    std::int32_t level = 1;
    std::int32_t speed = 5;
    std::int32_t attempts = 1;
    std::u16string lexfallWord;
    std::u16string bonusWord;

private:
    // The words of the current language, or none for a language outside 0..2.
    const QvWordSet* currentWords() const;
    // A uniformly drawn word of the first length in `lengths` that the current
    // list holds.
    std::optional<std::u16string> drawWord(const std::vector<std::size_t>& lengths) const;
    void clearRound();
};

// The save-file format, apart from the game so that it can be tested byte by byte.
namespace qvsavefile {

using Values = std::array<std::int32_t, 3>;

// The 12 bytes of three little-endian 32-bit integers.
std::array<unsigned char, 12> encode(const Values& values);
// The whole integers held by the first `size` bytes (at most three); the
// values a short file does not hold are 0, a partial integer is ignored.
Values decode(const unsigned char* bytes, std::size_t size);
// Reads `path`. Empty when there is nothing there, silently, or when what is
// there is no regular file, cannot be read or holds fewer than 12 bytes: one
// line with the reason.
std::optional<Values> read(const std::filesystem::path& path);
// Writes `path` through a temporary file in the same folder, renamed over the
// old one; makes the folder when missing. Throws std::runtime_error on any
// failure, leaving the old file untouched.
void write(const std::filesystem::path& path, const Values& values);

}  // namespace qvsavefile
