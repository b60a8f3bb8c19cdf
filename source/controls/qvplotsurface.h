// qvplotsurface: the shared base of the monitor canvas and the landscape.
//
// A box control that carries the plotting lists (QvPlotModel) and their GPU
// side: the overlay layers (points, circle points, line strip, cursor), each
// a vertex array over a buffer that receives only what its list gained since
// the last frame and grows, keeping its contents, when a list outgrows it.
// Clicks on the surface record the picked position in the click lists.
#pragma once

#include "controls/qvboxcontrol.h"
#include "controls/qvplotmodel.h"

#include <glm/vec3.hpp>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

class QvShader;

// Room of each overlay buffer before its first growth: a million vertices.
inline constexpr std::size_t qvOverlayCapacityBytes = 12'000'000;

// One overlay layer: x, y, z floats in a buffer behind one vertex array.
class QvOverlayLayer {
public:
    // A new vertex array and buffer of `capacityBytes` behind the position
    // attribute (three floats); whatever was held before is released.
    void create(std::size_t capacityBytes);
    // Only notes `capacityBytes`: the layer's GL objects are created by the
    // first sync that has something to send. A buffer this size costs
    // milliseconds to allocate, and most layers stay empty for a long time.
    void createOnFirstData(std::size_t capacityBytes);
    // Sends what the list gained since the last sync (all of it when it was
    // rewritten), first creating the objects deferred by createOnFirstData
    // or growing the buffer if the list outgrew it. Returns the bytes sent.
    template <class T>
    std::size_t sync(const QvPlotList<T>& list)
    {
        return sync(list.data(), list.size() * sizeof(T), list.revision());
    }
    // The same for `bytes` at `data`, the list's revision given apart.
    std::size_t sync(const void* data, std::size_t bytes, std::uint64_t revision);
    // Draws `count` vertices from the first; nothing before create().
    void draw(GLenum mode, std::size_t count) const;
    std::size_t capacity() const { return capacityBytes; }

    QvVertexArray vao;
    QvBuffer vbo;

private:
    std::size_t capacityBytes = 0;
    std::size_t deferredCapacityBytes = 0;  // what createOnFirstData noted
    QvUploadTracker tracker;
};

class QvPlotSurface : public QvBoxControl, public QvPlotModel {
public:
    QvPlotSurface(const std::string& name, Camera& camera, std::int64_t firstTransformId);
    ~QvPlotSurface() override;

    // The point and line-strip program (both take the same one).
    virtual void setPointShader(QvShader* s);
    virtual void setCirclePointShader(QvShader* s);
    // Records the picked position (the pick's mouse vector) in the click
    // lists and takes the focus; the base's press colour and shrink do not run.
    void handlerMouseButtonPress(QvMaterialObject* sender, QvMouseEventArgs* args) override;
    // Prints the key; nothing subscribes it.
    virtual void handlerKeyPress(QvMaterialObject* sender, QvKeyboardEventArgs* args);

    // The last closed polygon triangulated and uploaded as the triangle
    // layer; nothing while no polygon has been closed.
    virtual void triangulationSPAR();
    virtual void triangulationTDBE();
    // The Delaunay triangulation of the clicked points, its OBJ file
    // (<name>.obj) and its upload.
    virtual void triangulationDeloneSIA();
    // The OBJ text to <name>.obj in the working directory; a file that cannot
    // be written is reported in one line and the program goes on.
    virtual bool saveToOBJFile();
    // The triangle lists to the GPU (each surface keeps them its own way).
    virtual void initBuffersForTriangles() = 0;

    // Overlay buffers, each at the first capacity (the cursor's holds one vertex).
    void initBuffersForPoint();
    void initBuffersForCirclePoints();
    void initBuffersForLineStrip();
    void initBuffersForCursor();
    // The same four, each made only when its list first has something in it.
    void initBuffersOnFirstData();
    // One overlay layer each, with the backgroundColor already set; the
    // line strip without setting the line width.
    void drawPoint(Camera& camera);
    void drawCircle(Camera& camera);
    void drawLineBestPractices(Camera& camera);
    // The cursor point at cursorCoords; nothing while there is none.
    void drawCursor(Camera& camera);

    // Bytes the overlay layers sent to the GPU in the last draw.
    std::size_t overlayBytesLastFrame() const { return lastFrameBytes; }

    QvShader* pointShader = nullptr;  // not owned: the scene's programs
    QvShader* circlePointShader = nullptr;
    QvShader* lineShader = nullptr;
    QvOverlayLayer pointLayer;
    QvOverlayLayer circleLayer;
    QvOverlayLayer lineLayer;
    QvOverlayLayer cursorLayer;
    glm::vec3 backgroundColor{std::numeric_limits<float>::quiet_NaN()};

protected:
    // Diagnostics after a Delaunay run, before its OBJ file is written.
    virtual void reportDelaunay() {}
    // The layer program in use with the overlay matrices for `depth`, in
    // `colour` (sent as backgroundColor).
    void prepareLayer(QvShader& program, Camera& camera, float depth, glm::vec3 colour);
    // Sends a list to its layer, counting the bytes towards this frame.
    template <class T>
    void syncLayer(QvOverlayLayer& layer, const QvPlotList<T>& list)
    {
        lastFrameBytes += layer.sync(list);
    }
    // Starts counting a new frame's uploads.
    void beginFrameUploads() { lastFrameBytes = 0; }

private:
    std::size_t lastFrameBytes = 0;
};
