// Pictures come out as their files store them: each file is written by ImageMagick or netpbm and
// the loaded pixels are held against one of these tools' decoding of the same file. Files
// FreeImage cannot read are named with the decoder that refused them.
#include "tempfiles.h"
#include "imagefixtures.h"
#include "engine/gl/qvloadimage.h"
#include "engine/picture/qvdecoderprocess.h"

#include <gtest/gtest.h>
#include <fmt/core.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

namespace {

using imagefixtures::Bytes;

// The Debian binary itself: `convert` may be another program on the path.
const std::string magick = "/usr/bin/convert-im6.q16";
const QvDecodeRequest textureRequest{.retryFlags = true, .maxSide = 16384};

std::string temp(const std::string& name)
{
    return testsupport::tempPath(name).string();
}

// Runs a shell command of the reference tools; its output is not wanted.
void run(const std::string& command)
{
    ASSERT_EQ(std::system((command + " 2>/dev/null").c_str()), 0) << command;
}

// A binary PPM or PGM as TextureLoader's rows: RGB, 16-bit samples rounded
// to 8 bits, each row padded to 4 bytes, the bottom row first.
Bytes textureRows(const std::string& netpbmPath)
{
    const Bytes file = imagefixtures::fileBytes(netpbmPath);
    unsigned width = 0, height = 0, maxval = 1;
    int at = 0;  // where the header ends
    std::sscanf(std::string(file.begin(), file.end()).c_str(), "P%*c %u %u %u%n", &width, &height, &maxval,
                &at);
    const unsigned channels = file[1] == '6' ? 3 : 1, bytes = maxval > 255 ? 2 : 1;
    const std::size_t stride = (width * 3 + 3) / 4 * 4;
    Bytes rows(stride * height, 0);
    for (unsigned y = 0; y < height; ++y) {
        for (unsigned x = 0; x < width * 3; ++x) {
            const std::size_t sample = at + 1 + ((y * width + x / 3) * channels + x % 3 % channels) * bytes;
            const unsigned value = bytes == 2 ? file.at(sample) << 8 | file.at(sample + 1) : file.at(sample);
            rows[(height - 1 - y) * stride + x] = std::uint8_t((value * 255 + maxval / 2) / maxval);
        }
    }
    return rows;
}

// A 5x3 picture whose every pixel differs. Its levels, cut to 5 or 6 bits as ImageMagick cuts
// them, widen back to one 8-bit value whether a decoder rounds or repeats the bits.
std::string sourcePicture()
{
    constexpr int levels[] = {0, 40, 72, 104, 136, 168, 216, 240, 255};
    std::string text = "P3\n5 3\n255\n";
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x)
            text += fmt::format("{} {} {}\n", levels[(x + y) % 9], levels[(2 * x + y + 3) % 9],
                                levels[(x + 3 * y + 6) % 9]);
    return imagefixtures::writeBytes("source.ppm", Bytes(text.begin(), text.end()));
}

// The picture file at `path` as the program reads it; the file, large in some tests, is then removed.
QvPictureFile pictureFile(const std::string& path)
{
    std::string error;
    std::optional<QvPictureFile> file = qvReadPictureFile(path, error);
    std::filesystem::remove(path);
    EXPECT_TRUE(file) << error;
    return std::move(*file);
}

// Decodes `file` apart and holds its size and rows (compared whole, too many to print) to those given.
void expectDecodedApart(const QvPictureFile& file, int width, int height, const Bytes& rows,
                        std::optional<QvDecoderLimits> limits = std::nullopt)
{
    std::string error;
    const std::optional<QvDecodedPicture> picture = qvDecodeApart(file, textureRequest, error, limits);
    ASSERT_TRUE(picture) << error;
    EXPECT_EQ(std::pair(picture->width, picture->height), std::pair(width, height));
    EXPECT_TRUE(Bytes(picture->rows.data(), picture->rows.data() + picture->rows.size()) == rows);
}

