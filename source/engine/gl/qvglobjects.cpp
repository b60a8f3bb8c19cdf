// Live-name counters of the GL object owners.
#include "engine/gl/qvglobjects.h"

#include <array>
#include <cstddef>

namespace {

std::array<std::int64_t, static_cast<std::size_t>(QvGLObjectKind::count)> liveNames{};
std::int64_t createdNames = 0;

}  // namespace

std::int64_t qvLiveGLObjects(QvGLObjectKind kind)
{
    return liveNames[static_cast<std::size_t>(kind)];
}

std::int64_t qvLiveGLObjects()
{
    std::int64_t total = 0;
    for (const std::int64_t live : liveNames) total += live;
    return total;
}

std::int64_t qvCreatedGLObjects()
{
    return createdNames;
}

namespace qvgl_detail {

void countCreated(QvGLObjectKind kind)
{
    ++liveNames[static_cast<std::size_t>(kind)];
    ++createdNames;
}

void countDeleted(QvGLObjectKind kind)
{
    --liveNames[static_cast<std::size_t>(kind)];
}

}  // namespace qvgl_detail
