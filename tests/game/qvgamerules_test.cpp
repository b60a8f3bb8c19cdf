// The word game's state without tiles: the two save files byte by byte,
// damaged and unreadable ones included, the options and the interface language.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <stdexcept>
#include <tuple>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "game/qvgamerules.h"
#include "savegame_fixture.h"

namespace {

using Bytes = std::vector<unsigned char>;

const Bytes kRussianOptions = {3, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0};

// Runs `body` with the rules' stdout captured; returns what it printed.
template <class Body>
std::string printedBy(Body body)
{
    ::testing::internal::CaptureStdout();
    body();
    return ::testing::internal::GetCapturedStdout();
}

int lineCount(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

}  // namespace

using SaveFiles = GameFolder;

TEST_F(SaveFiles, WithoutFilesTheDefaultsStandAndNothingIsWritten)
{
    const std::string printed = printedBy([] {
        QvGameRules rules;
        EXPECT_EQ(rules.score, 0);
        EXPECT_EQ(rules.level, 1);
        EXPECT_EQ(rules.attempts, 1);
        EXPECT_EQ(rules.speed, 5);
        EXPECT_EQ(rules.columns, 5);
        EXPECT_EQ(rules.language, English);
        EXPECT_TRUE(rules.noSaveFile);
        EXPECT_FALSE(rules.checkSaved());
    });
    EXPECT_EQ(printed, "");
    EXPECT_FALSE(std::filesystem::exists("savegame"));
}

TEST_F(SaveFiles, OptionsChooseSpeedColumnsAndLanguage)
{
    writeBytes("savegame/saveOptions.sqv", kRussianOptions);
    QvGameRules rules;
    EXPECT_EQ(rules.speed, 3);
    EXPECT_EQ(rules.columns, 7);
    EXPECT_EQ(rules.language, Russian);

    writeBytes("savegame/saveOptions.sqv", {0xFE, 0xFF, 0xFF, 0xFF, 0, 1, 0, 0, 2, 0, 0, 0});
    QvGameRules german;
    EXPECT_EQ(german.speed, -2);  // taken as stored
    EXPECT_EQ(german.columns, 256);
    EXPECT_EQ(german.language, German);
}

// A save file cut short counts as missing, with one line: the values it
// lacks would be zeros the game cannot play with. Bytes past the twelfth are
// ignored.
TEST_F(SaveFiles, CutShortFilesCountAsMissingWithOneLine)
{
    struct Case {
        const char* file;
        Bytes bytes;
        std::string reason;  // empty when the file is read
    };
    const Case cases[] = {
        {QvGameRules::kOptionsFile, {}, "it is empty"},
        {QvGameRules::kOptionsFile, {9, 0, 0, 0, 4}, "cut short: 5 of 12 bytes"},
        {QvGameRules::kOptionsFile, {3, 0, 0, 0, 7, 0, 0, 0}, "cut short: 8 of 12 bytes"},
        {QvGameRules::kGameFile, {}, "it is empty"},
        {QvGameRules::kGameFile, {0x10, 0x27, 0, 0, 5}, "cut short: 5 of 12 bytes"},
        {QvGameRules::kOptionsFile, {3, 0, 0, 0, 7, 0, 0, 0, 2, 0, 0, 0, 0x55}, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all("savegame");
        writeBytes(c.file, c.bytes);
        std::unique_ptr<QvGameRules> rules;
        EXPECT_EQ(printedBy([&] { rules = std::make_unique<QvGameRules>(); }),
                  c.reason.empty() ? ""
                                   : "Save file " + std::string(c.file) + " could not be read (" + c.reason +
                                         "); taken as missing\n");
        // Speed, columns, language, score, level, attempts, no save file.
        EXPECT_EQ(std::tuple(rules->speed, rules->columns, rules->language, rules->score, rules->level,
                             rules->attempts, rules->noSaveFile),
                  c.reason.empty() ? std::tuple(3, 7, German, 0, 1, 1, true)
                                   : std::tuple(5, 5, English, 0, 1, 1, true))
            << c.bytes.size() << " bytes";
    }
}

TEST_F(SaveFiles, UnknownLanguageFallsBackToEnglishWithOneLine)
{
    for (const unsigned char stored : {7, 3, 0xFF}) {
        writeBytes("savegame/saveOptions.sqv", {3, 0, 0, 0, 7, 0, 0, 0, stored, stored, stored, stored});
        Language language = Russian;
        const std::string printed = printedBy([&] {
            QvGameRules rules;
            language = rules.language;
            EXPECT_EQ(rules.speed, 3);
            EXPECT_EQ(rules.columns, 7);
        });
        EXPECT_EQ(language, English);
        EXPECT_EQ(lineCount(printed), 1) << printed;
        EXPECT_NE(printed.find("English"), std::string::npos) << printed;
    }
}

TEST_F(SaveFiles, SaveWritesTheExactBytesAndLoadReadsThemBack)
{
    {
        QvGameRules rules;
        rules.score = 120;
        rules.level = 2;
        rules.attempts = 1;
        rules.save();
        EXPECT_TRUE(rules.saved);
        EXPECT_FALSE(rules.noSaveFile);
    }
    EXPECT_EQ(readBytes("savegame/save.sqv"), (Bytes{0x78, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}));
    // Only the save itself is left in the folder: no temporary beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("savegame"), {}), 1);

    QvGameRules reread;
    EXPECT_EQ(reread.score, 120);
    EXPECT_EQ(reread.level, 2);
    EXPECT_EQ(reread.attempts, 1);
    EXPECT_TRUE(reread.checkSaved());
    EXPECT_FALSE(reread.noSaveFile);

    reread.score = -1;
    reread.level = 0x01020304;
    reread.save();
    EXPECT_EQ(readBytes("savegame/save.sqv"), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1, 1, 0, 0, 0}));
}