// Counts the loads a decoding makes; there is no room for rows.
struct LoadCounter : QvDecodeSink {
    void decoding(FREE_IMAGE_FORMAT) override { ++loads; }
    std::uint8_t* rows(int, int, std::size_t) override { return nullptr; }
    int loads = 0;
};

}  // namespace

// Each file is written by a tool from the source picture; netpbm or ImageMagick decode the reference.
TEST(PictureDecode, PicturesMatchTheirWritersOwnDecoding)
{
    const std::string source = sourcePicture(), alpha = temp("alpha.png"), greyAlpha = temp("greyalpha.png");
    run(fmt::format("{} {} -alpha set -channel A -fx '0.3+0.2*i' +channel {}", magick, source, alpha));
    run(fmt::format("ppmtopgm {} | {} pgm:- -alpha set -channel A -fx '0.3+0.2*i' +channel {}", source,
                    magick, greyAlpha));
    // References that round levels to 8 bits: netpbm's for PFM and 4-bit BMP channels (ImageMagick shifts),
    // ImageMagick's at 16 bits otherwise (netpbm truncates 5- and 6-bit channels; ImageMagick at 8 drops
    // 16-bit inks' low byte before turning them into light).
    const std::string fromPfm = "pfmtopam {in} | pamtopnm > {out}", fromBmp = "bmptopnm {in} > {out}",
                      fromMagick = magick + " {in} -alpha off -depth 16 ppm:{out}";
    // OS/2 2.x's 64-byte info header, which no tool at hand writes: the 40-byte one, 24 bytes of 0 longer.
    const std::string os2 = "python3 -c 'import sys; b = bytearray(sys.stdin.buffer.read()); b[54:54] = "
                            "bytes(24); b[2] += 24; b[10] += 24; b[14] = 64; sys.stdout.buffer.write(b)'";
    // A 36-byte info header, which FreeImage does not read: the 40-byte one cut after the colours used.
    const std::string bmp36 = "python3 -c 'import sys; b = bytearray(sys.stdin.buffer.read()); del b[50:54]; "
                              "b[2] -= 4; b[10] -= 4; b[14] = 36; sys.stdout.buffer.write(b)'";
    // A TGA's 24-bit colour map as a 15-bit one, which no tool at hand writes.
    const std::string tga15 =
        "python3 -c 'import sys; b = bytearray(sys.stdin.buffer.read()); n = b[5] | b[6] << 8; "
        "m = 18 + b[0]; e = [b[m + 3 * i:m + 3 * i + 3] for i in range(n)]; "
        "b[m:m + 3 * n] = b\"\".join(((c[2] >> 3 << 10) | (c[1] >> 3 << 5) | c[0] >> 3)"
        ".to_bytes(2, \"little\") for c in e); b[7] = 15; sys.stdout.buffer.write(b)'";
    // Grey of 0 for white, which ImageMagick writes only without alpha: photometric 0 written over its 1.
    const std::string minIsWhite = "python3 -c 'import sys, struct; b = bytearray(sys.stdin.buffer.read()); "
                                   "d = struct.unpack_from(\"<I\", b, 4)[0]; "
                                   "e = next(d + 2 + 12 * i for i in range(b[d]) if "
                                   "struct.unpack_from(\"<H\", b, d + 2 + 12 * i)[0] == 262); "
                                   "b[e + 8] = 0; sys.stdout.buffer.write(b)'";
    // A 6000x6000 JPEG thumbnail, more than the picture's own memory holds, put first among a PSD's image
    // resources (1036), which no tool at hand writes.
    const std::string thumbnail =
        "python3 -c 'import sys, struct; b = bytearray(sys.stdin.buffer.read()); j = open(sys.argv[1], "
        "\"rb\").read(); a = 30 + struct.unpack(\">I\", b[26:30])[0]; d = struct.pack(\">6I2H\", 1, 6000, "
        "6000, 18000, 108000000, len(j), 24, 1) + j + bytes(len(j) % 2); r = b\"8BIM\\x04\\x0c\\0\\0\" + "
        "struct.pack(\">I\", len(d)) + d; b[a:a + 4] = struct.pack(\">I\", struct.unpack(\">I\", b[a:a + "
        "4])[0] + len(r)); b[a + 4:a + 4] = r; sys.stdout.buffer.write(b)'";
    // Whole DXT blocks of one colour each, and a last part-block row and column FreeImage leaves out.
    const std::string dxt =
        "{magick} {source} -threshold 50% -sample 800% -extent 37x29 -define dds:mipmaps=0 "
        "-define dds:compression=";
    // Netpbm files with comments where netpbm allows them, each netpbm's own reading the reference.
    const std::string pbm = "{magick} {source} -threshold 50% pbm:-", plainPbm = pbm + " | pamtopnm -plain",
                      pgm = "ppmtopgm {source}", plainPgm = pgm + " | pnmtoplainpnm",
                      byNetpbm = "ppmtoppm < {in} > {out}", spaced = " | sed '3,$s/./& /g'",
                      afterWidth = " | sed '2s/ /#1 0\\n/' > {out}",
                      afterHeight = " | sed '2s/$/#c 7/' > {out}", afterMax = " | sed '3s/$/#c 7/' > {out}";
    // The reference comes from `referenceOf` when given: the straight colours premultiplied ones stand for.
    // A `face` is read too as sky faces are, with the default flag alone.
    const struct {
        std::string name, write, reference, referenceOf = "";
        bool face = false;
    } cases[] = {
        {"big.pfm", "pamtopfm -endian=big {source} > {out}", fromPfm},
        {"little.pfm", "pamtopfm -endian=little {source} > {out}", fromPfm},
        {"grey.pfm", "ppmtopgm {source} | pamtopfm > {out}", fromPfm},
        {"magick.pfm", "{magick} {source} {out}", fromMagick},
        {"magickgrey.pfm", "ppmtopgm {source} | {magick} pgm:- {out}", fromMagick},
        {"float.tif", "{magick} {source} -define quantum:format=floating-point -depth 32 -compress zip {out}",
         fromMagick},
        {"half.tif", "{magick} {source} -define quantum:format=floating-point -depth 16 -compress zip {out}",
         fromMagick},
        {"cmyk8.psd", "{magick} {source} -colorspace CMYK -depth 8 {out}", fromMagick, "", true},
        {"cmyk16.psd", "{magick} {source} -colorspace CMYK -depth 16 {out}", fromMagick, "", true},
        {"thumbnail.psd",
         "{magick} -size 6000x6000 xc:#204080 -type TrueColor {out}.jpg && {magick} {source} psd:- | " +
             thumbnail + " {out}.jpg > {out}",
         fromMagick},
        {"associated.tif", "{magick} {alpha} -define tiff:alpha=associated -depth 16 {out}", fromMagick,
         alpha},
        {"greyalpha.tif", "{magick} {greyAlpha} -depth 16 {out}", fromMagick},
        {"greyassociated.tif", "{magick} {greyAlpha} -define tiff:alpha=associated -depth 16 {out}",
         fromMagick, greyAlpha},
        {"greywhite.tif", "{magick} {greyAlpha} -depth 16 tif:- | " + minIsWhite + " > {out}",
         magick + " {in} -alpha off -negate -depth 16 ppm:{out}", greyAlpha},
        {"greywhitenoalpha.tif",
         "{magick} {greyAlpha} -alpha off -depth 16 tif:- | " + minIsWhite + " > {out}",
         magick + " {in} -alpha off -negate -depth 16 ppm:{out}", greyAlpha, true},
        {"v5.bmp", "{magick} {source} {out}", fromBmp},
        {"alpha.bmp", "{magick} {alpha} {out}", fromBmp},
        {"565.bmp", "{magick} {source} -define bmp:subtype=RGB565 {out}", fromMagick},
        {"555.bmp", "{magick} {source} -define bmp:subtype=RGB555 {out}", fromMagick},
        {"4444.bmp", "{magick} {alpha} -define bmp:subtype=ARGB4444 {out}", fromBmp},
        {"palette.bmp", "{magick} {source} -type palette {out}", fromBmp},
        {"rle.bmp", "{magick} {source} -type palette -compress RLE bmp3:{out}", fromMagick},
        {"plain.pbm", "{magick} {source} -threshold 50% pbm:- | pamtopnm -plain > {out}", fromMagick},
        {"os2.bmp", "{magick} {source} bmp3:- | " + os2 + " > {out}", fromMagick},
        {"header36.bmp", "{magick} {source} -type palette bmp3:- | " + bmp36 + " > {out}", fromMagick,
         source},
        {"comment.pbm", plainPbm + " | sed '2s/$/#1 0/; 3,$s/ //g' > {out}", byNetpbm},
        {"widthcomment.pbm", plainPbm + afterWidth, byNetpbm},
        {"widthcomment.pgm", plainPgm + afterWidth, byNetpbm},
        {"widthcommentraw.pgm", pgm + afterWidth, byNetpbm},
        {"heightcomment.pgm", plainPgm + afterHeight, byNetpbm},
        {"heightcommentraw.ppm", "ppmtoppm < {source}" + afterHeight, byNetpbm},
        {"heightcommentraw.pbm", pbm + afterHeight, byNetpbm},
        {"maxcomment.ppm", "pnmtoplainpnm {source}" + afterMax, byNetpbm},
        {"maxcommentraw.pgm", pgm + afterMax, byNetpbm},
        {"samplecomment.pbm", plainPbm + spaced + " | sed '3s/ $/#c 1 0 1/' > {out}", byNetpbm},
        {"returncomment.pgm", pgm + " | sed '2s/^/#c\\r/' > {out}", byNetpbm},
        {"samplereturncomment.pgm", plainPgm + " | sed '4s/ / #c\\r/' > {out}", byNetpbm},
        {"lastsample.pbm", plainPbm + spaced + " | sed 's/ $//' | head -c -1 > {out}", byNetpbm},
        // Rows marked top first: ImageMagick writes them so but marks others bottom first.
        {"map15.tga",
         "{magick} {source} -type palette -compress none -orient TopLeft tga:- | " + tga15 + " > {out}",
         fromMagick},
        {"tiledcmyk.tif", "{magick} {source} -colorspace CMYK -define tiff:tile-geometry=16x16 {out}",
         fromMagick, "", true},
        {"tiledcmyk16.tif",
         "{magick} {source} -colorspace CMYK -depth 16 -define tiff:tile-geometry=16x16 {out}", fromMagick,
         "", true},
        {"dxt1.dds", dxt + "dxt1 {out}", magick + " {in} -crop 36x28+0+0 -alpha off -depth 16 ppm:{out}"},
        {"dxt5.dds", dxt + "dxt5 {out}", magick + " {in} -crop 36x28+0+0 -alpha off -depth 16 ppm:{out}"},
    };
    for (const auto& c : cases) {
        const std::string out = temp(c.name), reference = temp(c.name + ".pnm");
        SCOPED_TRACE(out);
        run(fmt::format(fmt::runtime(c.write), fmt::arg("source", source), fmt::arg("alpha", alpha),
                        fmt::arg("greyAlpha", greyAlpha), fmt::arg("magick", magick), fmt::arg("out", out)));
        run(fmt::format(fmt::runtime(c.reference),
                        fmt::arg("in", c.referenceOf.empty() ? out : c.referenceOf),
                        fmt::arg("out", reference)));
        testing::internal::CaptureStdout();
        const Bytes loaded = TextureLoader().loadImage(out);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
        EXPECT_EQ(loaded, textureRows(reference));
        std::string error;
        const auto face = c.face ? qvReadPicture(out, {.maxSide = 16384}, error) : std::nullopt;
        ASSERT_EQ(face.has_value(), c.face) << error;
        EXPECT_TRUE(!face || Bytes(face->rows.data(), face->rows.data() + face->rows.size()) == loaded);
    }
}

