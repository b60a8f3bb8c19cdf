// The tracker's statistics driven frame by frame with hand-made timings and
// pointer paths whose lengths, speeds and resting places are known.
#include "scene/qvtrackermodel.h"
#include "scene/qvtrackertext.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

constexpr double kFrame = 1.0 / 60.0;

std::string narrow(const char16_t* units, int length)
{
    std::string text;
    for (int i = 0; i < length; ++i) text += char(units[i]);
    return text;
}

// A model on a 1920 x 1080 screen (unless told otherwise), its clock and the
// pointer; the first frame at t = 0 primes the pointer at (100, 100).
struct Session {
    TrackerModel model;
    double t = 0.0;
    double x = 100.0;
    double y = 100.0;

    explicit Session(int screenWidth = 1920, int screenHeight = 1080) : model(screenWidth, screenHeight)
    {
        model.frame(t, x, y);
    }
    TrackerFrame frame(double dt = kFrame)
    {
        t += dt;
        return model.frame(t, x, y);
    }
    bool toggle() { return model.toggle(x, y); }
    // Moves the pointer by (dx, dy) on each of `frames` frames.
    void move(double dx, double dy, int frames, double dt = kFrame)
    {
        for (int i = 0; i < frames; ++i) {
            x += dx;
            y += dy;
            frame(dt);
        }
    }
    void rest(double seconds, double dt = kFrame)
    {
        const double end = t + seconds;
        while (t < end) frame(dt);
    }
    std::string text(TrackerLabel label) const
    {
        char16_t buffer[100];
        const int length = model.labelText(label, buffer, 100);
        EXPECT_EQ(buffer[length], 0) << "terminated";
        return narrow(buffer, length);
    }
    bool changed(TrackerLabel label) { return (model.takeChangedLabels() >> int(label)) & 1u; }
};

TEST(TrackerText, IntegersInDecimalWithSignAndTerminator)
{
    char16_t buffer[qvIntTextCapacity];
    const struct {
        std::int64_t value;
        const char* text;
    } cases[] = {{0, "0"},
                 {-7, "-7"},
                 {305, "305"},
                 {std::numeric_limits<std::int64_t>::max(), "9223372036854775807"},
                 {std::numeric_limits<std::int64_t>::min(), "-9223372036854775808"}};
    for (const auto& c : cases) {
        const int length = qvIntToStr(c.value, buffer);
        EXPECT_EQ(narrow(buffer, length), c.text);
        EXPECT_EQ(buffer[length], 0);
    }
}

TEST(TrackerText, AppendStopsAtCapacityKeepingTheTerminator)
{
    char16_t buffer[6];
    int length = qvIntToStr(42, buffer);
    length = qvAppendText(buffer, length, 6, u"px/100ms");
    EXPECT_EQ(narrow(buffer, length), "42px/");
    EXPECT_EQ(buffer[5], 0);
}

TEST(TrackerText, ClockWrapsHoursAtTwentyFour)
{
    char16_t buffer[9];
    const struct {
        std::int64_t seconds;
        const char* text;
    } cases[] = {{0, "00:00:00"},     {3599, "00:59:59"},  {3600, "01:00:00"},
                 {86399, "23:59:59"}, {86400, "00:00:00"}, {90061, "01:01:01"}};
    for (const auto& c : cases) {
        EXPECT_EQ(qvClockText(c.seconds, buffer), qvClockTextLength);
        EXPECT_EQ(narrow(buffer, qvClockTextLength), c.text);
    }
}

TEST(TrackerOdometer, PathLengthShownAsSoonAsThePointerRests)
{
    Session run;
    run.toggle();
    run.move(3.0, 4.0, 10);  // 50 px
    run.move(-6.0, 0.0, 5);  // 30 px
    run.move(0.0, -1.0, 7);  // 7 px
    run.model.takeChangedLabels();
    run.rest(1.0);
    EXPECT_DOUBLE_EQ(run.model.odometer, 87.0);
    // The labels were written with the last sample's distance already added.
    EXPECT_EQ(run.text(TrackerLabel::upperOdometer), "87px");
    EXPECT_EQ(run.text(TrackerLabel::monitorOdometer), "87");
    EXPECT_EQ(run.text(TrackerLabel::upperX), "100");
    EXPECT_EQ(run.text(TrackerLabel::monitorY), "133");
    EXPECT_EQ(run.model.route().size(), 22u);
}

