// qvformattable: a file's header read by its format's reader, as the table
// names it.
#include "engine/picture/qvformattable.h"

#include <fmt/core.h>

bool qvReadByContent(FREE_IMAGE_FORMAT format)
{
    return qvPictureFormatOf(format).readInFull;
}

QvHeaderReading qvReadHeader(FREE_IMAGE_FORMAT format, std::span<const std::uint8_t> file)
{
    const QvPictureFormat& row = qvPictureFormatOf(format);
    if (row.readHeader == nullptr) return {};
    QvHeaderReading reading = row.readHeader(file);
    // No decoder makes a picture without pixels; every format read in full
    // gives one reason for it, whether or not its own decoder would fail.
    if (row.readInFull && reading.size && (reading.size->width == 0 || reading.size->height == 0)) {
        reading.problem = fmt::format("its header is damaged: a picture of {}x{}", reading.size->width,
                                      reading.size->height);
        reading.fatal = true;
    }
    return reading;
}