// ImageMagick shows an EXR as linear light, so no tool at hand shows what it
// stores: #336699 as halves within 1/4096 of 0.2, 0.4 and 0.6.
TEST(PictureDecode, AFloatPictureWithinOneShowsItsValues)
{
    const std::string path = temp("flat.exr");
    run(fmt::format("{} -size 3x2 xc:#336699 {}", magick, path));
    EXPECT_EQ(TextureLoader().loadImage(path), Bytes({51, 102, 153, 51, 102, 153, 51, 102, 153, 0, 0, 0,
                                                      51, 102, 153, 51, 102, 153, 51, 102, 153, 0, 0, 0}));
}

// The reason is the decoder's own, under the format asked for (FreeImage reports the six Netpbm formats as
// one); where it says nothing, the content guessed from the file's start (a PCX under a TARGA's name); for
// kinds of file FreeImage cannot read, that it cannot.
TEST(PictureDecode, AFileFreeImageRefusesIsNamedWithItsDecodersWords)
{
    const std::string pbm = "P1\n4 2\n0110\n10x1\n";
    const std::string letters = imagefixtures::writeBytes("letters.pbm", Bytes(pbm.begin(), pbm.end()));
    // A PCX of one plane of 4-bit pixels, and one under a TARGA's name.
    const std::string packed = temp("packed.pcx"), misnamed = temp("pcx.tga"), mapped = temp("mapped.ras");
    run(fmt::format("ppmtopcx -packed {} > {}", sourcePicture(), packed));
    run(fmt::format("pnmtorast {} > {}", sourcePicture(), mapped));
    run(fmt::format("ppmtopcx {} > {}", sourcePicture(), misnamed));
    for (const auto& [path, reason] :
         {std::pair{letters, "the PBM decoder says \"Parsing error\""},
          std::pair{packed, "FreeImage cannot read a PCX of 4-bit pixels in 1 plane"},
          std::pair{mapped,
                    "FreeImage cannot read a Sun raster whose colour map holds all 256 colours of its "
                    "8-bit pixels"},
          std::pair{misnamed, "the content is a picture in PCX format, read only from a file named .pcx"}}) {
        testing::internal::CaptureStdout();
        EXPECT_TRUE(TextureLoader().loadImage(path).empty());
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  fmt::format("Picture {} not loaded: {}\n", path, reason));
    }
}

