// The tracker inside the real scene: the pointer is moved on the X server's
// screen (also far outside the window) between frames, and the scene's
// Start/Stop and Clear operations run as the lower panel would call them.
#include "scene/qvscene.h"
#include "controls/qvcanvas.h"
#include "controls/qvlabel.h"
#include "controls/qvswitch.h"
#include "engine/core/qvdictionary.h"
#include "engine/core/qvtransform.h"
#include "engine/gl/qvloadimage.h"
#include "engine/shell/qvworld.h"
#include "engine/text/qvfont2d.h"
#include "game/qvgamerules.h"
#include "widgets/qvfpswidget3d.h"
#include "widgets/qvlowerpanelwidget3d.h"
#include "widgets/qvupperpanelwidget3d.h"
#include "glcontext.h"
#include "languagerun.h"
#include "tempfiles.h"

#include <gtest/gtest.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <utility>
#include <vector>

namespace {

constexpr int kWidth = 160;
constexpr int kHeight = 120;

// Puts the pointer at (x, y) of the whole screen.
void movePointer(int x, int y)
{
    Display* display = glfwGetX11Display();
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
    XSync(display, False);
}

// What a value label shows: the string text, or the characters of the glyph
// slots that a buffer text filled, read back from the font.
std::u16string shown(const QvLabel& label, const QvFont2D& font)
{
    if (!label.showsBuffer()) return label.text;
    std::u16string text;
    for (std::int64_t i = 0; i < label.cLength; ++i) {
        const Character2D* glyph = label.cGlyphs[std::size_t(i)].glyph;
        for (const auto& [code, character] : font.characters) {
            if (&character == glyph) text += code;
        }
    }
    return text;
}

// The Start/Stop switch as the world clicks it: the press flips the switch,
// the release starts or stops the tracker.
void click(QvMaterialObject& control)
{
    QvMouseEventArgs args;
    args.action = GLFW_PRESS;
    control.pressed = true;
    (*control.onMouseButtonPress)(&control, &args);
    args.action = GLFW_RELEASE;
    control.pressed = false;
    (*control.onMouseButtonRelease)(&control, &args);
}

// Pixels of the switch's on (red) and off (blue) box in the window's
// bottom-left corner, where the Start/Stop switch is the only control.
std::pair<int, int> redAndBlue(const std::uint8_t* rgb, int stride, int pixelBytes)
{
    int red = 0, blue = 0;
    for (int y = 0; y < kHeight / 12; ++y) {
        for (int x = 0; x < kWidth / 8; ++x) {
            const std::uint8_t* p = rgb + std::size_t(y) * stride + std::size_t(x) * pixelBytes;
            red += (p[0] > 150 && p[1] < 90 && p[2] < 130) ? 1 : 0;
            blue += (p[2] > 180 && p[0] < 90 && p[1] > 120) ? 1 : 0;
        }
    }
    return {red, blue};
}

struct TrackedScene {
    explicit TrackedScene(int screenWidth = 1920, int screenHeight = 1080)
        : context(kWidth, kHeight), scene(kWidth, kHeight, screenWidth, screenHeight, context.glslVersion())
    {
    }
    testsupport::GlContext context;
    QvScene scene;
    double t = 1.0;

    std::u16string shown(const std::unique_ptr<QvLabel>& label) const
    {
        return ::shown(*label, *scene.font2D);
    }

    void frame(double dt = 1.0 / 60.0)
    {
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        t += dt;
        scene.camera->frameTime = t;
        scene.renderScene();
    }
    void frameAt(int x, int y)
    {
        movePointer(x, y);
        frame();
    }
};

// The real world over the real scene, in the language `chosen`,
// clicked where the user clicks: the world picks, presses and releases the
// control and re-places it as the program does.
struct ClickedWorld {
    static constexpr int kSide = 640;
    static constexpr int kTall = 480;

    explicit ClickedWorld(Language chosen)
        : run(chosen), context(kSide, kTall), world(kSide, kTall, 1920, 1080, context.glslVersion())
    {
    }
    testsupport::LanguageRunDirectory run;
    testsupport::GlContext context;
    QvWorld world;
    double t = 1.0;

