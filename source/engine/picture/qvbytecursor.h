// qvbytecursor: reading the fixed fields of a file's header in order, where a
// read past the end marks the file cut short instead of failing, so a header
// reader asks once, at its end, whether all it read was there.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

class QvByteCursor {
public:
    explicit QvByteCursor(std::span<const std::uint8_t> file, std::uint64_t at = 0)
        : file_(file), at_(std::min<std::uint64_t>(at, file.size())), cut_(at > file.size())
    {
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
    std::uint64_t read(int bytes, bool bigEndian)
    {
        if (static_cast<std::size_t>(bytes) > left()) {
            skip(bytes);
            return 0;
        }
        std::uint64_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            const std::uint64_t byte = file_[at_ + i];
            value = bigEndian ? value << 8 | byte : value | byte << (8 * i);
        }
        at_ += bytes;
        return value;
    }

    std::span<const std::uint8_t> file_;
    std::size_t at_;
    bool cut_;
};
