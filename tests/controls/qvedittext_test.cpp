// Edit-box text model: typing, deleting, caret moves and scrolling at the
// edges, the input rules, program-set text and the value readings.
#include "controls/qvedittext.h"

#include <climits>
#include <cmath>
#include <string>

#include <gtest/gtest.h>

namespace {

// A box 2 units wide at scale 1: the caret starts at the left edge, -1.
struct EditLine : testing::Test {
    QvEditText text{QvEditFlavour::flat};
    void SetUp() override
    {
        text.setFrame(2.0f, 1.0f);
        text.placeCaret(-1.0f);
    }
    void type(std::u16string_view s, float advance = 0.25f)
    {
        for (char16_t c : s) text.insert(c, advance);
    }
    // Every glyph sits right after its left neighbour, whatever scrolled.
    void expectContiguous() const
    {
        for (int i = 1; i < text.glyphCount(); ++i) {
            EXPECT_FLOAT_EQ(text.glyphX(i), text.glyphX(i - 1) + text.glyph(i - 1).advance) << i;
        }
    }
    // The caret stands right after the glyphs left of it.
    void expectCaretAfterLeftGlyphs() const
    {
        const int k = text.caretIndex();
        const float expected = k == 0 ? text.glyphX(0) : text.glyphX(k - 1) + text.glyph(k - 1).advance;
        EXPECT_FLOAT_EQ(text.caretX(), expected);
    }
};

TEST_F(EditLine, TypingInsertsAtTheCaretAndMovesTheTailRight)
{
    type(u"ab");
    ASSERT_TRUE(text.left().applied);
    const float bBefore = text.glyphX(1);
    const QvEditChange c = text.insert(u'c', 0.5f);
    EXPECT_EQ(c.inserted, 1);
    EXPECT_EQ(text.text(), u"acb");
    EXPECT_FLOAT_EQ(text.glyphX(2), bBefore + 0.5f);  // b made room for c
    EXPECT_EQ(text.caretIndex(), 2);
    expectCaretAfterLeftGlyphs();
    expectContiguous();
    EXPECT_FLOAT_EQ(text.textWidth(), 1.0f);
}

TEST_F(EditLine, TypingPastTheRightEdgeScrollsTheLineAndKeepsTheCaret)
{
    // The right limit for a 0.25 glyph is (2 - 0.25) / 2 = 0.875: the caret
    // reaches it after 8 glyphs (-1 + 8 x 0.25 = 1).
    type(u"abcdefgh");
    const float atEdge = text.caretX();
    EXPECT_FLOAT_EQ(atEdge, 1.0f);
    EXPECT_FLOAT_EQ(text.glyphX(0), -1.0f);
    type(u"ij");
    EXPECT_FLOAT_EQ(text.caretX(), atEdge);
    EXPECT_FLOAT_EQ(text.glyphX(0), -1.5f);  // two advances off the left edge
    expectContiguous();
    expectCaretAfterLeftGlyphs();

    // Backspace brings the text back while its start hangs off the edge...
    EXPECT_FALSE(text.backspace().caretMoved);
    EXPECT_FLOAT_EQ(text.glyphX(0), -1.25f);
    EXPECT_FALSE(text.backspace().caretMoved);
    EXPECT_FLOAT_EQ(text.glyphX(0), -1.0f);
    // ...and moves the caret once it no longer does.
    const QvEditChange c = text.backspace();
    EXPECT_TRUE(c.caretMoved);
    EXPECT_EQ(c.removed, 7);
    EXPECT_FLOAT_EQ(text.caretX(), 0.75f);
    EXPECT_EQ(text.text(), u"abcdefg");
    expectCaretAfterLeftGlyphs();
}

TEST_F(EditLine, ArrowsScrollAtTheEdgesOfTheFlatBox)
{
    type(u"abcdefghijkl");  // 4 glyphs scrolled off the left
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(text.left().applied);
    EXPECT_EQ(text.caretIndex(), 0);
    // The caret walked to the left edge and the text came back under it.
    EXPECT_FLOAT_EQ(text.glyphX(0), text.caretX());
    EXPECT_GE(text.caretX(), -1.0f - 0.25f);
    expectCaretAfterLeftGlyphs();
    EXPECT_FALSE(text.left().applied);  // guard at the start
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(text.right().applied);
    EXPECT_FALSE(text.right().applied);  // guard at the end
    expectCaretAfterLeftGlyphs();
    EXPECT_LE(text.caretX(), 1.0f);
}

TEST_F(EditLine, DeleteRemovesRightOfTheCaretAndNeverMovesIt)
{
    type(u"abcdefghij");
    text.left();
    text.left();
    const float caret = text.caretX();
    const float firstX = text.glyphX(0);
    const QvEditChange c = text.del();
    EXPECT_TRUE(c.applied);
    EXPECT_FALSE(c.caretMoved);
    EXPECT_EQ(c.removed, 8);
    EXPECT_EQ(text.text(), u"abcdefghj");
    EXPECT_FLOAT_EQ(text.caretX(), caret);
    EXPECT_FLOAT_EQ(text.glyphX(0), firstX);
    expectContiguous();
    text.del();
    EXPECT_FALSE(text.del().applied);  // nothing right of the caret
    EXPECT_FALSE(QvEditText(QvEditFlavour::flat).backspace().applied);
}

TEST_F(EditLine, TickerTypingNeverScrollsAndWrapsOnceTheLastGlyphLeaves)
{
    text.tickerMode = true;
    type(u"abcdefghijkl");  // runs past the right edge
    EXPECT_FLOAT_EQ(text.glyphX(0), -1.0f);
    EXPECT_FLOAT_EQ(text.caretX(), 2.0f);
    EXPECT_TRUE(text.left().caretMoved);  // arrows never scroll a ticker
    text.shift(-4.0f);                    // last glyph at -2.25
    const float last = text.glyphX(11);
    EXPECT_TRUE(text.wrap());
    EXPECT_FLOAT_EQ(text.glyphX(11), last + 2.0f + 3.0f);  // width + text width
    EXPECT_FALSE(text.wrap());
}

TEST(EditText, TheExtrudedBoxNeverScrollsOnArrowsAndDeleteMayScrollBack)
{
    QvEditText text(QvEditFlavour::extruded);
    text.setFrame(2.0f, 1.0f);
    text.placeCaret(-1.0f);
    for (char16_t c : std::u16string_view(u"abcdefghijklmnopqrst")) text.insert(c, 0.25f);
    const float caret = text.caretX();
    const float first = text.glyphX(0);  // -3, below -width
    ASSERT_LT(first, -2.0f);
    text.left();
    EXPECT_FLOAT_EQ(text.caretX(), caret - 0.25f);
    EXPECT_FLOAT_EQ(text.glyphX(0), first);
    const QvEditChange d = text.del();
    EXPECT_TRUE(d.caretMoved);
    EXPECT_FLOAT_EQ(text.glyphX(0), first + 0.25f);
    EXPECT_FLOAT_EQ(text.caretX(), caret);
}

TEST(EditText, InputRules)
{
    QvEditText text(QvEditFlavour::flat);
    EXPECT_TRUE(text.admits(U'ë'));
    EXPECT_TRUE(text.admits(U'Ж'));
    EXPECT_FALSE(text.admits(U'\U0001F600'));  // never cut to its low 16 bits
    text.digitsOnly = true;
    EXPECT_FALSE(text.admits(U'a'));
    EXPECT_FALSE(text.admits(U'-'));
    EXPECT_TRUE(text.admits(U'7'));
    text.readOnly = true;
    EXPECT_FALSE(text.admits(U'7'));
}

TEST_F(EditLine, AFullLineTakesNothingMoreUntilAGlyphGoes)
{
    text.maxLength = 3;
    type(u"abc");
    EXPECT_FALSE(text.admits(U'd'));
    ASSERT_TRUE(text.left().applied);
    EXPECT_FALSE(text.admits(U'd'));  // nor inside the line
    ASSERT_TRUE(text.del().applied);
    EXPECT_TRUE(text.admits(U'd'));
}

TEST(EditText, ProgramTextDecodesToWholeCodePoints)
{
    EXPECT_EQ(qvDecodeUtf8("Zo\xc3\xab"), U"Zoë");
    EXPECT_EQ(qvDecodeUtf8("\xd0\x9f\xd1\x80\xd0\xb8"), U"При");
    EXPECT_EQ(qvDecodeUtf8("a\xff"
                           "b"),
              U"a\uFFFDb");
    EXPECT_EQ(qvDecodeUtf8("\xf0\x9f\x98\x80"), U"\U0001F600");
    EXPECT_EQ(qvDecodeUtf16(u"x\U0001F600y"), U"x\U0001F600y");
    EXPECT_EQ(qvDecodeUtf16(std::u16string(1, char16_t(0xD800)) + u"z"), U"\uFFFDz");
    EXPECT_EQ(qvEncodeUtf8(u'ë'), "\xc3\xab");
}

TEST(EditText, DecimalReadings)
{
    EXPECT_EQ(qvParseDecimal(u"42").value, 42);
    EXPECT_EQ(qvParseDecimal(u"-2147483648").value, INT_MIN);
    EXPECT_EQ(qvParseDecimal(u"+7").value, 7);
    const QvParsedNumber big = qvParseDecimal(u"99999999999");
    EXPECT_EQ(big.reading, QvNumberReading::overflow);
    EXPECT_FALSE(big.negative);
    EXPECT_TRUE(qvParseDecimal(u"-2147483649").negative);
    EXPECT_EQ(qvParseDecimal(u"-2147483649").reading, QvNumberReading::overflow);
    for (std::u16string_view bad : {u"", u"-", u"1 2", u" 1", u"12a", u"0x1"}) {
        EXPECT_EQ(qvParseDecimal(bad).reading, QvNumberReading::notANumber)
            << std::string(bad.begin(), bad.end());
    }
    EXPECT_EQ(qvParseDecimal("\xd9\xa3").reading, QvNumberReading::notANumber);  // Arabic-Indic three
}

TEST(EditText, ValueRangeEnteredNumbersAndEnums)
{
    QvEditValue v{.minValue = 0, .maxValue = 100, .enumNames = {}};
    EXPECT_EQ(v.clamp(150), 100);
    EXPECT_EQ(v.clamp(-3), 0);
    EXPECT_EQ(v.entered(u"42"), 42);
    EXPECT_EQ(v.entered(u"99999999999"), 100);
    EXPECT_EQ(v.entered(u"abc"), 0);
    QvEditValue signedRange{.minValue = -5, .maxValue = 10, .enumNames = {}};
    EXPECT_EQ(signedRange.entered(u"-99999999999"), -5);
    EXPECT_EQ(signedRange.entered(u""), -5);
    EXPECT_EQ(QvEditValue{}.clamp(INT_MIN), INT_MIN);  // equal bounds: no range

    QvEditValue e{.minValue = 0, .maxValue = 2, .enumNames = {"low", "mid", "high"}};
    EXPECT_EQ(*e.step(1), "mid");
    EXPECT_EQ(*e.step(1), "high");
    EXPECT_EQ(*e.step(1), "high");  // clamped at the top
    QvEditValue unnamed{.enumNames = {"only"}};
    EXPECT_EQ(unnamed.step(1), nullptr);  // no name for 1: the value stays
    EXPECT_EQ(unnamed.value, 0);
}

}  // namespace