TEST(TrackerOdometer, MovementWhileStoppedNeverCounts)
{
    Session run;
    run.move(500.0, 0.0, 1);  // before the first start
    run.toggle();
    run.move(10.0, 0.0, 1);
    run.toggle();
    run.move(0.0, 700.0, 3);  // between runs
    run.rest(1.0);
    run.toggle();
    run.move(0.0, -5.0, 1);
    run.rest(0.1);
    EXPECT_DOUBLE_EQ(run.model.odometer, 15.0);
}

TEST(TrackerOdometer, SixtyFourBitTotalAndFractionalPixelsTruncated)
{
    Session run;
    run.toggle();
    run.x = 3.0e9 + 0.75;  // a sample far beyond 32 bits, fraction dropped
    run.frame();
    EXPECT_EQ(run.text(TrackerLabel::upperOdometer), "2999999900px");
    EXPECT_EQ(run.text(TrackerLabel::monitorX), "3000000000");
}

// The pointer leaves for another X screen (or the display is lost) and comes
// back far from where it left: the way between was not seen, so it is not
// counted; the next move is measured from where the pointer reappeared.
TEST(TrackerOdometer, PointerBackFromUnknownMeasuresFromWhereItReappears)
{
    Session run;
    run.toggle();
    run.move(3.0, 4.0, 1);  // 5 px
    run.model.frame(run.t += kFrame, 0.0, 0.0, false);
    run.model.frame(run.t += kFrame, std::nan(""), 5.0);
    run.x = 900.0;
    run.y = 700.0;
    run.frame();
    EXPECT_DOUBLE_EQ(run.model.odometer, 5.0);
    EXPECT_EQ(run.model.route().size(), 1u);
    run.move(6.0, 8.0, 1);
    EXPECT_DOUBLE_EQ(run.model.odometer, 15.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorX), "906");
}

TEST(TrackerSpeed, ScaledToHundredMillisecondsOfElapsedTime)
{
    // Slow frames: 125 ms each, 125 px each, so 100 px per 100 ms.
    Session run;
    run.toggle();
    run.move(125.0, 0.0, 3, 0.125);
    EXPECT_DOUBLE_EQ(run.model.speed, 100.0);
    EXPECT_EQ(run.text(TrackerLabel::upperSpeed), "100px/100ms");
    EXPECT_EQ(run.text(TrackerLabel::monitorSpeed), "100");
    EXPECT_EQ(run.text(TrackerLabel::monitorMaxSpeed), "100");
}

TEST(TrackerSpeed, RestRestartsTheReference)
{
    // 6 px a frame at 60 frames a second is 36 px per 100 ms.
    Session run;
    run.toggle();
    run.move(6.0, 0.0, 30);
    EXPECT_NEAR(run.model.speed, 36.0, 1.0);
    run.rest(3.0);
    EXPECT_EQ(run.text(TrackerLabel::upperSpeed), "0px/100ms");
    EXPECT_EQ(run.text(TrackerLabel::monitorSpeed), "0");
    // Neither the distance before the rest nor the rest's duration enter the
    // first speed after it.
    run.move(6.0, 0.0, 8);
    EXPECT_NEAR(run.model.speed, 36.0, 1.0);
    EXPECT_LE(run.model.maxSpeed, 37.0);
}