TEST_F(SaveFiles, OptionsAreWrittenInTheirOrder)
{
    writeBytes("savegame/saveOptions.sqv", kRussianOptions);
    QvGameRules rules;
    rules.speed = 8;
    rules.saveOptions();
    EXPECT_EQ(readBytes("savegame/saveOptions.sqv"), (Bytes{8, 0, 0, 0, 7, 0, 0, 0, 1, 0, 0, 0}));
}

TEST_F(SaveFiles, UnreadableGameFileCountsAsMissingWithOneLine)
{
    std::filesystem::create_directories("savegame/save.sqv");  // opens, but every read fails
    bool noSaveFile = false;
    const std::string printed = printedBy([&] {
        QvGameRules rules;
        noSaveFile = rules.noSaveFile;
        EXPECT_EQ(rules.score, 0);
        EXPECT_EQ(rules.level, 1);
        EXPECT_FALSE(rules.saved);
    });
    EXPECT_TRUE(noSaveFile);
    EXPECT_EQ(printed, "Save file savegame/save.sqv could not be read (a folder, not a file); taken as missing\n");
}

// Named pipes where the saves should be count as unreadable, a line each, and
// the defaults stand. A start still waiting for a writer after five seconds
// is freed by opening the pipes for writing, and fails the test.
TEST_F(SaveFiles, NamedPipesCountAsUnreadableWithALineEach)
{
    using namespace std::chrono_literals;
    const char* const pipes[] = {QvGameRules::kGameFile, QvGameRules::kOptionsFile};
    std::filesystem::create_directories("savegame");
    for (const char* pipe : pipes) ASSERT_EQ(::mkfifo(pipe, 0600), 0) << pipe;

    ::testing::internal::CaptureStdout();
    auto start = std::async(std::launch::async, [] { return std::make_unique<QvGameRules>(); });
    const bool waited = start.wait_for(5s) == std::future_status::timeout;
    while (start.wait_for(10ms) == std::future_status::timeout) {
        for (const char* pipe : pipes) {
            const int writer = ::open(pipe, O_WRONLY | O_NONBLOCK);
            if (writer >= 0) ::close(writer);
        }
    }
    const auto rules = start.get();
    const std::string printed = ::testing::internal::GetCapturedStdout();
    ASSERT_FALSE(waited) << "the start waited for a writer on a pipe";
    EXPECT_TRUE(rules->noSaveFile);
    EXPECT_EQ(rules->score, 0);
    EXPECT_EQ(rules->speed, 5);
    EXPECT_EQ(rules->columns, 5);
    EXPECT_EQ(rules->language, English);
    EXPECT_EQ(lineCount(printed), 2) << printed;
    for (const char* pipe : pipes) EXPECT_NE(printed.find(pipe), std::string::npos) << printed;
}

