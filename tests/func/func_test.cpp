#include <pelmo/func.hpp>

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "support/random_input.hpp"

namespace {

using pelmo::BigInt;
using pelmo::Bytes;
namespace f = pelmo::func;

Bytes repeat(std::size_t n, std::uint8_t v) {
    return Bytes(n, v);
}
Bytes cat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(FuncWords, XorRotlAndPacking) {
    EXPECT_EQ(f::xor_(Bytes{1, 2, 3}, Bytes{1, 1}), (Bytes{0, 3}));
    EXPECT_EQ(f::xor_(Bytes{}, Bytes{1}), Bytes{});
    EXPECT_EQ(f::rotl(0x80000000u, 1), 1u);
    EXPECT_EQ(f::rotl(0x80000000u, 0), 0x80000000u);
    EXPECT_EQ(f::rotl(0x80000000u, 32), 0x80000000u);
    EXPECT_EQ(f::rotl(0x12345678u, 8), 0x34567812u);
    EXPECT_THROW(f::rotl(1, 33), std::invalid_argument);
    EXPECT_THROW(f::rotl(1, -1), std::invalid_argument);
    EXPECT_EQ(f::put_uint32_be(258), (Bytes{0, 0, 1, 2}));
    EXPECT_EQ(f::put_uint32_be(4294967296LL + 5), (Bytes{0, 0, 0, 5}));
    EXPECT_EQ(f::put_uint32_be(-1), (Bytes{255, 255, 255, 255}));
    EXPECT_EQ(f::get_uint32_be(Bytes{0, 0, 1, 2, 9}), 258u);
    EXPECT_THROW(f::get_uint32_be(Bytes{1, 2, 3}), std::out_of_range);
}

TEST(FuncPadding, Pkcs7AndZero) {
    EXPECT_EQ(f::pkcs7_padding(repeat(16, 7)), cat(repeat(16, 7), repeat(16, 16)));
    EXPECT_EQ(f::pkcs7_padding({}), repeat(16, 16));
    EXPECT_EQ(f::pkcs7_padding(Bytes{1, 2, 3}), cat(Bytes{1, 2, 3}, repeat(13, 13)));
    // The count comes from 16, only the remainder uses block.
    EXPECT_EQ(f::pkcs7_padding(repeat(8, 1), 8), cat(repeat(8, 1), repeat(16, 16)));
    EXPECT_EQ(f::pkcs7_padding(repeat(20, 1), 32), repeat(20, 1));  // c <= 0: nothing
    EXPECT_THROW(f::pkcs7_padding(Bytes{1}, 0), std::domain_error);
    EXPECT_EQ(f::zero_padding(repeat(16, 7)), cat(repeat(16, 7), repeat(16, 0)));
    EXPECT_EQ(f::zero_padding(Bytes{1, 2, 3}), cat(Bytes{1, 2, 3}, repeat(13, 0)));
    EXPECT_THROW(f::zero_padding(Bytes{1}, 0), std::domain_error);
}

TEST(FuncPadding, Pkcs7UnpaddingChecksThePadding) {
    EXPECT_EQ(f::pkcs7_unpadding(Bytes{5, 6, 2, 2}), (Bytes{5, 6}));
    EXPECT_EQ(f::pkcs7_unpadding(repeat(16, 16)), Bytes{});
    for (std::size_t len = 0; len < 40; ++len) {
        const Bytes msg = pelmo::test::random_bytes(len);
        EXPECT_EQ(f::pkcs7_unpadding(f::pkcs7_padding(msg)), msg);
    }
    EXPECT_THROW(f::pkcs7_unpadding({}), std::out_of_range);
    for (const Bytes& bad : {Bytes{1, 2, 0}, Bytes{5, 6, 1, 2}, Bytes{3, 3}, repeat(17, 17),
                             cat(Bytes{1}, cat(repeat(14, 16), Bytes{16}))}) {
        try {
            f::pkcs7_unpadding(bad);
            ADD_FAILURE() << "accepted bad padding";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "invalid PKCS#7 padding");
        }
    }
}

TEST(FuncPadding, ZeroUnpaddingRemovesTheRun) {
    EXPECT_EQ(f::zero_unpadding(Bytes{1, 2, 0, 0}), (Bytes{1, 2}));
    EXPECT_EQ(f::zero_unpadding(Bytes{1, 2, 3}), (Bytes{1, 2, 3}));
    EXPECT_EQ(f::zero_unpadding(repeat(16, 0)), Bytes{});
    // At most 16: zeros that belong to the message beyond the last block stay.
    EXPECT_EQ(f::zero_unpadding(repeat(20, 0)), repeat(4, 0));
    for (std::size_t len = 0; len < 40; ++len) {
        Bytes msg = pelmo::test::random_bytes(len);
        if (!msg.empty()) msg.back() |= 1;
        EXPECT_EQ(f::zero_unpadding(f::zero_padding(msg)), msg);
    }
    EXPECT_THROW(f::zero_unpadding({}), std::out_of_range);
}

