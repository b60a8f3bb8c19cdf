// The plotting monitors' pictures against the tracker's plots: the graph
// paper's frame must lie where the tracker puts the screen's edges, or the
// route, the speed and the stops are drawn off the grid and over the lettering.
#include "engine/gl/qvloadimage.h"
#include "scene/qvtrackermodel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A picture as the canvas reads it: RGB rows padded to whole words.
struct Face {
    std::vector<std::uint8_t> pixels;
    int width = 0;
    int height = 0;
    int scanLine = 0;

    // Red + green + blue of a pixel: low on the frame, high on the paper.
    int brightness(int x, int y) const
    {
        const std::uint8_t* p = &pixels[std::size_t(y) * scanLine + std::size_t(x) * 3];
        return p[0] + p[1] + p[2];
    }
};

Face load(const std::string& path)
{
    TextureLoader loader;
    Face face;
    face.pixels = loader.loadImage(path);
    face.width = loader.getImageWidth();
    face.height = loader.getImageHeight();
    face.scanLine = TextureLoader::scanLineWidth(face.width);
    return face;
}

// The pixel at (x, y) is a frame line: clearly darker than the paper `inward`
// pixels further in, and that paper is light.
void expectFrameAt(const Face& face, int x, int y, int inwardX, int inwardY, const char* which)
{
    const int line = face.brightness(x, y);
    const int paper = face.brightness(x + inwardX, y + inwardY);
    EXPECT_GT(paper, 600) << which << " edge: no light paper just inside (" << x << ", " << y << ")";
    EXPECT_LT(line, paper - 60) << which << " edge: no frame line at (" << x << ", " << y << ")";
}

}  // namespace

TEST(PlotFaces, GraphPaperFramesExactlyWhereTheTrackerPlotsTheScreenEdges)
{
    // The tracker draws the screen from -1 / kPlotShrink to +1 / kPlotShrink
    // of the face's half-size, both ways; the face shows the whole picture.
    const double reach = 1.0 / TrackerModel::kPlotShrink;
    constexpr int inward = 4;
    for (const char* name : {"monitor_route", "monitor_speed", "monitor_stops"}) {
        SCOPED_TRACE(name);
        const Face face = load(std::string("textures/") + name + ".jpg");
        ASSERT_FALSE(face.pixels.empty());
        const int left = int(face.width * (1.0 - reach) / 2);
        const int right = int(face.width * (1.0 + reach) / 2);
        const int top = int(face.height * (1.0 - reach) / 2);
        const int bottom = int(face.height * (1.0 + reach) / 2);
        // Sampled off the grid's own lines, away from the lettering.
        const int row = face.height / 2 + 13;
        const int column = face.width / 2 + 13;
        expectFrameAt(face, left, row, inward, 0, "left");
        expectFrameAt(face, right, row, -inward, 0, "right");
        expectFrameAt(face, column, top, 0, inward, "top");
        expectFrameAt(face, column, bottom, 0, -inward, "bottom");
    }
}
