// Picture sizes read from headers, held against the size FreeImage decodes.
#include "engine/gl/qvimageheader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

void put(Bytes& bytes, std::string_view text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}
// Appends fields of `size` bytes each.
void putFields(Bytes& bytes, int size, std::initializer_list<std::uint64_t> values, bool littleEndian = false)
{
    for (const std::uint64_t value : values) {
        for (int i = 0; i < size; ++i) {
            bytes.push_back(static_cast<std::uint8_t>(value >> (8 * (littleEndian ? i : size - 1 - i))));
        }
    }
}
// The bytes with fields of `size` bytes each written over them from `at` on.
Bytes patched(Bytes bytes, std::size_t at, int size, std::initializer_list<std::uint64_t> values,
              bool littleEndian = false)
{
    Bytes fields;
    putFields(fields, size, values, littleEndian);
    std::copy(fields.begin(), fields.end(), bytes.begin() + at);
    return bytes;
}
std::size_t find(const Bytes& bytes, std::string_view text)
{
    const auto sameByte = [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); };
    return std::search(bytes.begin(), bytes.end(), text.begin(), text.end(), sameByte) - bytes.begin();
}
// Pixel bytes; a claimed picture too large to hold keeps only their start.
void putPixels(Bytes& bytes, std::uint64_t count)
{
    bytes.resize(bytes.size() + std::min<std::uint64_t>(count, 4096), 0x5A);
}

Bytes writtenByFreeImage(FREE_IMAGE_FORMAT format, int width, int height, int bitsPerPixel)
{
    FIBITMAP* bitmap = FreeImage_Allocate(width, height, bitsPerPixel);
    FIMEMORY* memory = FreeImage_OpenMemory();
    FreeImage_SaveToMemory(format, bitmap, memory, 0);
    BYTE* data = nullptr;
    DWORD size = 0;
    FreeImage_AcquireMemory(memory, &data, &size);
    Bytes bytes(data, data + size);
    FreeImage_CloseMemory(memory);
    FreeImage_Unload(bitmap);
    return bytes;
}

// Uncompressed 32-bit RGBA.
Bytes dds(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes;
    put(bytes, "DDS ");
    putFields(bytes, 4, {124, 0x100F, height, width, width * 4}, true);
    bytes.resize(76, 0);
    putFields(bytes, 4, {32, 0x41, 0, 32, 0xFF0000, 0xFF00, 0xFF, 0xFF000000, 0x1000}, true);
    bytes.resize(128, 0);
    putPixels(bytes, width * height * 4);
    return bytes;
}

// Uncompressed 8-bit grey.
Bytes sgi(std::uint64_t width, std::uint64_t height, int dimension = 2)
{
    Bytes bytes;
    putFields(bytes, 2, {474, 0x0001, std::uint64_t(dimension), width, height, 1});
    putFields(bytes, 4, {0, 255});
    bytes.resize(512, 0);
    putPixels(bytes, width * height);
    return bytes;
}

// One bit plane, uncompressed.
Bytes ilbm(std::uint64_t width, std::uint64_t height)
{
    Bytes form;
    put(form, "ILBMBMHD");
    putFields(form, 4, {20});
    putFields(form, 2, {width, height, 0, 0, 0x0100, 0, 0, 0x0101, width, height});
    put(form, "BODY");
    putFields(form, 4, {(width + 15) / 16 * 2 * height});
    putPixels(form, (width + 15) / 16 * 2 * height);
    Bytes bytes;
    put(bytes, "FORM");
    putFields(bytes, 4, {form.size()});
    bytes.insert(bytes.end(), form.begin(), form.end());
    return bytes;
}

void putPngChunk(Bytes& bytes, std::string_view type, const Bytes& data)
{
    putFields(bytes, 4, {data.size()});
    const std::size_t start = bytes.size();
    put(bytes, type);
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::uint32_t crc = ~0u;
    for (std::size_t i = start; i < bytes.size(); ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
        }
    }
    putFields(bytes, 4, {~crc});
}