TEST(FuncPadding, PbocAndIso9797) {
    EXPECT_EQ(f::pboc_padding(repeat(16, 1)), repeat(16, 1));
    EXPECT_EQ(f::pboc_padding(repeat(15, 1)), cat(repeat(15, 1), Bytes{0x80}));
    EXPECT_EQ(f::pboc_padding(repeat(17, 1)), cat(repeat(17, 1), cat(Bytes{0x80}, repeat(14, 0))));
    EXPECT_EQ(f::pboc_padding({}), Bytes{});
    EXPECT_EQ(f::iso9797m2_padding(repeat(16, 1)),
              cat(repeat(16, 1), cat(Bytes{0x80}, repeat(15, 0))));
    EXPECT_EQ(f::iso9797m2_padding({}), cat(Bytes{0x80}, repeat(15, 0)));
    EXPECT_EQ(f::iso9797m2_padding(Bytes{1}, 4), (Bytes{1, 0x80, 0, 0}));
    EXPECT_THROW(f::pboc_padding(Bytes{1}, 0), std::domain_error);
    EXPECT_THROW(f::iso9797m2_padding(Bytes{1}, 0), std::domain_error);

    const Bytes block = cat(repeat(13, 9), Bytes{0x80, 0, 0});
    EXPECT_EQ(f::pboc_unpadding(block), block);  // one block is taken as unpadded
    EXPECT_EQ(f::pboc_unpadding(cat(repeat(29, 9), Bytes{0x80, 5, 7})), repeat(29, 9));
    EXPECT_EQ(f::iso9797m2_unpadding(cat(Bytes{0x80}, repeat(15, 0))), Bytes{});
    EXPECT_EQ(f::iso9797m2_unpadding(cat(repeat(16, 3), cat(Bytes{0x80}, repeat(15, 0)))),
              repeat(16, 3));
    for (std::size_t len = 0; len < 40; ++len) {
        const Bytes msg = pelmo::test::random_bytes(len);
        EXPECT_EQ(f::iso9797m2_unpadding(f::iso9797m2_padding(msg)), msg);
    }
    for (auto fn : {f::pboc_unpadding, f::iso9797m2_unpadding}) {
        try {
            fn(repeat(15, 0x80));
            ADD_FAILURE();
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Data length error!");
        }
        const Bytes no_marker = repeat(32, 1);
        EXPECT_THROW(fn(no_marker), std::out_of_range);
        EXPECT_EQ(no_marker, repeat(32, 1));
    }
}

TEST(FuncConversions, ListsAndBytesAreCopies) {
    const Bytes b{0, 127, 255};
    EXPECT_EQ(f::list_to_bytes(b), b);
    EXPECT_EQ(f::bytes_to_list(b), b);
    EXPECT_EQ(f::list_to_bytes({}), Bytes{});
}

TEST(FuncRandom, HexTextFromTheOs) {
    EXPECT_EQ(f::random_hex(0), "");
    EXPECT_EQ(f::random_hex(-3), "");
    for (std::int64_t n : {1, 63, 64, 65}) {
        const std::string h = f::random_hex(n);
        ASSERT_EQ(h.size(), static_cast<std::size_t>(n));
        EXPECT_EQ(h.find_first_not_of("0123456789abcdef"), std::string::npos);
    }
    // Every digit shows up in a long draw, and draws differ.
    const std::string big = f::random_hex(4096);
    EXPECT_EQ(std::set<char>(big.begin(), big.end()).size(), 16u);
    EXPECT_NE(f::random_hex(64), f::random_hex(64));
}

TEST(FuncModular, ExpModAndInvMod) {
    EXPECT_EQ(f::exp_mod(3, 5, 7), 5);
    EXPECT_EQ(f::exp_mod(12345, 0, 1), 1);  // e <= 0: 1, unreduced
    EXPECT_EQ(f::exp_mod(12345, -4, 7), 1);
    EXPECT_EQ(f::exp_mod(5, 3, 1), 0);
    EXPECT_EQ(f::exp_mod(-2, 3, 7), 6);   // non-negative for positive p
    EXPECT_EQ(f::exp_mod(2, 3, -5), -2);  // takes the sign of a negative p
    EXPECT_EQ(f::exp_mod(5, 0, 0), 1);
    EXPECT_THROW(f::exp_mod(5, 1, 0), std::domain_error);
    EXPECT_EQ(f::inv_mod(3, 7), 5);
    EXPECT_EQ(f::inv_mod(7, 7), 0);
    const BigInt p("FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF", 16);
    const BigInt x("123456789abcdef123456789abcdef", 16);
    EXPECT_EQ(f::inv_mod(x, p) * x % p, 1);
}

}  // namespace
