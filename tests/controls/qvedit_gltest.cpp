// The 3D edit box drawn into a framebuffer: number entry on Enter, the focus
// colours, text that stays visible past the box's edges, the per-frame
// ticker, and typing and deleting that leave no GL object behind.
#include "controlfixtures.h"

#include "controls/qvedit.h"
#include "engine/core/qvtransform.h"
#include "engine/text/qvfont.h"
#include "engine/text/qvtext3d.h"

#include <climits>
#include <string>

using controlfixtures::kViewSize;

namespace {

constexpr float kBoxWidth = 2.0f;

bool isGlyph(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r < 40 && g < 40 && b < 40;
}

// Screen column of a scene x on the plane z = 0 (camera at z 5, fov 45).
int columnOf(float x)
{
    const float halfWidth = 5.0f * std::tan(glm::radians(22.5f));
    return static_cast<int>((x / halfWidth + 1.0f) * kViewSize / 2.0f);
}

// One outline font for every test: it needs no GL context.
const QvFont3D& sharedFont()
{
    static const QvFont3D font(controlfixtures::kFontPath);
    return font;
}

class EditDraw : public controlfixtures::ControlDraw {
protected:
    void SetUp() override
    {
        box.shader = &flat;
        box.setBarShader(&flat);
        box.setTextShader(&flat);
        box.setFontSize(25.0f);
        box.setSize(kBoxWidth, 0.6f, 0.1f);
        box.transform->setScaling(1.0f, 1.0f, 1.0f);
        box.setTransform(box.transform);
    }
    void type(std::u32string_view s) { controlfixtures::typeInto(box, s); }
    void press(int key, int times = 1) { controlfixtures::pressKey(box, key, times); }
    void frame()
    {
        controlfixtures::clearAll();
        box.draw(*camera);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    std::array<std::uint8_t, 4> boxPixel() { return context.pixel(kViewSize / 2, kViewSize / 2 + 4); }

    QvEdit box{"QvModel_Edit3D", sharedFont(), nullptr, *camera};
};

TEST_F(EditDraw, EnterReadsTheNumberWithinTheRange)
{
    int raised = 0;
    box.enteredEvent += [&](QvEdit*, QvEventArgs*) { ++raised; };
    box.minValue = 0;
    box.maxValue = 100;
    const auto enter = [&](std::u32string_view typed) {
        box.clear();
        box.moveBarToStartPosition();
        type(typed);
        press(qvKeyEnter);
        return box.getValue();
    };
    EXPECT_EQ(enter(U"42"), 42);
    EXPECT_EQ(box.shownText(), u"42");
    EXPECT_EQ(enter(U"150"), 100);
    EXPECT_EQ(box.shownText(), u"100");
    EXPECT_EQ(raised, 2);

    box.minValue = -5;
    box.maxValue = 10;
    // A digits-only box shows the value it holds, sign and all...
    box.digitsOnly = true;
    EXPECT_EQ(enter(U""), -5);
    EXPECT_EQ(box.shownText(), u"-5");
    // ...while a typed minus is still refused.
    type(U"-");
    EXPECT_EQ(box.shownText(), u"-5");

    EXPECT_FALSE(box.setText("seven"));
    EXPECT_EQ(box.getValue(), -5);
    EXPECT_EQ(box.shownText(), u"-5");
}

TEST_F(EditDraw, FocusColourAndItsOwnDepthFunction)
{
    glDepthFunc(GL_NEVER);  // whatever the previous draw left
    frame();
    const auto plain = boxPixel();
    EXPECT_GT(plain[1], 240);  // (0.6, 1, 1)
    EXPECT_NEAR(plain[0], 153, 3);
    QvMouseEventArgs click;
    (*box.onMouseButtonPress)(&box, &click);
    ASSERT_TRUE(box.focused);
    frame();
    const auto focused = boxPixel();
    EXPECT_NEAR(focused[0], 4, 3);  // (0.0156, 0.2894, 0.3906)
    EXPECT_NEAR(focused[1], 74, 3);
    EXPECT_NEAR(focused[2], 100, 3);
}

TEST_F(EditDraw, TextPastTheEdgeStaysVisibleAndArrowsNeverScroll)
{
    type(std::u32string(30, U'W'));
    ASSERT_LT(box.glyphAt(1)->linePosition.x, -kBoxWidth);
    frame();
    const int left = columnOf(-kBoxWidth / 2.0f) - 2;
    EXPECT_GT(controlfixtures::countPixels(context, 0, 0, left, kViewSize, isGlyph), 20);

    const float first = box.glyphAt(1)->linePosition.x;
    press(qvKeyLeft, 30);
    EXPECT_EQ(box.caretIndex(), 0);
    EXPECT_FLOAT_EQ(box.glyphAt(1)->linePosition.x, first);
}

TEST_F(EditDraw, TickerMovesEveryFrame)
{
    box.setTicker(u"Ticker");
    const float start = box.glyphAt(1)->linePosition.x;
    for (int i = 0; i < 10; ++i) frame();
    EXPECT_NEAR(box.glyphAt(1)->linePosition.x, start - 0.01f, 1e-5f);
}

TEST_F(EditDraw, TypingAndDeletingLeavesNoGLObject)
{
    const std::int64_t objects = qvLiveGLObjects();
    for (int round = 0; round < 4; ++round) {
        type(std::u32string(500, U'a' + round));
        press(qvKeyLeft, 200);
        press(qvKeyDelete, 200);
        press(qvKeyBackspace, 300);
        ASSERT_EQ(box.glyphCount(), 0);
    }
    EXPECT_EQ(qvLiveGLObjects(), objects);
}

}  // namespace
