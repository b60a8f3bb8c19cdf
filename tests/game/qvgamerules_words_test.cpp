// The word game's rules without tiles: word lists, random letters and words,
// the board's columns, the word search at the end of a column and scoring.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <limits>

#include "game/qvgamerules.h"
#include "hostilefiles.h"
#include "savegame_fixture.h"

namespace {

std::string printedDuring(const std::function<void()>& body)
{
    ::testing::internal::CaptureStdout();
    body();
    return ::testing::internal::GetCapturedStdout();
}

}  // namespace

using WordRules = GameFolder;

TEST_F(WordRules, ListsSplitAtSeparatorsAndDropTheByteOrderMark)
{
    writeText("dictionary/english.txt", "cat dog\nfox");
    writeText("dictionary/russian.txt", "\xEF\xBB\xBF"
                                        "кот\t\t\r\n\r\n  пёс \x07\x0B\x0C"
                                        "дом");
    writeText("dictionary/german.txt", "haus\nhaus\n\n");
    QvGameRules rules;
    rules.loadDictionary();
    EXPECT_EQ(rules.englishWords, (QvWordSet{u"cat", u"dog", u"fox"}));
    EXPECT_EQ(rules.russianWords, (QvWordSet{u"кот", u"пёс", u"дом"}));
    EXPECT_EQ(rules.germanWords, (QvWordSet{u"haus"}));
    ASSERT_EQ(rules.wordSets.size(), 3u);
    EXPECT_EQ(rules.wordSets[German], &rules.germanWords);
    EXPECT_TRUE(rules.findInAssociativeArray(u"fox"));
    EXPECT_FALSE(rules.findInAssociativeArray(u"Fox"));  // compared exactly
}

TEST_F(WordRules, AMissingOrBrokenListEmptiesOnlyItsLanguage)
{
    writeText("dictionary/english.txt", "cat");
    writeText("dictionary/russian.txt", "кот");
    writeText("dictionary/german.txt", "haus");
    QvGameRules rules;
    rules.loadDictionary();
    writeText("dictionary/german.txt", "gr\xFF\xFE"
                                       "n");
    const auto expectRussianRefused = [&](const std::string& reason) {
        EXPECT_EQ(printedDuring([&] { rules.loadDictionary(); }),
                  "Word list dictionary/russian.txt could not be read (" + reason +
                      "); no Russian words\n"
                      "Word list dictionary/german.txt is not UTF-8 text; no German words\n");
        EXPECT_EQ(rules.englishWords, (QvWordSet{u"cat"}));
        EXPECT_TRUE(rules.russianWords.empty());
        EXPECT_TRUE(rules.germanWords.empty());
        EXPECT_EQ(rules.wordSets.size(), 3u);
    };
    // Whatever stands in a list's place is refused at once, with its reason.
    for (const hostilefiles::StandIn& standIn : hostilefiles::standIns) {
        hostilefiles::plant("dictionary/russian.txt", standIn);
        expectRussianRefused(standIn.reason);
    }
    // So is a list too large to hold, unread (sparse: it costs nothing).
    hostilefiles::plantLarge("dictionary/russian.txt", (std::uintmax_t(64) << 20) + 1);
    expectRussianRefused("larger than 64 MiB");
    rules.language = German;
    EXPECT_FALSE(rules.findInAssociativeArray(u"haus"));
}

TEST_F(WordRules, EveryThirdLetterIsAVowel)
{
    struct Alphabet {
        Language language;
        std::u16string vowels, consonants;
    };
    const Alphabet alphabets[] = {
        {English, u"AEIOUY", u"BCDFGHJKLMNPQRSTVWXZ"},
        {Russian, u"АЕИОУЫЭЮЯЁ", u"БВГДЖЗЙКЛМНПРСТФХЦЧШЩЪЬ"},
        {German, u"AEIOUYÄÜÖ", u"BCDFGHJKLMNPQRSTVWXZß"},
    };
    for (const Alphabet& a : alphabets) {
        QvGameRules rules;
        rules.language = a.language;
        std::u16string seen;
        for (int i = 0; i < 600; ++i) {
            const auto letter = static_cast<char16_t>(rules.makeRandomLetter());
            const std::u16string& expected = i % 3 == 0 ? a.vowels : a.consonants;
            ASSERT_NE(expected.find(letter), std::u16string::npos)
                << "letter " << i << " of " << int(a.language);
            if (seen.find(letter) == std::u16string::npos) seen += letter;
        }
        EXPECT_EQ(rules.letterCounter, 600);
        // 600 draws reach every letter of the alphabet.
        EXPECT_EQ(seen.size(), a.vowels.size() + a.consonants.size()) << int(a.language);
    }
}

