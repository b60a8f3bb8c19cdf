// The tracker's statistics without any drawing: it takes one frame at a time
// (the frame's time and the pointer's screen position) and the Start/Stop and
// Clear commands, and keeps the odometer, speed, maximum, position, stops,
// the tracked time and the frame rate, the route, speed and stops plots in
// the canvases' coordinates, and the text each statistics label should show.
// The scene feeds it every frame and copies its results into the labels and
// canvases; the tests drive it with hand-made timings.
#pragma once

#include "controls/qvplotlist.h"

#include <array>
#include <cstdint>
#include <vector>

#include <glm/vec3.hpp>

// The labels the tracker writes: the upper HUD panel's carry units, the
// information monitor's show bare numbers.
enum class TrackerLabel : int {
    upperOdometer,    // 1234px
    monitorOdometer,  // 1234
    upperSpeed,       // 37px/100ms
    monitorSpeed,     // 37
    upperX,
    monitorX,
    upperY,
    monitorY,
    monitorMaxSpeed,
    monitorStops,
    monitorTime,  // HH:MM:SS
    fps,          // the FPS panel's value
    count
};

// Where the plots go. The model keeps lists of its own, but the scene points
// it at the canvases' lists so that a long route is stored once; they are
// plot lists, so each canvas knows what to send of them.
struct TrackerPlots {
    QvPlotList<glm::vec3>* route = nullptr;  // line strip, x and y in -0.9009..0.9009
    QvPlotList<glm::vec3>* speed = nullptr;  // line strip, one point per sample tick
    QvPlotList<float>* stops = nullptr;      // x, y, z per stop point
};

// What a frame asks of its caller besides the labels and plots.
struct TrackerFrame {
    bool keysTick = false;  // camera keys and the title's sway step now
};

class TrackerModel {
public:
    static constexpr double kKeysInterval = 0.016;
    static constexpr double kSampleInterval = 0.016;
    static constexpr double kSpeedInterval = 0.1;
    static constexpr double kPlotInterval = 0.016;
    static constexpr double kFpsInterval = 2.0;
    static constexpr double kStopDelay = 0.5;
    static constexpr double kSpeedPlotCeiling = 1000.0;  // px per 100 ms
    // The whole screen is drawn on 1 / 1.11 of the canvas face's half-size.
    static constexpr float kPlotShrink = 1.11f;
    static constexpr int kLabelCount = int(TrackerLabel::count);

    TrackerModel(int screenWidth, int screenHeight);
    TrackerModel(const TrackerModel&) = delete;
    TrackerModel& operator=(const TrackerModel&) = delete;

    // Sends the plots into the given lists from now on (null keeps the
    // model's own list for that plot).
    void attachPlots(const TrackerPlots& plots);

    // The size of the area the pointer moves in (the X screen, every monitor
    // of the desktop); route points map by it from the next sample on, those
    // plotted before stay. An empty size keeps the last one. It starts as the
    // screen size given at construction.
    void setPointerArea(int width, int height);

    // One frame at time t (seconds, never decreasing). (x, y) is the pointer
    // in screen pixels; pointerKnown false (no X display, pointer on another
    // screen) skips this frame's pointer sample rather than measuring a jump
    // to a made-up position, and the next known position is measured from
    // itself, as after a start.
    TrackerFrame frame(double t, double x, double y, bool pointerKnown = true);

    // Starts or stops tracking. (x, y) is the pointer now: a start measures
    // from there, so movement while tracking was off never counts. Returns
    // true when this call stopped the tracker (the window is to be saved).
    bool toggle(double x, double y, bool pointerKnown = true);

    // Empties the three plots and zeroes odometer, plot counter and maximum;
    // the clock, the tracking state and the labels' texts stay.
    void clear();

    // Labels written since the last takeChangedLabels (one bit per
    // TrackerLabel), then forgets them.
    std::uint32_t takeChangedLabels();
    // Writes the label's current text into buffer (terminated) and returns its
    // length; capacity is the buffer's size in units (at least 30 for every
    // label's longest text).
    int labelText(TrackerLabel label, char16_t* buffer, int capacity) const;

    bool tracking = false;
    bool stopped = true;        // no movement at the last pointer sample
    double odometer = 0.0;      // screen pixels
    double speed = 0.0;         // px per 100 ms, whole
    double maxSpeed = 0.0;      // greatest speed since the last clear
    std::int64_t pointerX = 0;  // whole screen pixels of the last sample
    std::int64_t pointerY = 0;
    double trackedSeconds = 0.0;  // all tracking runs since construction
    double fps = 1000.0;          // rate of the latest frame
    double plotCounter = 0.0;     // x of the next speed-plot point, screen pixels

    const QvPlotList<glm::vec3>& route() const { return *_plots.route; }
    const QvPlotList<glm::vec3>& speedPlot() const { return *_plots.speed; }
    const QvPlotList<float>& stopPoints() const { return *_plots.stops; }
    // Stops recorded so far (the stops label's number).
    std::int64_t stopCount() const { return std::int64_t(_plots.stops->size() / 3); }

private:
    // The pixel (x, y), y downward, of a width x height area in normalised
    // device coordinates.
    static glm::vec3 _device(double x, double y, int width, int height);
    void _prime(std::int64_t x, std::int64_t y, double t);
    void _samplePointer(double t, std::int64_t x, std::int64_t y);
    void _sampleSpeed(double t, std::int64_t x, std::int64_t y);
    void _settleSpeed(std::int64_t x, std::int64_t y);
    void _plotSpeed();
    void _tickClock();
    void _checkStop(double t);
    void _write(TrackerLabel label, std::int64_t value);

    int _screenWidth;  // the speed plot's time axis and height
    int _screenHeight;
    int _areaWidth;  // the route's: where the pointer moves
    int _areaHeight;
    QvPlotList<glm::vec3> _ownRoute;
    QvPlotList<glm::vec3> _ownSpeed;
    QvPlotList<float> _ownStops;
    TrackerPlots _plots;

    bool _primed = false;  // the first frame has taken the pointer's position
    std::int64_t _speedSampleX = 0;
    std::int64_t _speedSampleY = 0;
    double _lastFrameTime = 0.0;
    double _lastMoveTime = 0.0;
    double _lastKeysTime = 0.0;
    double _lastSampleTime = 0.0;
    double _lastSpeedTime = 0.0;
    double _lastPlotTime = 0.0;
    double _lastFpsTime = 0.0;
    bool _clockRunning = false;  // the previous frame was tracked too
    std::array<std::int64_t, kLabelCount> _values{};
    std::uint32_t _written = 0;  // labels that have a value of ours
    std::uint32_t _changed = 0;
};