// libwebp holds each pixel twice beside FreeImage's bitmap, FreeImage the file twice; noise keeps the
// file as large as its pixels, as a photo's grain does at worst (and FreeImage writes it fast).
TEST(PictureDecode, ALosslessWebPPhotoDecodesUnderTheLimitsOfItsSize)
{
    constexpr int side = 4096;  // rows of 4096 RGB pixels need no padding
    Bytes rows(std::size_t(side) * side * 3);
    std::mt19937 random(5);
    std::ranges::generate(rows, [&] { return std::uint8_t(random()); });
    FIBITMAP* photo = FreeImage_Allocate(side, side, 24);
    constexpr int channel[] = {FI_RGBA_RED, FI_RGBA_GREEN, FI_RGBA_BLUE};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side * 3; ++x)
            FreeImage_GetScanLine(photo, y)[x - x % 3 + channel[x % 3]] = rows[std::size_t(y) * side * 3 + x];
    const std::string path = temp("photo.webp");
    ASSERT_TRUE(FreeImage_Save(FIF_WEBP, photo, path.c_str(), WEBP_LOSSLESS));
    FreeImage_Unload(photo);
    const QvPictureFile file = pictureFile(path);
    EXPECT_GT(file.size, 48u << 20);
    QvHeaderReading ofItsSize = file.header.reading;
    ofItsSize.size = QvImageSize{side, side};
    expectDecodedApart(file, side, side, rows, qvDecoderLimits(FIF_WEBP, ofItsSize, file.size));
}

