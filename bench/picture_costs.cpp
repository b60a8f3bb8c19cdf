// What decoding the largest picture (7680x4320) of each costly kind takes,
// against the limits its decoding child gets: the address space the decoding
// adds and its processor time, measured in a fresh child process of this one
// that runs the decoding code itself, unlimited.
//
//   bench_picture_costs [kind...]   (all kinds when none is named)
//   bench_picture_costs --worst     the limits of the largest picture of each format
//
// Each line: kind, file bytes, measured MiB and s, limit MiB and s, and the
// measured share of each limit.
#include "engine/picture/qvdecoderprocess.h"
#include "engine/picture/qvpicturedecode.h"
#include "engine/picture/qvpicturefile.h"

#include <FreeImage.h>
#include <fmt/core.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int width = 7680;
constexpr int height = 4320;
constexpr double mebibyte = 1 << 20;

// A bitmap of the largest size: a smooth gradient with `noise` of random
// variation on top (0: a flat file compresses to almost nothing; 1: a photo's
// grain, which JPEG and JPEG 2000 keep in their data).
FIBITMAP* gradient(FREE_IMAGE_TYPE type, int bpp, double noise)
{
    // 16-bit pixels as 5-6-5 colour masks, as a BMP stores them.
    FIBITMAP* bitmap = bpp == 16 ? FreeImage_AllocateT(type, width, height, bpp, 0xF800, 0x07E0, 0x001F)
                                 : FreeImage_AllocateT(type, width, height, bpp);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> grain(-noise, noise);
    const unsigned channels = type == FIT_BITMAP                        ? unsigned(bpp) / 8
                              : type == FIT_RGB16 || type == FIT_RGBF   ? 3
                              : type == FIT_RGBA16 || type == FIT_RGBAF ? 4
                                                                        : 1;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(bitmap, y);
        for (int x = 0; x < width; ++x) {
            for (unsigned c = 0; c < channels; ++c) {
                const double value = std::clamp(
                    0.5 + 0.45 * std::sin(x * 0.002 * (c + 1) + y * 0.003) + 0.1 * grain(random), 0.0, 1.0);
                const std::size_t at = std::size_t(x) * channels + c;
                switch (type) {
                case FIT_BITMAP:
                    line[at] = BYTE(value * 255);
                    break;
                case FIT_RGB16:
                case FIT_RGBA16:
                case FIT_UINT16:
                    reinterpret_cast<WORD*>(line)[at] = WORD(value * 65535);
                    break;
                default:
                    reinterpret_cast<float*>(line)[at] = float(value);
                    break;
                }
            }
        }
    }
    return bitmap;
}

struct Kind {
    const char* name;
    FREE_IMAGE_FORMAT format;
    FREE_IMAGE_TYPE type;
    int bpp;
    double noise;
    int saveFlags;
};
const Kind kinds[] = {
    {"jpeg-baseline", FIF_JPEG, FIT_BITMAP, 24, 1, JPEG_QUALITYSUPERB},
    {"jpeg-progressive-444", FIF_JPEG, FIT_BITMAP, 24, 1,
     JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444 | JPEG_QUALITYSUPERB},
    {"jpeg-progressive-smooth", FIF_JPEG, FIT_BITMAP, 24, 0, JPEG_PROGRESSIVE | JPEG_SUBSAMPLING_444},
    {"png-rgb8", FIF_PNG, FIT_BITMAP, 24, 0, 0},
    {"png-rgba16", FIF_PNG, FIT_RGBA16, 64, 0, 0},
    {"tiff-rgb16", FIF_TIFF, FIT_RGB16, 48, 0, TIFF_DEFLATE},
    {"tiff-float", FIF_TIFF, FIT_RGBF, 96, 0, TIFF_DEFLATE},
    {"tiff-float-rgba", FIF_TIFF, FIT_RGBAF, 128, 0, TIFF_DEFLATE},
    {"exr-half", FIF_EXR, FIT_RGBF, 96, 0, EXR_DEFAULT},
    {"exr-rgba-float", FIF_EXR, FIT_RGBAF, 128, 0, EXR_FLOAT},
    {"hdr", FIF_HDR, FIT_RGBF, 96, 0.3, 0},
    {"pfm", FIF_PFM, FIT_RGBF, 96, 0, 0},
    {"j2k-photo-16to1", FIF_J2K, FIT_BITMAP, 24, 1, 16},
    {"j2k-lossless", FIF_J2K, FIT_BITMAP, 24, 1, 1},
    {"jp2-rgba16", FIF_JP2, FIT_RGBA16, 64, 0.2, 8},
    {"bmp-rgb", FIF_BMP, FIT_BITMAP, 24, 0, 0},
    {"bmp-16", FIF_BMP, FIT_BITMAP, 16, 0, 0},
    {"bmp-rgba", FIF_BMP, FIT_BITMAP, 32, 0, 0},
    {"targa-rgba", FIF_TARGA, FIT_BITMAP, 32, 0, 0},
    {"webp", FIF_WEBP, FIT_BITMAP, 24, 0.2, 90},
    {"webp-lossless-photo", FIF_WEBP, FIT_BITMAP, 24, 1, WEBP_LOSSLESS},
    {"webp-lossless-rgba", FIF_WEBP, FIT_BITMAP, 32, 1, WEBP_LOSSLESS},
    {"psd-rgba", FIF_PSD, FIT_BITMAP, 32, 0, 0},
    {"ppm16", FIF_PPMRAW, FIT_RGB16, 48, 0, 0},
};

