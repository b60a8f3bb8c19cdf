// qvheaderreader: the readings and reasons every format's reader gives.
#include "engine/picture/qvheaderreader.h"

#include <fmt/core.h>

#include <utility>

namespace qvheader {

QvHeaderReading sized(QvImageSize size, PixelHold hold, std::string problem)
{
    QvHeaderReading reading;
    reading.size = size;
    reading.fatal = !problem.empty();
    reading.problem = std::move(problem);
    reading.bitmapBits = hold.bits;
    reading.floatSamples = hold.floating;
    return reading;
}

QvHeaderReading unlessCut(const QvByteCursor& in, QvImageSize size, PixelHold hold)
{
    return in.cut() ? QvHeaderReading{} : sized(size, hold);
}

QvHeaderReading refused(std::string problem)
{
    QvHeaderReading reading;
    reading.problem = std::move(problem);
    reading.fatal = true;
    return reading;
}

QvHeaderReading notA(std::string_view format)
{
    QvHeaderReading reading;
    reading.problem = fmt::format("it is not a {} file", format);
    return reading;
}

QvHeaderReading cutInHeader()
{
    return refused("it is cut short in its header");
}

QvHeaderReading damaged(std::string_view what)
{
    return refused(fmt::format("its header is damaged: {}", what));
}

std::string cutShort(std::uint64_t end, std::size_t fileSize)
{
    return end <= fileSize ? std::string()
                           : fmt::format("it is cut short: its pixels end at byte {}, the file at byte {}",
                                         end, fileSize);
}

std::string runsPast(std::string_view part, std::uint64_t start, std::size_t fileSize)
{
    return fmt::format("its {} at byte {} runs past the end of the file (byte {})", part, start, fileSize);
}

std::string packing(QvImageSize size, std::uint64_t pixelBytes, std::uint64_t coded, std::uint64_t perByte,
                    std::string_view coding)
{
    return pixelBytes <= times(coded, perByte)
               ? std::string()
               : fmt::format("its {}x{} pixels cannot come from {} bytes of {} data", size.width, size.height,
                             coded, coding);
}

}  // namespace qvheader
