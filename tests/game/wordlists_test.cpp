// The word lists the build derives from the Debian lists: only lower-case
// words of each language's letters, valid UTF-8, and enough of them to play.
#include <gtest/gtest.h>

#include <utf8.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "game/qvgamerules.h"

namespace {

struct WordList {
    const char* file;
    std::u16string letters;  // the lower-case alphabet, written out here
    const char16_t* sample;  // a common word every list of the language has
};

const WordList kLists[] = {
    {"english.txt", u"abcdefghijklmnopqrstuvwxyz", u"cat"},
    {"russian.txt", u"абвгдежзийклмнопрстуфхцчшщъыьэюяё", u"кот"},
    {"german.txt", u"abcdefghijklmnopqrstuvwxyzäöüß", u"haus"},
};

std::string readFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

}  // namespace

TEST(WordLists, HoldOnlyLowerCaseWordsOfTheirLanguage)
{
    const std::filesystem::path folder = std::filesystem::path(VELMORIN_RUN_DIR) / "dictionary";
    for (const WordList& list : kLists) {
        SCOPED_TRACE(list.file);
        const std::string bytes = readFile(folder / list.file);
        ASSERT_TRUE(utf8::is_valid(bytes.begin(), bytes.end()));
        ASSERT_FALSE(bytes.starts_with("\xEF\xBB\xBF"));
        std::istringstream lines(bytes);
        std::string line;
        int words = 0;
        int strays = 0;
        while (std::getline(lines, line)) {
            const std::u16string word = utf8::utf8to16(line);
            const bool clean = !word.empty() && word.find_first_not_of(list.letters) == std::u16string::npos;
            if (!clean && ++strays <= 5) ADD_FAILURE() << "stray line '" << line << "'";
            ++words;
        }
        EXPECT_EQ(strays, 0);
        EXPECT_GE(words, 10000);
    }
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