// A 1x1 frame holding the PNG's chunks.
Bytes mng(const Bytes& png)
{
    Bytes bytes;
    put(bytes, "\x8aMNG\r\n\x1a\n");
    Bytes header;
    putFields(header, 4, {1, 1, 1, 0, 0, 0, 1});
    putPngChunk(bytes, "MHDR", header);
    bytes.insert(bytes.end(), png.begin() + 8, png.end());
    putPngChunk(bytes, "MEND", {});
    return bytes;
}

Bytes xbm(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes;
    put(bytes, "#define pic_width " + std::to_string(width) + "\n#define pic_height " + std::to_string(height) +
                   "\n#define pic_x_hot 0\nstatic char pic_bits[] = {\n");
    for (std::uint64_t i = 0; i < std::min<std::uint64_t>((width + 7) / 8 * height, 4096); ++i) {
        put(bytes, "0x5a, ");
    }
    put(bytes, "};\n");
    return bytes;
}

// Version 2: a 1x1 frame, the header, a clip region, then one 8-bit packed
// bits map of the given bounds (rows under 8 bytes are stored unpacked).
Bytes pict(std::uint64_t width, std::uint64_t height)
{
    Bytes bytes(512, 0);
    putFields(bytes, 2, {0, 0, 0, 1, 1, 0x0011, 0x02FF, 0x0C00, 0xFFFE});
    bytes.resize(bytes.size() + 22, 0);
    const std::uint64_t rowBytes = (width + 1) & ~1ull;
    putFields(bytes, 2, {0x0001, 10, 0, 0, height, width, 0x0098, 0x8000 | rowBytes, 0, 0, height, width});
    // The pixel map's rest, then a two-colour table.
    putFields(bytes, 2, {0, 0, 0, 0, 0x48, 0, 0x48, 0, 0, 8, 1, 8, 0, 0, 0, 0, 0, 0});
    putFields(bytes, 2, {0, 0, 0, 1, 0, 0, 0, 0, 1, 0xFFFF, 0xFFFF, 0xFFFF});
    putFields(bytes, 2, {0, 0, height, width, 0, 0, height, width, 0});  // source, destination, copy mode
    putPixels(bytes, rowBytes * height);
    bytes.resize((bytes.size() + 1) & ~std::size_t(1), 0);
    putFields(bytes, 2, {0x00FF});
    return bytes;
}

Bytes cut(Bytes bytes, std::size_t size)
{
    bytes.resize(size);
    return bytes;
}

struct HeaderCase {
    const char* name;
    FREE_IMAGE_FORMAT format;
    Bytes file;
    QvImageSize size;
    bool decodes;             // a real file: FreeImage decodes it to `size`
    std::size_t headerBytes;  // how much of the file gives the size; every shorter start of it gives nothing
};

}  // namespace

