// The tracker's words in the interface language: where the string table's
// Russian and German entries hold the word game's texts, the tracker shows
// words of its own; everywhere else, and in English, it reads the table.
#include "engine/core/qvdictionary.h"
#include "scene/qvtrackertext.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The keys the tracker reads whose Russian and German entries are the game's:
// the VSync switch, the about line and the statistics captions.
constexpr std::int32_t kTrackerKeys[] = {10, 11, 16, 19, 20, 21, 22, 23, 24, 25};

bool isTrackerKey(std::int32_t key)
{
    for (const std::int32_t k : kTrackerKeys) {
        if (k == key) return true;
    }
    return false;
}

}  // namespace

TEST(TrackerWords, EnglishAndEveryOtherKeyReadTheTableWordForWord)
{
    const QvDictionary dictionary;
    for (int language = 0; language < QvDictionary::kLanguageCount; ++language) {
        for (std::int32_t key = QvDictionary::kFirstKey; key <= QvDictionary::kLastKey; ++key) {
            if (language != 0 && isTrackerKey(key)) continue;
            const std::u16string& text = qvTrackerText(dictionary, language, key);
            EXPECT_EQ(&text, &dictionary.text(language, key)) << language << "-" << key;
        }
    }
}

// No Russian or German tracker word is any text of that language's table
// (so none of the game's), the captions end in a colon like the English
// ones, the coordinates keep their letters and the about line names the
// product, its version and its makers.
TEST(TrackerWords, RussianAndGermanAreTheTrackersOwnNoneOfTheGames)
{
    const QvDictionary dictionary;
    for (const int language : {1, 2}) {
        for (const std::int32_t key : kTrackerKeys) {
            const std::u16string& word = qvTrackerText(dictionary, language, key);
            EXPECT_FALSE(word.empty()) << language << "-" << key;
            for (std::int32_t k = QvDictionary::kFirstKey; k <= QvDictionary::kLastKey; ++k) {
                EXPECT_NE(word, dictionary.text(language, k)) << language << "-" << key << " is entry " << k;
            }
            const std::u16string& english = dictionary.text(0, key);
            EXPECT_EQ(word.back() == u':', english.back() == u':') << language << "-" << key;
        }
        EXPECT_EQ(qvTrackerText(dictionary, language, 21), u"X:");
        EXPECT_EQ(qvTrackerText(dictionary, language, 22), u"Y:");
        const std::u16string& about = qvTrackerText(dictionary, language, 16);
        EXPECT_EQ(about.rfind(u"Velmorin", 0), 0u) << language;
        const std::string version = VELMORIN_VERSION;
        EXPECT_NE(about.find(std::u16string(version.begin(), version.end())), std::u16string::npos);
        EXPECT_NE(about.find(u"\u00A9 2026 the Velmorin developers"), std::u16string::npos) << language;
    }
    // The two languages' switch texts differ from each other and from English.
    EXPECT_NE(qvTrackerText(dictionary, 1, 10), qvTrackerText(dictionary, 2, 10));
    EXPECT_NE(qvTrackerText(dictionary, 1, 11), dictionary.text(0, 11));
}
