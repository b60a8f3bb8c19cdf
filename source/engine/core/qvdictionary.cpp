// qvdictionary: the three tables of interface texts.
//
// This file is UTF-8; the u"" literals become UTF-16 at compile time. The
// English entries 8-12, 16 and 19-25 belong to the mouse tracker, while the
// Russian and German entries under the same keys belong to the word game: the
// key does not mean the same thing in every language.
#include "engine/core/qvdictionary.h"

#ifndef VELMORIN_VERSION
#define VELMORIN_VERSION "0.0.0"
#endif

namespace {

// The about texts name the product, its version and its makers with the year.
// The makers' name is the same in every language, as a name is.
constexpr char16_t kAboutEnglish[] =
    u"Velmorin version " VELMORIN_VERSION u", \u00A9 2026 the Velmorin developers";
constexpr char16_t kAboutRussian[] = u"\nВерсия " VELMORIN_VERSION u"\n\u00A9 2026 the Velmorin developers";
constexpr char16_t kAboutGerman[] = u"\nVersion " VELMORIN_VERSION u"\n\u00A9 2026 the Velmorin developers";

QvTextTable buildEnglish()
{
    return {
        {1, u"Start"},
        {2, u"Stop"},
        {3, u"Off Top"},
        {4, u"On Top"},
        {5, u"Dictionary"},
        {6, u"About"},
        {7, u"Back"},
        {8, u"Clear"},
        {9, u"Smooth"},
        {10, u"Eco"},
        {11, u"Power"},
        {12, u"Velmorin"},
        {13, u"You Win!!!"},
        {14, u"Yes"},
        {15, u"No"},
        {16, kAboutEnglish},
        {17, u"Nice"},
        {18, u"The first thing you need to know is that the program interface is "
             u"three-dimensional. You can look around by holding down the right mouse "
             u"button while moving the mouse. To move the camera, use the W, A, S, D or "
             u"arrows keys. But for ease of movement on virtual screens, scrolling with "
             u"the mouse wheel was implemented. To start tracking the mouse, click the "
             u"start button."},
        {19, u"Odometer:"},
        {20, u"Speedometer:"},
        {21, u"X:"},
        {22, u"Y:"},
        {23, u"Max Speed:"},
        {24, u"Stops:"},
        {25, u"Time:"},
        {26, u"Okay, okay, if not this time, then next time!"},
        {27, u"I know it's not easy, but you can do it, I believe in you!"},
        {28, u"Oh, come on, let's do it one more time."},
        {29, u"Try to slow down, it's easier to play."},
        {30, u"Advice! If you want to make your life easier, expand the playing field."},
        {31, u"Oh well, so what if it's no luck!"},
        {32, u"Press the keys in game"},
        {33, u"Ok"},
        {34, u"Your level has upped"},
    };
}

QvTextTable buildRussian()
{
    return {
        {1, u"Старт"},
        {2, u"Стоп"},
        {3, u"Выше всех"},
        {4, u"Нормальное"},
        {5, u"Словарь"},
        {6, u"Об игре"},
        {7, u"Назад"},
        {8, u"Добро пожаловать в игру Lexfall Word!"},
        {9, u"Эх, ну да ладно, подумаешь не повезло!"},
        {10, u"Игра окончена!!!"},
        {11, u"Ты нереально крут!"},
        {12, std::u16string(u"Lexfall Word - логическая игра, в которой нужно составлять слова из "
                            u"случайных букв, летящих вверх. Нажмите клавишу A или стрелка влево, "
                            u"чтобы переместить букву влево, и клавишу D или стрелка вправо, чтобы "
                            u"переместить букву вправо. Слова составляются вертикально, если в словаре "
                            u"найдено сочетание букв, слово выделяется и его можно удалить, нажав "
                            u"клавишу W или стрелка вверх. А можно его оставить, чтобы составить слово "
                            u"большей длины и заработать больше очков. Когда буква закрепится на "
                            u"пятнадцатой строке, игра заканчивается. Чтобы закончить игру и стать "
                            u"победителем, вы должны пройти все 13 уровней.") +
                 kAboutRussian},
        {13, u"Вы победили!!!"},
        {14, u"Да"},
        {15, u"Нет"},
        {16, u"Вы уверены, что хотите начать новую игру?"},
        {17, u"Круто"},
        {18, u"Первое, что вам нужно знать, это то, что интерфейс программы трёхмерный. "
             u"Вы можете осматриваться с помощью зажатой правой клавиши мыши при этом "
             u"двигая мышь. Для перемещения камеры используйте клавиши W, A, S, D или "
             u"стрелки. Но для удобства перемещения по виртуальным экранам, была "
             u"реализована прокрутка с помощью колесика мыши. Чтобы начать отслеживать "
             u"мышь, нажмите кнопку старт."},
        {19, u"Счёт:"},
        {20, u"Уровень:"},
        {21, u"Lexfall:"},
        {22, u"Бонус:"},
        {23, u"Попытки:"},
        {24, u"Следующая:"},
        {25, u"Так бывает, не печалься."},
        {26, u"Ладно, ладно, не в этот раз, так в следующий!"},
        {27, u"Знаю, это не легко, но ты сможешь, я верю в тебя!"},
        {28, u"Ай, была не была, давай ещё разок."},
        {29, u"А попробуй-ка снизить скорость, оно ж легче играть."},
        {30, u"Совет! Хочешь упростить себе жизнь, расширь игровое поле."},
        {31, u"Эх, ну да ладно, подумаешь не повезло!"},
        {32, u"Нажимайте клавиши в игре"},
        {33, u"Понятно"},
        {34, u"Ваш уровень повысился"},
    };
}

QvTextTable buildGerman()
{
    return {
        {1, u"Start"},
        {2, u"Stop"},
        {3, u"Obenauf"},
        {4, u"Normal"},
        {5, u"Wörterbuch"},
        {6, u"Über Spiel"},
        {7, u"Zurück"},
        {8, u"Willkommen beim Spiel Lexfall Word!"},
        {9, u"Na ja, wissen Sie was, Pech gehabt!"},
        {10, u"Spiel vorbei!!!"},
        {11, u"Du bist unglaublich cool!"},
        {12, std::u16string(u"Lexfall Word ist ein Logikspiel, bei dem Sie aus zufällig hochfliegenden "
                            u"Buchstaben Wörter bilden müssen. Drücken Sie die Tasten A oder den linken "
                            u"Pfeil, um einen Buchstaben nach links zu verschieben, und die Tasten D "
                            u"oder den rechten Pfeil, um ihn nach rechts zu verschieben. Wörter werden "
                            u"vertikal zusammengesetzt. Wenn eine Buchstabenkombination im Wörterbuch "
                            u"gefunden wird, wird das Wort hervorgehoben und kann durch Drücken der "
                            u"Tasten W oder des Pfeils nach oben gelöscht werden. Und Sie können es "
                            u"verlassen, um ein längeres Wort zu bilden und mehr Punkte zu verdienen. "
                            u"Wenn ein Buchstabe an der fünfzehnten Reihe angedockt wird, endet das "
                            u"Spiel. Um das Spiel zu beenden und der Gewinner zu werden, müssen Sie "
                            u"alle 13 Level abschließen.") +
                 kAboutGerman},
        {13, u"Sie gewinnen!!!"},
        {14, u"Ja"},
        {15, u"Nein"},
        {16, u"Möchten Sie wirklich ein neues Spiel starten?"},
        {17, u"Hizza"},
        {18, u"Zunächst sollten Sie wissen, dass die Programmoberfläche dreidimensional "
             u"ist. Sie können sich umsehen, indem Sie die rechte Maustaste gedrückt "
             u"halten und gleichzeitig die Maus bewegen. Um die Kamera zu bewegen, "
             u"verwenden Sie die Tasten W, A, S und D. Um die Bewegung auf virtuellen "
             u"Bildschirmen zu erleichtern, wurde das Scrollen mit dem Mausrad "
             u"implementiert. Klicken Sie auf die Schaltfläche »Start«, um die "
             u"Mausbewegung zu starten."},
        {19, u"Spielstand:"},
        {20, u"Level:"},
        {21, u"Lexfall:"},
        {22, u"Bonus:"},
        {23, u"Versuche:"},
        {24, u"Nächste:"},
        {25, u"Es passiert, sei nicht traurig."},
        {26, u"Okay, okay, dieses Mal nicht, dann nächstes Mal!"},
        {27, u"Ich weiß, es ist nicht einfach, aber du schaffst es, ich glaube an dich!"},
        {28, u"Ja, das war ich nicht, lass es uns noch einmal machen."},
        {29, u"Versuchen Sie, langsamer zu werden, es wird einfacher zu spielen sein."},
        {30, u"Beratung! Wenn Sie Ihr Leben einfacher machen möchten, erweitern Sie das "
             u"Spielfeld."},
        {31, u"Na ja, wissen Sie was, Pech gehabt!"},
        {32, u"Drücken Sie die Tasten im Spiel"},
        {33, u"Ok"},
        {34, u"Dein Level hat sich erhöht"},
    };
}

// `texts` of `language` with the replaced entries of that language.
QvTextTable replacing(QvTextTable texts, int language, std::span<const QvTextEntry> replaced)
{
    for (const QvTextEntry& entry : replaced) {
        const auto found = texts.find(entry.key);
        if (entry.language == language && found != texts.end()) found->second = entry.text;
    }
    return texts;
}

}  // namespace

QvDictionary::QvDictionary() : QvDictionary(std::span<const QvTextEntry>()) {}

QvDictionary::QvDictionary(std::span<const QvTextEntry> replaced)
    : english(replacing(buildEnglish(), 0, replaced)), russian(replacing(buildRussian(), 1, replaced)),
      german(replacing(buildGerman(), 2, replaced)), table{&english, &russian, &german}
{
}

bool QvDictionary::has(int language, std::int32_t key) const
{
    return language >= 0 && language < kLanguageCount && table[language]->count(key) != 0;
}

const std::u16string& QvDictionary::text(int language, std::int32_t key) const
{
    static const std::u16string refused;
    return has(language, key) ? table[language]->at(key) : refused;
}