TEST(ImageHeader, GivesTheSizeFreeImageDecodesOrNothingWhenCutShort)
{
    const Bytes gif = writtenByFreeImage(FIF_GIF, 2, 3, 8);
    const Bytes j2k = writtenByFreeImage(FIF_J2K, 32, 40, 24);  // its encoder takes no side under 32
    const Bytes jp2 = writtenByFreeImage(FIF_JP2, 32, 40, 24);
    const Bytes png = writtenByFreeImage(FIF_PNG, 2, 3, 24);
    const std::size_t codestream = find(jp2, "\xFF\x4F\xFF\x51");
    Bytes koala{0x00, 0x60};
    putPixels(koala, 10001);
    const std::vector<HeaderCase> cases{
        {"gif", FIF_GIF, gif, {2, 3}, true, 49},
        {"gif image beyond its screen", FIF_GIF, patched(gif, 6, 2, {1, 1}, true), {2, 3}, true, 0},
        {"dds", FIF_DDS, dds(2, 3), {2, 3}, true, 20},
        {"sgi", FIF_SGI, sgi(2, 3), {2, 3}, true, 10},
        {"sgi of one dimension", FIF_SGI, sgi(2, 3, 1), {2, 1}, true, 0},
        {"j2k", FIF_J2K, j2k, {32, 40}, true, 24},
        {"j2k with an image offset", FIF_J2K, patched(j2k, 16, 4, {4}), {28, 40}, true, 0},
        {"jp2", FIF_JP2, jp2, {32, 40}, true, find(jp2, "ihdr") + 12},
        {"iff", FIF_IFF, ilbm(2, 3), {2, 3}, true, 24},
        {"mng", FIF_MNG, mng(png), {2, 3}, true, 64},
        {"wbmp", FIF_WBMP, writtenByFreeImage(FIF_WBMP, 2, 3, 1), {2, 3}, true, 4},
        {"wbmp with a parameter", FIF_WBMP, {0, 0x80, 0x71, 'n', 'a', 'm', 'e', 'n', 'a', 'm', 'v', 2, 3, 0, 0, 0},
         {2, 3}, true, 13},
        {"xbm", FIF_XBM, xbm(2, 3), {2, 3}, true, find(xbm(2, 3), "static") + 6},
        {"pict", FIF_PICT, pict(2, 3), {2, 3}, true, 576},
        {"koala", FIF_KOALA, koala, {320, 200}, true, 0},
        // FreeImage reads any file as one (a cut one from memory it never filled).
        {"koala cut short", FIF_KOALA, cut(koala, 100), {320, 200}, false, 0},
        // Claims too large to decode must still be read, for the loader to refuse them.
        {"gif claim", FIF_GIF, patched(gif, 6, 2, {20000, 30000}, true), {20000, 30000}, false, 0},
        {"dds claim", FIF_DDS, dds(20000, 30000), {20000, 30000}, false, 0},
        {"sgi claim", FIF_SGI, sgi(20000, 30000), {20000, 30000}, false, 0},
        {"j2k claim", FIF_J2K, patched(j2k, 8, 4, {20000, 30000}), {20000, 30000}, false, 0},
        {"jp2 claim", FIF_JP2,
         patched(patched(jp2, find(jp2, "ihdr") + 4, 4, {30000, 20000}), codestream + 8, 4, {20000, 30000}),
         {20000, 30000}, false, 0},
        {"iff claim", FIF_IFF, ilbm(20000, 30000), {20000, 30000}, false, 0},
        {"mng claim", FIF_MNG, mng(patched(png, 16, 4, {20000, 30000})), {20000, 30000}, false, 0},
        {"wbmp claim", FIF_WBMP, {0, 0, 0x81, 0x9C, 0x20, 0x81, 0xEA, 0x30}, {20000, 30000}, false, 0},
        {"xbm claim", FIF_XBM, xbm(20000, 30000), {20000, 30000}, false, 0},
        {"pict claim", FIF_PICT, pict(20000, 30000), {20000, 30000}, false, 0},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::optional<QvImageSize> size = qvHeaderImageSize(c.format, c.file);
        ASSERT_TRUE(size.has_value());
        EXPECT_EQ(size->width, c.size.width);
        EXPECT_EQ(size->height, c.size.height);
        if (c.decodes) {
            FIMEMORY* memory = FreeImage_OpenMemory(const_cast<BYTE*>(c.file.data()), DWORD(c.file.size()));
            FIBITMAP* bitmap = FreeImage_LoadFromMemory(c.format, memory, 0);
            ASSERT_NE(bitmap, nullptr);
            EXPECT_EQ(FreeImage_GetWidth(bitmap), c.size.width);
            EXPECT_EQ(FreeImage_GetHeight(bitmap), c.size.height);
            FreeImage_Unload(bitmap);
            FreeImage_CloseMemory(memory);
        }
        if (c.headerBytes > 0) {
            const std::optional<QvImageSize> header = qvHeaderImageSize(c.format, cut(c.file, c.headerBytes));
            EXPECT_TRUE(header && header->width == c.size.width && header->height == c.size.height);
        }
        for (std::size_t shorter = 0; shorter < c.headerBytes; ++shorter) {
            EXPECT_FALSE(qvHeaderImageSize(c.format, cut(c.file, shorter))) << "cut to " << shorter;
        }
    }
    EXPECT_FALSE(qvHeaderImageSize(FIF_PNG, png)) << "FreeImage reads that size itself";
}