// A plain PBM whose digits run together is read from its width x height
// digits alone: tens of MB of digits after them cost nothing.
TEST(PictureDecode, APlainPbmIsReadToItsLastPixelNotToTheEndOfItsFile)
{
    const std::string picture = "P1\n4 2\n0110\n1001\n";
    Bytes file(picture.begin(), picture.end());
    file.resize(file.size() + (64 << 20), '1');
    // 1 is black; the bottom row first.
    expectDecodedApart(
        pictureFile(imagefixtures::writeBytes("run.pbm", file)), 4, 2,
        {0, 0, 0, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 0, 0, 0, 255, 255, 255});
}

// A CUT has no signature: one 10 pixels wide and 256 high starts as FreeImage's
// loose check of a PCX does; it is decoded as the CUT its name says, not as PCX.
TEST(PictureDecode, AFileIsDecodedAsTheFormatDecidedNotAsFreeImageGuesses)
{
    constexpr int width = 10, height = 256;
    Bytes cut{width, 0, 0, height >> 8, 0, 0, 0, 0}, rows;  // and four bytes unused
    for (int y = 0; y < height; ++y) {
        cut.insert(cut.end(), {0x80 | width, std::uint8_t(y * 37 % 256), 0, 0, 0});  // a run, the line's end
        rows.insert(rows.end(), 3 * width, std::uint8_t((height - 1 - y) * 37 % 256));
        rows.resize(rows.size() + 2, 0);  // the file's top row last, 30 bytes padded to 32
    }
    FIMEMORY* memory = FreeImage_OpenMemory(cut.data(), DWORD(cut.size()));
    ASSERT_EQ(FreeImage_GetFileTypeFromMemory(memory, 0), FIF_PCX);
    FreeImage_CloseMemory(memory);
    expectDecodedApart(pictureFile(imagefixtures::writeBytes("grey.cut", cut)), width, height, rows);
}