// Room for the rows, mapped before the decoding starts as the child's shared
// result is, so that the address space the decoding adds leaves it out
// whenever the decoder's own peak comes, before or after the rows.
struct MappedSink : QvDecodeSink {
    explicit MappedSink(std::size_t room)
        : room(room),
          memory(::mmap(nullptr, room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))
    {
    }
    ~MappedSink()
    {
        if (memory != MAP_FAILED) ::munmap(memory, room);
    }
    void decoding(FREE_IMAGE_FORMAT) override {}
    std::uint8_t* rows(int, int, std::size_t bytes) override
    {
        return memory == MAP_FAILED || bytes > room ? nullptr : static_cast<std::uint8_t*>(memory);
    }
    std::size_t room;
    void* memory;
};

long statusKiB(const char* field)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    long value = 0;
    while (status != nullptr && std::fgets(line, sizeof line, status) != nullptr)
        if (std::strncmp(line, field, std::strlen(field)) == 0)
            value = std::atol(line + std::strlen(field) + 1);
    if (status != nullptr) std::fclose(status);
    return value;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Decodes the picture file at `path` as `kind` in this fresh process, and
// prints what it took against its limits.
int decode(const Kind& kind, const char* path)
{
    std::string error;
    const std::optional<QvPictureFile> file = qvReadPictureFile(path, error);
    if (!file) {
        fmt::print("{:24} {}\n", kind.name, error);
        return 1;
    }
    const QvDecoderLimits limits = qvDecoderLimits(file->header.format, file->header.reading, file->size);
    const QvDecodeRequest request{
        .retryFlags = true, .maxSide = 16384, .layout = QvPixelLayout::rgbBottomRowFirst};
    MappedSink sink(qvRowBytes(request.layout, width) * height);
    const long before = statusKiB("VmSize:");
    const double cpuBefore = cpuSeconds();
    const QvDecodeResult result = qvDecodePicture(file->bytes(), file->header, request, sink);
    const double cpu = cpuSeconds() - cpuBefore;
    const double mib = double(statusKiB("VmPeak:") - before) * 1024 / mebibyte;
    const double limitMiB = double(limits.memoryBytes) / mebibyte;
    fmt::print(
        "{:24} {:>10} bytes  {:7.1f} MiB {:6.2f} s   limit {:7.1f} MiB {:6.2f} s   {:3.0f} % {:3.0f} %  {}\n",
        kind.name, file->size, mib, cpu, limitMiB, limits.cpuSeconds, 100 * mib / limitMiB,
        100 * cpu / limits.cpuSeconds, result.error);
    std::fflush(stdout);
    return 0;
}

// Writes the largest picture of `kind` to `path`; false when FreeImage cannot.
bool write(const Kind& kind, const std::string& path)
{
    FIBITMAP* bitmap = gradient(kind.type, kind.bpp, kind.noise);
    const bool written = FreeImage_Save(kind.format, bitmap, path.c_str(), kind.saveFlags) != 0;
    FreeImage_Unload(bitmap);
    return written;
}

}  // namespace

// The most any file of each format may cost: the limits of the largest
// picture at the format's largest pixel, for a file of 1 KiB and of 10 MB.
void printWorstCases()
{
    for (int format = 0; format < FreeImage_GetFIFCount(); ++format) {
        if (!FreeImage_FIFSupportsReading(FREE_IMAGE_FORMAT(format))) continue;
        QvHeaderReading largest;
        largest.size = QvImageSize{width, height};
        const QvDecoderLimits small = qvDecoderLimits(FREE_IMAGE_FORMAT(format), largest, 1024);
        const QvDecoderLimits photo = qvDecoderLimits(FREE_IMAGE_FORMAT(format), largest, 10'000'000);
        fmt::print("{:8} 1 KiB: {:6.0f} MiB {:5.1f} s   10 MB: {:6.0f} MiB {:5.1f} s\n",
                   FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT(format)),
                   double(small.memoryBytes) / mebibyte, small.cpuSeconds,
                   double(photo.memoryBytes) / mebibyte, photo.cpuSeconds);
    }
}

int main(int argc, char** argv)
{
    if (argc == 2 && argv[1] == std::string("--worst")) {
        printWorstCases();
        return 0;
    }
    if (argc == 4 && argv[1] == std::string("--decode")) {
        for (const Kind& kind : kinds)
            if (kind.name == std::string(argv[2])) return decode(kind, argv[3]);
        return 1;
    }
    for (const Kind& kind : kinds) {
        bool asked = argc == 1;
        for (int i = 1; i < argc; ++i) asked = asked || kind.name == std::string(argv[i]);
        if (!asked) continue;
        const std::string path =
            fmt::format("/tmp/velmorin-costs-{}.{}", kind.name, FreeImage_GetFormatFromFIF(kind.format));
        if (!write(kind, path)) {
            fmt::print("{:24} cannot be written here\n", kind.name);
            continue;
        }
        // A fresh process, whose address space has not yet held the bitmap written.
        const pid_t child = ::fork();
        if (child == 0) {
            ::execl("/proc/self/exe", argv[0], "--decode", kind.name, path.c_str(), nullptr);
            ::_exit(127);
        }
        ::waitpid(child, nullptr, 0);
        std::remove(path.c_str());
    }
}
