// A small, strict DER reader and writer: the subset of X.690 that SM2 signatures,
// keys and ciphertexts use (single-octet tags, definite minimal lengths, minimal
// non-negative INTEGERs). Anything else is std::invalid_argument, with a message
// naming the element: "invalid DER signature: INTEGER s is not minimally encoded".
//
// The reader publishes (declassifies, for the constant-time check) what it branches on:
// tags, length octets and INTEGER contents. Those are the structure of what pelmo reads
// (in a private-key file too, whose only secret is an OCTET STRING's contents); every
// INTEGER pelmo parses is public (versions, signature values, ciphertext points).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <pelmo/types.hpp>

#include "common/ct.hpp"

namespace pelmo::detail::der {

inline constexpr std::uint8_t kInteger = 0x02;
inline constexpr std::uint8_t kBitString = 0x03;
inline constexpr std::uint8_t kOctetString = 0x04;
inline constexpr std::uint8_t kNull = 0x05;
inline constexpr std::uint8_t kOid = 0x06;
inline constexpr std::uint8_t kSequence = 0x30;
inline constexpr std::uint8_t kContext0 = 0xa0;  // [0] constructed
inline constexpr std::uint8_t kContext1 = 0xa1;  // [1] constructed

/// Reads consecutive elements of one level of a DER encoding.
class Reader {
  public:
    /// what names the whole object in messages ("signature", "private key").
    Reader(ByteView data, std::string_view what) : data_(data), what_(what) {}

    bool empty() const noexcept { return pos_ == data_.size(); }
    /// The tag of the next element, or 0 at the end.
    std::uint8_t peek_tag() const noexcept {
        if (empty()) return 0;
        ct::declassify(&data_[pos_], 1);
        return data_[pos_];
    }
    /// The contents of the next element, which must carry this tag.
    ByteView read(std::uint8_t tag, std::string_view name);
    /// A minimal non-negative INTEGER, as its magnitude without leading zero octets
    /// (empty for zero).
    ByteView read_unsigned_integer(std::string_view name);
    /// A non-negative INTEGER below 2^16 (a version number).
    unsigned read_small_integer(std::string_view name);
    /// Requires that nothing is left; why says what the leftover would mean.
    void expect_end(std::string_view why) const;

    [[noreturn]] void fail(std::string_view why) const;

  private:
    std::size_t read_length(std::string_view name);

    ByteView data_;
    std::size_t pos_ = 0;
    std::string_view what_;
};

/// Appends tag, minimal length and contents.
void write(Bytes& out, std::uint8_t tag, ByteView contents);
/// Appends an INTEGER holding the unsigned big-endian magnitude (leading zero octets
/// are dropped; one 0x00 goes first when the top bit is set, and zero is 02 01 00).
void write_unsigned_integer(Bytes& out, ByteView magnitude);

}  // namespace pelmo::detail::der
