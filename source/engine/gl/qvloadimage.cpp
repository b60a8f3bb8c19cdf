// Texture loader: picture files read and decoded apart into padded RGB
// buffers, uploaded as 2D textures or cube-map faces; JPEG files written
// through FreeImage.
#include "engine/gl/qvloadimage.h"

#include "engine/picture/qvfreeimagebitmap.h"

#include "engine/core/qvfiles.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <cstddef>
#include <cstdio>
#include <memory>
#include <utility>

namespace {

constexpr int jpegQualitySuperb = 128;
constexpr int bytesPerPixel = 3;
constexpr GLint rowAlignment = 4;  // matches scanLineWidth

void printSizeLines(int width, int height)
{
    fmt::print("width = {}, height = {}\n", width, height);
    fmt::print("remainder = {}\n", width % 3);
    fmt::print("scanLineWidth = {}\n", TextureLoader::scanLineWidth(width));
}

// Uploads one RGB image with rows padded to 4 bytes, whatever unpack
// alignment another module left behind (the bitmap font sets 1).
void uploadImage(GLenum target, int width, int height, const std::uint8_t* pixels)
{
    GLint previous = rowAlignment;
    glGetIntegerv(GL_UNPACK_ALIGNMENT, &previous);
    glPixelStorei(GL_UNPACK_ALIGNMENT, rowAlignment);
    glTexImage2D(target, 0, GL_RGB, width, height, 0, GL_RGB, GL_UNSIGNED_BYTE, pixels);
    glPixelStorei(GL_UNPACK_ALIGNMENT, previous);
}

// The driver's limit on a side of a texture of the given kind; the common
// limit when the driver gives none.
int driverMaxSize(GLenum limit)
{
    GLint size = 0;
    glGetIntegerv(limit, &size);
    return size > 0 ? size : qvCommonMaxTextureSize;
}

// Writes RGB rows (row 0 at the bottom) of the given length as a JPEG;
// false with the reason in `error` when it cannot.
bool writeJpeg(const std::string& name, int width, int height, const std::uint8_t* pixels, int stride,
               std::string& error)
{
    error = "the picture cannot be encoded";
    const QvBitmap bitmap(FreeImage_Allocate(width, height, 24, 0, 0, 0));
    if (!bitmap) {
        return false;
    }
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap.get(), y);
        const std::uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            line[x * 3 + FI_RGBA_RED] = row[x * 3 + 0];
            line[x * 3 + FI_RGBA_GREEN] = row[x * 3 + 1];
            line[x * 3 + FI_RGBA_BLUE] = row[x * 3 + 2];
        }
    }
    // Encoded in memory first: the file is only touched with a complete picture.
    FIMEMORY* memory = FreeImage_OpenMemory();
    if (memory == nullptr) {
        return false;
    }
    BYTE* bytes = nullptr;
    DWORD size = 0;
    const bool written = FreeImage_SaveToMemory(FIF_JPEG, bitmap.get(), memory, jpegQualitySuperb) != 0 &&
                         FreeImage_AcquireMemory(memory, &bytes, &size) != 0 &&
                         qvReplaceFile(name, std::span<const std::uint8_t>(bytes, size), error);
    FreeImage_CloseMemory(memory);
    return written;
}

void reportWriteFailure(const std::string& name, const std::string& reason)
{
    fmt::print("ERROR! Image {} could not be written: {}\n", name, reason);
    std::fflush(stdout);
}

// qvReadPicture, with the line that names the file when it fails or the
// decoder had something to say.
std::optional<QvDecodedPicture> readPictureOrReport(const std::string& path, const QvDecodeRequest& request)
{
    std::string error;
    std::optional<QvDecodedPicture> picture = qvReadPicture(path, request, error);
    if (!picture)
        qvReportUnloadedPicture(path, error);
    else
        qvReportPictureRemarks(path, picture->remarks);
    return picture;
}

// A sky face that does not fit the others, and why.
struct SkyShapeProblem {
    std::size_t face;
    std::string problem;
};

