// The unpadding lengths that pelmo::func and the SM4 modes share, at their edges.
#include <gtest/gtest.h>

#include <stdexcept>

#include "func/padding.hpp"

namespace {

using pelmo::Bytes;
namespace pad = pelmo::detail::padding;

Bytes with_tail(std::size_t n, std::initializer_list<std::uint8_t> tail) {
    Bytes b(n, 0x11);
    b.insert(b.end(), tail);
    return b;
}

TEST(PaddingKept, Pkcs7) {
    EXPECT_EQ(pad::pkcs7_kept(with_tail(13, {3, 3, 3})), 13u);
    EXPECT_EQ(pad::pkcs7_kept(Bytes(16, 16)), 0u);
    EXPECT_EQ(pad::pkcs7_kept(Bytes{1}), 0u);
    EXPECT_EQ(pad::pkcs7_kept(with_tail(40, {1})), 40u);
    EXPECT_THROW(pad::pkcs7_kept({}), std::out_of_range);
    EXPECT_THROW(pad::pkcs7_kept(with_tail(15, {0})), std::invalid_argument);  // k = 0
    EXPECT_THROW(pad::pkcs7_kept(Bytes(17, 17)), std::invalid_argument);       // k > 16
    EXPECT_THROW(pad::pkcs7_kept(Bytes{3, 3}), std::invalid_argument);         // k > length
    EXPECT_THROW(pad::pkcs7_kept(with_tail(13, {2, 3, 3})),
                 std::invalid_argument);  // first pad byte
    Bytes b(32, 16);
    b[16] = 15;  // the sixteenth pad byte from the end
    EXPECT_THROW(pad::pkcs7_kept(b), std::invalid_argument);
    b[15] = 15;  // outside the padding: fine
    b[16] = 16;
    EXPECT_EQ(pad::pkcs7_kept(b), 16u);
}

TEST(PaddingKept, Zero) {
    EXPECT_EQ(pad::zero_kept(Bytes{1, 0, 0}), 1u);
    EXPECT_EQ(pad::zero_kept(Bytes{0, 1}), 2u);
    EXPECT_EQ(pad::zero_kept(Bytes(3, 0)), 0u);
    EXPECT_EQ(pad::zero_kept(Bytes(40, 0)), 24u);  // at most 16 removed
    EXPECT_THROW(pad::zero_kept({}), std::out_of_range);
}

TEST(PaddingKept, MarkerSchemes) {
    // The marker in the last block, and far before it (malformed padding).
    EXPECT_EQ(pad::iso9797m2_kept(with_tail(20, {0x80, 0, 0})), 20u);
    EXPECT_EQ(
        pad::iso9797m2_kept(with_tail(0, {0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0})), 0u);
    Bytes far(64, 0);
    far[5] = 0x80;
    EXPECT_EQ(pad::iso9797m2_kept(far), 5u);
    EXPECT_EQ(pad::pboc_kept(far), 5u);
    Bytes last(32, 0x80);
    EXPECT_EQ(pad::iso9797m2_kept(last), 31u);
    EXPECT_EQ(pad::pboc_kept(Bytes(16, 0)), 16u);  // one block: unpadded
    EXPECT_THROW(pad::iso9797m2_kept(Bytes(16, 0)), std::out_of_range);
    EXPECT_THROW(pad::pboc_kept(Bytes(48, 1)), std::out_of_range);
    for (auto fn : {pad::pboc_kept, pad::iso9797m2_kept}) {
        try {
            fn(Bytes(15, 0x80));
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Data length error!");
        }
    }
}

}  // namespace
