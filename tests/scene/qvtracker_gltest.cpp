// The tracker inside the real scene: the pointer is moved on the X server's
// screen (also far outside the window) between frames, and the scene's
// Start/Stop and Clear operations run as the lower panel would call them.
#include "scene/qvscene.h"
#include "controls/qvcanvas.h"
#include "controls/qvlabel.h"
#include "engine/text/qvfont2d.h"
#include "widgets/qvfpswidget3d.h"
#include "widgets/qvupperpanelwidget3d.h"
#include "glcontext.h"
#include "tempfiles.h"

#include <gtest/gtest.h>
#include <epoxy/gl.h>
#include <GLFW/glfw3.h>
#define GLFW_EXPOSE_NATIVE_X11
#include <GLFW/glfw3native.h>
#include <X11/Xlib.h>

#include <filesystem>

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

struct TrackedScene {
    testsupport::GlContext context{kWidth, kHeight};
    QvScene scene{kWidth, kHeight, 1920, 1080, context.glslVersion()};
    double t = 1.0;

    std::u16string shown(const std::unique_ptr<QvLabel>& label) const
    {
        return ::shown(*label, *scene.font2D);
    }

    void frame(double dt = 1.0 / 60.0)
    {
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

TEST(TrackerScene, StopSavesTheWindowAtTheEndOfTheNextFrame)
{
    TrackedScene s;
    s.frameAt(200, 200);
    s.scene.startTracker();
    s.frame();
    std::filesystem::remove("photo.jpeg");
    s.scene.startTracker();  // nothing moved: the photo is taken all the same
    EXPECT_FALSE(s.scene.tracking);
    s.frame();
    EXPECT_TRUE(std::filesystem::exists("photo.jpeg"));
    std::filesystem::remove("photo.jpeg");
    s.frame();
    EXPECT_FALSE(std::filesystem::exists("photo.jpeg")) << "one photo per stop";
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
    s.scene.startTracker();
    testing::internal::CaptureStdout();
    s.frame();
    const std::string output = testing::internal::GetCapturedStdout();
    std::filesystem::current_path(before);
    std::filesystem::remove_all(folder);
    EXPECT_EQ(output, "ERROR! Image photo.jpeg could not be written\n");
    s.scene.startTracker();
    s.frameAt(420, 400);
    EXPECT_DOUBLE_EQ(s.scene.tracker->odometer, 20.0);
}
