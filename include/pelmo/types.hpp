// Types shared by every part of pelmo's public interface.
#pragma once

#include <concepts>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include <gmpxx.h>

namespace pelmo {

/// A byte string (also the "list of byte values" of the algorithms: one type in C++).
using Bytes = std::vector<std::uint8_t>;
/// A read-only view of bytes; every function takes its byte inputs this way.
using ByteView = std::span<const std::uint8_t>;
/// An unbounded integer.
using BigInt = mpz_class;

/// The octets of a text, viewed as bytes (no copy, no conversion: a UTF-8 text's octets
/// are its encoding). The view lives as long as the text it views.
///
///     pelmo::sm3::sm3_hash(pelmo::as_bytes(name));
inline ByteView as_bytes(std::string_view text) noexcept {
    return ByteView(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

/// What the text overloads accept: anything that converts to std::string_view (a string
/// literal, std::string, std::string_view, const char*) but not to ByteView. Those
/// overloads are templates on purpose: an argument written `{}` still selects the
/// ByteView function, and Bytes never reaches a text overload.
template <class T>
concept Text =
    std::convertible_to<const T&, std::string_view> && !std::convertible_to<const T&, ByteView>;

}  // namespace pelmo
