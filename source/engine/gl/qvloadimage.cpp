// Texture loader: reading images with FreeImage into padded RGB buffers,
// uploading them as 2D textures or cube-map faces, and writing JPEG files.
#include "engine/gl/qvloadimage.h"

#include "engine/core/qvfiles.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

namespace {

// FreeImage's JPEG flag values in their declaration order, then the default;
// every format is tried with each in turn until one loads.
constexpr int loadFlags[] = {1,    2,    4,    8,     16,    128,   256,    512,    1024,
                             2048, 8192, 4096, 16384, 32768, 65536, 131072, 262144, 0};
// The bits of those that any of FreeImage's readers looks at: JPEG's DCT,
// CMYK, rotation and grey flags and their like in other formats (1 to 16),
// and the size a JPEG is scaled to on loading (the high word). The rest only
// choose how a picture is saved, so flags differing only there read a file
// alike, and a file that failed one of them is not read again.
constexpr int flagsReadBy = 0x1F | ~0xFFFF;
constexpr int jpegQualitySuperb = 128;
constexpr int bytesPerPixel = 3;
constexpr GLint rowAlignment = 4;  // matches scanLineWidth

using Bitmap = QvBitmap;

constexpr const char* notAPicture = "not a picture FreeImage can read";
constexpr const char* outOfMemory = qvNoMemoryForPicture;
// The largest picture file read: the largest picture the loader takes (see
// qvMaxPicturePixels) stored plainly at 16 bytes a pixel, floating-point
// RGBA, with room to spare for its header. A larger file is refused from its
// size, unread.
constexpr std::uintmax_t largestPictureFile = std::uintmax_t(512) << 20;
static_assert(qvMaxPicturePixels * 16 < largestPictureFile);

// Formats read from what a file's content shows when its name says another
// format, or none. FreeImage's other decoders crash, hang or run out of
// memory on small files a user may leave under a picture's name, so they
// are handed only files whose own names say their format.
// Chosen by measurement with FreeImage 3.18: small real files of every
// format FreeImage recognises by content, and 460-600 copies of each with
// bytes flipped, fields set to extremes or the file cut short, went through
// this loader's calls one process each, plainly (5 s, 2 GiB address space)
// and under ASan and UBSan, and a sample under valgrind. The formats below
// had no crash, hang, allocation of 2 GiB or more, or invalid access. Left
// out on findings: PICT, PSD, ICO, XPM, RAS, JXR (crashes), EXR, IFF, XBM,
// MNG, JNG (endless loops, huge allocations), TARGA, KOALA, PCX and DDS
// (pixels made of memory never written), WEBP (17 s and 800 MB on a 398-byte
// file); RAW, whose decoder read none of the files tried. Every format here
// has its header read in full by qvReadHeader before it is decoded.
constexpr FREE_IMAGE_FORMAT formatsReadByContent[] = {FIF_BMP, FIF_GIF, FIF_HDR, FIF_J2K, FIF_JP2, FIF_JPEG,
                                                      FIF_PBM, FIF_PFM, FIF_PNG, FIF_SGI, FIF_TIFF};

// Two reasons in one line, either of which may be empty.
std::string joined(const std::string& first, const std::string& second)
{
    return first.empty() || second.empty() ? first + second : first + "; " + second;
}

// Whether FreeImage reads both formats with one decoder: the six Netpbm
// formats differ only in the signature FreeImage matches first.
bool sameDecoder(FREE_IMAGE_FORMAT a, FREE_IMAGE_FORMAT b)
{
    constexpr FREE_IMAGE_FORMAT netpbm[] = {FIF_PBM, FIF_PBMRAW, FIF_PGM, FIF_PGMRAW, FIF_PPM, FIF_PPMRAW};
    const auto isNetpbm = [&](FREE_IMAGE_FORMAT format) {
        return std::find(std::begin(netpbm), std::end(netpbm), format) != std::end(netpbm);
    };
    return a == b || (isNetpbm(a) && isNetpbm(b));
}

// Why a picture whose content alone says its format is not decoded: empty
// when that format's decoder is trusted with it.
std::string contentFormatProblem(FREE_IMAGE_FORMAT format)
{
    // Every Netpbm file is recognised as PBM.
    if (std::any_of(std::begin(formatsReadByContent), std::end(formatsReadByContent),
                    [format](FREE_IMAGE_FORMAT trusted) { return sameDecoder(trusted, format); }))
        return {};
    // "psd,psb" as ".psd or .psb"; "pct,pict,pic" as ".pct, .pict or .pic".
    std::vector<std::string> extensions(1);
    for (const char* c = FreeImage_GetFIFExtensionList(format); *c != '\0'; ++c) {
        if (*c == ',')
            extensions.emplace_back();
        else
            extensions.back() += *c;
    }
    std::string names = "." + extensions.front();
    for (std::size_t i = 1; i < extensions.size(); ++i)
        names += (i + 1 == extensions.size() ? " or ." : ", .") + extensions[i];
    return fmt::format("the content is a picture in {} format, read only from a file named {}",
                       FreeImage_GetFormatFromFIF(format), names);
}

// What FreeImage's decoders say of a file. FreeImage gives its reasons only
// to one process-wide callback; while a FreeImageMessages lives it takes them
// (pictures are read on one thread).
class FreeImageMessages {
public:
    FreeImageMessages() : outer_(std::exchange(listener_, this))
    {
        static std::once_flag installed;
        std::call_once(installed, [] { FreeImage_SetOutputMessage(hear); });
    }
    ~FreeImageMessages() { listener_ = outer_; }
    FreeImageMessages(const FreeImageMessages&) = delete;
    FreeImageMessages& operator=(const FreeImageMessages&) = delete;

