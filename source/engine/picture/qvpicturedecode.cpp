// qvpicturedecode: FreeImage's decoders run over a file's bytes, the header
// read first, and the bitmap turned into rows of the asked layout.
#include "engine/picture/qvpicturedecode.h"

#include "engine/picture/qvformattable.h"
#include "engine/picture/qvfreeimagebitmap.h"
#include "engine/picture/qvinks.h"

#include <fmt/core.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

// The loader's flag values, FreeImage's JPEG flags in their declaration order
// and then the default, tried in turn until one reads the picture.
constexpr int loadFlags[] = {1,    2,    4,    8,     16,    128,   256,    512,    1024,
                             2048, 8192, 4096, 16384, 32768, 65536, 131072, 262144, 0};

// The load flags that read a file of one format differently, each once: a
// flag value keeps only the bits the format's row says its reader looks at
// (JPEG's DCT, CMYK, rotation, grey and scale flags, TIFF's CMYK one and
// their like), as the rest only choose how a picture is saved. Those the
// reader looks at come in the loader's order, the default after them all, so
// a format whose reader looks at none is loaded once. 32768
// (JPEG_SUBSAMPLING_422) is also FIF_LOAD_NOPIXELS, which reads a header
// alone and is never a picture: it is left out.
struct ReadingFlags {
    int values[std::size(loadFlags)] = {};
    std::size_t count = 0;
};
constexpr ReadingFlags readingFlagsOf(const QvPictureFormat& row)
{
    ReadingFlags distinct;
    for (const int flags : loadFlags) {
        const int read = flags & row.loadFlagsRead;
        const auto seen = distinct.values + distinct.count;
        if (read != 0 && (flags & FIF_LOAD_NOPIXELS) == 0 && std::find(distinct.values, seen, read) == seen)
            distinct.values[distinct.count++] = read;
    }
    distinct.values[distinct.count++] = 0;
    return distinct;
}
constexpr const char* notAPicture = "not a picture FreeImage can read";

// Two reasons in one line, either of which may be empty.
std::string joined(const std::string& first, const std::string& second)
{
    return first.empty() || second.empty() ? first + second : first + "; " + second;
}

// Why a picture whose content alone says its format is not decoded: empty
// when that format's decoder is trusted with it.
std::string contentFormatProblem(FREE_IMAGE_FORMAT format)
{
    if (qvReadByContent(format)) return {};
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
// (pictures are decoded on one thread). The callback's format is not always
// the decoder's own (the six Netpbm formats share one decoder, which reports
// as the last of them), so a decoder's message is credited to the format
// being decoded.
class FreeImageMessages {
public:
    FreeImageMessages() : outer_(std::exchange(listener_, this)) { install(); }
    ~FreeImageMessages() { listener_ = outer_; }
    FreeImageMessages(const FreeImageMessages&) = delete;
    FreeImageMessages& operator=(const FreeImageMessages&) = delete;

    // Has FreeImage report to whichever listener is current, from now on
    // in this process and in the processes it forks.
    static void install()
    {
        static std::once_flag installed;
        std::call_once(installed, [] { FreeImage_SetOutputMessage(hear); });
    }

    // Forgets what was said; what is said next comes from the decoder of `decoding`.
    void clear(FREE_IMAGE_FORMAT decoding)
    {
        said_.clear();
        decoding_ = decoding;
    }
    // Each distinct message once, with the decoder that said it:
    // `the JPEG decoder says "Premature end of JPEG file"`; empty when none.
    // Those FreeImage reported as said by `leftOut`'s decoder are left out.
    std::string text(FREE_IMAGE_FORMAT leftOut = FIF_UNKNOWN) const
    {
        std::string text;
        for (const auto& [reporter, message] : said_)
            if (leftOut == FIF_UNKNOWN || reporter != leftOut) text = joined(text, message);
        return text;
    }

private:
    // A message as it is told, with the format FreeImage reported it as.
    using Said = std::pair<FREE_IMAGE_FORMAT, std::string>;

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
        const FREE_IMAGE_FORMAT decoder = listener_->decoding_ != FIF_UNKNOWN ? listener_->decoding_ : format;
        const std::string who = format == FIF_UNKNOWN
                                    ? std::string("FreeImage")
                                    : fmt::format("the {} decoder", FreeImage_GetFormatFromFIF(decoder));
        std::string said = fmt::format("{} says \"{}\"", who, words);
        auto& all = listener_->said_;
        if (std::ranges::find(all, said, &Said::second) == all.end())
            all.emplace_back(format, std::move(said));
    }

    static inline FreeImageMessages* listener_ = nullptr;
    FreeImageMessages* outer_;
    FREE_IMAGE_FORMAT decoding_ = FIF_UNKNOWN;
    std::vector<Said> said_;
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
    // FreeImage guesses from where the stream stands, which a load leaves anywhere.
    FREE_IMAGE_FORMAT contentFormat() const
    {
        FreeImage_SeekMemory(memory_, 0, SEEK_SET);
        return FreeImage_GetFileTypeFromMemory(memory_, 0);
    }
    QvBitmap load(FREE_IMAGE_FORMAT format, int flags) const
    {
        FreeImage_SeekMemory(memory_, 0, SEEK_SET);
        return QvBitmap(FreeImage_LoadFromMemory(format, memory_, flags));
    }

private:
    FIMEMORY* memory_;
};

