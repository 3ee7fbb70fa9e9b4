// Secrets as the library keeps them: wipes observable in an object's own storage once
// it is destroyed in place, and the key-derivation function's length limit.
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>

#include "sm2/kdf.hpp"
#include "sm3/kdf.hpp"

namespace {

using pelmo::Bytes;

// Whether the n bytes at p hold the octets of text.
bool contains(const unsigned char* p, std::size_t n, std::string_view text) {
    return std::search(p, p + n, text.begin(), text.end(), [](unsigned char a, char b) {
               return a == static_cast<unsigned char>(b);
           }) != p + n;
}

// Raw storage for an object destroyed in place, readable after its destructor ran.
template <class T>
struct Storage {
    alignas(T) unsigned char bytes[sizeof(T)];
    T& object() { return *std::launder(reinterpret_cast<T*>(bytes)); }
    bool contains(std::string_view text) const { return ::contains(bytes, sizeof bytes, text); }
};

TEST(Sm2Secrets, Sm3HasherDestroyedInPlaceIsZero) {
    // 100 bytes: one block into the chaining state, 36 buffered.
    const Bytes secret(100, 0xa5);
    Storage<pelmo::sm3::SM3> h;
    new (h.bytes) pelmo::sm3::SM3;
    h.object().update(secret);
    ASSERT_TRUE(h.contains(std::string(36, '\xa5')));
    h.object().~SM3();
    EXPECT_TRUE(std::all_of(std::begin(h.bytes), std::end(h.bytes),
                            [](unsigned char b) { return b == 0; }));
}

TEST(Sm2Secrets, KdfLengthLimit) {
    using pelmo::detail::kSm3KdfMaxBytes;
    using pelmo::detail::sm3_kdf_length;
    static_assert(kSm3KdfMaxBytes == 32 * 0xffffffffull);
    static_assert(pelmo::detail::sm2::kMaxKeyStreamBytes == kSm3KdfMaxBytes);
    EXPECT_EQ(sm3_kdf_length(-1), 0u);
    EXPECT_EQ(sm3_kdf_length(0), 0u);
    EXPECT_EQ(sm3_kdf_length(33), 33u);
    EXPECT_EQ(sm3_kdf_length(kSm3KdfMaxBytes), kSm3KdfMaxBytes);
    // Above the limit, up to the largest klen (where 2 * klen would overflow): an
    // error before anything is reserved or derived.
    for (std::int64_t klen : {std::int64_t{kSm3KdfMaxBytes} + 1, std::int64_t{1} << 62,
                              std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_THROW(sm3_kdf_length(klen), std::invalid_argument) << klen;
        EXPECT_THROW(pelmo::sm3::sm3_kdf("00", klen), std::invalid_argument) << klen;
    }
    EXPECT_EQ(pelmo::sm3::sm3_kdf("00", 0), "");
    EXPECT_THROW(pelmo::sm3::sm3_kdf("0g", std::numeric_limits<std::int64_t>::max()),
                 std::invalid_argument);  // the text is still checked first
}

}  // namespace