    void clear() { said_.clear(); }
    // Each distinct message once, with the decoder that said it:
    // `the JPEG decoder says "Premature end of JPEG file"`; empty when none.
    std::string text() const
    {
        std::string text;
        for (const std::string& message : said_) text = joined(text, message);
        return text;
    }

private:
    static void hear(FREE_IMAGE_FORMAT format, const char* message)
    {
        if (listener_ == nullptr || message == nullptr) return;
        // Some messages run over lines; the report is one line.
        std::string words;
        for (const char* c = message; *c != '\0'; ++c) {
            const bool space = *c == '\n' || *c == '\r' || *c == '\t' || *c == ' ';
            if (!space)
                words += *c;
            else if (!words.empty() && words.back() != ' ')
                words += ' ';
        }
        while (!words.empty() && words.back() == ' ') words.pop_back();
        const std::string who = format == FIF_UNKNOWN
                                    ? std::string("FreeImage")
                                    : fmt::format("the {} decoder", FreeImage_GetFormatFromFIF(format));
        std::string said = fmt::format("{} says \"{}\"", who, words);
        std::vector<std::string>& all = listener_->said_;
        if (std::find(all.begin(), all.end(), said) == all.end()) all.push_back(std::move(said));
    }

    static inline FreeImageMessages* listener_ = nullptr;
    FreeImageMessages* outer_;
    std::vector<std::string> said_;
};

// A FreeImage stream over bytes that FreeImage only reads; every load starts
// from the first byte.
class MemoryStream {
public:
    explicit MemoryStream(std::span<const std::uint8_t> bytes)
        : memory_(FreeImage_OpenMemory(const_cast<BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size())))
    {
    }
    ~MemoryStream()
    {
        if (memory_ != nullptr) FreeImage_CloseMemory(memory_);
    }
    MemoryStream(const MemoryStream&) = delete;
    MemoryStream& operator=(const MemoryStream&) = delete;

    explicit operator bool() const { return memory_ != nullptr; }
    FREE_IMAGE_FORMAT contentFormat() const { return FreeImage_GetFileTypeFromMemory(memory_, 0); }
    Bitmap load(FREE_IMAGE_FORMAT format, int flags) const
    {
        FreeImage_SeekMemory(memory_, 0, SEEK_SET);
        return Bitmap(FreeImage_LoadFromMemory(format, memory_, flags));
    }

private:
    FIMEMORY* memory_;
};

