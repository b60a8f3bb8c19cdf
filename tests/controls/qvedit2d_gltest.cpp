// The 2D edit box drawn into a framebuffer: typed text shows inside the box
// and is cut at its edges, the caret blinks once a second, the ticker steps
// every 16 ms and wraps, the batch is rebuilt only when something changed,
// and deleted glyphs leave neither transforms nor GL objects behind.
#include "controlfixtures.h"

#include "controls/qvedit2d.h"
#include "engine/core/qvcontainer.h"
#include "engine/core/qvtransform.h"
#include "engine/shell/qvworld.h"
#include "engine/text/qvtext3d.h"
#include "scene/qvscene.h"
#include "widgets/qvwidget3d.h"

#include <GLFW/glfw3.h>

#include <string>

using controlfixtures::kViewSize;

namespace {

constexpr float kBoxWidth = 3.0f;

// Glyph pixels: the text's light grey over a dark background or the box.
bool isText(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return r > 190 && g > 190 && b > 190;
}

// Screen column of a scene x on the plane z = 0 (camera at z 5, fov 45).
int columnOf(float x)
{
    const float halfWidth = 5.0f * std::tan(glm::radians(22.5f));
    return static_cast<int>((x / halfWidth + 1.0f) * kViewSize / 2.0f);
}

class Edit2DDraw : public controlfixtures::TextControlDraw {
protected:
    void SetUp() override
    {
        tree.insert(nullptr, box.transform);
        box.setObjectTree(&tree);
        box.shader = &flat;
        box.setTextShader(&text);
        box.setOptimizeTextShader(&batch);
        box.setFontSize(25.0f);
        box.setSize(kBoxWidth, 1.0f, 0.1f);
        box.transform->setScaling(1.0f, 1.0f, 1.0f);
        box.setTransform(box.transform);
        box.moveBarToStartPosition();
    }
    void type(std::u32string_view s) { controlfixtures::typeInto(box, s); }
    void press(int key, int times = 1) { controlfixtures::pressKey(box, key, times); }
    void frame(double time)
    {
        camera->frameTime = time;
        controlfixtures::clearAll();
        box.draw(*camera);
        ASSERT_EQ(glGetError(), GLenum(GL_NO_ERROR));
    }
    int textPixels(int x0, int x1)
    {
        return controlfixtures::countPixels(context, x0, 0, x1, kViewSize, isText);
    }
    // Nodes of the box's subtree, the box's own included.
    int treeNodes()
    {
        tree.print(box.transform);
        return tree.nodeCount;
    }

