// Labels drawn into a framebuffer and read back: where the text shows, what
// the stencil holds under it, the value slots rewritten frame after frame
// without new GL objects, and the texts a user can hand a label; text
// controls leaving a transform tree that outlives them.
#include "controlfixtures.h"

#include "controls/qvbutton.h"
#include "controls/qvedit2d.h"
#include "controls/qvlabel.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvfont2d.h"

#include <array>
#include <set>
#include <vector>

using controlfixtures::kViewSize;
using LabelDraw = controlfixtures::TextControlDraw;

namespace {

bool isLit(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 100 || g > 100 || b > 100;
}

// The label as the scene sets one up: box, font size, text program. Its
// transform never gets setScaling, so its stored scaling vector stays
// (0, 0, 0): the text must be laid out by the scaling that is drawn.
void setUp(QvLabel& label, QvShader& textShader, float width = 2.0f)
{
    label.setColor({1.0f, 1.0f, 1.0f, 1.0f});
    label.setSize(width, 1.0f, 0.1f);
    label.setFontSize(25.0f);
    label.setTextShader(&textShader);
}

int litPixels(const testsupport::GlContext& context)
{
    return controlfixtures::countPixels(context, 0, 0, context.width(), context.height(), isLit);
}

// The columns holding lit pixels.
std::vector<int> litColumns(const testsupport::GlContext& context)
{
    std::vector<int> columns;
    for (int x = 0; x < kViewSize; ++x)
        if (controlfixtures::countPixels(context, x, 0, x + 1, kViewSize, isLit) > 0) columns.push_back(x);
    return columns;
}

// Lit pixels after clearing and drawing the label alone.
int drawAndCount(QvLabel& label, Camera& camera, const testsupport::GlContext& context)
{
    controlfixtures::clearAll();
    label.draw(camera);
    return litPixels(context);
}

}  // namespace

TEST_F(LabelDraw, BitmapTextStartsAtTheLeftEdgeAndMarksTheStencil)
{
    QvLabel label("QvModel_LabelOdometer", u"Odometer:", font2D, nullptr, *camera);
    setUp(label, text);
    label.initLabel();
    controlfixtures::clearAll();
    label.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // The box spans x in [-1, 1]: about 31 pixels a unit at this distance.
    const int lit = litPixels(context);
    EXPECT_GT(lit, 50);
    const int leftHalf = controlfixtures::countPixels(context, 0, 0, kViewSize / 2, kViewSize, isLit);
    EXPECT_GT(leftHalf, lit / 3) << "the text starts at the box's left edge";
    EXPECT_EQ(controlfixtures::countPixels(context, 0, 0, kViewSize / 2 - 36, kViewSize, isLit), 0)
        << "nothing left of the box";
    // The stencil holds 1 where the glyph quads were drawn, 0 far away.
    const std::vector<std::uint8_t> stencil = controlfixtures::stencilValues(kViewSize, kViewSize);
    const std::vector<std::uint8_t> rgba = context.pixels();
    for (size_t i = 0; i < stencil.size(); ++i) {
        if (isLit(rgba[i * 4], rgba[i * 4 + 1], rgba[i * 4 + 2])) {
            ASSERT_EQ(stencil[i], 1);
        }
    }
    EXPECT_EQ(stencil[0], 0);
}