QvImageSize bitmapSize(const Bitmap& bitmap)
{
    return {FreeImage_GetWidth(bitmap.get()), FreeImage_GetHeight(bitmap.get())};
}

// The size in the header of a picture of this format, without its pixels,
// and why the file cannot be that picture: qvReadHeader's reading, or for a
// format it does not read in full, FreeImage's own header read where the
// format has one. No size and no problem when neither tells the size.
QvHeaderReading readHeader(const MemoryStream& stream, FREE_IMAGE_FORMAT format,
                           std::span<const std::uint8_t> bytes)
{
    QvHeaderReading reading = qvReadHeader(format, bytes);
    if (qvHeaderReadsFully(format) || reading.size || !FreeImage_FIFSupportsNoPixels(format)) return reading;
    if (const Bitmap header = stream.load(format, FIF_LOAD_NOPIXELS))
        reading.size = bitmapSize(header);
    else
        reading.problem = notAPicture;
    return reading;
}

// The size in the header of bytes read by what their content shows; nothing
// when FreeImage does not know the content, does not trust its decoder with
// it, or the header is refused, with the reason in `error`. Every format
// trusted with a file's content alone has its header read in full, so there
// is always a size or a reason.
std::optional<QvImageSize> contentSize(const MemoryStream& stream, std::span<const std::uint8_t> file,
                                       std::string& error)
{
    const FREE_IMAGE_FORMAT format = stream ? stream.contentFormat() : FIF_UNKNOWN;
    error = format == FIF_UNKNOWN ? notAPicture : contentFormatProblem(format);
    if (!error.empty()) return std::nullopt;
    QvHeaderReading header = readHeader(stream, format, file);
    error = std::move(header.problem);
    return header.size;
}

// Decodes the bytes as one format. Null when its header is refused (the
// reason in `error`), and when the bytes are not that format or its decoder
// fails (`error` empty, the reason added to `said`).
Bitmap decodeAs(const MemoryStream& stream, FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> bytes,
                const QvPictureReading& how, const FreeImageMessages& messages, std::string& error,
                std::string& said)
{
    const QvHeaderReading header = readHeader(stream, format, bytes);
    const std::uint64_t maxSide = std::uint64_t(std::max(how.maxSide, 0));
    // A size too large is the news, even in a file that could not hold it.
    if (header.size) error = qvImageSizeProblem(*header.size, maxSide);
    if (error.empty() && header.size) error = header.problem;
    if (!error.empty()) return nullptr;
    if (!header.problem.empty()) {
        said = joined(said, header.problem);  // not a picture of this format
        return nullptr;
    }
    Bitmap bitmap;
    std::vector<int> tried;
    for (const int flags : loadFlags) {
        if (!how.retryFlags && flags != 0) continue;
        // 32768 (JPEG_SUBSAMPLING_444) is also FIF_LOAD_NOPIXELS, which reads
        // a header alone: never a picture, so never tried.
        const int read = flags & flagsReadBy;
        if ((flags & FIF_LOAD_NOPIXELS) != 0 || std::find(tried.begin(), tried.end(), read) != tried.end())
            continue;
        tried.push_back(read);
        bitmap = stream.load(format, flags);
        if (bitmap && FreeImage_HasPixels(bitmap.get())) break;
        bitmap.reset();
    }
    if (!bitmap) {
        said = joined(said, messages.text());
        return nullptr;
    }
    // Without a header size the decoded one is checked before the pixels go anywhere.
    error = qvImageSizeProblem(bitmapSize(bitmap), maxSide);
    return error.empty() ? std::move(bitmap) : nullptr;
}

