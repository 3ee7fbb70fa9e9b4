// A small, strict DER reader and writer: the subset of X.690 that SM2 keys,
// signatures and ciphertexts use (single-octet tags, definite minimal lengths).
// Anything else is rejected with std::invalid_argument naming what was wrong.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <pelmo/types.hpp>

namespace pelmo::detail::der {

inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kContext0 = 0xa0;  // [0] constructed
inline constexpr std::uint8_t kContext1 = 0xa1;  // [1] constructed

/// Reads consecutive TLVs from a buffer.
class Reader {
  public:
    explicit Reader(ByteView data, std::string_view what) : data_(data), what_(what) {}

    bool empty() const noexcept { return pos_ == data_.size(); }
    /// The tag of the next element (std::invalid_argument at the end).
    std::uint8_t peek_tag() const;
    /// The value of the next element, which must carry this tag.
    ByteView read(std::uint8_t tag);
    /// A non-negative minimal INTEGER, as its magnitude without leading zeros
    /// (empty for zero).
    ByteView read_unsigned_integer();
    /// A small non-negative INTEGER (a version number).
    unsigned read_small_integer();
    /// Requires that nothing is left.
    void expect_end() const;

    [[noreturn]] void fail(std::string_view why) const;

  private:
    ByteView data_;
    std::size_t pos_ = 0;
    std::string_view what_;
};

/// Appends tag, length and value.
void write(Bytes& out, std::uint8_t tag, ByteView value);
/// Appends an INTEGER holding the big-endian unsigned magnitude (leading zeros are
/// dropped; a 0x00 is prefixed when the top bit is set).
void write_unsigned_integer(Bytes& out, ByteView magnitude);

}  // namespace pelmo::detail::der
