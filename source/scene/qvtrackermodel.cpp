// TrackerModel: the per-frame steps of the tracker in their fixed order
// (frame rate, key tick, first-frame priming, pointer sample with route point,
// odometer, position and speed sample, speed-plot wrap and point, clock, FPS,
// stop check) and the Start/Stop and Clear commands.
#include "scene/qvtrackermodel.h"

#include "scene/qvtrackertext.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr char16_t kPixelUnit[] = u"px";
constexpr char16_t kSpeedUnit[] = u"px/100ms";
// The longest label text: a 64-bit number with sign, the speed unit and the
// terminator.
constexpr int kLabelTextCapacity = qvIntTextCapacity + 8;

constexpr std::uint32_t bit(TrackerLabel label)
{
    return std::uint32_t(1) << int(label);
}

// Whole pixels of a screen coordinate; callers reject non-finite input first.
// Limited far beyond any screen, so the conversion is always defined.
std::int64_t wholePixel(double value)
{
    constexpr double kFarthest = 1.0e15;
    return std::int64_t(std::clamp(std::trunc(value), -kFarthest, kFarthest));
}

double distance(std::int64_t x0, std::int64_t y0, std::int64_t x1, std::int64_t y1)
{
    return std::hypot(double(x1 - x0), double(y1 - y0));
}

}  // namespace

TrackerModel::TrackerModel(int screenWidth, int screenHeight)
    : _screenWidth(screenWidth > 0 ? screenWidth : 1),
      _screenHeight(screenHeight > 0 ? screenHeight : 1),
      _areaWidth(_screenWidth),
      _areaHeight(_screenHeight)
{
    _plots = {&_ownRoute, &_ownSpeed, &_ownStops};
}

void TrackerModel::attachPlots(const TrackerPlots& plots)
{
    _plots.route = plots.route ? plots.route : &_ownRoute;
    _plots.speed = plots.speed ? plots.speed : &_ownSpeed;
    _plots.stops = plots.stops ? plots.stops : &_ownStops;
}

void TrackerModel::setPointerArea(int width, int height)
{
    if (width <= 0 || height <= 0) return;
    _areaWidth = width;
    _areaHeight = height;
}

TrackerFrame TrackerModel::frame(double t, double x, double y, bool pointerKnown)
{
    TrackerFrame result;
    pointerKnown = pointerKnown && std::isfinite(x) && std::isfinite(y);

    const double frameSeconds = t > _lastFrameTime ? t - _lastFrameTime : 0.0;
    if (frameSeconds > 0.0) fps = 1.0 / frameSeconds;
    // The clock adds the time between two tracked frames, so it keeps the
    // seconds actually tracked instead of counting ticks that fire late.
    if (tracking) {
        if (_clockRunning) trackedSeconds += frameSeconds;
        _clockRunning = true;
    }
    _lastFrameTime = t;

    if (t - _lastKeysTime >= kKeysInterval) {
        result.keysTick = true;
        _lastKeysTime = t;
    }

    const std::int64_t px = pointerKnown ? wholePixel(x) : 0;
    const std::int64_t py = pointerKnown ? wholePixel(y) : 0;
    // Where the pointer went while it could not be read is unknown: the
    // straight line from the last known place is no distance it travelled.
    if (!pointerKnown) _primed = false;
    if (!_primed && pointerKnown) _prime(px, py, t);

    if (tracking) {
        if (_primed && pointerKnown && t - _lastSampleTime >= kSampleInterval) _samplePointer(t, px, py);
        if (plotCounter >= double(_screenWidth)) {
            plotCounter = 0.0;
            _plots.speed->clear();
        }
        if (t - _lastPlotTime >= kPlotInterval) {
            _plotSpeed();
            _lastPlotTime = t;
        }
        _tickClock();
    }

    if (t - _lastFpsTime >= kFpsInterval) {
        _write(TrackerLabel::fps, std::int64_t(fps));
        _lastFpsTime = t;
    }

    if (stopped && t - _lastMoveTime >= kStopDelay) _checkStop(t);
    return result;
}

bool TrackerModel::toggle(double x, double y, bool pointerKnown)
{
    _clockRunning = false;
    if (tracking) {
        tracking = false;
        return true;
    }
    tracking = true;
    // Measure from where the pointer is now; without a position the next
    // frame that has one takes it.
    if (pointerKnown && std::isfinite(x) && std::isfinite(y)) {
        _prime(wholePixel(x), wholePixel(y), _lastFrameTime);
    } else {
        _primed = false;
    }
    return false;
}

void TrackerModel::clear()
{
    _plots.route->clear();
    _plots.speed->clear();
    _plots.stops->clear();
    odometer = 0.0;
    plotCounter = 0.0;
    maxSpeed = 0.0;
}

std::uint32_t TrackerModel::takeChangedLabels()
{
    const std::uint32_t changed = _changed;
    _changed = 0;
    return changed;
}

int TrackerModel::labelText(TrackerLabel label, char16_t* buffer, int capacity) const
{
    const int index = int(label);
    if (buffer == nullptr || index < 0 || index >= kLabelCount || capacity < kLabelTextCapacity) return 0;
    const std::int64_t value = _values[std::size_t(index)];
    switch (label) {
    case TrackerLabel::monitorTime:
        return qvClockText(value, buffer);
    case TrackerLabel::upperOdometer:
        return qvAppendText(buffer, qvIntToStr(value, buffer), capacity, kPixelUnit);
    case TrackerLabel::upperSpeed:
        return qvAppendText(buffer, qvIntToStr(value, buffer), capacity, kSpeedUnit);
    default:
        return qvIntToStr(value, buffer);
    }
}