// The file as a bitmap: regular files only, the name's format first, then
// the one its contents show where that format is trusted with it. Null with
// the reason in `error`; `remarks` holds what the decoder said of a picture
// it read all the same.
Bitmap readBitmap(const std::string& path, const QvPictureReading& how, std::string& error,
                  std::string& remarks)
{
    const std::optional<std::vector<std::uint8_t>> bytes = qvReadBoundedFile(path, error, largestPictureFile);
    if (!bytes) return nullptr;
    if (bytes->empty()) {
        error = "the file is empty";
        return nullptr;
    }
    const MemoryStream stream(*bytes);
    if (!stream) {
        error = outOfMemory;
        return nullptr;
    }
    const FREE_IMAGE_FORMAT named = FreeImage_GetFIFFromFilename(path.c_str());
    const FREE_IMAGE_FORMAT content = stream.contentFormat();
    FreeImageMessages messages;
    std::string said;  // by the decoders that failed
    for (const FREE_IMAGE_FORMAT format : {named, sameDecoder(content, named) ? FIF_UNKNOWN : content}) {
        if (format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) continue;
        if (const std::string refused = format == named ? "" : contentFormatProblem(format);
            !refused.empty()) {
            error = joined(said, refused);
            return nullptr;
        }
        messages.clear();
        Bitmap bitmap = decodeAs(stream, format, *bytes, how, messages, error, said);
        if (bitmap) remarks = messages.text();
        if (bitmap || !error.empty()) return bitmap;
    }
    error = said.empty() ? notAPicture : said;
    return nullptr;
}

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
    const Bitmap bitmap(FreeImage_Allocate(width, height, 24, 0, 0, 0));
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

// The line that says what the decoder said of a picture it read all the same.
void reportRemarks(const std::string& path, const std::string& remarks)
{
    if (remarks.empty()) return;
    fmt::print("Picture {} loaded, but {}\n", path, remarks);
    std::fflush(stdout);
}

// qvReadPicture, with the line that names the file when it fails or the
// decoder had something to say.
std::optional<QvPicture> readPictureOrReport(const std::string& path, const QvPictureReading& how)
{
    std::string error;
    std::optional<QvPicture> picture = qvReadPicture(path, how, error);
    if (!picture) qvReportUnloadedPicture(path, error);
    else
        reportRemarks(path, picture->remarks);
    return picture;
}

// A copy of a bitmap of any pixel type as 24-bit RGB; null when FreeImage
// has no memory for it. FreeImage converts only 8-bit-per-channel and
// 16-bit-per-channel colour to 24 bits directly: floating-point pictures
// (HDR, EXR, PFM) are tone mapped, 16-bit grey keeps its high byte, and
// other sample types are scaled from their range.
Bitmap rgbCopy(FIBITMAP* source)
{
    switch (FreeImage_GetImageType(source)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
        return Bitmap(FreeImage_ConvertTo24Bits(source));
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF:
        return Bitmap(FreeImage_ToneMapping(source, FITMO_DRAGO03, 0, 0));
    case FIT_UINT16: {
        const Bitmap grey(FreeImage_ConvertTo8Bits(source));
        return grey ? Bitmap(FreeImage_ConvertTo24Bits(grey.get())) : nullptr;
    }
    default: {
        const Bitmap scaled(FreeImage_ConvertToStandardType(source, TRUE));
        return scaled ? Bitmap(FreeImage_ConvertTo24Bits(scaled.get())) : nullptr;
    }
    }
}

}  // namespace

void QvBitmapDeleter::operator()(FIBITMAP* bitmap) const
{
    FreeImage_Unload(bitmap);
}

std::string qvImageSizeProblem(QvImageSize size, std::uint64_t maxSide)
{
    if (size.width > maxSide || size.height > maxSide) {
        return fmt::format("{}x{} is larger than the largest picture side {}", size.width, size.height,
                           maxSide);
    }
    if (size.width > 0 && size.height > qvMaxPicturePixels / size.width) {
        return fmt::format("{}x{} is more than the {} pixels of the largest picture", size.width, size.height,
                           qvMaxPicturePixels);
    }
    return {};
}

