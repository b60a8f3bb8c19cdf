// qvgamerules: save files, word lists, letters, column search and scoring.
#include "game/qvgamerules.h"

#include "engine/core/qvfiles.h"

#include <fmt/core.h>
#include <utf8.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <stdexcept>

namespace {

// ---------------------------------------------------------------------------
// Constants

constexpr std::size_t kSaveFileSize = 12;
// A word list is read whole into memory, and its words then take several
// times its size: the largest list shipped is under 5 MiB, so 64 MiB leaves
// room for a much larger one and refuses a file that would exhaust memory.
constexpr std::uintmax_t kMaxWordListBytes = std::uintmax_t(64) << 20;
constexpr std::int32_t kScoreBase = 10;   // speed + 10 - columns
constexpr std::int32_t kScoreScale = 10;  // ... x 10
constexpr std::int32_t kBonusLevel = 4;   // below it the bonus word has 2 letters
constexpr std::size_t kShortestBonus = 2;
constexpr std::size_t kLongestBonus = 4;
constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};
constexpr char16_t kFirstSeparator = 7;
constexpr char16_t kLastSeparator = 13;
constexpr char16_t kSpace = 32;

// Consonants first, vowels after, as the keys run.
constexpr char16_t kEnglishLetters[] = u"BCDFGHJKLMNPQRSTVWXZ"
                                       u"AEIOUY";
constexpr char16_t kRussianLetters[] = u"БВГДЖЗЙКЛМНПРСТФХЦЧШЩЪЬ"
                                       u"АЕИОУЫЭЮЯЁ";
constexpr char16_t kGermanLetters[] = u"BCDFGHJKLMNPQRSTVWXZß"
                                      u"AEIOUYÄÜÖ";
constexpr std::int32_t kEnglishConsonants = 20;
constexpr std::int32_t kRussianConsonants = 23;
constexpr std::int32_t kGermanConsonants = 21;

const char* const kLanguageNames[] = {"English", "Russian", "German"};

// ---------------------------------------------------------------------------
// Internal functions

// The one generator of the process, seeded once from the system.
std::mt19937& generator()
{
    static std::mt19937 engine{std::random_device{}()};
    return engine;
}

// A uniform draw from [a, b).
int drawBetween(int a, int b)
{
    return std::uniform_int_distribution<int>(a, b - 1)(generator());
}

// Keys 1.. of `letters`, in order.
std::map<std::int32_t, std::int32_t> letterTable(std::u16string_view letters)
{
    std::map<std::int32_t, std::int32_t> table;
    std::int32_t key = 1;
    for (const char16_t c : letters) table[key++] = c;
    return table;
}

// a x b, held at the 64-bit limits instead of wrapping.
std::int64_t multiplySaturated(std::int64_t a, std::int64_t b)
{
    std::int64_t product = 0;
    if (!__builtin_mul_overflow(a, b, &product)) return product;
    return (a < 0) != (b < 0) ? std::numeric_limits<std::int64_t>::min()
                              : std::numeric_limits<std::int64_t>::max();
}

std::int32_t clampTo32(std::int64_t value)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

// The whole contents of a word list; nothing, with the reason in `error`,
// when it is no regular file, cannot be read or is larger than the bound.
std::optional<std::string> readWholeFile(const std::string& path, std::string& error)
{
    const std::optional<std::vector<std::uint8_t>> bytes = qvReadBoundedFile(path, error, kMaxWordListBytes);
    if (!bytes) return std::nullopt;
    return std::string(bytes->begin(), bytes->end());
}

}  // namespace

// ---------------------------------------------------------------------------
// Save-file format

