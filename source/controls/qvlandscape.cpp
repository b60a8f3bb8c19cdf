// qvlandscape: construction, the terrain's buffers and draw, and the brush.
#include "controls/qvlandscape.h"

#include "controls/qvcontrolbox.h"
#include "controls/qvlandscapemodel.h"
#include "engine/core/qvcamera.h"
#include "engine/core/qvtransform.h"
#include "engine/geometry/qvgeometry.h"
#include "engine/gl/qvshader.h"
#include "engine/gl/qvvertexlayout.h"

#include <fmt/format.h>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <optional>

namespace {

constexpr GLint rowAlignment = 4;  // the image rows are padded to 4 bytes
const glm::vec3 faceBackground{1.0f, 1.0f, 1.0f};
// What a vertex without a normal or texture coordinate of its own gets.
const glm::vec3 missingNormal{0.0f, 0.0f, -1.0f};
const glm::vec2 missingTexCoord{0.0f, 0.0f};

struct LightColours {
    glm::vec3 position, ambient, diffuse, specular;
};
constexpr LightColours farLightColours{{0, 70000, 0}, {0.9f, 0.9f, 0.9f}, {0.7f, 0.7f, 0.7f}, {1, 1, 1}};
constexpr LightColours nearLightColours{{25, 25, -25}, {0.1f, 0.1f, 0.1f}, {1, 1, 1}, {1, 1, 1}};

void placeLight(QvLight& light, QvTransform& t, const LightColours& colours)
{
    t.setTranslation(colours.position);
    light.setTransform(&t);
    light.lightSpecs.ambient = colours.ambient;
    light.lightSpecs.diffuse = colours.diffuse;
    light.lightSpecs.specular = colours.specular;
}

// A dynamic buffer of `bytes` behind `attribute` of the bound vertex array.
QvBuffer attributeBuffer(QvAttribute attribute, GLint components, std::size_t bytes)
{
    QvBuffer buffer = qvMakeBuffer(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(bytes), nullptr, GL_DYNAMIC_DRAW);
    qvPointAttribute(attribute, buffer, components);
    return buffer;
}

// The list into its buffer, padded with `missing` up to `count` entries.
template <class T>
void uploadPadded(const QvBuffer& buffer, const std::vector<T>& list, std::size_t count, T missing)
{
    glBindBuffer(GL_ARRAY_BUFFER, buffer.get());
    const std::size_t held = std::min(list.size(), count);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(held * sizeof(T)), list.data());
    if (held < count) {
        const std::vector<T> padding(count - held, missing);
        glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(held * sizeof(T)),
                        static_cast<GLsizeiptr>(padding.size() * sizeof(T)), padding.data());
    }
    glBindBuffer(GL_ARRAY_BUFFER, 0);
}

}  // namespace

QvLandscape::QvLandscape(const std::string& name, Camera& camera)
    : QvPlotSurface(name, camera, qvLandscapeFirstTransformId)
{
    fmt::print("\x1b[01;31m CREATING CANVAS {} \x1b[0m \n", name);
    // The base image is only ever drawn from memory (rebuild uploads it), so
    // it needs no texture of its own yet.
    basePixels = textureLoader.loadImage(qvLandscapeBaseImage);
    baseWidth = textureLoader.getImageWidth();
    baseHeight = textureLoader.getImageHeight();
    baseScanLine = TextureLoader::scanLineWidth(baseWidth);
    texture = textureLoader.loadTexture(qvLandscapeGrassImage, grassPixels, grassScanLine);
    grassWidth = textureLoader.getImageWidth();
    grassHeight = textureLoader.getImageHeight();
    placeLight(farLight, farLightTransform, farLightColours);
    placeLight(nearLight, nearLightTransform, nearLightColours);
    light = &nearLight;
}

QvLandscape::~QvLandscape() = default;

void QvLandscape::setSize(float width, float height, float depth)
{
    size = {width, height, depth};
    vertices = qvControlBoxVertices(width, height, depth);
    initBuffers();
    initBuffersForPoint();
    initBuffersForCursor();
    initBuffersForCirclePoints();
    initBuffersForLineStrip();
    initBuffersForTriangles();
}