// The first sky face that is not a square of the size the faces agree on:
// the size most of them have, the earliest face's among sizes as common.
// Faces of no known size yet are passed over.
std::optional<SkyShapeProblem> skyShapeProblem(const std::vector<std::optional<QvImageSize>>& sizes,
                                               const std::vector<std::string>& paths)
{
    const auto square = [](const std::optional<QvImageSize>& size) {
        return size && size->width == size->height;
    };
    const auto sharing = [&](std::size_t face) {
        return std::count_if(sizes.begin(), sizes.end(), [&](const std::optional<QvImageSize>& size) {
            return square(size) && size->width == sizes[face]->width;
        });
    };
    std::optional<std::size_t> model;
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (square(sizes[i]) && (!model || sharing(i) > sharing(*model))) model = i;
    }
    for (std::size_t i = 0; i < sizes.size(); ++i) {
        if (!sizes[i] || (model && square(sizes[i]) && sizes[i]->width == sizes[*model]->width)) continue;
        const std::string wanted =
            model ? fmt::format("the {0}x{0} of {1}", sizes[*model]->width, paths[*model]) : "a square";
        return SkyShapeProblem{i, fmt::format("it is {}x{}, where a sky face must be {}", sizes[i]->width,
                                              sizes[i]->height, wanted)};
    }
    return std::nullopt;
}

}  // namespace

std::optional<QvDecodedPicture> qvReadPicture(const std::string& path, const QvDecodeRequest& request,
                                              std::string& error)
{
    error.clear();
    const std::optional<QvPictureFile> file = qvReadPictureFile(path, error);
    if (!file) return std::nullopt;
    return qvDecodeApart(*file, request, error);
}

void qvReportUnloadedPicture(const std::string& path, const std::string& reason)
{
    fmt::print("Picture {} not loaded: {}\n", path, reason);
    std::fflush(stdout);
}

void qvReportPictureRemarks(const std::string& path, const std::string& remarks)
{
    if (remarks.empty()) return;
    fmt::print("Picture {} loaded, but {}\n", path, remarks);
    std::fflush(stdout);
}

QvTexture qvCreateRgbTexture(int width, int height, const std::uint8_t* pixels)
{
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_2D, texture.get());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    uploadImage(GL_TEXTURE_2D, width, height, pixels);
    return texture;
}

int TextureLoader::scanLineWidth(int width)
{
    return int(qvRowBytes(QvPixelLayout::rgbBottomRowFirst, width));
}

std::vector<std::uint8_t> TextureLoader::loadImage(const std::string& path)
{
    const std::optional<QvDecodedPicture> picture = readPicture(path);
    if (!picture) {
        imageWidth = 0;
        imageHeight = 0;
        return {};
    }
    return {picture->rows.data(), picture->rows.data() + picture->rows.size()};
}

QvTexture TextureLoader::loadTexture(const std::string& path)
{
    const std::optional<QvDecodedPicture> picture = readTexturePicture(path);
    return picture ? qvCreateRgbTexture(imageWidth, imageHeight, picture->rows.data()) : QvTexture();
}

QvTexture TextureLoader::loadTexture(const std::string& path, std::vector<std::uint8_t>& pixels, int& stride)
{
    const std::optional<QvDecodedPicture> picture = readTexturePicture(path);
    if (!picture) return {};
    stride = scanLineWidth(imageWidth);
    pixels.assign(picture->rows.data(), picture->rows.data() + picture->rows.size());
    return qvCreateRgbTexture(imageWidth, imageHeight, picture->rows.data());
}

std::optional<QvDecodedPicture> TextureLoader::readPicture(const std::string& path)
{
    std::optional<QvDecodedPicture> picture =
        readPictureOrReport(path, {.retryFlags = true, .maxSide = maxImageSide});
    if (picture) {
        imageWidth = picture->width;
        imageHeight = picture->height;
    }
    return picture;
}