TEST(TrackerSpeed, FlickShorterThanASampleStillSetsTheMaximum)
{
    Session run;
    run.toggle();
    run.rest(1.0);
    run.move(30.0, 40.0, 3);  // 150 px in 50 ms, then a rest
    run.frame();
    EXPECT_DOUBLE_EQ(run.model.maxSpeed, 150.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorMaxSpeed), "150");
    EXPECT_EQ(run.text(TrackerLabel::upperSpeed), "0px/100ms");
}

TEST(TrackerSpeed, AboveCeilingPlottedAtCeilingWhileMaximumKeepsIt)
{
    Session run(1920, 1080);
    run.toggle();
    run.move(1500.0, 0.0, 1, 0.125);  // 1200 px per 100 ms
    EXPECT_EQ(run.text(TrackerLabel::monitorMaxSpeed), "1200");
    EXPECT_DOUBLE_EQ(run.model.maxSpeed, 1200.0);
    EXPECT_DOUBLE_EQ(run.model.speed, 1000.0);
    ASSERT_FALSE(run.model.speedPlot().empty());
    // 1000 px of a 1080 px high screen, measured upward from the bottom.
    const float expected = float((2.0 * 1000.0 / 1080.0 - 1.0) / 1.11);
    EXPECT_NEAR(run.model.speedPlot().back().y, expected, 1e-6);

    // A screen lower than the ceiling has no room above its own height: the
    // fastest points lie on the face's top edge, half the height in the middle.
    Session low(1024, 768);
    low.toggle();
    low.move(1500.0, 0.0, 1, 0.125);
    low.move(480.0, 0.0, 1, 0.125);  // 384 px per 100 ms
    ASSERT_EQ(low.model.speedPlot().size(), 2u);
    EXPECT_NEAR(low.model.speedPlot()[0].y, 1.0f / 1.11f, 1e-6);
    EXPECT_NEAR(low.model.speedPlot()[1].y, 0.0f, 1e-6);
}

// Two 1920 x 1080 monitors side by side: the scene knows the primary's size,
// the pointer moves on the 3840 x 1080 desktop and its far corner lands on
// the face. Once the second monitor is gone the next samples map by the one
// left; what was plotted stays.
TEST(TrackerPlots, RouteMapsTheWholeDesktopOntoTheFace)
{
    Session run(1920, 1080);
    run.model.setPointerArea(3840, 1080);
    run.toggle();
    run.x = 3839.0;
    run.frame();
    run.model.setPointerArea(1920, 1080);
    run.x = 1440.0;
    run.frame();
    const std::vector<glm::vec3>& route = run.model.route();
    ASSERT_EQ(route.size(), 2u);
    EXPECT_NEAR(route[0].x, (2.0 * 3839.0 / 3840.0 - 1.0) / 1.11, 1e-6);
    EXPECT_NEAR(route[1].x, 0.5 / 1.11, 1e-6);
}

TEST(TrackerPlots, RouteMapsTheScreenOntoTheCanvasSquare)
{
    Session run(1000, 500);
    run.toggle();
    run.x = 0.0;
    run.y = 0.0;
    run.frame();
    run.x = 1000.0;
    run.y = 500.0;
    run.frame();
    run.x = 500.0;
    run.y = 125.0;
    run.frame();
    const std::vector<glm::vec3>& route = run.model.route();
    ASSERT_EQ(route.size(), 3u);
    const float edge = 1.0f / 1.11f;  // 0.9009
    EXPECT_NEAR(route[0].x, -edge, 1e-6);
    EXPECT_NEAR(route[0].y, edge, 1e-6);  // top left of the screen is up
    EXPECT_NEAR(route[1].x, edge, 1e-6);
    EXPECT_NEAR(route[1].y, -edge, 1e-6);
    EXPECT_NEAR(route[2].x, 0.0f, 1e-6);
    EXPECT_NEAR(route[2].y, edge / 2.0f, 1e-6);
}

