// qvsmallformats: the formats that need little of the program: SGI and PSD,
// read in full (PSD's CMYK inks, which FreeImage does not mark, marked); TGA's
// 15-bit colour maps, which FreeImage misreads;
// DDS, IFF, WBMP, XBM, PICT and Koala, read for their size where FreeImage
// has no header read of its own; PCX, Sun raster and TGA, read for the kinds
// FreeImage cannot read and for what their files must hold; and the costs
// and load flags of formats read by FreeImage alone.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// SGI: verbatim channels must be in the file; run-length rows are found
// through tables of their starts and lengths, each of which must lie in the
// file and be able to hold a row.
QvHeaderReading qvReadSgi(std::span<const std::uint8_t> file);
// DDS: its size, of DXT blocks the whole blocks' size, which FreeImage
// decodes; the rows or blocks FreeImage reads must be in the file, and a DXT
// picture have a whole block.
QvHeaderReading qvReadDdsSize(std::span<const std::uint8_t> file);
// A DXT DDS whose sides are not whole blocks, whose rows of blocks FreeImage
// reads as if they were, without their last part-block: each row's whole
// blocks alone, under the whole blocks' size.
QvRewrittenPicture qvRewriteDdsBlocks(std::span<const std::uint8_t> file, const QvHeaderReading& header);
// IFF (ILBM, PBM): the bitmap header chunk, before the pixels.
QvHeaderReading qvReadIffSize(std::span<const std::uint8_t> file);
QvHeaderReading qvReadWbmpSize(std::span<const std::uint8_t> file);
// XBM: the "#define <name>_width N" and "_height N" lines before the line
// starting "static" that opens the bits; a later line overrides an earlier.
QvHeaderReading qvReadXbmSize(std::span<const std::uint8_t> file);
// PICT: FreeImage allocates the bounds of the first bitmap or pixel map the
// picture draws, not its frame, so the opcodes before that one are walked.
QvHeaderReading qvReadPictSize(std::span<const std::uint8_t> file);
// PCX, Sun raster and TGA: kinds of file FreeImage cannot read, refused as
// such; of the kinds it decodes, the size, and plain pixels must be in the
// file, run-length ones at least the bytes their longest runs give them in,
// and their runs, walked as FreeImage reads them, give the whole picture
// before the file ends (a TGA's packets no more than it); nothing for
// others, which FreeImage refuses itself.
QvHeaderReading qvReadPcx(std::span<const std::uint8_t> file);
QvHeaderReading qvReadSunRaster(std::span<const std::uint8_t> file);
QvHeaderReading qvReadTga(std::span<const std::uint8_t> file);
// PSD and PSB: the merged picture after the layers must be in the file, its
// PackBits rows each able to give a row.
QvHeaderReading qvReadPsd(std::span<const std::uint8_t> file);
// Koala: a Commodore 64 picture has one size; FreeImage reads any file as
// one, of 16 colours.
QvHeaderReading qvReadKoalaSize(std::span<const std::uint8_t> file);

// A TGA whose colour map has 15-bit entries, which FreeImage reads as grey
// levels of the indices, gets them as 24-bit ones, each channel scaled with
// rounding.
QvRewrittenPicture qvRewriteTgaColourMap(std::span<const std::uint8_t> file, const QvHeaderReading& header);

// A CMYK PSD read with PSD_CMYK, as the default flag reads every PSD, whose
// inks FreeImage hands back as if they were red, green, blue and alpha,
// marked as CMYK (PSD_CMYK is ignored for pictures of other modes).
void qvPsdAsStored(FIBITMAP* bitmap, int flags, const QvHeaderReading& header,
                   std::span<const std::uint8_t> file);

inline constexpr std::array<QvPictureFormat, 17> qvSmallFormats{{
    {.format = FIF_SGI, .readHeader = qvReadSgi, .readInFull = true},
    {.format = FIF_DDS, .readHeader = qvReadDdsSize, .rewrite = qvRewriteDdsBlocks},
    {.format = FIF_IFF, .readHeader = qvReadIffSize},  // also FIF_LBM
    {.format = FIF_WBMP, .readHeader = qvReadWbmpSize},
    {.format = FIF_XBM, .readHeader = qvReadXbmSize},
    {.format = FIF_PICT, .readHeader = qvReadPictSize},
    {.format = FIF_KOALA, .readHeader = qvReadKoalaSize},
    {.format = FIF_PCX, .readHeader = qvReadPcx},
    {.format = FIF_RAS, .readHeader = qvReadSunRaster},
    {.format = FIF_PSD,
     .readHeader = qvReadPsd,
     .readInFull = true,
     .cost = {.largestBits = 128},
     .asStored = qvPsdAsStored,
     .loadFlagsRead = PSD_CMYK | PSD_LAB,
     .defaultFlags = PSD_CMYK,
     .thumbnailFormat = FIF_JPEG},
    // OpenEXR decodes a tile whole: a picture stored as one tile is held
    // again beside the bitmap as its coded tile, its decoded samples and the
    // row of tiles its line reader keeps, three copies of float samples (a
    // 5760x5760 float one adds 2537 MiB, a half one 1775 MiB, one of
    // 1440x1440 tiles 681 MiB).
    {.format = FIF_EXR, .cost = {.largestBits = 128, .decoderBytesPerSample = 12}},
    {.format = FIF_JXR, .cost = {.largestBits = 128}},
    {.format = FIF_RAW,
     .cost = {.largestBits = 48},
     .loadFlagsRead = RAW_PREVIEW | RAW_DISPLAY | RAW_HALFSIZE | RAW_UNPROCESSED},
    // libwebp's lossless decoder holds every pixel as 32-bit ARGB and again
    // in its output buffer before FreeImage copies it; FreeImage holds the
    // file twice (read whole, then copied apart into its container).
    {.format = FIF_WEBP,
     .cost = {.largestBits = 32,
              .decoderBytesPerSample = 2,
              .bytesPerFileByte = 2,
              .cpuSecondsPerFileMiB = 0.02}},
    {.format = FIF_ICO, .loadFlagsRead = ICO_MAKEALPHA},
    {.format = FIF_TARGA,
     .readHeader = qvReadTga,
     .rewrite = qvRewriteTgaColourMap,
     .loadFlagsRead = TARGA_LOAD_RGB888},
    // PCD_BASE, PCD_BASEDIV4 and PCD_BASEDIV16 are 1, 2 and 3.
    {.format = FIF_PCD, .loadFlagsRead = PCD_BASE | PCD_BASEDIV4},
}};
