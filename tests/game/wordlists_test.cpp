// The word lists the build derives from the Debian lists: only lower-case
// words of each language's letters, each with a vowel, valid UTF-8, enough of
// them to play, and among the short ones, from which the round and bonus
// words are drawn, no abbreviations, units or numerals.
#include <gtest/gtest.h>

#include <utf8.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "game/qvgamerules.h"

namespace {

struct WordList {
    const char* file;
    std::u16string letters;  // the lower-case alphabet, written out here
    std::u16string vowels;
    const char16_t* sample;                // a common word every list of the language has
    std::vector<std::u16string> common;    // short words a player expects to be found
    std::vector<std::u16string> notWords;  // abbreviations, units, numerals the sources hold
};

const WordList kLists[] = {
    {"english.txt",
     u"abcdefghijklmnopqrstuvwxyz",
     u"aeiouy",
     u"cat",
     {u"at", u"go", u"we", u"my", u"ox", u"cat", u"dog", u"sun", u"mix", u"why", u"tree"},
     {u"cc", u"cf",  u"kg",  u"qt",  u"xx",  u"iv",  u"ii",  u"vi",   u"xi",   u"cm",  u"oz",
      u"pt", u"etc", u"mph", u"mpg", u"pkg", u"xiv", u"lix", u"assn", u"blvd", u"secy"}},
    {"russian.txt",
     u"абвгдежзийклмнопрстуфхцчшщъыьэюяё",
     u"аеёиоуыэюя",
     u"кот",
     {u"да", u"не", u"он", u"ёж", u"юг", u"кот", u"дом", u"мир", u"где", u"ещё"},
     {u"гл", u"кг", u"км", u"ст", u"ул", u"ед", u"га", u"млн", u"тыс", u"изд", u"обл", u"отд"}},
    {"german.txt",
     u"abcdefghijklmnopqrstuvwxyzäöüß",
     u"aeiouyäöü",
     u"haus",
     {u"ab", u"du", u"zu", u"ja", u"öl", u"ich", u"tag", u"uhr", u"süß", u"haus"},
     {u"bh", u"cd", u"kz", u"vw", u"kg", u"ca", u"bmw", u"cdu", u"nsa", u"lkw", u"usw", u"kwh", u"jan",
      u"eva", u"gmbh"}},
};

const std::filesystem::path kFolder = std::filesystem::path(VELMORIN_RUN_DIR) / "dictionary";
// The sources the build reads its lists from.
const char* const kEnglishCommonSource = "/usr/share/dict/american-english-small";
const char* const kGermanSource = "/usr/share/dict/ngerman";
constexpr std::size_t kCommonLength = 4;  // English words this short are common ones

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<std::u16string> lines(const std::filesystem::path& path)
{
    std::istringstream text(readFile(path));
    std::vector<std::u16string> result;
    std::string line;
    while (std::getline(text, line)) result.push_back(utf8::utf8to16(line));
    return result;
}

// The value of a numeral written with i, v, x, l, c, d, m, read additively
// with the usual subtraction, or 0 for other letters.
int romanValue(const std::u16string& word)
{
    static const std::map<char16_t, int> kDigits = {{u'i', 1},   {u'v', 5},   {u'x', 10},  {u'l', 50},
                                                    {u'c', 100}, {u'd', 500}, {u'm', 1000}};
    int total = 0;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const auto digit = kDigits.find(word[i]);
        if (digit == kDigits.end()) return 0;
        const auto next = i + 1 < word.size() ? kDigits.find(word[i + 1]) : kDigits.end();
        total += next != kDigits.end() && next->second > digit->second ? -digit->second : digit->second;
    }
    return total;
}

// The canonical numeral of 1..3999.
std::u16string romanNumeral(int value)
{
    static const std::pair<int, const char16_t*> kParts[] = {
        {1000, u"m"}, {900, u"cm"}, {500, u"d"}, {400, u"cd"}, {100, u"c"}, {90, u"xc"}, {50, u"l"},
        {40, u"xl"},  {10, u"x"},   {9, u"ix"},  {5, u"v"},    {4, u"iv"},  {1, u"i"}};
    std::u16string numeral;
    for (const auto& [part, letters] : kParts) {
        for (; value >= part; value -= part) numeral += letters;
    }
    return numeral;
}

bool isRomanNumeral(const std::u16string& word)
{
    const int value = romanValue(word);
    return value > 0 && value < 4000 && romanNumeral(value) == word;
}

}  // namespace

