// Every public entry point leaves its object as it was when it throws, and throws only
// the documented standard exceptions.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>
#include <pelmo/sm4.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <tuple>

#include "support/example_keys.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::Bytes;
using pelmo::test::as_bytes;

const std::string& kPriv = pelmo::test::kExamplePrivateKey;
const std::string& kPub = pelmo::test::kExamplePublicKey;

// Runs fn, which must throw one of the library's documented exception types.
void expect_documented_throw(const std::function<void()>& fn, const char* what) {
    try {
        fn();
        ADD_FAILURE() << what << ": no exception";
    } catch (const std::invalid_argument&) {
    } catch (const std::out_of_range&) {
    } catch (const std::domain_error&) {
    } catch (const std::exception& e) {
        ADD_FAILURE() << what << ": undocumented exception " << e.what();
    }
}

auto snapshot(const pelmo::sm2::CryptSM2& e) {
    return std::make_tuple(e.private_key, e.public_key, e.mode, e.asn1, e.para_len(), e.ecc_a3(),
                           e.ecc_table());
}

auto snapshot(const pelmo::sm4::CryptSM4& e) {
    return std::make_tuple(e.sk, e.mode, e.padding_mode);
}

TEST(NoStateChange, Sm2EngineErrors) {
    for (bool asn1 : {false, true}) {
        pelmo::sm2::CryptSM2 e(kPriv, kPub, pelmo::sm2::default_ecc_table, 1, asn1);
        const auto before = snapshot(e);
        const Bytes msg = {0x61, 0x62, 0x63};
        const std::pair<const char*, std::function<void()>> cases[] = {
            {"verify: not hexadecimal", [&] { (void)e.verify(std::string(128, 'g'), msg); }},
            {"verify: empty data", [&] { (void)e.verify(std::string(128, '1'), {}); }},
            {"sign: bad K", [&] { (void)e.sign(msg, "xyz"); }},
            {"sign: empty data", [&] { (void)e.sign({}, "1234"); }},
            {"encrypt: empty", [&] { (void)e.encrypt({}); }},
            {"decrypt: no C2", [&] { (void)e.decrypt(Bytes(96, 1)); }},
            {"recover: no point", [&] { (void)e.recover_public_keys(std::string(128, '0'), msg); }},
            {"_kg: short point", [&] { (void)e._kg(5, "abcd"); }},
            {"_convert_jacb_to_nor: no Z", [&] { (void)e._convert_jacb_to_nor(kPub); }},
        };
        for (const auto& [what, fn] : cases) {
            expect_documented_throw(fn, what);
            EXPECT_EQ(snapshot(e), before) << what;
        }
        pelmo::sm2::CryptSM2 keyless(std::nullopt, std::nullopt, pelmo::sm2::default_ecc_table, 0,
                                     asn1);
        const auto keyless_before = snapshot(keyless);
        expect_documented_throw([&] { (void)keyless.sign(msg, "1234"); }, "sign without a key");
        expect_documented_throw([&] { (void)keyless.verify(std::string(128, '1'), msg); },
                                "verify without a key");
        expect_documented_throw([&] { (void)keyless._sm3_z(msg); }, "_sm3_z without a key");
        expect_documented_throw([&] { (void)keyless.encrypt(msg); }, "encrypt without a key");
        expect_documented_throw([&] { (void)keyless.decrypt(Bytes(120, 1)); },
                                "decrypt without a key");
        EXPECT_EQ(snapshot(keyless), keyless_before);
    }
    expect_documented_throw(
        [] { pelmo::sm2::CryptSM2(kPriv, kPub, pelmo::sm2::default_ecc_table, 2); }, "mode 2");
}

TEST(NoStateChange, Sm2ManagerErrors) {
    pelmo::crypt_managers::SM2Manager empty;
    expect_documented_throw([&] { (void)empty.signature("x"); }, "signature without a key");
    expect_documented_throw([&] { (void)empty.validate(std::string(128, '1'), "x"); },
                            "validate without a key");
    EXPECT_FALSE(empty.private_key || empty.public_key);
    pelmo::crypt_managers::SM2Manager m(kPriv, kPub);
    expect_documented_throw([&] { (void)m.signature(""); }, "signature of the empty text");
    expect_documented_throw([&] { (void)m.validate("zz", "x"); }, "validate: bad signature text");
    EXPECT_EQ(m.get_private_key(), kPriv);
    EXPECT_EQ(m.get_public_key(), kPub);
}

TEST(NoStateChange, Sm4EngineAndManagerErrors) {
    namespace s4 = pelmo::sm4;
    s4::CryptSM4 e(s4::SM4_ENCRYPT, s4::NoPadding);
    e.set_key(Bytes(16, 3), s4::SM4_DECRYPT);
    e.padding_mode = s4::PKCS7;
    const auto before = snapshot(e);
    expect_documented_throw([&] { e.set_key(Bytes(15, 3), s4::SM4_ENCRYPT); }, "short key");
    EXPECT_EQ(snapshot(e), before);
    expect_documented_throw([&] { (void)e.crypt_ecb(Bytes(17, 0)); }, "partial block");
    expect_documented_throw([&] { (void)e.crypt_cbc(Bytes(15, 0), Bytes(32, 0)); }, "short IV");
    expect_documented_throw([&] { (void)e.crypt_cbc(Bytes(16, 0), Bytes(32, 0)); }, "bad padding");
    expect_documented_throw([&] { (void)e.one_round(e.sk, Bytes(15, 0)); }, "short block");
    EXPECT_EQ(snapshot(e), before);

    pelmo::crypt_managers::SM4Manager m;
    (void)m.encrypt("set the direction");
    const auto mb = std::make_tuple(snapshot(m), m.key, m.iv);
    for (const std::string bad : {"zz", "abc", "00", "", "0011223344556677889900aabbccddeeff11"})
        expect_documented_throw([&] { (void)m.decrypt(bad); }, "manager decrypt");
    expect_documented_throw([&] { (void)m.encrypt("\xff\xfe"); }, "encrypt: not UTF-8");
    EXPECT_EQ(std::make_tuple(snapshot(m), m.key, m.iv), mb);
}

}  // namespace
