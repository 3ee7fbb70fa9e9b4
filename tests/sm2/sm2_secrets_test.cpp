// Secrets as the library keeps them: private keys of any text length on the manager,
// wipes observable in an object's own storage once it is destroyed in place, copies
// and moves of engines holding a key, and the key-derivation function's length limit.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "sm2/kdf.hpp"
#include "sm2_test_util.hpp"
#include "sm3/kdf.hpp"
#include "support/example_keys.hpp"

namespace {

using namespace pelmo::test::sm2;
using pelmo::Bytes;
using pelmo::crypt_managers::SM2Manager;
using pelmo::sm2::CryptSM2;

const std::string& kD = pelmo::test::kExamplePrivateKey;
const std::string& kPub = pelmo::test::kExamplePublicKey;
// A private key short enough to live inside the string object (no heap buffer), so
// that its bytes are observable in the engine's own storage.
const std::string kShortKey = "5a3c96e1f0b7";
// What a wipe must remove: also what remains of the key once a string's first character
// is overwritten (a moved-from short string keeps the rest).
const std::string kKeyTail = kShortKey.substr(4);

// Whether the n bytes at p hold the octets of text.
bool contains(const unsigned char* p, std::size_t n, std::string_view text) {
    return std::search(p, p + n, text.begin(), text.end(), [](unsigned char a, char b) {
               return a == static_cast<unsigned char>(b);
           }) != p + n;
}

template <class T>
bool holds(const T& object, std::string_view text) {
    return contains(reinterpret_cast<const unsigned char*>(&object), sizeof(T), text);
}

// Raw storage for an object destroyed in place, readable after its destructor ran.
template <class T>
struct Storage {
    alignas(T) unsigned char bytes[sizeof(T)];
    T& object() { return *std::launder(reinterpret_cast<T*>(bytes)); }
    bool contains(std::string_view text) const { return ::contains(bytes, sizeof bytes, text); }
};

TEST(Sm2Secrets, ManagerKeysOfAnyLengthByValue) {
    // "00" || d and "0" || d are d; 2^256 + d takes the generic path, whose _kg reads
    // 256 bits: the same public key, and no signature (the value is n or more).
    for (const std::string& d : {"00" + kD, "0" + upper(kD), "1" + kD}) {
        SM2Manager m(d);
        EXPECT_EQ(m.get_public_key(), kPub) << d;
        EXPECT_EQ(m.get_private_key(), d);
        const auto sig = m.signature("text");
        EXPECT_EQ(sig.has_value(), d[0] == '0') << d;
        EXPECT_TRUE(!sig || m.validate(*sig, "text"));
    }
    SM2Manager out_of_range(hex64(N() - 1));
    out_of_range.public_key = kPub;
    EXPECT_EQ(out_of_range.signature("text"), std::nullopt);
}

TEST(Sm2Secrets, EngineDestroyedInPlaceLeavesNoKey) {
    Storage<CryptSM2> e;
    new (e.bytes) CryptSM2(kShortKey, kPub);
    ASSERT_TRUE(e.contains(kKeyTail));  // the premise: the key is inline
    e.object().~CryptSM2();
    EXPECT_FALSE(e.contains(kKeyTail));

    Storage<SM2Manager> m;
    new (m.bytes) SM2Manager(kShortKey);
    ASSERT_EQ(m.object().get_public_key().size(), 128u);
    ASSERT_TRUE(m.contains(kKeyTail));
    m.object().~SM2Manager();
    EXPECT_FALSE(m.contains(kKeyTail));
}

TEST(Sm2Secrets, CopiesAndMovesOfAnEngine) {
    const std::uint8_t msg[] = {'m'};
    CryptSM2 source(kShortKey, std::nullopt, pelmo::sm2::default_ecc_table, 1, true);
    source.public_key = source._kg(H(kShortKey), G());
    const auto sig = source.sign_with_sm3(msg);
    ASSERT_TRUE(sig);

    // A copy is independent and complete.
    CryptSM2 copy(source);
    EXPECT_EQ(copy.private_key, source.private_key);
    EXPECT_TRUE(copy.verify_with_sm3(*sig, msg));

    // A move takes both keys; the source keeps its table, mode and asn1, holds no trace
    // of the key in its own storage, and is usable again once given keys.
    CryptSM2 moved(std::move(source));
    EXPECT_EQ(moved.private_key, kShortKey);
    EXPECT_TRUE(moved.verify_with_sm3(*sig, msg));
    EXPECT_FALSE(source.private_key.has_value());
    EXPECT_FALSE(source.public_key.has_value());
    EXPECT_FALSE(holds(source, kKeyTail));
    EXPECT_EQ(source.mode, 1);
    EXPECT_TRUE(source.asn1);
    EXPECT_EQ(source.para_len(), 64);
    EXPECT_THROW(source.sign_with_sm3(msg), std::invalid_argument);
    source.public_key = copy.public_key;
    EXPECT_TRUE(source.verify_with_sm3(*sig, msg));

    // Assignment replaces the key and wipes the one it held; move assignment too.
    CryptSM2 keyless(std::nullopt, kPub);
    copy = keyless;
    EXPECT_FALSE(copy.private_key.has_value());
    EXPECT_FALSE(holds(copy, kKeyTail));
    EXPECT_EQ(copy.public_key, kPub);
    moved = CryptSM2(kD, kPub);
    EXPECT_FALSE(holds(moved, kKeyTail));
    EXPECT_EQ(moved.private_key, kD);
    EXPECT_TRUE(moved.verify(*moved.sign(msg, kD), msg));
    const CryptSM2& same = moved;
    moved = same;  // self-assignment keeps the key
    EXPECT_EQ(moved.private_key, kD);

    std::vector<SM2Manager> managers;
    for (int i = 0; i < 5; ++i) managers.emplace_back(kShortKey);  // moved on growth
    for (auto& m : managers) EXPECT_EQ(m.get_private_key(), kShortKey);
}

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
