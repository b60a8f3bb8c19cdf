// The interface strings: every key in every language, checked against the
// texts written out here in UTF-8 and converted on their own road (utfcpp).
#include <gtest/gtest.h>

#include <utf8.h>

#include <string>

#include "engine/core/qvdictionary.h"
#include "engine/text/qvfont.h"

namespace {

std::u16string u16(const std::string& text)
{
    return utf8::utf8to16(text);
}

// True when every surrogate is part of a well-formed pair.
bool isValidUtf16(const std::u16string& text)
{
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == text.size() || text[i + 1] < 0xDC00 || text[i + 1] > 0xDFFF) {
                return false;
            }
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

bool contains(const std::u16string& text, const std::string& part)
{
    return text.find(u16(part)) != std::u16string::npos;
}

bool startsWith(const std::u16string& text, const std::string& part)
{
    return text.rfind(u16(part), 0) == 0;
}

// The information texts (key 18) word for word; German names the keys W, A, S and D.
const char* const kEnglishInformation =
    "The first thing you need to know is that the program interface is "
    "three-dimensional. You can look around by holding down the right mouse button "
    "while moving the mouse. To move the camera, use the W, A, S, D or arrows keys. "
    "But for ease of movement on virtual screens, scrolling with the mouse wheel "
    "was implemented. To start tracking the mouse, click the start button.";
const char* const kRussianInformation =
    "Первое, что вам нужно знать, это то, что интерфейс программы трёхмерный. Вы "
    "можете осматриваться с помощью зажатой правой клавиши мыши при этом двигая "
    "мышь. Для перемещения камеры используйте клавиши W, A, S, D или стрелки. Но "
    "для удобства перемещения по виртуальным экранам, была реализована прокрутка с "
    "помощью колесика мыши. Чтобы начать отслеживать мышь, нажмите кнопку старт.";
const char* const kGermanInformation =
    "Zunächst sollten Sie wissen, dass die Programmoberfläche dreidimensional ist. "
    "Sie können sich umsehen, indem Sie die rechte Maustaste gedrückt halten und "
    "gleichzeitig die Maus bewegen. Um die Kamera zu bewegen, verwenden Sie die "
    "Tasten W, A, S und D. Um die Bewegung auf virtuellen Bildschirmen zu "
    "erleichtern, wurde das Scrollen mit dem Mausrad implementiert. Klicken Sie auf "
    "die Schaltfläche »Start«, um die Mausbewegung zu starten.";

struct Row {
    int key;
    const char* english;
    const char* russian;
    const char* german;
};

// Entries whose text is fixed word for word; nullptr marks an about text,
// checked separately below.
const Row kRows[] = {
    {1, "Start", "Старт", "Start"},
    {2, "Stop", "Стоп", "Stop"},
    {3, "Off Top", "Выше всех", "Obenauf"},
    {4, "On Top", "Нормальное", "Normal"},
    {5, "Dictionary", "Словарь", "Wörterbuch"},
    {6, "About", "Об игре", "Über Spiel"},
    {7, "Back", "Назад", "Zurück"},
    {8, "Clear", "Добро пожаловать в игру Lexfall Word!", "Willkommen beim Spiel Lexfall Word!"},
    {9, "Smooth", "Эх, ну да ладно, подумаешь не повезло!", "Na ja, wissen Sie was, Pech gehabt!"},
    {10, "Eco", "Игра окончена!!!", "Spiel vorbei!!!"},
    {11, "Power", "Ты нереально крут!", "Du bist unglaublich cool!"},
    {12, "Velmorin", nullptr, nullptr},
    {13, "You Win!!!", "Вы победили!!!", "Sie gewinnen!!!"},
    {14, "Yes", "Да", "Ja"},
    {15, "No", "Нет", "Nein"},
    {16, nullptr, "Вы уверены, что хотите начать новую игру?",
     "Möchten Sie wirklich ein neues Spiel starten?"},
    {17, "Nice", "Круто", "Hizza"},
    {18, kEnglishInformation, kRussianInformation, kGermanInformation},
    {19, "Odometer:", "Счёт:", "Spielstand:"},
    {20, "Speedometer:", "Уровень:", "Level:"},
    {21, "X:", "Lexfall:", "Lexfall:"},
    {22, "Y:", "Бонус:", "Bonus:"},
    {23, "Max Speed:", "Попытки:", "Versuche:"},
    {24, "Stops:", "Следующая:", "Nächste:"},
    {25, "Time:", "Так бывает, не печалься.", "Es passiert, sei nicht traurig."},
    {26, "Okay, okay, if not this time, then next time!", "Ладно, ладно, не в этот раз, так в следующий!",
     "Okay, okay, dieses Mal nicht, dann nächstes Mal!"},
    {27, "I know it's not easy, but you can do it, I believe in you!",
     "Знаю, это не легко, но ты сможешь, я верю в тебя!",
     "Ich weiß, es ist nicht einfach, aber du schaffst es, ich glaube an dich!"},
    {28, "Oh, come on, let's do it one more time.", "Ай, была не была, давай ещё разок.",
     "Ja, das war ich nicht, lass es uns noch einmal machen."},
    {29, "Try to slow down, it's easier to play.", "А попробуй-ка снизить скорость, оно ж легче играть.",
     "Versuchen Sie, langsamer zu werden, es wird einfacher zu spielen sein."},
    {30, "Advice! If you want to make your life easier, expand the playing field.",
     "Совет! Хочешь упростить себе жизнь, расширь игровое поле.",
     "Beratung! Wenn Sie Ihr Leben einfacher machen möchten, erweitern Sie das Spielfeld."},
    {31, "Oh well, so what if it's no luck!", "Эх, ну да ладно, подумаешь не повезло!",
     "Na ja, wissen Sie was, Pech gehabt!"},
    {32, "Press the keys in game", "Нажимайте клавиши в игре", "Drücken Sie die Tasten im Spiel"},
    {33, "Ok", "Понятно", "Ok"},
    {34, "Your level has upped", "Ваш уровень повысился", "Dein Level hat sich erhöht"},
};

// The game rules that open the Russian and German about texts (key 12).
const char* const kRussianGameRules =
    "Lexfall Word - логическая игра, в которой нужно составлять слова из случайных "
    "букв, летящих вверх. Нажмите клавишу A или стрелка влево, чтобы переместить "
    "букву влево, и клавишу D или стрелка вправо, чтобы переместить букву вправо. "
    "Слова составляются вертикально, если в словаре найдено сочетание букв, слово "
    "выделяется и его можно удалить, нажав клавишу W или стрелка вверх. А можно его "
    "оставить, чтобы составить слово большей длины и заработать больше очков. Когда "
    "буква закрепится на пятнадцатой строке, игра заканчивается. Чтобы закончить "
    "игру и стать победителем, вы должны пройти все 13 уровней.";
const char* const kGermanGameRules =
    "Lexfall Word ist ein Logikspiel, bei dem Sie aus zufällig hochfliegenden "
    "Buchstaben Wörter bilden müssen. Drücken Sie die Tasten A oder den linken "
    "Pfeil, um einen Buchstaben nach links zu verschieben, und die Tasten D oder "
    "den rechten Pfeil, um ihn nach rechts zu verschieben. Wörter werden vertikal "
    "zusammengesetzt. Wenn eine Buchstabenkombination im Wörterbuch gefunden wird, "
    "wird das Wort hervorgehoben und kann durch Drücken der Tasten W oder des "
    "Pfeils nach oben gelöscht werden. Und Sie können es verlassen, um ein längeres "
    "Wort zu bilden und mehr Punkte zu verdienen. Wenn ein Buchstabe an der "
    "fünfzehnten Reihe angedockt wird, endet das Spiel. Um das Spiel zu beenden und "
    "der Gewinner zu werden, müssen Sie alle 13 Level abschließen.";

}  // namespace

