// SM2 against BouncyCastle: signatures (default and other identities, DER and r || s),
// encryption in both ciphertext orders, PKCS#8 and SubjectPublicKeyInfo keys, and the key
// exchange with confirmation in both roles. Random keys; each side's output taken in by
// the other.
#include <pelmo/formats.hpp>
#include <pelmo/func.hpp>
#include <pelmo/sm2.hpp>
#include <pelmo/sm3.hpp>

#include <gtest/gtest.h>

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "bc_peer.hpp"
#include "common/hex.hpp"
#include "support/random_input.hpp"

namespace {

using pelmo::BigInt;
using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::to_hex;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::default_ecc_table;
using pelmo::sm2::SM2KeyExchange;
using pelmo::test::as_bytes;
using pelmo::test::random_bytes;
using pelmo::test::bc::BcTest;
using pelmo::test::bc::bytes;
using pelmo::test::bc::hex;

const std::string kDefaultId = "1234567812345678";

struct KeyPair {
    std::string d;    // 64 digits
    std::string pub;  // 128 digits, x then y
};

// A scalar in [1, n - 2] (a valid private key) from the tests' generator.
std::string random_scalar() {
    static const BigInt n = pelmo::detail::parse_hex_int(default_ecc_table.at("n"));
    for (;;) {
        const BigInt v = pelmo::detail::bytes_to_int(random_bytes(32));
        if (v >= 1 && v <= n - 2) return pelmo::detail::int_to_hex(v, 64);
    }
}

std::string base_multiple(const std::string& k) {
    static const CryptSM2 engine(std::nullopt, std::nullopt);
    return *engine._kg(pelmo::detail::parse_hex_int(k), default_ecc_table.at("g"));
}

KeyPair random_key() {
    const std::string d = random_scalar();
    return {d, base_multiple(d)};
}

// A point as BouncyCastle reads and writes it: uncompressed, 04 || x || y.
std::string point04(const std::string& xy) {
    return "04" + xy;
}

// SM3(Z || message) for any identity, Z = SM3(ENTL || ID || a || b || xG || yG || xA || yA):
// what pelmo signs and verifies through sign() and verify() when the identity is not the
// default one.
Bytes digest_with_id(ByteView id, const std::string& pub, ByteView msg) {
    const std::size_t bits = 8 * id.size();
    pelmo::sm3::SM3 z;
    z.update(Bytes{static_cast<std::uint8_t>(bits >> 8), static_cast<std::uint8_t>(bits)});
    z.update(id);
    for (const std::string& part :
         {default_ecc_table.at("a"), default_ecc_table.at("b"), default_ecc_table.at("g"), pub})
        z.update(from_hex(part));
    const auto zd = z.digest();
    pelmo::sm3::SM3 e;
    e.update(zd).update(msg);
    const auto ed = e.digest();
    return Bytes(ed.begin(), ed.end());
}

// The identities tried: BouncyCastle's default (none given), the usual one given
// explicitly, an e-mail address, none at all, and a long binary one.
struct Identity {
    const char* name;
    std::string field;  // as the driver takes it
    Bytes id;
};
std::vector<Identity> identities() {
    const Bytes email =
        Bytes(as_bytes("ALICE123@YAHOO.COM").begin(), as_bytes("ALICE123@YAHOO.COM").end());
    const Bytes usual(kDefaultId.begin(), kDefaultId.end());
    const Bytes binary = random_bytes(300);
    return {{"default", "default", usual},
            {"explicit default", hex(usual), usual},
            {"e-mail", hex(email), email},
            {"binary", hex(binary), binary}};
}

bool is_default(const Bytes& id) {
    return id == Bytes(kDefaultId.begin(), kDefaultId.end());
}

class BcSm2 : public BcTest {};

TEST_F(BcSm2, SignaturesBothWays) {
    for (const bool der : {true, false})
        for (const Identity& id : identities())
            for (const std::size_t n : {0, 1, 200}) {
                SCOPED_TRACE(std::string(der ? "DER, " : "r || s, ") + id.name + " identity, " +
                             std::to_string(n) + "-byte message");
                const KeyPair k = random_key();
                const CryptSM2 e(k.d, k.pub, default_ecc_table, 0, der);
                const Bytes m = random_bytes(n);
                Bytes other = m;
                other.push_back(0x00);
                const Bytes digest = digest_with_id(id.id, k.pub, m);
                const std::string encoding = der ? "der" : "plain";

                // BouncyCastle signs, pelmo verifies.
                const std::string theirs = bc().call1({"sign", encoding, k.d, id.field, hex(m)});
                EXPECT_TRUE(e.verify(theirs, digest));
                EXPECT_FALSE(e.verify(theirs, digest_with_id(id.id, k.pub, other)));
                if (is_default(id.id)) {
                    EXPECT_TRUE(e.verify_with_sm3(theirs, m));
                    EXPECT_FALSE(e.verify_with_sm3(theirs, other));
                }

                // pelmo signs, BouncyCastle verifies.
                std::optional<std::string> ours;
                while (!ours)
                    ours = is_default(id.id) ? e.sign_with_sm3(m)
                                             : e.sign(digest, pelmo::func::random_hex(64));
                const std::string pub = point04(k.pub);
                EXPECT_EQ(bc().call1({"verify", encoding, pub, id.field, hex(m), *ours}), "1");
                EXPECT_EQ(bc().call1({"verify", encoding, pub, id.field, hex(other), *ours}), "0");
            }
}

TEST_F(BcSm2, EncryptionBothOrders) {
    // BouncyCastle's C1 is the uncompressed point 04 || x || y: pelmo's prefixed layouts.
    namespace formats = pelmo::formats;
    using L = formats::Sm2CiphertextLayout;
    for (const int mode : {0, 1})
        for (const std::size_t n : {1, 16, 31, 32, 33, 100, 1000}) {
            SCOPED_TRACE(std::string(mode == 0 ? "C1C2C3, " : "C1C3C2, ") + std::to_string(n) +
                         " bytes");
            const std::string order = mode == 0 ? "c1c2c3" : "c1c3c2";
            const L bare = mode == 0 ? L::c1c2c3 : L::c1c3c2;
            const L prefixed = mode == 0 ? L::prefixed_c1c2c3 : L::prefixed_c1c3c2;
            const KeyPair k = random_key();
            const CryptSM2 e(k.d, k.pub, default_ecc_table, mode);
            const Bytes m = random_bytes(n);

            const Bytes theirs = bytes(bc().call1({"encrypt", order, point04(k.pub), hex(m)}));
            ASSERT_EQ(theirs.size(), 1 + 64 + 32 + n);
            EXPECT_EQ(e.decrypt(formats::sm2_ciphertext_convert(theirs, prefixed, bare)), m);
            const auto found = formats::sm2_decrypt_any_layout(theirs, k.d);
            ASSERT_TRUE(found.has_value());
            EXPECT_EQ(found->plaintext, m);
            EXPECT_EQ(found->layout, prefixed);

            std::optional<Bytes> ours;
            while (!ours) ours = e.encrypt(m);
            const Bytes with_prefix = formats::sm2_ciphertext_convert(*ours, bare, prefixed);
            EXPECT_EQ(bytes(bc().call1({"decrypt", order, k.d, hex(with_prefix)})), m);
            // The other order's C2 and C3 swapped: refused by both.
            const std::string other = mode == 0 ? "c1c3c2" : "c1c2c3";
            EXPECT_THROW(bc().call({"decrypt", other, k.d, hex(with_prefix)}), std::runtime_error);
            const CryptSM2 swapped(k.d, k.pub, default_ecc_table, 1 - mode);
            EXPECT_FALSE(swapped.decrypt(ByteView(theirs).subspan(1)).has_value());
        }
}

TEST_F(BcSm2, EmptyPlaintextRefusedByBoth) {
    const KeyPair k = random_key();
    EXPECT_THROW(bc().call({"encrypt", "c1c3c2", point04(k.pub), "-"}), std::runtime_error);
    EXPECT_THROW(CryptSM2(std::nullopt, k.pub).encrypt(Bytes{}), std::invalid_argument);
}

TEST_F(BcSm2, Pkcs8AndSubjectPublicKeyInfo) {
    namespace formats = pelmo::formats;
    for (int i = 0; i < 4; ++i) {
        const KeyPair k = random_key();
        // BouncyCastle writes: the lightweight factories (PKCS#8 with the public key inside)
        // and the JCA provider (PKCS#8 without it); pelmo reads every one.
        const std::vector<std::string> out = bc().call({"keyout", k.d});
        ASSERT_EQ(out.size(), 4u);
        for (const std::size_t at : {0, 2}) {
            const auto key = formats::sm2_private_key_from_der(bytes(out[at]));
            EXPECT_EQ(key.private_key, k.d) << at;
            EXPECT_EQ(key.public_key, k.pub) << at;
        }
        const Bytes spki = formats::sm2_public_key_to_der(k.pub);
        for (const std::size_t at : {1, 3}) {
            EXPECT_EQ(formats::sm2_public_key_from_der(bytes(out[at])), k.pub) << at;
            EXPECT_EQ(bytes(out[at]), spki) << at;  // one DER encoding of this structure
        }
        // pelmo writes; BouncyCastle's JCA key factory and lightweight factories read. (Not
        // byte for byte BouncyCastle's PKCS#8: that repeats the curve OID inside the
        // ECPrivateKey, which pelmo, as OpenSSL, leaves out.)
        const Bytes pkcs8 = formats::sm2_private_key_to_der(k.d, k.pub);
        EXPECT_EQ(bc().call({"keyin", hex(pkcs8), hex(spki)}),
                  (std::vector<std::string>{k.d, point04(k.pub), k.d, point04(k.pub)}));
    }
}

// One key exchange: pelmo on one side, BouncyCastle on the other.
void exchange(pelmo::test::bc::Peer& peer, bool pelmo_initiates, const Bytes& pelmo_id,
              const Bytes& bc_id, std::size_t klen) {
    SCOPED_TRACE(std::string(pelmo_initiates ? "pelmo initiates" : "BouncyCastle initiates") +
                 ", klen " + std::to_string(klen));
    const KeyPair ours = random_key(), theirs = random_key();
    SM2KeyExchange kx(ours.d, ours.pub, pelmo_id, theirs.pub, bc_id, pelmo_initiates);
    const std::string r_ours = kx.ephemeral();
    const std::string r = random_scalar();
    const std::string r_theirs = base_multiple(r);
    const auto result = kx.compute(r_theirs, klen);
    ASSERT_TRUE(result.has_value());
    const std::string key = hex(result->key);
    if (pelmo_initiates) {
        // The responder's answer: K from calculateKey, then K, S_B and the S_A it expects.
        const std::vector<std::string> b =
            peer.call({"kx", "resp", theirs.d, r, hex(bc_id), point04(ours.pub), point04(r_ours),
                       hex(pelmo_id), std::to_string(klen), "-"});
        ASSERT_EQ(b.size(), 4u);
        EXPECT_EQ(b[0], key);
        EXPECT_EQ(b[1], key);
        EXPECT_TRUE(SM2KeyExchange::confirm(*result, bytes(b[2])));
        EXPECT_EQ(b[3], hex(result->confirmation));
    } else {
        // The initiator checks pelmo's S_B (a mismatch is an error) and answers K and S_A.
        const std::vector<std::string> a =
            peer.call({"kx", "init", theirs.d, r, hex(bc_id), point04(ours.pub), point04(r_ours),
                       hex(pelmo_id), std::to_string(klen), hex(result->confirmation)});
        ASSERT_EQ(a.size(), 3u);
        EXPECT_EQ(a[0], key);
        EXPECT_EQ(a[1], key);
        EXPECT_TRUE(SM2KeyExchange::confirm(*result, bytes(a[2])));
        Bytes wrong(result->confirmation.begin(), result->confirmation.end());
        wrong[0] ^= 0x80;
        EXPECT_THROW(peer.call({"kx", "init", theirs.d, r, hex(bc_id), point04(ours.pub),
                                point04(r_ours), hex(pelmo_id), std::to_string(klen), hex(wrong)}),
                     std::runtime_error);
    }
}

TEST_F(BcSm2, KeyExchangeBothRoles) {
    const Bytes usual(kDefaultId.begin(), kDefaultId.end());
    const Bytes alice(as_bytes("ALICE123@YAHOO.COM").begin(), as_bytes("ALICE123@YAHOO.COM").end());
    const Bytes bill(as_bytes("BILL456@YAHOO.COM").begin(), as_bytes("BILL456@YAHOO.COM").end());
    for (const bool pelmo_initiates : {true, false}) {
        exchange(bc(), pelmo_initiates, usual, usual, 16);
        exchange(bc(), pelmo_initiates, alice, bill, 32);
        exchange(bc(), pelmo_initiates, bill, alice, 1);
        exchange(bc(), pelmo_initiates, random_bytes(100), Bytes{}, 33);
        exchange(bc(), pelmo_initiates, alice, usual, 100);
    }
}

// The published key-exchange example on the recommended curve (identities
// "1234567812345678"), run by BouncyCastle alone in both roles: it derives the published K,
// S_B and S_A.
TEST_F(BcSm2, KeyExchangePublishedExample) {
    const std::string id = "31323334353637383132333435363738";
    const std::string d_a = "81eb26e941bb5af16df116495f90695272ae2cd63d6c4ae1678418be48230029";
    const std::string p_a =
        "04160e12897df4edb61dd812feb96748fbd3ccf4ffe26aa6f6db9540af49c94232"
        "4a7dad08bb9a459531694beb20aa489d6649975e1bfcf8c4741b78b4b223007f";
    const std::string d_b = "785129917d45a9ea5437a59356b82338eaadda6ceb199088f14ae10defa229b5";
    const std::string p_b =
        "046ae848c57c53c7b1b5fa99eb2286af078ba64c64591b8b566f7357d576f16dfb"
        "ee489d771621a27b36c5c7992062e9cd09a9264386f3fbea54dff69305621c4d";
    const std::string r_a = "d4de15474db74d06491c440d305e012400990f3e390c7e87153c12db2ea60bb3";
    const std::string R_a =
        "0464ced1bdbc99d590049b434d0fd73428cf608a5db8fe5ce07f15026940bae40e"
        "376629c7ab21e7db260922499ddb118f07ce8eaae3e7720afef6a5cc062070c0";
    const std::string r_b = "7e07124814b309489125eaed101113164ebf0f3458c5bd88335c1f9d596243d6";
    const std::string R_b =
        "04acc27688a6f7b706098bc91ff3ad1bff7dc2802cdb14ccccdb0a90471f9bd707"
        "2fedac0494b2ffc4d6853876c79b8f301c6573ad0aa50f39fc87181e1a1b46fe";
    const std::string k = "6c89347354de2484c60b4ab1fde4c6e5";
    const std::string s_b = "d3a0fe15dee185ceae907a6b595cc32a266ed7b3367e9983a896dc32fa20f8eb";
    const std::string s_a = "18c7894b3816df16cf07b05c5ec0bef5d655d58f779cc1b400a4f3884644db88";
    EXPECT_EQ(bc().call({"kx", "resp", d_b, r_b, id, p_a, R_a, id, "16", "-"}),
              (std::vector<std::string>{k, k, s_b, s_a}));
    EXPECT_EQ(bc().call({"kx", "init", d_a, r_a, id, p_b, R_b, id, "16", s_b}),
              (std::vector<std::string>{k, k, s_a}));
}

}  // namespace