void QvLandscape::initBuffers()
{
    if (drawAABB) {
        QvMaterialObject::initBuffers();
    }
    qvUploadControlBox(vao, vbo, vertices);
}

void QvLandscape::initBuffersForTriangles()
{
    meshCapacity = std::max<std::size_t>(triangleVertices.size(), 1);
    trianglesVao = QvVertexArray::create();
    glBindVertexArray(trianglesVao.get());
    trianglesVbo = attributeBuffer(QvAttribute::position, 3, meshCapacity * sizeof(glm::vec3));
    normalsVbo = attributeBuffer(QvAttribute::normal, 3, meshCapacity * sizeof(glm::vec3));
    texCoordsVbo = attributeBuffer(QvAttribute::texCoords, 2, meshCapacity * sizeof(glm::vec2));
    glBindVertexArray(0);
}

void QvLandscape::generateDefaultLandscape(int width, int height)
{
    if (std::isnan(size.height)) {
        fmt::print("Landscape {}: no grid before setSize\n", name);
        return;
    }
    displayWidth = width;
    displayHeight = height;
    std::vector<Triangle> collision;
    const QvLandscapeGrid grid = qvGenerateLandscapeGrid(
        width, height, size.height, shading, {triangleVertices, triangleNormals, textureCoords}, collision);
    columns = grid.columns;
    rows = grid.rows;
    aspectRatio = grid.aspectRatio;
    displayStepX = grid.displayStepX;
    displayStepY = grid.displayStepY;
    createCollisionWithTriangles(std::move(collision));

    fmt::print("\x1b[01;31m aspectRatio = {} \x1b[0m \n", aspectRatio);
    fmt::print("\x1b[01;31m virtualDisplayWidth = {} \x1b[0m \n",
               transform->getScalingVector().x * size.width);
    fmt::print("\x1b[01;31m stepX = {}, stepY = {} \x1b[0m \n", grid.step, grid.step);
    fmt::print("\x1b[01;31m stepU = {}, stepV = {} \x1b[0m \n", grid.stepU, grid.stepV);
    fmt::print("\x1b[01;31m l = {}, h = {}, w = {} \x1b[0m \n", size.width, size.height, size.depth);
    fmt::print("\x1b[01;31m triangleVertices.length: {} \x1b[0m \n", triangleVertices.size());
}

void QvLandscape::setLandscapeTexture(const std::string& path)
{
    texture = textureLoader.loadTexture(path);
}

void QvLandscape::outputInfo()
{
    const glm::vec3 s = transform->getScalingVector();
    fmt::print("\x1b[01;31m transform.getScalingVector() [{}, {}, {}] \x1b[0m \n", s.x, s.y, s.z);
    fmt::print("\x1b[01;31m l = {}, h = {}, w = {} \x1b[0m \n", size.width, size.height, size.depth);
}

void QvLandscape::createCollisionWithTriangles(std::vector<Triangle> triangles)
{
    aabb = std::make_unique<QvAABB>(std::move(triangles));
}

void QvLandscape::updateCollisionCoords()
{
    createCollisionWithTriangles(qvTerrainTriangles(triangleVertices));
}

void QvLandscape::switchShading()
{
    shading = !shading;
    light = shading ? &farLight : &nearLight;
}

void QvLandscape::plow(std::int64_t index, float dh)
{
    qvPlow(triangleVertices, triangleNormals, columns, rows, index, dh);
}

void QvLandscape::till(std::int64_t index, float dh, int baseX, int baseY, int grassX, int grassY)
{
    if (!qvTillHeights(triangleVertices, triangleNormals, columns, rows, index, dh)) {
        return;
    }
    if (qvGrassStampFits(baseX, baseY, baseHeight, baseScanLine, basePixels.size()) &&
        qvGrassStampFits(grassX, grassY, grassHeight, grassScanLine, grassPixels.size())) {
        drawCircleBrezem(baseX, baseY, grassX, grassY, baseHeight, baseScanLine, basePixels, grassHeight,
                         grassScanLine, grassPixels, qvGrassRadius);
    }
}