TEST(TrackerPlots, SpeedPlotStartsAgainAfterScreenWidthPoints)
{
    Session run(40, 30);
    run.toggle();
    run.move(1.0, 0.0, 40);
    ASSERT_EQ(run.model.speedPlot().size(), 40u);
    const float left = -1.0f / 1.11f;
    EXPECT_NEAR(run.model.speedPlot().front().x, left, 1e-6);
    run.move(1.0, 0.0, 5);
    // Point 41 starts an empty line at the left edge; memory stays bounded.
    ASSERT_EQ(run.model.speedPlot().size(), 5u);
    EXPECT_NEAR(run.model.speedPlot().front().x, left, 1e-6);
    run.move(1.0, 0.0, 1000);
    EXPECT_LE(run.model.speedPlot().size(), 40u);
    EXPECT_EQ(run.model.route().size(), 1045u);
}

TEST(TrackerPlots, AttachedListsReceiveThePoints)
{
    QvPlotList<glm::vec3> route;
    QvPlotList<glm::vec3> speed;
    QvPlotList<float> stops;
    Session run;
    run.model.attachPlots({&route, &speed, &stops});
    run.toggle();
    run.move(2.0, 0.0, 3);
    run.rest(1.0);
    EXPECT_EQ(route.size(), 3u);
    EXPECT_FALSE(speed.empty());
    EXPECT_EQ(stops.size(), 3u);
    EXPECT_EQ(&run.model.route(), &route);
}

TEST(TrackerStops, OneStopPerRestingPlace)
{
    Session run;
    run.toggle();
    run.rest(1.0);  // resting before any movement: no route, no stop
    EXPECT_EQ(run.model.stopCount(), 0);
    EXPECT_EQ(run.text(TrackerLabel::monitorStops), "0");

    run.move(5.0, 0.0, 10);
    run.rest(0.4);
    EXPECT_EQ(run.model.stopCount(), 0) << "shorter than half a second";
    run.rest(3.0);
    ASSERT_EQ(run.model.stopCount(), 1) << "one point however long the rest";
    const glm::vec3 last = run.model.route().back();
    EXPECT_EQ(run.model.stopPoints()[0], last.x);
    EXPECT_EQ(run.model.stopPoints()[1], last.y);

    // Away and back to the same place: the rest there is the same stop.
    run.move(0.0, 3.0, 4);
    run.move(0.0, -3.0, 4);
    run.rest(1.0);
    EXPECT_EQ(run.model.stopCount(), 1);

    run.move(0.0, 7.0, 2);
    run.rest(0.6);
    EXPECT_EQ(run.model.stopCount(), 2);
    EXPECT_EQ(run.text(TrackerLabel::monitorStops), "2");
}

TEST(TrackerStops, RestAfterStopStillRecorded)
{
    Session run;
    run.toggle();
    run.move(4.0, 4.0, 5);
    run.rest(0.1);  // the click on Stop
    run.toggle();
    EXPECT_EQ(run.model.stopCount(), 0);
    run.rest(0.6);
    EXPECT_EQ(run.model.stopCount(), 1);
}

TEST(TrackerCommands, StopAsksForTheScreenshotEvenWithoutMovement)
{
    Session run;
    EXPECT_FALSE(run.toggle());
    run.rest(0.2);
    EXPECT_TRUE(run.toggle());
    EXPECT_FALSE(run.model.tracking);
}

TEST(TrackerCommands, RestartKeepsPlotsOdometerAndClock)
{
    Session run;
    run.toggle();
    run.move(10.0, 0.0, 12);
    run.rest(2.5);
    run.toggle();
    const std::string clock = run.text(TrackerLabel::monitorTime);
    const std::size_t routeSize = run.model.route().size();
    run.rest(5.0);  // untracked time is not on the clock
    run.toggle();
    run.frame();
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), clock);
    EXPECT_EQ(run.model.route().size(), routeSize);
    EXPECT_EQ(run.model.stopCount(), 1);
    EXPECT_DOUBLE_EQ(run.model.odometer, 120.0);
    EXPECT_EQ(clock, "00:00:02");
}