TEST_F(LabelDraw, ValueSlotsAreRewrittenWithoutNewGLObjects)
{
    QvLabel label("QvModel_LabelOdometer", u"", font2D, nullptr, *camera);
    setUp(label, text, 4.0f);
    label.initLabel();
    std::u16string value = u"1";
    label.setLabel(value.data(), int(value.size()));
    const int one = drawAndCount(label, *camera, context);
    value = u"88888888";
    label.setLabel(value.data(), int(value.size()));
    const std::int64_t warm = qvLiveGLObjects();
    const std::int64_t made = qvCreatedGLObjects();
    const int eights = drawAndCount(label, *camera, context);
    EXPECT_GT(eights, 5 * one) << "eight wide digits cover more than one thin one";

    // Steady state: changing digits every frame makes no GL object.
    char16_t buffer[100];
    for (int frame = 0; frame < 200; ++frame) {
        const std::u16string digits = u"1234567" + std::u16string(1, char16_t(u'0' + frame % 10));
        std::copy(digits.begin(), digits.end(), buffer);
        label.setLabel(buffer, int(digits.size()));
        label.draw(*camera);
    }
    EXPECT_EQ(qvLiveGLObjects(), warm);
    EXPECT_EQ(qvCreatedGLObjects(), made) << "none made and deleted again either";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // The buffer was read during the call only: overwriting it changes nothing.
    std::fill(std::begin(buffer), std::end(buffer), u'8');
    EXPECT_EQ(drawAndCount(label, *camera, context), drawAndCount(label, *camera, context));
}

TEST_F(LabelDraw, LongValuesAreCutToTheSlotsAndShortOnesHideTheRest)
{
    QvLabel label("QvModel_LabelTime", u"", font2D, nullptr, *camera);
    setUp(label, text);
    label.initLabel();
    const std::u16string longValue(40, u'7');
    label.setLabel(longValue.data(), int(longValue.size()));
    EXPECT_EQ(label.cLength, 31);
    EXPECT_EQ(label.cGlyphs.size(), 31u);
    const int full = drawAndCount(label, *camera, context);

    const std::u16string shortValue = u"7";
    label.setLabel(shortValue.data(), 1);
    const int single = drawAndCount(label, *camera, context);
    EXPECT_GT(single, 0);
    EXPECT_LT(single * 5, full) << "the slots beyond the new length are not drawn";

    label.setLabel(shortValue.data(), 0);
    EXPECT_EQ(drawAndCount(label, *camera, context), 0);
    label.setLabel(nullptr, 5);
    EXPECT_EQ(drawAndCount(label, *camera, context), 0);
}

TEST_F(LabelDraw, LabelsLeaveNoGLObjectsBehind)
{
    const std::int64_t before = qvLiveGLObjects();
    {
        QvLabel label("QvModel_LabelSpeed", u"Speed", font2D, nullptr, *camera);
        setUp(label, text);
        label.optimized = true;
        label.initLabel();
        const std::u16string value = u"123456789012";
        label.setLabel(value.data(), int(value.size()));
        label.setLabel(value.data(), 3);
        label.setLabel(u"Speed again");
        label.draw(*camera);
    }
    EXPECT_EQ(qvLiveGLObjects(), before);
}

TEST_F(LabelDraw, CodeUnitsWithoutBitmapGlyphShowTheFallback)
{
    QvLabel label("QvModel_Label", u"", font2D, nullptr, *camera);
    setUp(label, text);
    label.initLabel();
    // A character beyond U+FFFF (two surrogate halves) and one the font lacks.
    label.setLabel(u"\U0001F600\u4E2D");
    EXPECT_EQ(label.glyphs2D.size(), 3u);
    const int fallback = drawAndCount(label, *camera, context);
    EXPECT_GT(fallback, 0);
    label.setLabel(u"\u00A4\u00A4\u00A4");
    EXPECT_EQ(drawAndCount(label, *camera, context), fallback) << "drawn as the fallback sign";
    const std::u16string value = u"\xD83D";
    label.setLabel(value.data(), 1);
    EXPECT_GT(drawAndCount(label, *camera, context), 0);
}