TEST(Dictionary, EveryLanguageHoldsExactlyKeysOneToThirtyFour)
{
    const QvDictionary dictionary;
    ASSERT_EQ(dictionary.table.size(), 3u);
    EXPECT_EQ(dictionary.table[0], &dictionary.english);
    EXPECT_EQ(dictionary.table[1], &dictionary.russian);
    EXPECT_EQ(dictionary.table[2], &dictionary.german);
    for (int language = 0; language < 3; ++language) {
        const QvTextTable& texts = *dictionary.table[language];
        ASSERT_EQ(texts.size(), 34u) << "language " << language;
        int expectedKey = 1;
        for (const auto& [key, text] : texts) {
            EXPECT_EQ(key, expectedKey++);
            EXPECT_FALSE(text.empty()) << language << "-" << key;
            EXPECT_TRUE(isValidUtf16(text)) << language << "-" << key;
            for (char16_t c : text) {  // the fonts' two ranges: anything else shows as a stand-in
                EXPECT_TRUE(c <= qvFontFirstRangeEnd || (c >= qvFontCyrillicFirst && c <= qvFontCyrillicLast))
                    << language << "-" << key << " U+" << std::hex << int(c);
            }
            EXPECT_EQ(dictionary.text(language, key), text);
        }
    }
}