TEST(TrackerCommands, ClearWhileTrackingRestartsFromZeroButNotTheClock)
{
    Session run;
    run.toggle();
    run.move(50.0, 0.0, 12);
    run.rest(1.0);
    ASSERT_GT(run.model.maxSpeed, 0.0);
    run.model.clear();
    EXPECT_TRUE(run.model.route().empty());
    EXPECT_TRUE(run.model.speedPlot().empty());
    EXPECT_TRUE(run.model.stopPoints().empty());
    EXPECT_DOUBLE_EQ(run.model.maxSpeed, 0.0);
    EXPECT_TRUE(run.model.tracking);
    run.rest(1.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "00:00:02");
    EXPECT_EQ(run.model.stopCount(), 0);
    run.move(0.0, 2.0, 3);
    EXPECT_EQ(run.text(TrackerLabel::upperOdometer), "6px");
    // The speed plot restarted from the left edge.
    EXPECT_NEAR(run.model.speedPlot().front().x, -1.0f / 1.11f, 1e-6);
}

TEST(TrackerClock, FirstTickShowsZeroAndSecondsAreNotLost)
{
    Session run;
    run.rest(0.5);
    run.toggle();
    run.frame();
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "00:00:00");
    // An hour of frames at 60 a second: counting late 1 s ticks would lose
    // about a minute here.
    for (int i = 0; i <= 3600 * 60; ++i) run.frame();
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "01:00:00");
}

TEST(TrackerClock, HourAndDayRollOver)
{
    Session run;
    run.toggle();
    run.frame(0.25);
    // Quarter-second frames keep a day of tracking quick to drive.
    auto until = [&run](double seconds) {
        while (run.model.trackedSeconds + 1e-9 < seconds) run.frame(0.25);
    };
    until(3599.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "00:59:59");
    until(3600.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "01:00:00");
    until(86399.0);
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "23:59:59");
    run.model.takeChangedLabels();
    until(86400.0);
    EXPECT_TRUE(run.changed(TrackerLabel::monitorTime));
    EXPECT_EQ(run.text(TrackerLabel::monitorTime), "00:00:00");
}

TEST(TrackerFps, FirstWrittenAtTwoSecondsThenEveryTwo)
{
    Session run;
    run.model.takeChangedLabels();
    run.frame(0.5);
    run.frame(0.5);
    run.frame(0.5);
    EXPECT_FALSE(run.changed(TrackerLabel::fps)) << "t = 1.5";
    run.frame(0.5);
    EXPECT_TRUE(run.changed(TrackerLabel::fps)) << "t = 2.0";
    EXPECT_EQ(run.text(TrackerLabel::fps), "2");
    run.frame(0.25);
    EXPECT_FALSE(run.changed(TrackerLabel::fps));
    run.rest(1.75, 0.25);
    EXPECT_TRUE(run.changed(TrackerLabel::fps)) << "t = 4.0, the rate of that frame";
    EXPECT_EQ(run.text(TrackerLabel::fps), "4");
}

TEST(TrackerTiming, TenHoursInEveryTickStillFiresEachFrame)
{
    Session run;
    run.t = 36000.0;
    run.frame();
    run.toggle();
    int keyTicks = 0;
    for (int i = 0; i < 600; ++i) {
        run.x += 1.0;
        keyTicks += run.frame().keysTick ? 1 : 0;
    }
    EXPECT_EQ(keyTicks, 600);
    EXPECT_EQ(run.model.route().size(), 600u);
    EXPECT_EQ(run.model.speedPlot().size(), 600u);
}

TEST(TrackerLabels, UnchangedValuesAreNotRewritten)
{
    Session run;
    run.toggle();
    run.move(3.0, 0.0, 8);
    run.model.takeChangedLabels();
    run.frame();  // first rest writes the zero speed
    EXPECT_TRUE(run.changed(TrackerLabel::upperSpeed));
    run.frame();
    const std::uint32_t changed = run.model.takeChangedLabels();
    EXPECT_EQ(changed, 0u) << "a resting pointer rewrites nothing";
}

}  // namespace