namespace qvsavefile {

std::array<unsigned char, 12> encode(const Values& values)
{
    std::array<unsigned char, kSaveFileSize> bytes{};
    for (std::size_t i = 0; i < values.size(); ++i) {
        const auto word = static_cast<std::uint32_t>(values[i]);
        for (std::size_t b = 0; b < 4; ++b) bytes[i * 4 + b] = static_cast<unsigned char>(word >> (8 * b));
    }
    return bytes;
}

Values decode(const unsigned char* bytes, std::size_t size)
{
    Values values{0, 0, 0};
    const std::size_t whole = std::min<std::size_t>(size / 4, values.size());
    for (std::size_t i = 0; i < whole; ++i) {
        std::uint32_t word = 0;
        for (std::size_t b = 0; b < 4; ++b) word |= std::uint32_t(bytes[i * 4 + b]) << (8 * b);
        values[i] = static_cast<std::int32_t>(word);
    }
    return values;
}

std::optional<Values> read(const std::filesystem::path& path)
{
    // No save yet is the usual case and goes unsaid; anything else in its
    // place that cannot be read (a folder, a pipe, a device) says why.
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) return std::nullopt;
    std::string error;
    const std::optional<std::vector<std::uint8_t>> bytes = qvReadRegularFile(path, error, kSaveFileSize);
    // A file cut short (by damage, or an older write broken off) would give 0
    // for the values it lacks, which the game cannot play with (no columns,
    // level 0), and which values survive depends on where the cut fell: it
    // counts as missing, and stays as it is until a save replaces it.
    if (bytes && bytes->size() < kSaveFileSize) {
        error = bytes->empty() ? "it is empty"
                               : fmt::format("cut short: {} of {} bytes", bytes->size(), kSaveFileSize);
    }
    if (!bytes || bytes->size() < kSaveFileSize) {
        fmt::print("Save file {} could not be read ({}); taken as missing\n", path.string(), error);
        return std::nullopt;
    }
    return decode(bytes->data(), bytes->size());
}

void write(const std::filesystem::path& path, const Values& values)
{
    namespace fs = std::filesystem;
    const fs::path folder = path.parent_path();
    if (!folder.empty()) {
        std::error_code ec;
        const fs::file_status status = fs::status(folder, ec);
        if (fs::exists(status) && !fs::is_directory(status)) {
            throw std::runtime_error(
                fmt::format("Cannot save {}: {} is not a folder", path.string(), folder.string()));
        }
        if (!fs::exists(status) && !fs::create_directory(folder, ec) && ec) {
            throw std::runtime_error(
                fmt::format("Cannot save {}: folder not created ({})", path.string(), ec.message()));
        }
    }
    // A crash or a full disk mid-write must never leave a half-written save:
    // the old file is replaced only by a complete new one.
    const auto bytes = encode(values);
    std::string error;
    if (!qvReplaceFile(path, bytes, error)) {
        throw std::runtime_error(fmt::format("Cannot save {}: {}", path.string(), error));
    }
}

}  // namespace qvsavefile

// ---------------------------------------------------------------------------
// Construction, rounds and levels

QvGameRules::QvGameRules()
{
    columns = kStartColumns;
    score = 0;
    englishLetters = letterTable(kEnglishLetters);
    russianLetters = letterTable(kRussianLetters);
    germanLetters = letterTable(kGermanLetters);
    load();
    loadOptions();
}

void QvGameRules::clearRound()
{
    foundColumn = 0;
    foundRow = 0;
    wordFound = false;
    cubesDeleted = false;
    columnLetters.clear();
}

void QvGameRules::restart()
{
    clearRound();
}

void QvGameRules::moveToNewLevel()
{
    clearRound();
}

void QvGameRules::reset()
{
    score = 0;
    level = 1;
    attempts = 1;
    clearRound();
}

// ---------------------------------------------------------------------------
// Save files

void QvGameRules::save()
{
    qvsavefile::write(kGameFile, {score, level, attempts});
    saved = true;
    noSaveFile = false;
}

void QvGameRules::load()
{
    const auto stored = qvsavefile::read(kGameFile);
    if (!stored) {
        noSaveFile = true;
        return;
    }
    score = (*stored)[0];
    level = (*stored)[1];
    attempts = (*stored)[2];
    saved = true;
    noSaveFile = false;
}

void QvGameRules::saveAttempts()
{
    const auto stored = qvsavefile::read(kGameFile);
    if (!stored) return;
    score = (*stored)[0];
    level = (*stored)[1];
    qvsavefile::write(kGameFile, {score, level, attempts});
}

void QvGameRules::saveOptions()
{
    qvsavefile::write(kOptionsFile, {speed, columns, language});
}

void QvGameRules::loadOptions()
{
    const auto stored = qvsavefile::read(kOptionsFile);
    if (!stored) return;
    speed = (*stored)[0];
    columns = (*stored)[1];
    const std::int32_t storedLanguage = (*stored)[2];
    // The language indexes three-entry tables everywhere; anything else
    // would read outside them.
    if (storedLanguage >= English && storedLanguage <= German) {
        language = static_cast<Language>(storedLanguage);
    } else {
        fmt::print("Options file {} holds language {}, not 0..2; using English\n", kOptionsFile,
                   storedLanguage);
        language = English;
    }
}