    QvTransform root;
    OakTree<QvTransform> tree{&root};
    QvEdit2D box{"QvModel_EditName", font2D, nullptr, *camera};
};

TEST_F(Edit2DDraw, TypedTextShowsInTheBoxAndEnterHandsItOn)
{
    box.focused = true;
    std::u16string entered;
    int raised = 0;
    box.enteredEvent += [&](QvEdit2D* sender, QvEventArgs*) {
        entered = sender->getText();
        ++raised;
    };
    type(U"Zoë Ж\U0001F600");  // the emoji is refused, not cut to 16 bits
    ASSERT_EQ(box.glyphCount(), 5);
    EXPECT_EQ(box.glyphAt(3)->name, "ë");
    frame(0.0);
    EXPECT_GT(textPixels(0, kViewSize), 20);
    press(qvKeyEnter);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(entered, u"Zoë Ж");
    EXPECT_TRUE(box.optimized);
    // The batched path draws the same text.
    frame(0.1);
    EXPECT_GT(textPixels(0, kViewSize), 20);

    // Enter on an empty box still raises, with an empty text.
    box.clear();
    press(qvKeyEnter);
    EXPECT_EQ(raised, 2);
    EXPECT_EQ(entered, u"");
}

TEST_F(Edit2DDraw, TextScrolledPastTheEdgeIsCutByTheStencil)
{
    box.focused = true;
    type(std::u32string(40, U'W'));
    // The first glyphs were pushed off the left edge...
    ASSERT_LT(box.glyphAt(1)->linePosition.x, -kBoxWidth / 2.0f - 1.0f);
    frame(0.0);
    const int leftOfBox = columnOf(-kBoxWidth / 2.0f) - 1;
    const int rightOfBox = columnOf(kBoxWidth / 2.0f) + 2;
    EXPECT_GT(textPixels(leftOfBox + 2, rightOfBox - 2), 50);
    EXPECT_EQ(textPixels(0, leftOfBox), 0);
    EXPECT_EQ(textPixels(rightOfBox, kViewSize), 0);
    // ...where they would show without the stencil.
    controlfixtures::clearAll();
    glDisable(GL_STENCIL_TEST);
    box.draw(*camera);
    EXPECT_GT(textPixels(0, leftOfBox), 20);
}

TEST_F(Edit2DDraw, CaretBlinksOnceASecondOnlyWhileFocused)
{
    const int nearCaret = columnOf(-kBoxWidth / 2.0f) + 6;
    frame(1.0);
    EXPECT_EQ(textPixels(0, nearCaret), 0);  // no focus, no bar
    box.focused = true;
    frame(1.0);  // a second since the last toggle: lit
    EXPECT_GT(textPixels(0, nearCaret), 5);
    frame(1.99);
    EXPECT_EQ(box.barColor, glm::vec4(0.9f, 0.9f, 0.9f, 1.0f));
    frame(2.0);
    EXPECT_EQ(box.barColor, glm::vec4(0.1f, 0.1f, 0.1f, 1.0f));
    EXPECT_EQ(textPixels(0, nearCaret), 0);
    frame(3.0);
    EXPECT_GT(textPixels(0, nearCaret), 5);
}

TEST_F(Edit2DDraw, TickerStepsEvery16MsAndWrapsPastTheLeftEdge)
{
    box.readOnly = true;
    box.setTicker(u"Ticker");
    const float start = box.glyphAt(1)->linePosition.x;
    frame(1.0);
    EXPECT_FLOAT_EQ(box.glyphAt(1)->linePosition.x, start - 0.01f);
    frame(1.01);  // under 16 ms: no step
    EXPECT_FLOAT_EQ(box.glyphAt(1)->linePosition.x, start - 0.01f);
    frame(1.026);
    EXPECT_FLOAT_EQ(box.glyphAt(1)->linePosition.x, start - 0.02f);

    // Run it until the last glyph has left the box: it jumps right by the
    // width plus the text's width.
    double t = 1.026;
    float before = box.glyphAt(6)->linePosition.x;
    int steps = 0;
    while (steps < 2000) {
        t += 0.016;
        frame(t);
        ++steps;
        const float now = box.glyphAt(6)->linePosition.x;
        if (now > before) break;
        before = now;
    }
    ASSERT_LT(steps, 2000);
    EXPECT_NEAR(box.glyphAt(6)->linePosition.x - before, kBoxWidth + box.textWidth() - 0.01f, 1e-3f);
    EXPECT_LT(before, -kBoxWidth / 2.0f + 0.01f);
}

TEST_F(Edit2DDraw, BatchIsRebuiltOnlyWhenTextOrCameraChanges)
{
    box.focused = true;
    type(U"name");
    const int typed = box.batchRebuilds;
    press(qvKeyEnter);
    EXPECT_EQ(box.batchRebuilds, typed + 1);
    for (int i = 0; i < 10; ++i) frame(0.1 * i);
    EXPECT_EQ(box.batchRebuilds, typed + 1);
    QvCameraPositionEventArgs moved;
    (*box.onCameraPosition)(camera.get(), &moved);
    EXPECT_EQ(box.batchRebuilds, typed + 2);
    type(U"s");  // back to glyph-by-glyph drawing until the next Enter
    EXPECT_FALSE(box.optimized);
    (*box.onCameraPosition)(camera.get(), &moved);
    for (int i = 0; i < 5; ++i) frame(2.0 + 0.1 * i);
    EXPECT_EQ(box.batchRebuilds, typed + 2);
    press(qvKeyEnter);
    EXPECT_EQ(box.batchRebuilds, typed + 3);
    // Text set by the program shows at once, batched or not.
    frame(3.0);
    const int shortName = textPixels(0, kViewSize);
    box.changeText("WWWWWWW");
    frame(3.1);
    EXPECT_GT(textPixels(0, kViewSize), shortName + 50);

    // A batched ticker rebuilds after each of its steps, and only then.
    box.optimized = true;
    box.setTicker(u"news");
    const int ticker = box.batchRebuilds;
    frame(10.0);
    frame(10.005);
    frame(10.010);
    EXPECT_EQ(box.batchRebuilds, ticker + 1);
    frame(10.020);
    EXPECT_EQ(box.batchRebuilds, ticker + 2);
    EXPECT_GT(textPixels(0, kViewSize), 0);
}

// Program text that leaves no glyph, empty or refused whole, empties the
// batch too: the box shows nothing, not the text it had before.
TEST_F(Edit2DDraw, ABatchedBoxThatProgramTextEmptiesDrawsNothing)
{
    for (const bool digitsOnly : {false, true}) {
        box.digitsOnly = false;
        type(U"name");
        press(qvKeyEnter);
        frame(digitsOnly ? 0.2 : 0.1);
        ASSERT_GT(textPixels(0, kViewSize), 20) << digitsOnly;
        box.digitsOnly = digitsOnly;
        box.setString(digitsOnly ? "abc" : "");
        ASSERT_EQ(box.glyphCount(), 0) << digitsOnly;
        EXPECT_TRUE(box.optimized) << digitsOnly;
        frame(digitsOnly ? 0.25 : 0.15);
        EXPECT_EQ(textPixels(0, kViewSize), 0) << digitsOnly;
    }
}

// Program text on a box that ran a ticker ends ticker mode only once it is
// laid out, so it is laid out as the ticker's texts: from the start position
// (a margin of twice the 1 % padding), without scrolling, on past the right
// edge. Typing scrolls again.
TEST_F(Edit2DDraw, ProgramTextOnATickerIsLaidOutBeforeTheTickerEnds)
{
    const float start = kBoxWidth * 2.0f / 100.0f - kBoxWidth / 2.0f;
    for (const bool number : {false, true}) {
        box.setTicker(u"news");
        number ? box.setValue(2000000000) : box.changeText(std::string(40, 'W'));
        ASSERT_GT(box.textWidth(), kBoxWidth) << number;
        EXPECT_FALSE(box.tickerMode) << number;
        EXPECT_FLOAT_EQ(box.glyphAt(1)->linePosition.x, start) << number;
        EXPECT_NEAR(box.caretPosition.x, start + box.textWidth(), 1e-4f) << number;
        type(U"W");
        EXPECT_LT(box.glyphAt(1)->linePosition.x, start) << number;
    }
}

// A key places one glyph and makes one glyph's GL objects whether the box
// is empty or holds 200 scrolled characters; the scroll is placed once, at
// the next draw.
TEST_F(Edit2DDraw, TypingIntoALongTextCostsWhatTypingIntoAnEmptyOneDoes)
{
    box.focused = true;
    const auto costOfTenKeys = [&] {
        const int placed = box.glyphPlacements;
        const std::int64_t objects = qvLiveGLObjects();
        type(std::u32string(10, U'W'));
        return std::pair(box.glyphPlacements - placed, qvLiveGLObjects() - objects);
    };
    const auto empty = costOfTenKeys();
    EXPECT_EQ(empty.first, 10);
    box.clear();
    type(std::u32string(200, U'W'));
    frame(0.0);
    EXPECT_EQ(costOfTenKeys(), empty);
    const int beforeDraw = box.glyphPlacements;
    frame(0.1);
    EXPECT_GE(box.glyphPlacements - beforeDraw, 200);  // the scroll, once per frame
    frame(0.2);
    EXPECT_LE(box.glyphPlacements - beforeDraw, 210);  // and nothing moved since
}

TEST_F(Edit2DDraw, DeletedGlyphsLeaveNoTransformOrGLObject)
{
    box.focused = true;
    const int nodes = treeNodes();
    const std::int64_t objects = qvLiveGLObjects();
    for (int round = 0; round < 10; ++round) {
        type(std::u32string(1000, U'a' + round));
        press(qvKeyLeft, 400);
        press(qvKeyDelete, 400);
        press(qvKeyBackspace, 600);
        ASSERT_EQ(box.glyphCount(), 0);
    }
    EXPECT_EQ(treeNodes(), nodes);
    EXPECT_EQ(qvLiveGLObjects(), objects);
    type(U"abc");
    box.setText("12");  // a text setter clears the same way
    EXPECT_EQ(treeNodes(), nodes + 2);
}

TEST_F(Edit2DDraw, ProgramTextValuesAndEnums)
{
    box.setText("Zoë");  // no number: nothing changes
    EXPECT_EQ(box.glyphCount(), 0);
    ASSERT_TRUE(box.setText("-42"));
    EXPECT_EQ(box.getValue(), -42);
    EXPECT_EQ(box.glyphCount(), 3);
    EXPECT_FALSE(box.setText("7 apples"));
    EXPECT_EQ(box.getValue(), -42);
    EXPECT_EQ(box.glyphCount(), 3);

    box.changeText("Привет");
    ASSERT_EQ(box.glyphCount(), 6);
    EXPECT_EQ(box.glyphAt(1)->name, "П");

    box.minValue = 0;
    box.maxValue = 5;
    box.setValue(7);
    EXPECT_EQ(box.getValue(), 5);
    EXPECT_EQ(box.glyphAt(1)->name, "5");

    box.minValue = -5;
    box.digitsOnly = true;
    box.setValue(-5);  // a value keeps its sign...
    EXPECT_EQ(box.glyphCount(), 2);
    type(U"-1");  // ...a typed minus is still refused
    EXPECT_EQ(box.glyphCount(), 3);

    box.digitsOnly = false;
    box.enumNames = {"Eco", "Power"};
    box.minValue = 0;
    box.maxValue = 1;
    box.setEnum("Eco", 0);
    box.nextEnum();
    EXPECT_EQ(box.getValue(), 1);
    EXPECT_EQ(box.glyphCount(), 5);
    box.nextEnum();  // clamped: stays on Power
    EXPECT_EQ(box.getValue(), 1);
    box.prevEnum();
    EXPECT_EQ(box.glyphCount(), 3);
}

TEST_F(Edit2DDraw, ClickFocusesExceptAReadOnlyBoxWhichIgnoresInput)
{
    QvMouseEventArgs click;
    (*box.onMouseButtonPress)(&box, &click);
    EXPECT_TRUE(box.focused);
    box.focused = false;
    box.readOnly = true;
    (*box.onMouseButtonPress)(&box, &click);
    EXPECT_FALSE(box.focused);
    EXPECT_FALSE(box.takesFocus());  // nor does the world give it focus
    type(U"x");
    press(qvKeyEnter);
    EXPECT_EQ(box.glyphCount(), 0);
    EXPECT_FALSE(box.optimized);
}

}  // namespace