TEST(WordLists, HoldOnlyLowerCaseWordsOfTheirLanguageEachWithAVowel)
{
    for (const WordList& list : kLists) {
        SCOPED_TRACE(list.file);
        const std::string bytes = readFile(kFolder / list.file);
        ASSERT_TRUE(utf8::is_valid(bytes.begin(), bytes.end()));
        ASSERT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
        int words = 0;
        int strays = 0;
        for (const std::u16string& word : lines(kFolder / list.file)) {
            const bool clean = !word.empty() &&
                               word.find_first_not_of(list.letters) == std::u16string::npos &&
                               word.find_first_of(list.vowels) != std::u16string::npos;
            if (!clean && ++strays <= 5) ADD_FAILURE() << "stray line '" << utf8::utf16to8(word) << "'";
            ++words;
        }
        EXPECT_EQ(strays, 0);
        EXPECT_GE(words, 10000);
    }
}

// The short words are words: the common ones are there, the abbreviations,
// units and numerals the sources also hold are not, and no English word is
// a Roman numeral (but mix, which is both).
TEST(WordLists, ShortWordsAreNoAbbreviationsUnitsOrNumerals)
{
    for (const WordList& list : kLists) {
        SCOPED_TRACE(list.file);
        const std::vector<std::u16string> all = lines(kFolder / list.file);
        const std::set<std::u16string> words(all.begin(), all.end());
        for (const std::u16string& word : list.common)
            EXPECT_EQ(words.count(word), 1u) << utf8::utf16to8(word);
        for (const std::u16string& word : list.notWords)
            EXPECT_EQ(words.count(word), 0u) << utf8::utf16to8(word);
    }
    for (const std::u16string& word : lines(kFolder / "english.txt")) {
        EXPECT_TRUE(word == u"mix" || !isRomanNumeral(word)) << utf8::utf16to8(word);
    }
    EXPECT_TRUE(isRomanNumeral(u"xiv") && isRomanNumeral(u"mcmxc") && !isRomanNumeral(u"iiii") &&
                !isRomanNumeral(u"dim"));
}

// Every English word of up to four letters is in the list of common words,
// and every German word has a source entry in lower case or capitalised as
// nouns are: none comes only from an all-capital (BH, CDU) or mixed-case
// (GmbH, kWh) abbreviation.
TEST(WordLists, ShortWordsComeFromCommonEntries)
{
    const std::vector<std::u16string> commonEntries = lines(kEnglishCommonSource);
    ASSERT_FALSE(commonEntries.empty()) << kEnglishCommonSource;
    const std::set<std::u16string> common(commonEntries.begin(), commonEntries.end());
    for (const std::u16string& word : lines(kFolder / "english.txt")) {
        if (word.size() <= kCommonLength) {
            EXPECT_EQ(common.count(word), 1u) << utf8::utf16to8(word);
        }
    }

    std::set<std::u16string> wordLike;
    const std::vector<std::u16string> germanEntries = lines(kGermanSource);
    ASSERT_FALSE(germanEntries.empty()) << kGermanSource;
    for (const std::u16string& entry : germanEntries) {
        const std::u16string rest = entry.substr(std::min<std::size_t>(1, entry.size()));
        if (QvGameRules::lowerWord(rest) == rest) wordLike.insert(QvGameRules::lowerWord(entry));
    }
    int strays = 0;
    for (const std::u16string& word : lines(kFolder / "german.txt")) {
        if (wordLike.count(word) == 0 && ++strays <= 5)
            ADD_FAILURE() << "only capitals: " << utf8::utf16to8(word);
    }
    EXPECT_EQ(strays, 0);
}

// The game reads the lists it is given: each language's set holds its sample
// word, and the Cyrillic one only the Russian set.
TEST(WordLists, LoadIntoTheirLanguages)
{
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(VELMORIN_RUN_DIR);
    QvGameRules rules;
    rules.loadDictionary();
    std::filesystem::current_path(previous);
    ASSERT_EQ(rules.wordSets.size(), 3u);
    for (int l = 0; l < 3; ++l) {
        SCOPED_TRACE(kLists[l].file);
        EXPECT_GE(rules.wordSets[l]->size(), 10000u);
        EXPECT_EQ(rules.wordSets[l]->count(kLists[l].sample), 1u);
        EXPECT_EQ(rules.wordSets[l]->count(kLists[Russian].sample), l == Russian ? 1u : 0u);
    }
}