TEST_F(WordRules, RandomWordsHaveTheWantedLengthOrTheNearestHeld)
{
    writeText("dictionary/english.txt", "at be cat dog horse houses");
    QvGameRules rules;
    rules.loadDictionary();
    std::u16string word;
    rules.level = 2;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(rules.makeRandomWord(word));
        EXPECT_TRUE(word == u"cat" || word == u"dog") << std::string(word.begin(), word.end());
        EXPECT_EQ(rules.lexfallWord, word);
    }
    rules.level = 3;  // no word of 4 letters: the nearest shorter length
    ASSERT_TRUE(rules.makeRandomWord(word));
    EXPECT_EQ(word.size(), 3u);
    rules.level = 1;
    for (int i = 0; i < 20; ++i) {
        ASSERT_TRUE(rules.makeRandomBonusWord(word));
        EXPECT_EQ(word.size(), 2u);
        EXPECT_EQ(rules.getBonusWord(), word);
    }
    rules.level = 6;
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(rules.makeRandomBonusWord(word));
        EXPECT_TRUE(word.size() == 2 || word.size() == 3) << word.size();
    }
    rules.language = Russian;  // an empty list has no word to give
    EXPECT_FALSE(rules.makeRandomWord(word));
    EXPECT_FALSE(rules.makeRandomBonusWord(word));
    EXPECT_TRUE(word.empty());
    EXPECT_TRUE(rules.lexfallWord.empty());
}

TEST_F(WordRules, ReferencesDockInTheColumnBelowThem)
{
    QvGameRules rules;  // 5 columns of 1.5: the board spans -3.75 .. 3.75
    EXPECT_EQ(rules.dockColumn(-3.75f), 0);
    EXPECT_FLOAT_EQ(rules.columnCentre(0), -3.0f);
    EXPECT_EQ(rules.dockColumn(3.74f), 4);
    EXPECT_FLOAT_EQ(rules.columnCentre(4), 3.0f);
    EXPECT_EQ(rules.dockColumn(3.75f), 4);
    EXPECT_EQ(rules.dockColumn(500.0f), 4);
    EXPECT_EQ(rules.dockColumn(0.0f), 2);
    EXPECT_FLOAT_EQ(rules.columnCentre(2), 0.0f);
    EXPECT_EQ(rules.dockColumn(-2.3f), 0);
    EXPECT_EQ(rules.dockColumn(-2.2f), 1);
    // Left of the board is the first column, not its mirror image.
    EXPECT_EQ(rules.dockColumn(-3.76f), 0);
    EXPECT_EQ(rules.dockColumn(-6.0f), 0);
    EXPECT_EQ(rules.dockColumn(std::numeric_limits<float>::quiet_NaN()), 0);
    rules.columns = 0;
    EXPECT_EQ(rules.dockColumn(1.0f), 0);
    EXPECT_FLOAT_EQ(QvGameRules::rowY(0), 6.9f);
    EXPECT_FLOAT_EQ(QvGameRules::rowY(2), 6.9f - 2.06f);
}

TEST_F(WordRules, ColumnsFindTheLongestWordAtTheirEnd)
{
    writeText("dictionary/english.txt", "cat at");
    QvGameRules rules;
    rules.loadDictionary();
    std::u16string word;
    rules.appendLetter(3, u"X");
    rules.appendLetter(3, u"C");
    rules.appendLetter(3, u"a");
    EXPECT_FALSE(rules.findWordInColumn(3, word));
    rules.appendLetter(3, u"T");
    EXPECT_EQ(rules.columnLetters[3], u"xcat");
    ASSERT_TRUE(rules.findWordInColumn(3, word));
    EXPECT_EQ(word, u"cat");
    EXPECT_EQ(rules.foundColumn, 3);
    EXPECT_EQ(rules.foundRow, 1);
    EXPECT_EQ(rules.wordLength, 3);
    EXPECT_TRUE(rules.wordFound);

    rules.columnLetters[1] = u"at";
    ASSERT_TRUE(rules.findWordInColumn(1, word));
    EXPECT_EQ(word, u"at");
    EXPECT_EQ(rules.foundRow, 0);

    rules.columnLetters[0] = u"a";
    EXPECT_FALSE(rules.findWordInColumn(0, word));
    EXPECT_FALSE(rules.findWordInColumn(4, word));  // an empty column
    EXPECT_EQ(rules.findTheMostLongString(), 4);
}