QvImageSize bitmapSize(const QvBitmap& bitmap)
{
    return {FreeImage_GetWidth(bitmap.get()), FreeImage_GetHeight(bitmap.get())};
}

// One decoding, with what it has found so far.
struct Decoding {
    const MemoryStream& stream;
    std::span<const std::uint8_t> bytes;
    const QvPictureHeader& header;
    const QvDecodeRequest& request;
    QvDecodeSink& sink;
    FreeImageMessages messages;
    QvDecodeResult result;
};

// Why the bytes are not read as their format: the content is a format whose
// decoder is not trusted with what content alone shows; empty otherwise.
std::string contentRefusal(const Decoding& d)
{
    const FREE_IMAGE_FORMAT content = d.stream.contentFormat();
    return content == FIF_UNKNOWN || content == d.header.format ? std::string()
                                                                : contentFormatProblem(content);
}

// Loads the bitmap with each flag value that reads it differently, in turn,
// until one gives its pixels, as the file stores them. Null when none does,
// with the reason in the result's error when it is not the decoder's.
QvBitmap loadPixels(Decoding& d)
{
    // Valid files FreeImage refuses or misreads are handed to it rewritten.
    const QvPictureFormat& row = qvPictureFormatOf(d.header.format);
    const QvRewrittenPicture rewritten =
        row.rewrite != nullptr ? row.rewrite(d.bytes, d.header.reading) : QvRewrittenPicture{};
    if (!rewritten.problem.empty()) {
        d.result.error = rewritten.problem;
        return nullptr;
    }
    const MemoryStream rewrittenStream(rewritten.bytes);
    const MemoryStream& stream = rewritten.bytes.empty() ? d.stream : rewrittenStream;
    if (!stream) {
        d.result.error = qvNoMemoryForPicture;
        return nullptr;
    }
    d.messages.clear(d.header.format);
    const ReadingFlags readingFlags = readingFlagsOf(row);
    for (std::size_t i = 0; i < readingFlags.count; ++i) {
        const int flags = readingFlags.values[i];
        if (!d.request.retryFlags && flags != row.defaultFlags) continue;
        d.sink.decoding(d.header.format);
        QvBitmap bitmap = stream.load(d.header.format, flags);
        if (bitmap && FreeImage_HasPixels(bitmap.get())) {
            if (row.asStored != nullptr) row.asStored(bitmap.get(), flags, d.header.reading, d.bytes);
            return bitmap;
        }
        // A decoder that said why it failed fails the file with every flag:
        // all of them read the same data into bitmaps of about one size.
        if (!d.messages.text().empty()) break;
    }
    return nullptr;
}

// The bytes as a bitmap of the format decided for them. Null with the reason
// in the result's error.
QvBitmap readBitmap(Decoding& d)
{
    const FREE_IMAGE_FORMAT format = d.header.format;
    const QvHeaderReading& header = d.header.reading;
    const std::uint64_t maxSide = std::uint64_t(std::max(d.request.maxSide, 0));
    std::string& error = d.result.error;
    error = qvHeaderProblem(header, maxSide);
    if (!error.empty()) return nullptr;
    if (!header.problem.empty() || format == FIF_UNKNOWN || !FreeImage_FIFSupportsReading(format)) {
        error = joined(header.problem, contentRefusal(d));
        if (error.empty()) error = notAPicture;
        return nullptr;
    }
    // Where no reader of ours gave the size, FreeImage's own header read does.
    if (!header.size && FreeImage_FIFSupportsNoPixels(format)) {
        d.messages.clear(format);
        d.sink.decoding(format);
        const QvBitmap headerOnly = d.stream.load(format, FIF_LOAD_NOPIXELS);
        error = headerOnly ? qvImageSizeProblem(bitmapSize(headerOnly), maxSide) : d.messages.text();
        if (!headerOnly && error.empty()) error = contentRefusal(d);
        if (!headerOnly && error.empty()) error = notAPicture;
        if (!error.empty()) return nullptr;
    }
    QvBitmap bitmap = loadPixels(d);
    if (!bitmap) {
        if (error.empty()) error = d.messages.text();
        if (error.empty()) error = contentRefusal(d);
        if (error.empty()) error = notAPicture;
        return nullptr;
    }
    // Without a header size the decoded one is checked before the pixels go anywhere.
    error = qvImageSizeProblem(bitmapSize(bitmap), maxSide);
    if (!error.empty()) return nullptr;
    d.result.remarks = d.messages.text(qvPictureFormatOf(format).thumbnailFormat);
    return bitmap;
}

