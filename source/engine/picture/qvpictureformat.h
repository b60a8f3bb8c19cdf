// qvpictureformat: one row of the table of formats, all the program knows of
// one FreeImage format: how its header is read, what decoding it costs, what
// is done to its bytes before FreeImage sees them and to its pixels after,
// and which load flags its decoder reads. Each format family's file gives
// its rows; qvformattable lists them.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "engine/picture/qvimageheader.h"

// What a format's decoder holds and does beyond its bitmap. The defaults are
// those of a format measured for nothing more.
struct QvDecodingCost {
    // Bits of the largest pixel its decoder makes, for a picture whose
    // header does not tell.
    std::uint32_t largestBits = 32;
    // Bytes each sample of the picture costs inside the decoder: JPEG's
    // 16-bit coefficients of a progressive file, JPEG 2000's 32-bit samples.
    double decoderBytesPerSample = 0;
    // Memory in proportion to the file: coded data a decoder may hold whole.
    double bytesPerFileByte = 0;
    // Processor time in proportion to the file, where decoding work grows
    // with the coded data as well as with the pixels.
    double cpuSecondsPerFileMiB = 0.01;
};

// A file as FreeImage is to be handed it.
struct QvRewrittenPicture {
    // The rewritten file; empty when FreeImage reads the original as it is.
    std::vector<std::uint8_t> bytes;
    // Why the file cannot be read right at all; empty when it can.
    std::string problem;
};

struct QvPictureFormat {
    FREE_IMAGE_FORMAT format = FIF_UNKNOWN;
    // Its header reader, which gives the size or only refuses the kinds of
    // file FreeImage cannot read; null where FreeImage's own header read
    // gives the size, or nothing does.
    QvHeaderReading (*readHeader)(std::span<const std::uint8_t> file) = nullptr;
    // Whether that reader reads it in full: a size or a problem, never
    // neither, so the decoder needs no header read of FreeImage's. Such a
    // header is held against the file before any decoder runs, so such a
    // format is also read by content (qvReadByContent); the decoders of
    // others (PCX's and DDS's among them) make pixels of memory never written
    // from a file too short, so they see only files of their names.
    bool readInFull = false;
    // Measured for the largest picture of each kind (bench_picture_costs).
    QvDecodingCost cost = {};
    // A valid file FreeImage's decoder refuses or misreads, rewritten into
    // one of the same format that it reads as the picture the original
    // holds, from what the header reading found; null where FreeImage reads
    // every valid file of the format as it is.
    QvRewrittenPicture (*rewrite)(std::span<const std::uint8_t> file,
                                  const QvHeaderReading& header) = nullptr;
    // Puts right, in place, a bitmap FreeImage decoded from `file` with
    // `flags` (never null, always with pixels) where it differs from what
    // the file stores; null where it never does.
    void (*asStored)(FIBITMAP* bitmap, int flags, const QvHeaderReading& header,
                     std::span<const std::uint8_t> file) = nullptr;
    // The bits of the load flags its decoder reads; the rest only choose how
    // a picture is saved.
    int loadFlagsRead = 0;
    // The flags a reading of the default flag alone loads with, 0 but where
    // other flags of loadFlagsRead only read the pixels as the file stores
    // them, which asStored puts right: PSD's CMYK inks, which FreeImage
    // itself turns into light to the 8 bits below, the program to the
    // nearest, as other readers do.
    int defaultFlags = 0;
    // The format of a thumbnail its decoder has another decoder read beside
    // the picture (PSD's JPEG one): what that one says of the thumbnail is
    // no remark on a picture read all the same.
    FREE_IMAGE_FORMAT thumbnailFormat = FIF_UNKNOWN;
};