void QvLandscape::rebuild(double x, double y, float h)
{
    // Before a grid exists there is no cell to find, and no display to scale by.
    if (columns <= 0 || displayWidth <= 0 || displayHeight <= 0) {
        return;
    }
    float unit = h / qvBrushStrengthUnit;
    // A position so far off the display that its cell or pixel has no
    // integer (or none at all: NaN, infinity) touches nothing: the terrain,
    // its picture, texture and collision box stay as they are.
    const std::optional<std::int64_t> centre = qvBrushCentreIndex(x, y, displayStepX, displayStepY, columns);
    const std::optional<int> baseX = qvBrushImagePixel(baseWidth, displayWidth, x);
    const std::optional<int> baseY = qvBrushImagePixel(baseHeight, displayHeight, y);
    const std::optional<int> grassX = qvBrushImagePixel(grassWidth, displayWidth, x);
    const std::optional<int> grassY = qvBrushImagePixel(grassHeight, displayHeight, y);
    if (!centre || !baseX || !baseY || !grassX || !grassY) {
        return;
    }
    if (direction) {
        unit = -unit;
    }
    const std::int64_t rowEntries = std::int64_t(columns) * qvLandscapeEntriesPerCell;
    for (const QvBrushCell& cell : qvBrushCells) {
        const std::int64_t index = *centre + cell.dc * qvLandscapeEntriesPerCell + cell.dr * rowEntries;
        const float amount = unit * float(cell.amount);
        if (shading) {
            plow(index, amount);
        } else {
            till(index, amount, *baseX, *baseY, *grassX, *grassY);
        }
    }
    updateCollisionCoords();
    uploadBaseImage();
}

void QvLandscape::uploadBaseImage()
{
    if (basePixels.size() < std::size_t(baseScanLine) * std::size_t(std::max(baseHeight, 0)) ||
        basePixels.empty()) {
        return;  // the base image did not load
    }
    if (!texture) {
        texture = qvCreateRgbTexture(baseWidth, baseHeight, basePixels.data());
        return;
    }
    glBindTexture(GL_TEXTURE_2D, texture.get());
    GLint previous = rowAlignment;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previous);
    glPixelStorei(GL_UNPACK_ALIGNMENT, rowAlignment);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, baseWidth, baseHeight, 0, GL_RGB, GL_UNSIGNED_BYTE,
                 basePixels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, previous);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void QvLandscape::draw(Camera& camera)
{
    QvMaterialObject::draw(camera);
    if (shader == nullptr) {
        return;
    }
    shader->useProgram();
    takeCameraMatrices(camera);
    _prepareUniforms(*shader, transform->getMatrix());
    glLineWidth(1.0f);
    backgroundColor = faceBackground;
    glPolygonMode(GL_FRONT_AND_BACK, wireframe ? GL_LINE : GL_FILL);
    drawTriangles(camera);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
}

void QvLandscape::drawTriangles(Camera& camera)
{
    if (shader == nullptr || !trianglesVao) {
        return;
    }
    shader->useProgram();
    shader->setUniform("projection", camera.getProjectionMatrix());
    shader->setUniform("camera", camera.getCameraMatrix());
    shader->setUniform("model", transform->getMatrix() *
                                    glm::translate(glm::mat4(1.0f), {0.0f, 0.0f, -qvLandscapeDepthOffset}));
    shader->setUniform("diffuseColor", landscapeColor);
    glActiveTexture(GL_TEXTURE0);
    glBindVertexArray(trianglesVao.get());
    glBindTexture(GL_TEXTURE_2D, texture.get());
    uploadMesh();
    if (!triangleVertices.empty()) {
        glDrawArrays(GL_TRIANGLES, 0, static_cast<GLsizei>(triangleVertices.size()));
    }
    glBindVertexArray(0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void QvLandscape::uploadMesh()
{
    const std::size_t count = triangleVertices.size();
    if (count > meshCapacity) {
        initBuffersForTriangles();  // room for the grown mesh; every list is sent below anyway
        glBindVertexArray(trianglesVao.get());
    }
    uploadPadded(trianglesVbo, triangleVertices, count, glm::vec3(0.0f));
    uploadPadded(normalsVbo, triangleNormals, count, missingNormal);
    uploadPadded(texCoordsVbo, textureCoords, count, missingTexCoord);
}