// The floating-point samples of a bitmap of `channels` a pixel, the colour
// ones only (not a fourth, alpha), passed to `visit` row by row.
template <typename Visit>
void forEachColourSample(FIBITMAP* source, unsigned channels, Visit visit)
{
    const unsigned width = FreeImage_GetWidth(source), height = FreeImage_GetHeight(source);
    const unsigned colours = std::min(channels, 3u);
    for (unsigned y = 0; y < height; ++y) {
        const float* line = reinterpret_cast<const float*>(FreeImage_GetScanLine(source, int(y)));
        for (unsigned x = 0; x < width; ++x)
            for (unsigned c = 0; c < colours; ++c) visit(y, x, c, line[x * channels + c]);
    }
}

// Floating-point samples as 8-bit ones: x 255, rounded, held within 0..255
// (NaN as 0). Grey is given to all three channels.
QvBitmap rgbFromUnitFloats(FIBITMAP* source, unsigned channels)
{
    QvBitmap rgb(FreeImage_Allocate(int(FreeImage_GetWidth(source)), int(FreeImage_GetHeight(source)), 24));
    if (!rgb) return nullptr;
    constexpr int order[] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
    forEachColourSample(source, channels, [&](unsigned y, unsigned x, unsigned c, float value) {
        const BYTE level = BYTE(std::lround(std::clamp(std::isnan(value) ? 0.0f : value, 0.0f, 1.0f) * 255));
        BYTE* pixel = FreeImage_GetScanLine(rgb.get(), int(y)) + x * 3;
        if (channels == 1)
            pixel[0] = pixel[1] = pixel[2] = level;
        else
            pixel[order[c]] = level;
    });
    return rgb;
}

// A floating-point picture as 24-bit RGB: values within 0..1 are colours as
// any picture stores them; only a picture with brighter ones, an HDR scene,
// is tone mapped to fit.
QvBitmap rgbFromFloats(FIBITMAP* source, unsigned channels)
{
    bool beyondOne = false;
    forEachColourSample(source, channels, [&](unsigned, unsigned, unsigned, float value) {
        beyondOne = beyondOne || value > 1;
    });
    if (beyondOne) return QvBitmap(FreeImage_ToneMapping(source, FITMO_DRAGO03, 0, 0));
    return rgbFromUnitFloats(source, channels);
}

// A copy of a bitmap of any pixel type as 24-bit RGB; null when FreeImage
// has no memory for it. FreeImage converts only 8-bit-per-channel and
// 16-bit-per-channel colour to 24 bits directly: floating-point pictures
// (HDR, EXR, PFM, TIFF) are scaled or tone mapped, 16-bit grey keeps its
// high byte, CMYK is turned into light, and other sample types are scaled
// from their range.
QvBitmap rgbCopy(FIBITMAP* source)
{
    if (qvHoldsInks(source)) {
        if (QvBitmap rgb = qvLightFromInks(source)) return rgb;
    }
    switch (FreeImage_GetImageType(source)) {
    case FIT_BITMAP:
    case FIT_RGB16:
    case FIT_RGBA16:
        return QvBitmap(FreeImage_ConvertTo24Bits(source));
    case FIT_FLOAT:
        return rgbFromFloats(source, 1);
    case FIT_RGBF:
        return rgbFromFloats(source, 3);
    case FIT_RGBAF:
        return rgbFromFloats(source, 4);
    case FIT_UINT16: {
        const QvBitmap grey(FreeImage_ConvertTo8Bits(source));
        return grey ? QvBitmap(FreeImage_ConvertTo24Bits(grey.get())) : nullptr;
    }
    default: {
        const QvBitmap scaled(FreeImage_ConvertToStandardType(source, TRUE));
        return scaled ? QvBitmap(FreeImage_ConvertTo24Bits(scaled.get())) : nullptr;
    }
    }
}