std::optional<QvImageSize> qvReadImageSize(std::span<const std::uint8_t> file, std::string& error)
{
    const MemoryStream stream(file);
    return contentSize(stream, file, error);
}

std::optional<QvPicture> qvReadPicture(const std::string& path, const QvPictureReading& how,
                                       std::string& error)
{
    error.clear();
    try {
        QvPicture picture;
        {
            // The bitmap goes as soon as its rows are copied: one of the two at a time beyond that.
            const Bitmap bitmap = readBitmap(path, how, error, picture.remarks);
            if (!bitmap) return std::nullopt;
            picture.width = static_cast<int>(FreeImage_GetWidth(bitmap.get()));
            picture.height = static_cast<int>(FreeImage_GetHeight(bitmap.get()));
            picture.rows = qvBitmapPixels(bitmap.get(), how.topRowFirst);
        }
        if (picture.rows.empty()) {
            error = outOfMemory;
            return std::nullopt;
        }
        return picture;
    } catch (const std::bad_alloc&) {
        error = outOfMemory;
        return std::nullopt;
    }
}

void qvReportUnloadedPicture(const std::string& path, const std::string& reason)
{
    fmt::print("Picture {} not loaded: {}\n", path, reason);
    std::fflush(stdout);
}

QvBitmap qvReadBitmap(const std::string& path, int maxSide)
{
    std::string error;
    std::string remarks;
    QvBitmap bitmap;
    try {
        bitmap = readBitmap(path, QvPictureReading{.maxSide = maxSide}, error, remarks);
    } catch (const std::bad_alloc&) {
        error = outOfMemory;
    }
    if (!bitmap) qvReportUnloadedPicture(path, error);
    else
        reportRemarks(path, remarks);
    return bitmap;
}

QvBitmap qvReadBitmap(std::span<const std::uint8_t> file, std::string& error)
{
    const MemoryStream stream(file);
    std::string fileProblem;
    const std::optional<QvImageSize> size = contentSize(stream, file, fileProblem);
    error = size ? qvImageSizeProblem(*size, qvCommonMaxTextureSize) : "";
    if (error.empty()) error = fileProblem;
    if (!error.empty()) return nullptr;
    const FreeImageMessages messages;
    QvBitmap bitmap = stream.load(stream.contentFormat(), 0);
    if (!bitmap) error = messages.text().empty() ? notAPicture : messages.text();
    return bitmap;
}

std::vector<std::uint8_t> qvBitmapRgbaPixels(FIBITMAP* source)
{
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    const bool plain = FreeImage_GetImageType(source) == FIT_BITMAP;
    const bool hasAlpha = plain && FreeImage_GetBPP(source) == 32;
    const Bitmap rgb = plain ? nullptr : rgbCopy(source);
    const Bitmap rgba(FreeImage_ConvertTo32Bits(plain ? source : rgb.get()));
    if (!rgba) {
        return {};
    }
    std::vector<std::uint8_t> pixels(static_cast<size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y) {
        // FreeImage's row 0 is the bottom of the picture.
        const BYTE* line = FreeImage_GetScanLine(rgba.get(), height - 1 - y);
        std::uint8_t* row = pixels.data() + static_cast<size_t>(y) * width * 4;
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 0] = line[x * 4 + FI_RGBA_RED];
            row[x * 4 + 1] = line[x * 4 + FI_RGBA_GREEN];
            row[x * 4 + 2] = line[x * 4 + FI_RGBA_BLUE];
            row[x * 4 + 3] = hasAlpha ? line[x * 4 + FI_RGBA_ALPHA] : 255;
        }
    }
    return pixels;
}