glm::vec3 TrackerModel::_device(double x, double y, int width, int height)
{
    return glm::vec3(float(2.0 * x / width - 1.0), float(1.0 - 2.0 * y / height), -1.0f);
}

// Takes (x, y) as the place the next movement is measured from, for the
// odometer and for the speed.
void TrackerModel::_prime(std::int64_t x, std::int64_t y, double t)
{
    pointerX = x;
    pointerY = y;
    _speedSampleX = x;
    _speedSampleY = y;
    _lastSpeedTime = t;
    _primed = true;
}

// Pointer sample: a move adds a route point and its distance (before the
// labels are written, so they show the true total), a repeat is a rest.
void TrackerModel::_samplePointer(double t, std::int64_t x, std::int64_t y)
{
    if (x != pointerX || y != pointerY) {
        const glm::vec3 p = _device(double(x), double(y), _areaWidth, _areaHeight);
        _plots.route->emplace_back(p.x / kPlotShrink, p.y / kPlotShrink, 0.0f);
        odometer += distance(pointerX, pointerY, x, y);
        const auto whole = std::int64_t(odometer);
        _write(TrackerLabel::upperOdometer, whole);
        _write(TrackerLabel::monitorOdometer, whole);
        _write(TrackerLabel::upperX, x);
        _write(TrackerLabel::monitorX, x);
        _write(TrackerLabel::upperY, y);
        _write(TrackerLabel::monitorY, y);
        if (t - _lastSpeedTime >= kSpeedInterval) _sampleSpeed(t, x, y);
        stopped = false;
        _lastMoveTime = t;
    } else {
        if (x != _speedSampleX || y != _speedSampleY) _settleSpeed(x, y);
        speed = 0.0;
        _write(TrackerLabel::upperSpeed, 0);
        _write(TrackerLabel::monitorSpeed, 0);
        stopped = true;
        // The next movement's speed is measured from the resting place and
        // time, not averaged over the rest.
        _speedSampleX = x;
        _speedSampleY = y;
        _lastSpeedTime = t;
    }
    _lastSampleTime = t;
    pointerX = x;
    pointerY = y;
}

// Speed sample: the distance since the last one, scaled to 100 ms by the time
// that actually passed (frames do not land on 0.1 s exactly).
void TrackerModel::_sampleSpeed(double t, std::int64_t x, std::int64_t y)
{
    const double elapsed = t - _lastSpeedTime;
    speed = std::trunc(distance(_speedSampleX, _speedSampleY, x, y) * kSpeedInterval / elapsed);
    if (speed > maxSpeed) {
        maxSpeed = speed;
        _write(TrackerLabel::monitorMaxSpeed, std::int64_t(maxSpeed));
    }
    _write(TrackerLabel::upperSpeed, std::int64_t(speed));
    _write(TrackerLabel::monitorSpeed, std::int64_t(speed));
    _lastSpeedTime = t;
    _speedSampleX = x;
    _speedSampleY = y;
}

// At the first rest after a movement too short for a speed sample: that
// movement took at most 100 ms, so its distance is its speed per 100 ms (over
// a longer time, scaled). It may set the maximum; the speed shown is the
// rest's 0.
void TrackerModel::_settleSpeed(std::int64_t x, std::int64_t y)
{
    const double elapsed = std::max(_lastMoveTime - _lastSpeedTime, kSpeedInterval);
    const double settled =
        std::trunc(distance(_speedSampleX, _speedSampleY, x, y) * kSpeedInterval / elapsed);
    if (settled > maxSpeed) {
        maxSpeed = settled;
        _write(TrackerLabel::monitorMaxSpeed, std::int64_t(maxSpeed));
    }
}

// Speed-plot point: time runs left to right one screen pixel per point, the
// speed upward, limited to the plot's ceiling. A screen lower than the
// ceiling has no room above its own height: faster points stay on the face's
// top edge.
void TrackerModel::_plotSpeed()
{
    if (speed > kSpeedPlotCeiling) speed = kSpeedPlotCeiling;
    const double height = std::min(std::trunc(speed), double(_screenHeight));
    const glm::vec3 p = _device(std::trunc(plotCounter), height, _screenWidth, _screenHeight);
    plotCounter += 1.0;
    _plots.speed->emplace_back(p.x / kPlotShrink, -p.y / kPlotShrink, 0.0f);
}

// Clock: the whole tracked seconds; the label changes once a second.
void TrackerModel::_tickClock()
{
    _write(TrackerLabel::monitorTime, std::int64_t(std::floor(trackedSeconds)));
}

// Stop check, 0.5 s after the last move or check: one stop point per resting
// place, at the route's last vertex.
void TrackerModel::_checkStop(double t)
{
    QvPlotList<float>& stops = *_plots.stops;
    if (!_plots.route->empty()) {
        const glm::vec3 last = _plots.route->back();
        const std::size_t n = stops.size();
        if (n < 3 || stops[n - 3] != last.x || stops[n - 2] != last.y) {
            stops.insert(stops.end(), {last.x, last.y, 0.0f});
        }
    }
    _write(TrackerLabel::monitorStops, stopCount());
    _lastMoveTime = t;
}

void TrackerModel::_write(TrackerLabel label, std::int64_t value)
{
    const auto index = std::size_t(label);
    if ((_written & bit(label)) && _values[index] == value) return;
    _values[index] = value;
    _written |= bit(label);
    _changed |= bit(label);
}