TEST(Dictionary, FixedEntriesMatchTheirTextsInAllThreeLanguages)
{
    const QvDictionary dictionary;
    int checked = 0;
    for (const Row& row : kRows) {
        const char* texts[] = {row.english, row.russian, row.german};
        for (int language = 0; language < 3; ++language) {
            if (texts[language] != nullptr) {
                EXPECT_EQ(dictionary.text(language, row.key), u16(texts[language]))
                    << language << "-" << row.key;
                ++checked;
            }
        }
    }
    EXPECT_EQ(checked, 34 * 3 - 3);
    // The same text may stand in two languages or under two keys.
    EXPECT_EQ(dictionary.text(2, 1), dictionary.text(0, 1));
    EXPECT_EQ(dictionary.text(1, 21), dictionary.text(2, 21));
    EXPECT_EQ(dictionary.text(1, 9), dictionary.text(1, 31));
    EXPECT_FALSE(contains(dictionary.text(2, 18), "B, C, D und A"));
}

// Our own about lines: the product, its version and its makers with the year,
// no person's name and no web address. The Russian and German game rules end
// with them on lines of their own.
TEST(Dictionary, AboutTextsCarryProductVersionAndMakersWithoutPersonOrAddress)
{
    const QvDictionary dictionary;
    const std::u16string version = u16(VELMORIN_VERSION);

    const std::u16string& english = dictionary.text(0, 16);
    EXPECT_TRUE(startsWith(english, "Velmorin"));
    const std::u16string& russian = dictionary.text(1, 12);
    EXPECT_TRUE(startsWith(russian, std::string(kRussianGameRules) + "\n"));
    const std::u16string& german = dictionary.text(2, 12);
    EXPECT_TRUE(startsWith(german, std::string(kGermanGameRules) + "\n"));

    for (const std::u16string* about : {&english, &russian, &german}) {
        EXPECT_NE(about->find(version), std::u16string::npos);
        EXPECT_TRUE(contains(*about, "© 2026 the Velmorin developers"));
        EXPECT_FALSE(contains(*about, "http"));
        EXPECT_FALSE(contains(*about, "www"));
        EXPECT_FALSE(contains(*about, "@"));
    }
}

TEST(Dictionary, LookupOutsideTheTablesIsRefusedWithAnEmptyText)
{
    const QvDictionary dictionary;
    for (const auto& [language, key] : {std::pair{-1, 1}, {3, 1}, {0, 0}, {0, 35}, {2, -7}, {1000, 1000}}) {
        EXPECT_FALSE(dictionary.has(language, key)) << language << "-" << key;
        EXPECT_TRUE(dictionary.text(language, key).empty()) << language << "-" << key;
    }
    EXPECT_TRUE(dictionary.has(0, 1));
    EXPECT_TRUE(dictionary.has(2, 34));
}

// A replaced entry stands in its own language only; one for a language or
// key the tables lack adds nothing.
TEST(Dictionary, ReplacedEntriesStandInTheirLanguageOnly)
{
    const QvTextEntry replaced[] = {{1, 19, u"Одометр:"}, {2, 35, u"Extra"}, {3, 19, u"Nowhere"}};
    const QvDictionary plain, dictionary(replaced);
    EXPECT_FALSE(dictionary.has(2, 35));
    for (int language = 0; language < 3; ++language) {
        for (const auto& [key, text] : *plain.table[language]) {
            EXPECT_EQ(dictionary.text(language, key), language == 1 && key == 19 ? u"Одометр:" : text);
        }
    }
}