namespace {

constexpr int kWindowWidth = 1024;
constexpr int kWindowHeight = 768;

// A scene that draws nothing itself, as the world sees it.
class InputScene : public QvScene {
public:
    InputScene() : QvScene(Bare{}, kWindowWidth, kWindowHeight, 1920, 1080, 3.3f) {}
};

// The name box and the read-only ticker in one widget, driven through the
// world as the window's callbacks drive it.
class Edit2DInput : public Edit2DDraw {
protected:
    void SetUp() override
    {
        Edit2DDraw::SetUp();
        auto owned = std::make_unique<InputScene>();
        scene = owned.get();
        world = std::make_unique<QvWorld>(std::move(owned), kWindowWidth, kWindowHeight, 1920, 1080, 3.3f);
        widget = std::make_unique<QvWidget3D>(scene);
        widget->onScreen = true;
        scene->widgets.push_back(widget.get());
        box.pickable = true;
        box.setId(1);
        widget->showComponent(&box);
        frame(0.0);  // picking projects the box with the matrices of its last draw
    }
    void click(int x, int y)
    {
        QvMouseEventArgs mouse;
        mouse.x = x;
        mouse.y = y;
        mouse.button = GLFW_MOUSE_BUTTON_LEFT;
        mouse.action = GLFW_PRESS;
        world->onMouseButtonPress(world.get(), &mouse);
        mouse.action = GLFW_RELEASE;
        world->onMouseButtonRelease(world.get(), &mouse);
    }
    void typeThroughWorld(std::u32string_view s)
    {
        for (char32_t c : s) {
            QvCharEventArgs args;
            args.codepoint = c;
            world->onChar(world.get(), &args);
        }
    }
    void keyThroughWorld(int code)
    {
        QvKeyboardEventArgs args;
        args.key = code;
        args.action = GLFW_PRESS;
        world->onKeyPress(world.get(), &args);
        world->onKeyDown(world.get(), &args);
        args.action = GLFW_RELEASE;
        world->onKeyPress(world.get(), &args);
        world->onKeyUp(world.get(), &args);
    }