TEST_F(WordRules, LettersLowerInAllThreeAlphabets)
{
    QvGameRules rules;
    for (const char16_t* letter : {u"Q", u"Ä", u"Ö", u"Ü", u"ß", u"Ё", u"Я", u"Б", u"ä"}) {
        rules.appendLetter(0, letter);
    }
    EXPECT_EQ(rules.columnLetters[0], u"qäöüßёябä");
}

TEST_F(WordRules, FoundWordsScoreAndTheBonusMultipliesTheWholeScore)
{
    writeText("dictionary/english.txt", "cat at");
    QvGameRules rules;
    rules.loadDictionary();
    std::u16string word;
    rules.columnLetters[2] = u"xcat";
    ASSERT_TRUE(rules.findWordInColumn(2, word));
    rules.scoreFoundWord();
    EXPECT_EQ(rules.increase, 900);  // 3 letters at speed 5, 5 columns
    EXPECT_EQ(rules.score, 900);
    EXPECT_EQ(rules.columnLetters[2], u"x");
    EXPECT_TRUE(rules.cubesDeleted);
    EXPECT_FALSE(rules.wordFound);

    rules.score = 1000;
    rules.bonusWord = u"cat";
    rules.columnLetters[2] = u"at";
    ASSERT_TRUE(rules.findWordInColumn(2, word));
    rules.bonusFound = true;
    rules.scoreFoundWord();
    EXPECT_EQ(rules.increase, 400);
    EXPECT_EQ(rules.score, 4200);
    EXPECT_TRUE(rules.columnLetters[2].empty());
    EXPECT_FALSE(rules.bonusFound);

    rules.speed = 3;
    rules.columns = 7;
    rules.score = 0;
    rules.addScore(4);
    EXPECT_EQ(rules.increase, 960);
}

TEST_F(WordRules, ScoresStopAtTheLimitsInsteadOfWrapping)
{
    QvGameRules rules;
    rules.score = std::numeric_limits<std::int32_t>::max() - 10;
    rules.addScore(3);
    EXPECT_EQ(rules.score, std::numeric_limits<std::int32_t>::max());
    rules.addScore(100000);
    EXPECT_EQ(rules.increase, std::numeric_limits<std::int32_t>::max());
    rules.score = 800000000;
    rules.bonusWord = u"four";
    rules.wordFound = true;
    rules.bonusFound = true;
    rules.wordLength = 2;
    rules.scoreFoundWord();
    EXPECT_EQ(rules.score, std::numeric_limits<std::int32_t>::max());
    rules.columns = 100;  // a negative factor saturates downward
    rules.score = std::numeric_limits<std::int32_t>::min() + 5;
    rules.addScore(10);
    EXPECT_EQ(rules.score, std::numeric_limits<std::int32_t>::min());
}

TEST_F(WordRules, FindingTheLexfallWordRaisesTheLevelAndAtFourteenWinsAndSaves)
{
    writeText("dictionary/english.txt", "cat dog");
    QvGameRules rules;
    rules.loadDictionary();
    std::u16string word;
    rules.lexfallWord = u"dog";
    rules.level = 5;
    rules.columnLetters[0] = u"dog";
    ASSERT_TRUE(rules.findWordInColumn(0, word));
    EXPECT_EQ(rules.level, 6);
    EXPECT_TRUE(rules.levelUp);
    EXPECT_FALSE(rules.won);
    EXPECT_FALSE(std::filesystem::exists("savegame/save.sqv"));

    rules.level = 13;
    rules.score = 300;
    rules.lexfallWord = u"cat";
    rules.columnLetters[1] = u"cat";
    ASSERT_TRUE(rules.findWordInColumn(1, word));
    EXPECT_EQ(rules.level, 14);
    EXPECT_TRUE(rules.won);
    EXPECT_TRUE(rules.saved);
    EXPECT_EQ(readBytes("savegame/save.sqv"),
              (std::vector<unsigned char>{0x2C, 1, 0, 0, 14, 0, 0, 0, 1, 0, 0, 0}));
}