// After buffer text the rebuilt dictionary entry is all the label holds and
// draws: the same glyphs, over the same columns, as a label made with it.
TEST_F(LabelDraw, UpdateTextShowsTheDictionaryEntryAfterBufferText)
{
    QvDictionary dictionary;
    const std::u16string entry = dictionary.text(1, 25);
    QvLabel label("QvModel_LabelTime", dictionary, 0, 25, font2D, nullptr, *camera);
    QvLabel fresh("QvModel_LabelTime", entry, font2D, nullptr, *camera);
    for (QvLabel* each : {&label, &fresh}) {
        setUp(*each, text);
        each->setFontSize(4.0f);  // small enough for a sentence to fit the view
        each->initLabel();
    }
    drawAndCount(fresh, *camera, context);
    const auto alone = litColumns(context);
    ASSERT_GT(alone.size(), 10u);

    EXPECT_EQ(label.getLabel(), u"Time:");
    const std::u16string value = u"1";
    label.setLabel(value.data(), 1);
    ASSERT_GT(drawAndCount(label, *camera, context), 0);
    label.updateText(1);
    EXPECT_EQ(label.cLength, 0);
    EXPECT_EQ(label.getLabel(), entry);
    EXPECT_EQ(label.glyphs2D.size(), entry.size());
    drawAndCount(label, *camera, context);
    EXPECT_EQ(litColumns(context), alone);

    label.updateText(7);  // no such language: the text stays
    EXPECT_EQ(label.getLabel(), entry);
    EXPECT_EQ(label.glyphs2D.size(), entry.size());
}

// Plain bitmap glyphs take no transform id and leave the label's counter;
// wrapped glyphs take the next ids from it.
TEST_F(LabelDraw, OnlyWrappedBitmapGlyphsTakeTransformIds)
{
    QvLabel plain("QvModel_Label", u"ab", font2D, nullptr, *camera);
    QvLabel wrapped("QvModel_LabelInfo", u"ab", font2D, nullptr, *camera);
    wrapped.enableWrapping();
    for (QvLabel* label : {&plain, &wrapped}) {
        label->transform->setId(7);
        setUp(*label, text);
        label->initLabel();
    }
    EXPECT_EQ(plain.transformIdCounter, qvLabelFirstTransformId);
    EXPECT_EQ(wrapped.transformIdCounter, qvLabelFirstTransformId + 2);
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(plain.glyphs2D[i]->transform->getId(), 0);
        EXPECT_EQ(wrapped.glyphs2D[i]->transform->getId(), 7 + qvLabelFirstTransformId + std::int64_t(i));
    }
}

// As a widget's or the scene's tree: once the controls are gone, the tree
// holds none of the transforms they made (glyphs, buffer slots, caret bar),
// nor those of a control that built on its own transform and was then placed
// elsewhere and rebuilt.
TEST_F(LabelDraw, TextControlsTakeTheirTransformsOutOfATreeThatOutlivesThem)
{
    QvTransform root;
    OakTree<QvTransform> tree(&root);
    std::array<QvTransform, 6> places;  // the creator's, ids 1 to 6
    for (std::size_t i = 0; i < places.size(); ++i) {
        places[i].setId(std::int64_t(i) + 1);
        places[i].setScaling(1.0f, 1.0f, 1.0f);
        tree.insert(nullptr, &places[i]);
    }
    const auto ids = [&] {
        std::multiset<std::int64_t> held;
        tree.walk(&root, [&](QvTransform*, QvTransform* child) { held.insert(child->getId()); });
        return held;
    };
    {
        QvLabel info("QvModel_InfoText", u"one two three", font2D, nullptr, *camera);
        QvLabel value("QvModel_OdometerValueLabel", u"0", font2D, nullptr, *camera);
        QvButton clear("QvModel_ButtonClear", u"Clear", font2D, nullptr, *camera);
        QvLabel loose("QvModel_Label", u"loose", font2D, nullptr, *camera);  // brings its own transform
        // These two build on their own transforms and are placed afterwards.
        QvLabel moved("QvModel_Label", u"moved", font2D, nullptr, *camera);
        QvLabel movedValue("QvModel_SpeedValueLabel", u"0", font2D, nullptr, *camera);
        std::size_t place = 0;
        for (QvTextControl* control :
             std::array<QvTextControl*, 6>{&info, &value, &clear, &loose, &moved, &movedValue}) {
            control->setObjectTree(&tree);
            control->setSize(2.0f, 1.0f, 0.1f);
            control->setTextShader(&text);
            if (control == &info || control == &value || control == &clear)
                control->setTransform(&places[place++]);
        }
        info.enableWrapping();
        for (QvLabel* label : {&info, &value, &loose, &moved}) label->initLabel();
        value.setLabel(u"1234", 4);
        movedValue.setLabel(u"12", 2);
        clear.initLabel();
        moved.setTransform(&places[4]);
        moved.setLabel(u"again");
        movedValue.setTransform(&places[5]);
        movedValue.setLabel(u"345", 3);
        QvEdit2D box("QvModel_EditName", font2D, nullptr, *camera);
        box.setObjectTree(&tree);
        box.setSize(3.0f, 1.0f, 0.1f);
        box.setTextShader(&text);
        box.setTransform(&places[3]);
        controlfixtures::typeInto(box, U"name");
        // The places, the loose label's own, and the glyphs and caret bar below them.
        EXPECT_EQ(ids().size(), 6u + 1 + 13 + 4 + 5 + 5 + 5 + 5 + 3);
    }
    EXPECT_EQ(ids(), (std::multiset<std::int64_t>{1, 2, 3, 4, 5, 6}));
}