std::optional<QvDecodedPicture> TextureLoader::readTexturePicture(const std::string& path)
{
    maxImageSide = driverMaxSize(GL_MAX_TEXTURE_SIZE);
    std::optional<QvDecodedPicture> picture = readPicture(path);
    if (!picture) return std::nullopt;
    printSizeLines(imageWidth, imageHeight);
    fmt::print("scanLineWidth = {}\n", scanLineWidth(imageWidth));
    return picture;
}

QvTexture TextureLoader::loadCubemap(const std::vector<std::string>& paths)
{
    const int maxFaceSide = driverMaxSize(GL_MAX_CUBE_MAP_TEXTURE_SIZE);
    const auto refuse = [&](std::size_t face, const std::string& reason) {
        // The sky cannot be drawn without all six faces: the caller decides how to end.
        return QvResourceError(fmt::format("Cannot load the sky image {}: {}", paths[face], reason));
    };
    // Every face's header is checked before any is decoded, so a face that
    // cannot fit costs no decoding of the others. Each file is let go once
    // its header is read, and read again as its decoding is admitted: six
    // large files are never held at once beside the decodings.
    std::vector<std::optional<QvImageSize>> sizes;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        std::string error;
        const std::optional<QvPictureFile> file = qvReadPictureFile(paths[i], error);
        if (!file) throw refuse(i, error);
        if (const std::string problem = qvHeaderProblem(file->header.reading, std::uint64_t(maxFaceSide));
            !problem.empty())
            throw refuse(i, problem);
        sizes.push_back(file->header.reading.size);
    }
    if (const std::optional<SkyShapeProblem> odd = skyShapeProblem(sizes, paths))
        throw refuse(odd->face, odd->problem);
    // Decoded side by side; cube-map faces are specified from their top row.
    std::vector<QvDecodeJob> jobs;
    for (const std::string& path : paths)
        jobs.push_back(
            {nullptr, {.maxSide = maxFaceSide, .layout = QvPixelLayout::rgbTopRowFirst}, std::nullopt, path});
    std::vector<QvDecodeOutcome> faces = qvDecodeApartTogether(jobs);
    for (std::size_t i = 0; i < faces.size(); ++i) {
        if (!faces[i].picture) throw refuse(i, faces[i].error);
        // Where no header told the size, the decoded one is held to the others.
        sizes[i] =
            QvImageSize{std::uint64_t(faces[i].picture->width), std::uint64_t(faces[i].picture->height)};
    }
    if (const std::optional<SkyShapeProblem> odd = skyShapeProblem(sizes, paths))
        throw refuse(odd->face, odd->problem);
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture.get());
    for (std::size_t i = 0; i < faces.size(); ++i) {
        const QvDecodedPicture& face = *faces[i].picture;
        qvReportPictureRemarks(paths[i], face.remarks);
        uploadImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(i), face.width, face.height,
                    face.rows.data());
        // Each face's rows let go once the driver holds its copy: the sky is
        // never held twice over.
        faces[i].picture.reset();
    }
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_CUBE_MAP, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    return texture;
}

bool TextureLoader::saveImage(const std::string& name, int width, int height, const std::uint8_t* pixels)
{
    printSizeLines(width, height);
    std::string error = "the picture has no pixels";
    if (width <= 0 || height <= 0 || pixels == nullptr ||
        !writeJpeg(name, width, height, pixels, scanLineWidth(width), error)) {
        reportWriteFailure(name, error);
        return false;
    }
    return true;
}

bool TextureLoader::saveScreenshot(const std::string& name, int width, int height)
{
    if (width <= 0 || height <= 0) {
        fmt::print("Screenshot {} skipped: the window has no pixels\n", name);
        std::fflush(stdout);
        return false;
    }
    // Tightly packed rows: alignment 1 makes the read independent of the width.
    const int stride = bytesPerPixel * width;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(stride) * height);
    GLint previous = rowAlignment;
    glGetIntegerv(GL_PACK_ALIGNMENT, &previous);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, pixels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, previous);
    std::string error;
    if (!writeJpeg(name, width, height, pixels.data(), stride, error)) {
        reportWriteFailure(name, error);
        return false;
    }
    return true;
}