    QvSwitch& startStop() const { return *world.scene->lowerPanel->switchShading; }
    void frame()
    {
        glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
        t += 1.0 / 60.0;
        world.drawRequest(t);
    }
    // A corner (cx, cy of -1 or 1) of the front face of the Start/Stop
    // switch's box, in window pixels, rows from the bottom.
    glm::vec2 boxCorner(float cx, float cy) const
    {
        const QvSwitch& control = startStop();
        const Camera& camera = *world.scene->camera;
        const glm::vec4 clip = camera.getProjectionMatrix() * camera.getCameraMatrix() *
                               control.transform->getMatrix() *
                               glm::vec4(cx * control.size.width / 2, cy * control.size.height / 2,
                                         control.size.depth / 2, 1.0f);
        return {(clip.x / clip.w + 1.0f) * kSide / 2, (clip.y / clip.w + 1.0f) * kTall / 2};
    }
    void button(int action)
    {
        const glm::vec2 centre = (boxCorner(-1, -1) + boxCorner(1, 1)) / 2.0f;
        QvMouseEventArgs args;
        args.button = GLFW_MOUSE_BUTTON_LEFT;
        args.action = action;
        args.x = int(centre.x);
        args.y = kTall - 1 - int(centre.y);  // the world counts rows from the top
        if (action == GLFW_PRESS) world.onMouseButtonPress(&world, &args);
        if (action == GLFW_RELEASE) world.onMouseButtonRelease(&world, &args);
    }
    void click()
    {
        button(GLFW_PRESS);
        button(GLFW_RELEASE);
    }
    // Luma of the pixels inside the switch's box, two pixels in from its
    // edges, of an image of `pixelBytes` a pixel, rows from the bottom. JPEG
    // keeps luma whole but halves the colour, which smears thin white strokes
    // on a blue box.
    std::vector<int> box(const std::uint8_t* image, int stride, int pixelBytes) const
    {
        const glm::vec2 low = boxCorner(-1, -1), high = boxCorner(1, 1);
        std::vector<int> luma;
        for (int y = int(low.y) + 2; y < int(high.y) - 2; ++y) {
            for (int x = int(low.x) + 2; x < int(high.x) - 2; ++x) {
                const std::uint8_t* p = image + std::size_t(y) * stride + std::size_t(x) * pixelBytes;
                luma.push_back((299 * p[0] + 587 * p[1] + 114 * p[2]) / 1000);
            }
        }
        return luma;
    }
    std::vector<int> shownBox() const { return box(context.pixels().data(), 4 * kSide, 4); }
    // Nothing when there is no photo of the window's size.
    std::vector<int> photoBox() const
    {
        TextureLoader loader;
        const std::vector<std::uint8_t> photo = loader.loadImage("photo.jpeg");
        if (loader.getImageWidth() != kSide || loader.getImageHeight() != kTall) return {};
        return box(photo.data(), TextureLoader::scanLineWidth(kSide), 3);
    }
};

// Pixels of the white caption ink on the switch's coloured box.
int ink(const std::vector<int>& luma)
{
    return int(std::count_if(luma.begin(), luma.end(), [](int v) { return v > 215; }));
}

double meanDifference(const std::vector<int>& a, const std::vector<int>& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::abs(a[i] - b[i]);
    return a.empty() ? 0.0 : sum / double(a.size());
}

}  // namespace

TEST(TrackerScene, CountsOnlyMovementWhileTrackingIntoTheCanvases)
{
    TrackedScene s;
    s.frameAt(100, 100);
    s.frameAt(1500, 900);  // before the start, far outside the window
    s.scene.startTracker();
    EXPECT_TRUE(s.scene.tracking);
    s.frameAt(1530, 940);                    // 50 px
    s.frameAt(1530, 1000);                   // 60 px
    for (int i = 0; i < 40; ++i) s.frame();  // a rest of two thirds of a second
    EXPECT_DOUBLE_EQ(s.scene.tracker->odometer, 110.0);
    EXPECT_EQ(s.scene.routeCanvas->lineVertices.size(), 2u);
    EXPECT_FALSE(s.scene.speedCanvas->lineVertices.empty());
    ASSERT_EQ(s.scene.stopsCanvas->pointCoords.size(), 3u);
    EXPECT_EQ(s.scene.stopsCanvas->pointCoords[0], s.scene.routeCanvas->lineVertices.back().x);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));

    // The upper panel carries the units, the information monitor the bare
    // numbers.
    EXPECT_EQ(s.shown(s.scene.upperPanel->odometerValueLabel), u"110px");
    EXPECT_EQ(s.shown(s.scene.odometerValueLabel), u"110");
    EXPECT_EQ(s.shown(s.scene.upperPanel->speedValueLabel), u"0px/100ms");
    EXPECT_EQ(s.shown(s.scene.speedometerValueLabel), u"0");
    EXPECT_EQ(s.shown(s.scene.upperPanel->xCoordValueLabel), u"1530");
    EXPECT_EQ(s.shown(s.scene.yCoordValueLabel), u"1000");
    EXPECT_EQ(s.shown(s.scene.numberOfStopsValueLabel), u"1");
    EXPECT_EQ(s.shown(s.scene.timeValueLabel), u"00:00:00");
    // Both moves fell within 100 ms: (1500, 900) to (1530, 1000) is 104 px.
    EXPECT_EQ(s.shown(s.scene.maxSpeedValueLabel), u"104");

    s.scene.buttonClear();
    EXPECT_TRUE(s.scene.routeCanvas->lineVertices.empty());
    EXPECT_TRUE(s.scene.speedCanvas->lineVertices.empty());
    EXPECT_TRUE(s.scene.stopsCanvas->pointCoords.empty());
    EXPECT_DOUBLE_EQ(s.scene.tracker->odometer, 0.0);
    s.frameAt(1530, 1010);
    EXPECT_DOUBLE_EQ(s.scene.tracker->odometer, 10.0);
    EXPECT_TRUE(s.scene.tracking);
}