std::vector<std::uint8_t> qvBitmapPixels(FIBITMAP* source, bool topRowFirst)
{
    const int width = static_cast<int>(FreeImage_GetWidth(source));
    const int height = static_cast<int>(FreeImage_GetHeight(source));
    const int stride = TextureLoader::scanLineWidth(width);
    // A 24-bit picture is read as it is: a converted copy would double the memory it takes.
    Bitmap converted;
    if (FreeImage_GetImageType(source) != FIT_BITMAP || FreeImage_GetBPP(source) != 24) {
        converted = rgbCopy(source);
        if (!converted) return {};
    }
    FIBITMAP* rgb = converted ? converted.get() : source;
    std::vector<std::uint8_t> pixels(static_cast<size_t>(stride) * height, 0);
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(rgb, topRowFirst ? height - 1 - y : y);
        std::uint8_t* row = pixels.data() + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 3 + 0] = line[x * 3 + FI_RGBA_RED];
            row[x * 3 + 1] = line[x * 3 + FI_RGBA_GREEN];
            row[x * 3 + 2] = line[x * 3 + FI_RGBA_BLUE];
        }
    }
    return pixels;
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
    const int bytes = bytesPerPixel * width;
    return bytes % 4 == 0 ? bytes : bytes / 4 * 4 + 4;
}

std::vector<std::uint8_t> TextureLoader::loadImage(const std::string& path)
{
    std::optional<QvPicture> picture = readPictureOrReport(path, {.retryFlags = true, .maxSide = maxImageSide});
    if (!picture) {
        imageWidth = 0;
        imageHeight = 0;
        return {};
    }
    imageWidth = picture->width;
    imageHeight = picture->height;
    return std::move(picture->rows);
}

QvTexture TextureLoader::loadTexture(const std::string& path)
{
    std::vector<std::uint8_t> pixels;
    int stride = 0;
    return loadTexture(path, pixels, stride);
}

QvTexture TextureLoader::loadTexture(const std::string& path, std::vector<std::uint8_t>& pixels, int& stride)
{
    maxImageSide = driverMaxSize(GL_MAX_TEXTURE_SIZE);
    std::optional<QvPicture> picture = readPictureOrReport(path, {.retryFlags = true, .maxSide = maxImageSide});
    if (!picture) {
        return {};
    }
    imageWidth = picture->width;
    imageHeight = picture->height;
    stride = scanLineWidth(imageWidth);
    printSizeLines(imageWidth, imageHeight);
    pixels = std::move(picture->rows);
    fmt::print("scanLineWidth = {}\n", stride);

    return qvCreateRgbTexture(imageWidth, imageHeight, pixels.data());
}

QvTexture TextureLoader::loadCubemap(const std::vector<std::string>& paths)
{
    const int maxFaceSide = driverMaxSize(GL_MAX_CUBE_MAP_TEXTURE_SIZE);
    int firstSide = 0;
    QvTexture texture = QvTexture::create();
    glBindTexture(GL_TEXTURE_CUBE_MAP, texture.get());
    for (size_t i = 0; i < paths.size(); ++i) {
        std::string error;
        // Cube-map faces are specified from their top row.
        const std::optional<QvPicture> face =
            qvReadPicture(paths[i], {.topRowFirst = true, .maxSide = maxFaceSide}, error);
        if (!face) {
            // The sky cannot be drawn without all six faces: the caller decides
            // how to end; the texture made so far goes with the owner.
            throw QvResourceError(fmt::format("Cannot load the sky image {}: {}", paths[i], error));
        }
        // A cube map's faces are squares of one size; any other leaves the whole sky black.
        if (i == 0) firstSide = face->width;
        if (face->width != face->height || face->width != firstSide) {
            const std::string wanted =
                i == 0 ? "a square" : fmt::format("the {0}x{0} of {1}", firstSide, paths[0]);
            throw QvResourceError(
                fmt::format("Cannot load the sky image {}: it is {}x{}, where a sky face must be {}",
                            paths[i], face->width, face->height, wanted));
        }
        reportRemarks(paths[i], face->remarks);
        uploadImage(GL_TEXTURE_CUBE_MAP_POSITIVE_X + static_cast<GLenum>(i), face->width, face->height,
                    face->rows.data());
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
