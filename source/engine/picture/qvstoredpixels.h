// qvstoredpixels: a bitmap FreeImage 3.18 decoded put back to the pixels its
// file stores, where the decoder reads them otherwise.
#pragma once

#include <FreeImage.h>

#include <cstdint>
#include <span>

// Puts right, in place, the bitmap FreeImage decoded from `file` as
// `format` with `flags`:
// - a PFM's rows, which FreeImage takes top first though the format stores
//   the bottom row first;
// - a CMYK PSD read with PSD_CMYK, whose inks FreeImage hands back as if
//   they were red, green, blue and alpha: the bitmap is marked as CMYK;
// - a TIFF of associated alpha (ExtraSamples 1), whose colours the file
//   stores multiplied by their alpha: they are divided by it where it is
//   above 0, as every other picture with alpha comes.
// A null bitmap, and every other one, is left as it is.
void qvAsStored(FIBITMAP* bitmap, FREE_IMAGE_FORMAT format, int flags, std::span<const std::uint8_t> file);