void QvGameRules::setAttempts(std::int32_t value)
{
    attempts = value;
    saveAttempts();
}

// ---------------------------------------------------------------------------
// Word lists, letters and words

bool QvGameRules::isMyControl(char16_t c) const
{
    return (c >= kFirstSeparator && c <= kLastSeparator) || c == kSpace;
}

void QvGameRules::splitWords(const std::u16string& text, QvWordSet& words) const
{
    std::u16string word;
    for (const char16_t c : text) {
        if (!isMyControl(c)) {
            word += c;
        } else if (!word.empty()) {
            words.insert(word);
            word.clear();
        }
    }
    if (!word.empty()) words.insert(word);
}

void QvGameRules::loadDictionary()
{
    wordSets.clear();
    QvWordSet* sets[kLanguageCount] = {&englishWords, &russianWords, &germanWords};
    for (std::int32_t l = 0; l < kLanguageCount; ++l) {
        QvWordSet& words = *sets[l];
        words.clear();
        wordSets.push_back(&words);
        const char* path = kWordListFiles[l];
        std::string error;
        std::optional<std::string> bytes = readWholeFile(path, error);
        if (!bytes) {
            fmt::print("Word list {} could not be read ({}); no {} words\n", path, error, kLanguageNames[l]);
            continue;
        }
        if (bytes->size() >= sizeof kUtf8Mark &&
            std::memcmp(bytes->data(), kUtf8Mark, sizeof kUtf8Mark) == 0) {
            bytes->erase(0, sizeof kUtf8Mark);
        }
        if (!utf8::is_valid(bytes->begin(), bytes->end())) {
            fmt::print("Word list {} is not UTF-8 text; no {} words\n", path, kLanguageNames[l]);
            continue;
        }
        splitWords(utf8::utf8to16(*bytes), words);
    }
}

const QvWordSet* QvGameRules::currentWords() const
{
    if (language < 0 || static_cast<std::size_t>(language) >= wordSets.size()) return nullptr;
    return wordSets[language];
}

bool QvGameRules::findInAssociativeArray(const std::u16string& word) const
{
    const QvWordSet* words = currentWords();
    return words != nullptr && words->count(word) != 0;
}

std::int64_t QvGameRules::makeRandomLetter()
{
    const std::map<std::int32_t, std::int32_t>* table = &englishLetters;
    std::int32_t consonants = kEnglishConsonants;
    if (language == Russian) {
        table = &russianLetters;
        consonants = kRussianConsonants;
    } else if (language == German) {
        table = &germanLetters;
        consonants = kGermanConsonants;
    }
    const std::int32_t lastKey = static_cast<std::int32_t>(table->size());
    const std::int32_t key =
        letterCounter % 3 == 0 ? drawBetween(consonants + 1, lastKey + 1) : drawBetween(1, consonants + 1);
    ++letterCounter;
    return table->at(key);
}

std::optional<std::u16string> QvGameRules::drawWord(const std::vector<std::size_t>& lengths) const
{
    const QvWordSet* words = currentWords();
    if (words == nullptr) return std::nullopt;
    for (const std::size_t length : lengths) {
        std::vector<const std::u16string*> fitting;
        for (const std::u16string& w : *words) {
            if (w.size() == length) fitting.push_back(&w);
        }
        if (!fitting.empty()) return *fitting[drawBetween(0, static_cast<int>(fitting.size()))];
    }
    return std::nullopt;
}

bool QvGameRules::makeRandomWord(std::u16string& word)
{
    // A list without words of the wanted length still gives a target: the
    // nearest shorter length it holds.
    std::vector<std::size_t> lengths;
    const std::int64_t wanted = std::max<std::int64_t>(std::int64_t(level) + 1, kShortestWord);
    for (std::int64_t n = std::min<std::int64_t>(wanted, 64); n >= std::int64_t(kShortestWord); --n) {
        lengths.push_back(static_cast<std::size_t>(n));
    }
    const auto drawn = drawWord(lengths);
    lexfallWord = drawn.value_or(u"");
    word = lexfallWord;
    return drawn.has_value();
}