// FreeImage refuses an 8-bit luminance DDS without a word. Flag values that read a file alike are tried
// once: the DDS reader looks at no flag, so of the 18 only the default is tried.
TEST(PictureDecode, FlagValuesThatReadAFileAlikeAreTriedOnce)
{
    Bytes dds;
    imagefixtures::put(dds, "DDS ");
    imagefixtures::putFields(dds, 4, {124, 0x100F, 4, 4, 4}, true);
    dds.resize(76, 0);
    imagefixtures::putFields(dds, 4, {32, 0x20000, 0, 8, 0xFF, 0, 0, 0, 0x1000}, true);
    dds.resize(128 + 16, 0x80);
    LoadCounter sink;
    const QvDecodeResult result =
        qvDecodePicture(dds, qvReadPictureHeader(dds, FIF_DDS), textureRequest, sink);
    EXPECT_EQ(result.error, "not a picture FreeImage can read");
    EXPECT_EQ(sink.loads, 1);
}

// More pixels than the header said find no room, and say so (within the longest side the caller takes).
TEST(PictureDecode, ADecoderGivingMoreThanItsHeaderSaysIsNamed)
{
    QvPictureFile file = pictureFile(imagefixtures::writeBlackPng("wide.png", 100, 60));
    file.header.reading.size = QvImageSize{10, 6};
    std::string error;
    EXPECT_FALSE(qvDecodeApart(file, textureRequest, error));
    EXPECT_EQ(error, "the PNG decoder gave a 100x60 picture, larger than its header says");
}