TEST_F(LabelDraw, WrappedTextIsDrawnInOneBatchOnSeveralLines)
{
    QvLabel label("QvModel_LabelInfo", u"one two three four five six", font2D, nullptr, *camera);
    setUp(label, text, 1.5f);
    label.setFontSize(12.0f);  // every word is narrower than a line
    label.setOptimizeTextShader(&batch);
    label.optimized = true;
    label.enableWrapping();
    label.initLabel();
    ASSERT_EQ(label.batchVertices.size(), label.glyphs2D.size() * 36);
    controlfixtures::clearAll();
    label.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    // Rows with text, separated by rows without: at least three lines.
    int bands = 0;
    bool inBand = false;
    for (int y = kViewSize - 1; y >= 0; --y) {
        const bool lit = controlfixtures::countPixels(context, 0, y, kViewSize, y + 1, isLit) > 0;
        if (lit && !inBand) ++bands;
        inBand = lit;
    }
    EXPECT_GE(bands, 3);
    // The right edge of the box (x = 0.75) is about 23 pixels right of centre.
    EXPECT_EQ(controlfixtures::countPixels(context, kViewSize / 2 + 28, 0, kViewSize, kViewSize, isLit), 0);
}

TEST_F(LabelDraw, OutlineTextIsCentredOnTheBox)
{
    QvFont3D font3D(controlfixtures::kFontPath);
    QvLabel label("QvModel_Title", u"HH", font3D, nullptr, *camera);
    label.setColor({1.0f, 1.0f, 1.0f, 1.0f});
    label.setSize(2.0f, 1.0f, 0.1f);
    label.transform->setScaling(1.0f, 1.0f, 1.0f);
    label.setFontSize(25.0f);
    label.setTextShader(&flat);
    label.initLabel();
    controlfixtures::clearAll();
    label.draw(*camera);
    ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    const int left = controlfixtures::countPixels(context, 0, 0, kViewSize / 2, kViewSize, isLit);
    const int right = controlfixtures::countPixels(context, kViewSize / 2, 0, kViewSize, kViewSize, isLit);
    EXPECT_GT(left + right, 50);
    EXPECT_NEAR(double(left) / (left + right), 0.5, 0.12);
    // Baseline on the centre line: the glyphs stand above it.
    const int above = controlfixtures::countPixels(context, 0, kViewSize / 2, kViewSize, kViewSize, isLit);
    EXPECT_GT(above, (left + right) * 3 / 4);
}
