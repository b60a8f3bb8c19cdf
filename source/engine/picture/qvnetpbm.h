// qvnetpbm: the Netpbm formats (PBM, PGM, PPM, plain and raw) and PFM: how
// their text headers are read, the files FreeImage misreads for their
// comments or digits, and the rows of a PFM it turns over.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "engine/picture/qvpictureformat.h"

// P1 to P6, whichever of them the file is: FreeImage names each a format of
// its own, but its one decoder reads any of them as any. The header is read
// as netpbm reads it. Numbers past an int would wrap in FreeImage; they stay
// large here, where the decoder's size bounds refuse them.
QvHeaderReading qvReadNetpbm(std::span<const std::uint8_t> file);
// PFM: "PF" (colour) or "Pf" (grey), the sides, a scale, then 32-bit floats.
QvHeaderReading qvReadPfm(std::span<const std::uint8_t> file);

// Netpbm allows a comment after any number of the header and, in plain
// files, between samples; FreeImage takes the "#" straight after a number
// for its end and the comment's digits for numbers. A plain PBM's digits
// need no space between them, nor its last one a character after it, but
// FreeImage reads "0110" as one number and refuses a number at the end of
// the file. Such a file goes to FreeImage as its header alone and its pixels
// (a plain file's samples one by one), from what the header reading found.
QvRewrittenPicture qvRewriteNetpbm(std::span<const std::uint8_t> file, const QvHeaderReading& header);
// A PFM's rows, which FreeImage takes top first though the format stores the
// bottom row first, turned over.
void qvPfmAsStored(FIBITMAP* bitmap, int flags, const QvHeaderReading& header,
                   std::span<const std::uint8_t> file);

// A Netpbm format's row: the one reader and rewrite of them all, and the
// largest pixel its decoder makes where that was measured (grey of 16 bits,
// colour of 48).
constexpr QvPictureFormat qvNetpbmFormat(FREE_IMAGE_FORMAT format, QvDecodingCost cost = {})
{
    return {.format = format,
            .readHeader = qvReadNetpbm,
            .readInFull = true,
            .cost = cost,
            .rewrite = qvRewriteNetpbm};
}

inline constexpr std::array<QvPictureFormat, 7> qvNetpbmFormats{{
    qvNetpbmFormat(FIF_PBM),
    qvNetpbmFormat(FIF_PBMRAW),
    qvNetpbmFormat(FIF_PGM, {.largestBits = 16}),
    qvNetpbmFormat(FIF_PGMRAW, {.largestBits = 16}),
    qvNetpbmFormat(FIF_PPM, {.largestBits = 48}),
    qvNetpbmFormat(FIF_PPMRAW, {.largestBits = 48}),
    {.format = FIF_PFM,
     .readHeader = qvReadPfm,
     .readInFull = true,
     .cost = {.largestBits = 96},
     .asStored = qvPfmAsStored},
}};