    InputScene* scene = nullptr;
    std::unique_ptr<QvWorld> world;
    std::unique_ptr<QvWidget3D> widget;
};

TEST_F(Edit2DInput, ClickTypeAndEnterHandTheFullNameOn)
{
    std::u16string entered;
    box.enteredEvent += [&](QvEdit2D* sender, QvEventArgs*) { entered = sender->getText(); };
    click(kWindowWidth / 2, kWindowHeight / 2);
    ASSERT_TRUE(box.focused);
    typeThroughWorld(U"Zoë Жук");
    keyThroughWorld(GLFW_KEY_LEFT);
    keyThroughWorld(GLFW_KEY_BACKSPACE);  // the u goes
    keyThroughWorld(GLFW_KEY_ENTER);
    EXPECT_EQ(entered, u"Zoë Жк");

    // A click elsewhere takes the focus away: keys reach the scene again.
    click(5, 5);
    EXPECT_FALSE(box.focused);
    typeThroughWorld(U"x");
    EXPECT_EQ(box.glyphCount(), 6);
    QvKeyboardEventArgs w;
    w.key = GLFW_KEY_W;
    w.action = GLFW_PRESS;
    world->onKeyPress(world.get(), &w);
    EXPECT_TRUE(scene->keys[GLFW_KEY_W]);
}

TEST_F(Edit2DInput, ClickingTheReadOnlyTickerLeavesTheCameraKeysToTheScene)
{
    box.readOnly = true;
    box.setTicker(u"Velmorin");
    click(kWindowWidth / 2, kWindowHeight / 2);
    EXPECT_FALSE(box.focused);
    QvKeyboardEventArgs w;
    w.key = GLFW_KEY_W;
    w.action = GLFW_PRESS;
    world->onKeyPress(world.get(), &w);
    EXPECT_TRUE(scene->keys[GLFW_KEY_W]);
}

}  // namespace