TEST(TrackerScene, FirstStartSwapsTheHelpTextForTheStatistics)
{
    TrackedScene s;
    const auto named = [&s](const char* name) {
        int count = 0;
        for (QvMaterialObject* object : s.scene.objects) count += object->name == name ? 1 : 0;
        return count;
    };
    EXPECT_EQ(named("QvModel_InfoText"), 1);
    s.scene.startTracker();
    s.scene.startTracker();
    s.scene.startTracker();
    EXPECT_EQ(named("QvModel_InfoText"), 0);
    EXPECT_EQ(named("QvModel_OdometerLabel"), 1);
    EXPECT_EQ(named("QvModel_TimeValueLabel"), 1);
    // The FPS panel's value is first written at 2 s.
    s.frame(0.5);
    EXPECT_EQ(s.shown(s.scene.fpsWidget->fpsValueLabel), u"0");
    s.frame(1.0);
    EXPECT_EQ(s.shown(s.scene.fpsWidget->fpsValueLabel), u"1");
}

// Stop writes the photo of the window as it is with the tracker stopped (the
// switch blue), even when nothing moved: a Start that follows before the
// next frame (the switch red again) neither loses nor retakes it.
TEST(TrackerScene, StopPhotoShowsTheStoppedWindowEvenWhenStartFollowsAtOnce)
{
    TrackedScene s;
    QvSwitch& startStop = *s.scene.lowerPanel->switchShading;
    s.frameAt(200, 200);
    click(startStop);
    s.frame();
    const std::vector<std::uint8_t> running = s.context.pixels();
    const int red = redAndBlue(running.data(), 4 * kWidth, 4).first;
    ASSERT_GT(red, 20) << "the switch shows red while tracking";

    std::filesystem::remove("photo.jpeg");
    click(startStop);  // Stop
    click(startStop);  // Start, in the same event poll
    EXPECT_TRUE(s.scene.tracking);
    s.frame();
    s.frame();
    TextureLoader loader;
    const std::vector<std::uint8_t> photo = loader.loadImage("photo.jpeg");
    ASSERT_EQ(loader.getImageWidth(), kWidth);
    ASSERT_EQ(loader.getImageHeight(), kHeight);
    const auto [photoRed, photoBlue] = redAndBlue(photo.data(), TextureLoader::scanLineWidth(kWidth), 3);
    EXPECT_EQ(photoRed, 0);
    EXPECT_GT(photoBlue, red / 2);
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

// The photo at Stop shows the Start/Stop switch as the window shows it right
// after the click, caption and all, whether the click was quick or slow and
// whether Start or a quit follows at once.
TEST(TrackerScene, StopPhotoShowsTheSwitchCaptionAsTheWindowShowsIt)
{
    for (const Language language : {English, Russian}) {
        SCOPED_TRACE(language);
        ClickedWorld w(language);
        QvSwitch& startStop = w.startStop();
        w.frame();
        w.click();  // Start
        w.frame();
        ASSERT_TRUE(w.world.scene->tracking);

        // A quick Stop, nothing after it: the next frame is what the user sees.
        std::filesystem::remove("photo.jpeg");
        w.click();
        const std::vector<int> quick = w.photoBox();
        w.frame();
        const std::vector<int> shown = w.shownBox();
        EXPECT_EQ(startStop.getLabel(), w.world.scene->dictionary->text(language, 1));
        ASSERT_GT(ink(shown), 40) << "the window shows the caption";

        // A quick Stop with Start at once, and a slow Stop with a quit at once.
        w.click();
        w.frame();
        std::filesystem::remove("photo.jpeg");
        w.click();
        w.click();
        const std::vector<int> thenStart = w.photoBox();
        w.frame();
        std::filesystem::remove("photo.jpeg");
        w.button(GLFW_PRESS);
        w.frame();
        w.frame();
        w.button(GLFW_RELEASE);
        QvEventArgs quit;
        w.world.onQuit(&w.world, &quit);
        const std::vector<int> slow = w.photoBox();

        for (const std::vector<int>* photo : {&quick, &thenStart, &slow}) {
            ASSERT_EQ(photo->size(), shown.size());
            // JPEG error alone; an empty box strays by 10 and more.
            EXPECT_LT(meanDifference(*photo, shown), 5.0);
            EXPECT_NEAR(ink(*photo), ink(shown), ink(shown) / 4);
        }
    }
}

// The scene is told a primary monitor smaller than the X screen (as one
// monitor of a wider desktop): the route maps the pointer by the size of the
// screen it moves on, so its far corner still lands on the face's.
TEST(TrackerScene, RouteMapsThePointerByTheXScreenItMovesOn)
{
    testsupport::GlContext probe;
    Display* display = glfwGetX11Display();
    const int rootWidth = DisplayWidth(display, DefaultScreen(display));
    const int rootHeight = DisplayHeight(display, DefaultScreen(display));
    TrackedScene s(rootWidth / 2, rootHeight / 2);
    s.frameAt(0, 0);
    s.scene.startTracker();
    s.frameAt(rootWidth - 1, rootHeight - 1);
    ASSERT_EQ(s.scene.routeCanvas->lineVertices.size(), 1u);
    const glm::vec3 corner = s.scene.routeCanvas->lineVertices[0];
    EXPECT_NEAR(corner.x, (1.0 - 2.0 / rootWidth) / 1.11, 1e-5);
    EXPECT_NEAR(corner.y, (2.0 / rootHeight - 1.0) / 1.11, 1e-5);
}

TEST(TrackerScene, RouteOutOfViewStillReachesItsBuffer)
{
    // The camera faces the information monitor: the route canvas is out of
    // view and draws no overlay, but what the route gains is still sent, so
    // nothing is stale when the camera turns to it.
    TrackedScene s;
    s.frameAt(300, 300);
    s.scene.startTracker();
    s.frameAt(310, 300);
    EXPECT_EQ(s.scene.routeCanvas->overlayBytesLastFrame(), 12u);
    s.scene.buttonClear();
    s.frameAt(320, 300);
    s.frameAt(330, 300);
    EXPECT_EQ(s.scene.routeCanvas->overlayBytesLastFrame(), 12u);
    s.scene.camera->moveUpDown(-1.0);
    s.frameAt(340, 300);
    EXPECT_EQ(s.scene.routeCanvas->overlayBytesLastFrame(), 12u + 12u) << "the line and the cursor";
    EXPECT_EQ(glGetError(), GLenum(GL_NO_ERROR));
}

TEST(TrackerScene, UnwritablePhotoIsReportedInOneLineAndTrackingGoesOn)
{
    TrackedScene s;
    // Resources are read at construction; the photo goes where the program
    // works, here a folder in which "photo.jpeg" is a folder itself.
    const std::filesystem::path before = std::filesystem::current_path();
    const std::filesystem::path folder = testsupport::tempPath("unwritable");
    std::filesystem::create_directories(folder / "photo.jpeg");
    std::filesystem::current_path(folder);
    s.frameAt(400, 400);
    s.scene.startTracker();
    s.frameAt(410, 400);
    testing::internal::CaptureStdout();
    s.scene.startTracker();
    const std::string output = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(before);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(output, "ERROR! Image photo.jpeg could not be written: "
                      "cannot put the new file in place of photo.jpeg: Is a directory\n");
    s.scene.startTracker();
    s.frameAt(420, 400);
    EXPECT_DOUBLE_EQ(s.scene.tracker->odometer, 20.0);
}
