// The DER codec of signatures, on its own.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "common/hex.hpp"
#include "sm2/der.hpp"

namespace {

using pelmo::Bytes;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
namespace der = pelmo::detail::sm2::der;

std::string enc(const std::string& r, const std::string& s) {
    return to_hex(der::encode_signature(from_hex(r), from_hex(s)));
}

TEST(Sm2DerCodec, IntegersInTheFewestOctets) {
    EXPECT_EQ(enc("01", "01"), "3006020101020101");
    EXPECT_EQ(enc("", "00"), "3006020100020100");  // zero is one 0x00 octet
    EXPECT_EQ(enc("0000007f", "80"), "300702017f02020080");
    EXPECT_EQ(enc("ff" + std::string(62, '0'), "0100"),
              "3027022100ff" + std::string(62, '0') + "02020100");
}

TEST(Sm2DerCodec, LongFormLengthOnlyWhenNeeded) {
    // Contents of 128 octets or more (curves wider than 256 bits) take the long form.
    const std::string r(2 * 70, 'a');
    const std::string s(2 * 70, '1');
    const std::string out = enc(r, s);
    EXPECT_EQ(out.substr(0, 6), "308191");  // 2 + 71 + 2 + 70 = 145
    const auto back = der::decode_signature(from_hex(out));
    EXPECT_EQ(to_hex(back.r), r);
    EXPECT_EQ(to_hex(back.s), s);
    const std::string big(2 * 200, '2');
    EXPECT_EQ(enc(big, "01").substr(0, 12), "3081ce0281c8");  // 3 + 200 + 3 = 206
    EXPECT_EQ(to_hex(der::decode_signature(from_hex(enc(big, "01"))).r), big);
}

TEST(Sm2DerCodec, DecodesWhatItEncodes) {
    for (const auto& [r, s] : {std::pair<std::string, std::string>{"01", "02"},
                               {"7fff", "8000"},
                               {"00ff", "0000"},
                               {std::string(64, 'f'), std::string(64, '7')}}) {
        const auto back = der::decode_signature(from_hex(enc(r, s)));
        auto strip = [](std::string v) {
            while (v.size() >= 2 && v.substr(0, 2) == "00") v.erase(0, 2);
            return v;
        };
        EXPECT_EQ(to_hex(back.r), strip(r));
        EXPECT_EQ(to_hex(back.s), strip(s));
    }
}

void expect_rejected(const std::string& hex, const std::string& why) {
    try {
        der::decode_signature(from_hex(hex));
        ADD_FAILURE() << hex << " was accepted";
    } catch (const std::invalid_argument& err) {
        EXPECT_NE(std::string(err.what()).find(why), std::string::npos)
            << hex << ": " << err.what();
    }
}

TEST(Sm2DerCodec, Rejections) {
    expect_rejected(
        "3006020101020101"
        "00",
        "bytes follow the SEQUENCE");
    expect_rejected("300702020001020101", "INTEGER r is not minimally encoded");
    expect_rejected("30070201010202007f", "INTEGER s is not minimally encoded");
    expect_rejected("3006020181020101", "INTEGER r is negative");
    expect_rejected("30060201010201ff", "INTEGER s is negative");
    expect_rejected("308106020101020101", "SEQUENCE length is not minimal");
    expect_rejected(
        "3007020101028101"
        "01",
        "INTEGER s length is not minimal");
    expect_rejected("30820006020101020101", "SEQUENCE length is not minimal");
    expect_rejected(
        "3080020101020101"
        "0000",
        "indefinite length");
    expect_rejected("3106020101020101", "expected SEQUENCE, found tag 0x31");
    expect_rejected("3006030101020101", "expected INTEGER r, found tag 0x03");
    expect_rejected("3006020101040101", "expected INTEGER s, found tag 0x04");
    expect_rejected("3009020101020101020101", "more than two elements");
    expect_rejected("3003020101", "missing INTEGER s");
    expect_rejected("3000", "missing INTEGER r");
    expect_rejected("", "missing SEQUENCE");
    expect_rejected("30", "SEQUENCE has no length");
    expect_rejected("3007020101020101", "SEQUENCE runs past the end");
    expect_rejected("3006020101020201", "INTEGER s runs past the end");
    expect_rejected("30050201010200", "INTEGER s is empty");
    expect_rejected("3085ffffffffff", "SEQUENCE length is too large");
    expect_rejected("3084ffffff", "length runs past the end");
}

}  // namespace