bool QvGameRules::makeRandomBonusWord(std::u16string& word)
{
    const std::size_t wanted = level < kBonusLevel
                                   ? kShortestBonus
                                   : static_cast<std::size_t>(drawBetween(kShortestBonus, kLongestBonus + 1));
    std::vector<std::size_t> lengths{wanted};
    for (std::size_t n = kShortestBonus; n <= kLongestBonus; ++n) {
        if (n != wanted) lengths.push_back(n);
    }
    const auto drawn = drawWord(lengths);
    bonusWord = drawn.value_or(u"");
    word = bonusWord;
    return drawn.has_value();
}

char16_t QvGameRules::lowerLetter(char16_t c)
{
    if (c >= u'A' && c <= u'Z') return c + 0x20;
    if (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7) return c + 0x20;  // Latin-1 capitals: Ä Ö Ü and kin
    if (c >= 0x0410 && c <= 0x042F) return c + 0x20;                 // А..Я
    if (c >= 0x0400 && c <= 0x040F) return c + 0x50;                 // Ё and the other extended capitals
    return c;
}

std::u16string QvGameRules::lowerWord(std::u16string word)
{
    for (char16_t& c : word) c = lowerLetter(c);
    return word;
}

// ---------------------------------------------------------------------------
// Board

int QvGameRules::dockColumn(float x) const
{
    const long double width = static_cast<long double>(columns) * cellSize;
    if (columns <= 0 || !(width > 0) || std::isnan(x)) return 0;
    const long double c = std::trunc((x + width / 2) * columns / width);
    // Left of the board is column 0, right of it the last column.
    if (!(c > 0)) return 0;
    if (c >= columns) return columns - 1;
    return static_cast<int>(c);
}

float QvGameRules::columnCentre(int c) const
{
    const float width = static_cast<float>(columns) * cellSize;
    return cellSize / 2 + static_cast<float>(c) * cellSize - width / 2;
}

float QvGameRules::rowY(int r)
{
    return kFirstRowY - static_cast<float>(r) * kRowHeight;
}

void QvGameRules::appendLetter(int column, std::u16string letter)
{
    columnLetters[column] += lowerWord(std::move(letter));
}

bool QvGameRules::findWordInColumn(int column, std::u16string& word)
{
    foundColumn = column;
    const auto entry = columnLetters.find(column);
    if (entry == columnLetters.end() || entry->second.size() < kShortestWord) return false;
    const std::u16string& t = entry->second;
    std::u16string found;
    if (findInAssociativeArray(t)) {
        found = t;
        foundRow = 0;
    } else {
        for (std::size_t i = 0; i < t.size(); ++i) {
            foundRow = static_cast<std::int32_t>(i);
            const std::u16string suffix = t.substr(i);
            if (suffix.size() >= kShortestWord && findInAssociativeArray(suffix)) {
                found = suffix;
                break;
            }
        }
        if (found.empty()) return false;
    }
    wordFound = true;
    wordLength = static_cast<std::int32_t>(found.size());
    if (found == lexfallWord) {
        level += 1;
        levelUp = true;
    }
    if (found == bonusWord) bonusFound = true;
    if (level > kLastLevel) {
        won = true;
        // The win stands even when the disk refuses the save.
        try {
            save();
        } catch (const std::exception& e) {
            fmt::print("{}\n", e.what());
        }
    }
    word = found;
    return true;
}

void QvGameRules::scoreFoundWord()
{
    if (!wordFound) return;
    std::u16string& letters = columnLetters[foundColumn];
    letters.resize(std::min<std::size_t>(letters.size(), static_cast<std::size_t>(std::max(foundRow, 0))));
    addScore(wordLength);
    if (bonusFound) score = clampTo32(multiplySaturated(score, static_cast<std::int64_t>(bonusWord.size())));
    wordFound = false;
    bonusFound = false;
    cubesDeleted = true;
}

std::int8_t QvGameRules::findTheMostLongString() const
{
    std::size_t longest = 0;
    for (const auto& [column, letters] : columnLetters) longest = std::max(longest, letters.size());
    return static_cast<std::int8_t>(std::min<std::size_t>(longest, std::numeric_limits<std::int8_t>::max()));
}

// ---------------------------------------------------------------------------
// Score

void QvGameRules::addScore(std::int32_t n)
{
    const std::int64_t factor = std::int64_t(speed) + kScoreBase - columns;
    const std::int64_t gained =
        multiplySaturated(multiplySaturated(multiplySaturated(n, n), factor), kScoreScale);
    increase = clampTo32(gained);
    score = clampTo32(std::int64_t(score) + increase);
}