// The bitmap's pixels as padded RGB rows, the bottom or the top row first;
// false when there is no memory for them.
bool writeRgbRows(QvBitmap bitmap, bool topRowFirst, QvDecodeSink& sink)
{
    const int width = int(FreeImage_GetWidth(bitmap.get()));
    const int height = int(FreeImage_GetHeight(bitmap.get()));
    // A 24-bit picture is read as it is: a converted copy would double the memory it takes.
    if (FreeImage_GetImageType(bitmap.get()) != FIT_BITMAP || FreeImage_GetBPP(bitmap.get()) != 24 ||
        qvHoldsInks(bitmap.get())) {
        bitmap = rgbCopy(bitmap.get());
        if (!bitmap) return false;
    }
    const std::size_t stride = qvRowBytes(QvPixelLayout::rgbBottomRowFirst, width);
    std::uint8_t* rows = sink.rows(width, height, stride * std::size_t(height));
    if (rows == nullptr) return false;
    for (int y = 0; y < height; ++y) {
        const BYTE* line = FreeImage_GetScanLine(bitmap.get(), topRowFirst ? height - 1 - y : y);
        std::uint8_t* row = rows + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 3 + 0] = line[x * 3 + FI_RGBA_RED];
            row[x * 3 + 1] = line[x * 3 + FI_RGBA_GREEN];
            row[x * 3 + 2] = line[x * 3 + FI_RGBA_BLUE];
        }
        std::fill(row + std::size_t(width) * 3, row + stride, 0);
    }
    return true;
}

// The bitmap's pixels as tightly packed RGBA rows, the top row first; every
// pixel opaque without an alpha channel. False when there is no memory.
bool writeRgbaRows(QvBitmap bitmap, QvDecodeSink& sink)
{
    const int width = int(FreeImage_GetWidth(bitmap.get()));
    const int height = int(FreeImage_GetHeight(bitmap.get()));
    const bool plain = FreeImage_GetImageType(bitmap.get()) == FIT_BITMAP && !qvHoldsInks(bitmap.get());
    const bool hasAlpha = plain && FreeImage_GetBPP(bitmap.get()) == 32;
    if (!plain) bitmap = rgbCopy(bitmap.get());
    const QvBitmap rgba(bitmap ? FreeImage_ConvertTo32Bits(bitmap.get()) : nullptr);
    bitmap.reset();
    if (!rgba) return false;
    const std::size_t stride = qvRowBytes(QvPixelLayout::rgbaTopRowFirst, width);
    std::uint8_t* rows = sink.rows(width, height, stride * std::size_t(height));
    if (rows == nullptr) return false;
    for (int y = 0; y < height; ++y) {
        // FreeImage's row 0 is the bottom of the picture.
        const BYTE* line = FreeImage_GetScanLine(rgba.get(), height - 1 - y);
        std::uint8_t* row = rows + std::size_t(y) * stride;
        for (int x = 0; x < width; ++x) {
            row[x * 4 + 0] = line[x * 4 + FI_RGBA_RED];
            row[x * 4 + 1] = line[x * 4 + FI_RGBA_GREEN];
            row[x * 4 + 2] = line[x * 4 + FI_RGBA_BLUE];
            row[x * 4 + 3] = hasAlpha ? line[x * 4 + FI_RGBA_ALPHA] : 255;
        }
    }
    return true;
}

}  // namespace

void qvHearFreeImage()
{
    FreeImageMessages::install();
}

std::size_t qvRowBytes(QvPixelLayout layout, int width)
{
    if (layout == QvPixelLayout::rgbaTopRowFirst) return std::size_t(width) * 4;
    const std::size_t bytes = std::size_t(width) * 3;
    return (bytes + 3) / 4 * 4;
}

QvDecodeResult qvDecodePicture(std::span<const std::uint8_t> file, const QvPictureHeader& header,
                               const QvDecodeRequest& request, QvDecodeSink& sink)
{
    const MemoryStream stream(file);
    Decoding d{stream, file, header, request, sink, {}, {}};
    if (!stream) return {qvNoMemoryForPicture, {}};
    try {
        QvBitmap bitmap = readBitmap(d);
        if (!bitmap) return std::move(d.result);
        // The bitmap goes as soon as its rows are written: one of the two at a time beyond that.
        const bool written =
            request.layout == QvPixelLayout::rgbaTopRowFirst
                ? writeRgbaRows(std::move(bitmap), sink)
                : writeRgbRows(std::move(bitmap), request.layout == QvPixelLayout::rgbTopRowFirst, sink);
        if (!written) d.result.error = qvNoMemoryForPicture;
    } catch (const std::bad_alloc&) {
        d.result.error = qvNoMemoryForPicture;
    }
    return std::move(d.result);
}
