// The word lists the build derives from the Debian lists: only lower-case
// words of each language's letters, each with a vowel, valid UTF-8, enough of
// them to play, and no abbreviations, units or numerals among them.
#include <gtest/gtest.h>

#include <utf8.h>

#include <filesystem>
#include <fstream>
#include <regex>
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
     {u"at", u"go", u"my", u"ox", u"why", u"tree"},
     {u"cc", u"kg", u"xx", u"iv", u"xi", u"oz", u"etc", u"mph", u"xiv", u"lix", u"blvd", u"secy"}},
    {"russian.txt",
     u"абвгдежзийклмнопрстуфхцчшщъыьэюяё",
     u"аеёиоуыэюя",
     u"кот",
     {u"да", u"он", u"ёж", u"юг", u"где", u"ещё"},
     {u"гл", u"кг", u"км", u"ул", u"ед", u"га", u"млн", u"тыс", u"изд", u"обл", u"отд"}},
    {"german.txt",
     u"abcdefghijklmnopqrstuvwxyzäöüß",
     u"aeiouyäöü",
     u"haus",
     {u"ab", u"du", u"öl", u"ich", u"süß", u"haus"},
     {u"bh", u"cd", u"kg", u"ca", u"bmw", u"cdu", u"lkw", u"usw", u"kwh", u"jan", u"eva", u"gmbh"}},
};

const std::filesystem::path kFolder = std::filesystem::path(VELMORIN_RUN_DIR) / "dictionary";

// The distinct lines of a file.
std::set<std::u16string> wordsIn(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::set<std::u16string> result;
    for (std::string line; std::getline(in, line);) result.insert(utf8::utf8to16(line));
    return result;
}

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

// Among the short words the common ones are there, and the abbreviations,
// units and numerals the sources also hold are not.
TEST(WordLists, HoldOnlyLowerCaseWordsOfTheirLanguageEachWithAVowel)
{
    for (const WordList& list : kLists) {
        SCOPED_TRACE(list.file);
        const std::string bytes = readFile(kFolder / list.file);
        ASSERT_TRUE(utf8::is_valid(bytes.begin(), bytes.end()));
        ASSERT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
        const std::set<std::u16string> words = wordsIn(kFolder / list.file);
        int strays = 0;
        for (const std::u16string& word : words) {
            const bool clean = !word.empty() &&
                               word.find_first_not_of(list.letters) == std::u16string::npos &&
                               word.find_first_of(list.vowels) != std::u16string::npos;
            if (!clean && ++strays <= 5) ADD_FAILURE() << "stray line '" << utf8::utf16to8(word) << "'";
        }
        EXPECT_EQ(strays, 0);
        EXPECT_GE(words.size(), 10000u);
        for (const std::u16string& word : list.common)
            EXPECT_EQ(words.count(word), 1u) << utf8::utf16to8(word);
        for (const std::u16string& word : list.notWords)
            EXPECT_EQ(words.count(word), 0u) << utf8::utf16to8(word);
    }
}

// No English word is a Roman numeral (but mix, which is both), and every
// English word of up to four letters is in the source's list of common words;
// every German word has a source entry in lower case or capitalised as nouns
// are, none comes only from an all-capital (BH, CDU) or mixed-case (GmbH,
// kWh) abbreviation.
TEST(WordLists, ShortWordsComeFromCommonEntries)
{
    const std::regex numeral("m{0,3}(cm|cd|d?c{0,3})(xc|xl|l?x{0,3})(ix|iv|v?i{0,3})");
    const std::set<std::u16string> common = wordsIn("/usr/share/dict/american-english-small");
    ASSERT_FALSE(common.empty());
    for (const std::u16string& word : wordsIn(kFolder / "english.txt")) {
        const std::string bytes = utf8::utf16to8(word);
        EXPECT_TRUE(word == u"mix" || !std::regex_match(bytes, numeral)) << bytes;
        if (word.size() <= 4) {
            EXPECT_EQ(common.count(word), 1u) << bytes;
        }
    }

    std::set<std::u16string> wordLike;
    const std::set<std::u16string> germanEntries = wordsIn("/usr/share/dict/ngerman");
    ASSERT_FALSE(germanEntries.empty());
    for (const std::u16string& entry : germanEntries) {
        const std::u16string rest = entry.substr(std::min<std::size_t>(1, entry.size()));
        if (QvGameRules::lowerWord(rest) == rest) wordLike.insert(QvGameRules::lowerWord(entry));
    }
    int strays = 0;
    for (const std::u16string& word : wordsIn(kFolder / "german.txt"))
        if (wordLike.count(word) == 0 && ++strays <= 5)
            ADD_FAILURE() << "only capitals: " << utf8::utf16to8(word);
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