// A failed write raises an error and leaves the previous save whole.
TEST_F(SaveFiles, FailedWritesKeepThePreviousSave)
{
    const Bytes previousSave = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    writeBytes("savegame/save.sqv", previousSave);
    QvGameRules rules;
    rules.score = 999;
    // Files may not grow past 4 bytes: the 12-byte save fails as a write.
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{4, limit.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    EXPECT_THROW(rules.save(), std::runtime_error);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(readBytes("savegame/save.sqv"), previousSave);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("savegame"), {}), 1) << "no temporary file left";

    std::filesystem::remove_all("savegame");
    const std::string blocker = "not a folder";
    writeText("savegame", blocker);
    EXPECT_THROW(rules.save(), std::runtime_error);
    EXPECT_THROW(rules.saveOptions(), std::runtime_error);
    EXPECT_EQ(readBytes("savegame"), Bytes(blocker.begin(), blocker.end()));
}

TEST_F(SaveFiles, ReadOnlyFolderRefusesTheSaveAndKeepsTheFile)
{
    const Bytes previousSave = {1, 0, 0, 0, 2, 0, 0, 0, 3, 0, 0, 0};
    writeBytes("savegame/save.sqv", previousSave);
    std::filesystem::permissions(
        "savegame", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                        std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    // Root writes anywhere: the save runs in a child that gives up root first.
    EXPECT_EXIT(
        {
            if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) std::_Exit(2);
            QvGameRules rules;
            rules.score = 5;
            try {
                rules.save();
            } catch (const std::runtime_error&) {
                std::_Exit(0);
            }
            std::_Exit(1);
        },
        ::testing::ExitedWithCode(0), "");
    EXPECT_EQ(readBytes("savegame/save.sqv"), previousSave);
}

TEST_F(SaveFiles, SetAttemptsRewritesTheStoredGame)
{
    QvGameRules fresh;
    fresh.setAttempts(3);
    EXPECT_EQ(fresh.attempts, 3);
    EXPECT_FALSE(std::filesystem::exists("savegame/save.sqv"));

    writeBytes("savegame/save.sqv", {0xF4, 1, 0, 0, 4, 0, 0, 0, 1, 0, 0, 0});  // 500, 4, 1
    QvGameRules rules;
    rules.score = 20;
    rules.level = 1;
    rules.setAttempts(3);
    EXPECT_EQ(rules.score, 500);
    EXPECT_EQ(rules.level, 4);
    EXPECT_EQ(rules.attempts, 3);
    EXPECT_EQ(readBytes("savegame/save.sqv"), (Bytes{0xF4, 1, 0, 0, 4, 0, 0, 0, 3, 0, 0, 0}));
}

TEST(WordSeparators, AreTheControlCodesSevenToThirteenAndSpace)
{
    const QvGameRules probe;
    for (char16_t c = 0; c < 256; ++c) {
        const bool separator =
            c == 7 || c == 8 || c == 9 || c == 10 || c == 11 || c == 12 || c == 13 || c == ' ';
        EXPECT_EQ(probe.isMyControl(c), separator) << int(c);
    }
}
