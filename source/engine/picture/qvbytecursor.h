// qvbytecursor: the one reader of numbers in a file's bytes. A cursor reads
// the fixed fields of a header in order, where a read past the end marks the
// file cut short instead of failing, so a header reader asks once, at its
// end, whether all it read was there; walks over millions of fields read the
// same numbers in place, without a cursor.
#pragma once

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>
#include <type_traits>

class QvByteCursor {
public:
    explicit QvByteCursor(std::span<const std::uint8_t> file, std::uint64_t at = 0)
        : file_(file), at_(std::min<std::uint64_t>(at, file.size())), cut_(at > file.size())
    {
    }

    // The number of `Bytes` bytes (2, 4 or 8) at `at`, in either byte order.
    template <std::size_t Bytes>
    static std::uint64_t numberAt(const std::uint8_t* at, bool bigEndian)
    {
        using Unsigned = std::conditional_t<Bytes == 2, std::uint16_t,
                                            std::conditional_t<Bytes == 4, std::uint32_t, std::uint64_t>>;
        static_assert(sizeof(Unsigned) == Bytes, "numbers of 2, 4 or 8 bytes");
        Unsigned value = 0;
        std::memcpy(&value, at, Bytes);
        return bigEndian == (std::endian::native == std::endian::big) ? value : swapped(value);
    }
    // The number of `bytes` bytes (1 to 8) at `at`, in either byte order.
    static std::uint64_t numberAt(const std::uint8_t* at, std::size_t bytes, bool bigEndian)
    {
        switch (bytes) {
        case 2:
            return numberAt<2>(at, bigEndian);
        case 4:
            return numberAt<4>(at, bigEndian);
        case 8:
            return numberAt<8>(at, bigEndian);
        default:
            break;
        }
        std::uint64_t value = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            value = bigEndian ? value << 8 | at[i] : value | std::uint64_t(at[i]) << (8 * i);
        return value;
    }

    std::uint64_t be(int bytes) { return read(bytes, true); }
    std::uint64_t le(int bytes) { return read(bytes, false); }
    // A field in the file's own byte order.
    std::uint64_t field(int bytes, bool bigEndian) { return read(bytes, bigEndian); }
    // A big-endian signed 16-bit field.
    std::int64_t be16Signed() { return static_cast<std::int16_t>(read(2, true)); }

    void skip(std::uint64_t bytes)
    {
        if (bytes > left()) {
            cut_ = true;
            bytes = left();
        }
        at_ += bytes;
    }
    // Moves to byte `to`; past the end marks the file cut short.
    void seek(std::uint64_t to)
    {
        cut_ = cut_ || to > file_.size();
        at_ = std::min<std::uint64_t>(to, file_.size());
    }

    // Whether the next bytes are `text`, consuming them.
    bool expect(std::string_view text)
    {
        const auto sameByte = [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; };
        if (text.size() > left() || !std::equal(text.begin(), text.end(), file_.begin() + at_, sameByte)) {
            return false;
        }
        at_ += text.size();
        return true;
    }

    std::size_t at() const { return at_; }
    std::size_t left() const { return file_.size() - at_; }
    bool cut() const { return cut_; }

private:
    template <class Unsigned>
    static Unsigned swapped(Unsigned value)
    {
        if constexpr (sizeof value == 2) return __builtin_bswap16(value);
        if constexpr (sizeof value == 4) return __builtin_bswap32(value);
        if constexpr (sizeof value == 8) return __builtin_bswap64(value);
    }

    std::uint64_t read(int bytes, bool bigEndian)
    {
        if (static_cast<std::size_t>(bytes) > left()) {
            skip(bytes);
            return 0;
        }
        const std::uint64_t value = numberAt(file_.data() + at_, std::size_t(bytes), bigEndian);
        at_ += bytes;
        return value;
    }

    std::span<const std::uint8_t> file_;
    std::size_t at_;
    bool cut_;
};
