// SM2 key exchange: the published examples (test curve and recommended curve) with
// their intermediate values, agreement of both roles for random keys, identities and
// key lengths on both curves, the fixed-width core against the generic path, and the
// rejection of bad input, hostile points and wrong confirmations.
#include <pelmo/crypt_managers.hpp>
#include <pelmo/sm2.hpp>

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hex.hpp"
#include "sm2/engine.hpp"
#include "sm2/identity.hpp"
#include "sm2/kdf.hpp"
#include "sm2/key_exchange.hpp"
#include "support/emulation.hpp"
#include "support/example_keys.hpp"
#include "support/random_input.hpp"
#include "support/test_curve.hpp"

namespace {

using pelmo::BigInt;
using pelmo::Bytes;
using pelmo::ByteView;
using pelmo::detail::from_hex;
using pelmo::detail::int_to_hex;
using pelmo::detail::parse_hex_int;
using pelmo::detail::to_hex;
using pelmo::sm2::CryptSM2;
using pelmo::sm2::EccTable;
using pelmo::sm2::KeyExchangeResult;
using pelmo::sm2::SM2KeyExchange;

// The 256-bit example curve of GB/T 32918 (not the recommended one).
using pelmo::test::kTestCurve;

struct Example {
    const char* name;
    const EccTable* table;
    const char *id_a, *d_a, *p_a, *id_b, *d_b, *p_b, *z_a, *z_b, *r_a, *R_a, *r_b, *R_b;
    std::size_t klen;
    const char *k, *s_b, *s_a;
};

const Example kExamples[] = {
    {"test_curve", &kTestCurve, "414c494345313233405941484f4f2e434f4d",
     "6fcba2ef9ae0ab902bc3bde3ff915d44ba4cc78f88e2f8e7f8996d3b8cceedee",
     "3099093bf3c137d8fcbbcdf4a2ae50f3b0f216c3122d79425fe03a45dbfe1655"
     "3df79e8dac1cf0ecbaa2f2b49d51a4b387f2efaf482339086a27a8e05baed98b",
     "42494c4c343536405941484f4f2e434f4d",
     "5e35d7d3f3c54dbac72e61819e730b019a84208ca3a35e4c2e353dfccb2a3b53",
     "245493d446c38d8cc0f118374690e7df633a8a4bfb3329b5ece604b2b4f37f43"
     "53c0869f4b9e17773de68fec45e14904e0dea45bf6cecf9918c85ea047c60a4c",
     "e4d1d0c3ca4c7f11bc8ff8cb3f4c02a78f108fa098e51a668487240f75e20f31",
     "6b4b6d0e276691bd4a11bf72f4fb501ae309fdacb72fa6cc336e6656119abd67",
     "83a2c9c8b96e5af70bd480b472409a9a327257f1ebb73f5b073354b248668563",
     "6cb5633816f4dd560b1dec458310cbcc6856c09505324a6d23150c408f162bf0"
     "0d6fcf62f1036c0a1b6daccf57399223a65f7d7bf2d9637e5bbbeb857961bf1a",
     "33fe21940342161c55619c4a0c060293d543c80af19748ce176d83477de71c80",
     "1799b2a2c778295300d9a2325c686129b8f2b5337b3dcf4514e8bbc19d900ee5"
     "54c9288c82733efdf7808ae7f27d0e732f7c73a7d9ac98b7d8740a91d0db3cf4",
     16, "55b0ac62a6b927ba23703832c853ded4",
     "284c8f198f141b502e81250f1581c7e9eeb4ca6990f9e02df388b45471f5bc5c",
     "23444daf8ed7534366cb901c84b3bdbb63504f4065c1116c91a4c00697e6cf7a"},
    {"recommended_curve", &pelmo::sm2::default_ecc_table, "31323334353637383132333435363738",
     "81eb26e941bb5af16df116495f90695272ae2cd63d6c4ae1678418be48230029",
     "160e12897df4edb61dd812feb96748fbd3ccf4ffe26aa6f6db9540af49c94232"
     "4a7dad08bb9a459531694beb20aa489d6649975e1bfcf8c4741b78b4b223007f",
     "31323334353637383132333435363738",
     "785129917d45a9ea5437a59356b82338eaadda6ceb199088f14ae10defa229b5",
     "6ae848c57c53c7b1b5fa99eb2286af078ba64c64591b8b566f7357d576f16dfb"
     "ee489d771621a27b36c5c7992062e9cd09a9264386f3fbea54dff69305621c4d",
     "3b85a57179e11e7e513aa622991f2ca74d1807a0bd4d4b38f90987a17ac245b1",
     "79c988d63229d97ef19fe02ca1056e01e6a7411ed24694aa8f834f4a4ab022f7",
     "d4de15474db74d06491c440d305e012400990f3e390c7e87153c12db2ea60bb3",
     "64ced1bdbc99d590049b434d0fd73428cf608a5db8fe5ce07f15026940bae40e"
     "376629c7ab21e7db260922499ddb118f07ce8eaae3e7720afef6a5cc062070c0",
     "7e07124814b309489125eaed101113164ebf0f3458c5bd88335c1f9d596243d6",
     "acc27688a6f7b706098bc91ff3ad1bff7dc2802cdb14ccccdb0a90471f9bd707"
     "2fedac0494b2ffc4d6853876c79b8f301c6573ad0aa50f39fc87181e1a1b46fe",
     16, "6c89347354de2484c60b4ab1fde4c6e5",
     "d3a0fe15dee185ceae907a6b595cc32a266ed7b3367e9983a896dc32fa20f8eb",
     "18c7894b3816df16cf07b05c5ec0bef5d655d58f779cc1b400a4f3884644db88"},
};

Bytes B(std::string_view hex) {
    return from_hex(hex);
}

using pelmo::test::upper;

// A key pair of the table: d drawn from the tests' generator, in [1, n - 1].
struct KeyPair {
    std::string d, pub;
};
KeyPair random_key_pair(const EccTable& table) {
    const BigInt n = parse_hex_int(table.at("n"));
    BigInt d = parse_hex_int(to_hex(pelmo::test::random_bytes(40))) % (n - 1) + 1;
    const std::string d_hex = int_to_hex(d, 64);
    return {d_hex, *CryptSM2(std::nullopt, std::nullopt, table)._kg(d, table.at("g"))};
}

// Both sides of one exchange, each with its own fresh ephemeral scalar.
struct Pair {
    SM2KeyExchange a, b;
    std::string R_a, R_b;
};
Pair make_pair(const EccTable& table, const KeyPair& ka, const KeyPair& kb, ByteView id_a,
               ByteView id_b, bool generic = false) {
    Pair p{SM2KeyExchange(ka.d, ka.pub, id_a, kb.pub, id_b, true, table),
           SM2KeyExchange(kb.d, kb.pub, id_b, ka.pub, id_a, false, table), "", ""};
    if (generic) {
        pelmo::detail::sm2::KeyExchangeAccess::use_generic_path(p.a);
        pelmo::detail::sm2::KeyExchangeAccess::use_generic_path(p.b);
    }
    return p;
}

void expect_agreement(const KeyExchangeResult& a, const KeyExchangeResult& b, std::size_t klen) {
    EXPECT_EQ(a.key.size(), klen);
    EXPECT_EQ(a.key, b.key);
    EXPECT_EQ(a.confirmation, b.expected);
    EXPECT_EQ(b.confirmation, a.expected);
    EXPECT_NE(a.confirmation, a.expected);
    EXPECT_TRUE(SM2KeyExchange::confirm(a, b.confirmation));
    EXPECT_TRUE(SM2KeyExchange::confirm(b, a.confirmation));
}

class PublishedExample : public ::testing::TestWithParam<Example> {};

TEST_P(PublishedExample, BothRolesReproduceEveryValue) {
    const Example& e = GetParam();
    const auto curve = pelmo::detail::sm2::make_curve(*e.table);
    EXPECT_EQ(to_hex(pelmo::detail::sm2::identity_digest(*curve, e.p_a, B(e.id_a))), e.z_a);
    EXPECT_EQ(to_hex(pelmo::detail::sm2::identity_digest(*curve, e.p_b, B(e.id_b))), e.z_b);
    for (bool generic : {false, true}) {
        SCOPED_TRACE(generic ? "generic path" : "default path");
        Pair p = make_pair(*e.table, {e.d_a, e.p_a}, {e.d_b, e.p_b}, B(e.id_a), B(e.id_b), generic);
        EXPECT_EQ(p.a.ephemeral(e.r_a), e.R_a);
        EXPECT_EQ(p.b.ephemeral(upper(e.r_b)), e.R_b);
        const auto ra = p.a.compute(e.R_b, e.klen);
        const auto rb = p.b.compute(upper(e.R_a), e.klen);
        ASSERT_TRUE(ra && rb);
        EXPECT_EQ(to_hex(ra->key), e.k);
        EXPECT_EQ(to_hex(ra->confirmation), e.s_a);
        EXPECT_EQ(to_hex(ra->expected), e.s_b);
        EXPECT_EQ(to_hex(rb->confirmation), e.s_b);
        expect_agreement(*ra, *rb, e.klen);
        // K is the start of every longer key: the KDF's stream, cut.
        const auto longer = p.a.compute(e.R_b, 100);
        ASSERT_TRUE(longer);
        EXPECT_EQ(to_hex(ByteView(longer->key.data(), e.klen)), e.k);
        EXPECT_EQ(longer->confirmation, ra->confirmation);
    }
}

INSTANTIATE_TEST_SUITE_P(SM2KeyExchange, PublishedExample, ::testing::ValuesIn(kExamples),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

struct CurveCase {
    const char* name;
    const EccTable* table;
};
class RandomExchanges : public ::testing::TestWithParam<CurveCase> {};

TEST_P(RandomExchanges, BothSidesAgreeAndTheCoreMatchesTheGenericPath) {
    const EccTable& table = *GetParam().table;
    const bool recommended = GetParam().table == &pelmo::sm2::default_ecc_table;
    for (int i = 0; i < pelmo::test::iterations(12, 2); ++i) {
        SCOPED_TRACE(i);
        const KeyPair ka = random_key_pair(table), kb = random_key_pair(table);
        const Bytes id_a = pelmo::test::random_bytes(pelmo::test::rng()() % 40);
        const Bytes id_b = pelmo::test::random_bytes(pelmo::test::rng()() % 40);
        const std::size_t klen = 1 + pelmo::test::rng()() % 100;
        Pair p = make_pair(table, ka, kb, id_a, id_b);
        const std::string R_a = p.a.ephemeral(), R_b = p.b.ephemeral();
        EXPECT_EQ(R_a.size(), 128u);
        const auto ra = p.a.compute(R_b, klen), rb = p.b.compute(R_a, klen);
        ASSERT_TRUE(ra && rb);
        expect_agreement(*ra, *rb, klen);
        if (!recommended) continue;
        // The same exchange on GMP: the ephemeral scalars are not readable, so both
        // sides of the reference run on given ones and meet the core's sides.
        const std::string r_a = to_hex(pelmo::test::random_bytes(31));
        const std::string r_b = to_hex(pelmo::test::random_bytes(32));
        Pair ref = make_pair(table, ka, kb, id_a, id_b, true);
        Pair core = make_pair(table, ka, kb, id_a, id_b);
        EXPECT_EQ(ref.a.ephemeral(r_a), core.a.ephemeral(r_a));
        EXPECT_EQ(ref.b.ephemeral(r_b), core.b.ephemeral(r_b));
        const auto x = ref.a.compute(core.b.ephemeral(r_b), klen);
        const auto y = core.a.compute(ref.b.ephemeral(r_b), klen);
        const auto z = core.b.compute(core.a.ephemeral(r_a), klen);
        ASSERT_TRUE(x && y && z);
        EXPECT_EQ(x->key, y->key);
        EXPECT_EQ(x->confirmation, y->confirmation);
        EXPECT_EQ(x->expected, y->expected);
        expect_agreement(*y, *z, klen);
    }
}

INSTANTIATE_TEST_SUITE_P(SM2KeyExchange, RandomExchanges,
                         ::testing::Values(CurveCase{"recommended", &pelmo::sm2::default_ecc_table},
                                           CurveCase{"test_curve", &kTestCurve}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The recommended-curve example, as a ready pair.
const Example& kRec = kExamples[1];
Pair example_pair(bool generic = false) {
    Pair p = make_pair(*kRec.table, {kRec.d_a, kRec.p_a}, {kRec.d_b, kRec.p_b}, B(kRec.id_a),
                       B(kRec.id_b), generic);
    p.R_a = p.a.ephemeral(kRec.r_a);
    p.R_b = p.b.ephemeral(kRec.r_b);
    return p;
}

std::string negate_y(const std::string& point, const EccTable& table) {
    const BigInt p = parse_hex_int(table.at("p"));
    return point.substr(0, 64) + int_to_hex(p - parse_hex_int(point.substr(64)), 64);
}

TEST(SM2KeyExchange, PointsOffTheCurveGiveNoValue) {
    for (bool generic : {false, true}) {
        SCOPED_TRACE(generic ? "generic path" : "default path");
        const Pair p = example_pair(generic);
        const std::string& R = kRec.R_b;
        const std::string& p_hex = kRec.table->at("p");
        const BigInt y = parse_hex_int(R.substr(64));
        for (const std::string& bad : {R.substr(0, 64) + int_to_hex(y + 1, 64),  // y off by one
                                       std::string(128, '0'),                    // (0, 0): no point
                                       p_hex + R.substr(64),                     // x = p
                                       std::string(128, 'f')}) {
            SCOPED_TRACE(bad);
            EXPECT_FALSE(p.a.compute(bad, 16));
        }
        // A valid point other than the peer's ephemeral one: a key, but a different
        // one, and the confirmations do not match.
        const auto good = p.a.compute(R, 16);
        const auto other = p.a.compute(negate_y(R, *kRec.table), 16);
        const auto from_b = p.b.compute(p.R_a, 16);
        ASSERT_TRUE(good && other && from_b);
        EXPECT_NE(other->key, good->key);
        EXPECT_FALSE(SM2KeyExchange::confirm(*other, from_b->confirmation));
        EXPECT_TRUE(SM2KeyExchange::confirm(*good, from_b->confirmation));
    }
}

TEST(SM2KeyExchange, WrongConfirmationsAreRefused) {
    const Pair p = example_pair();
    const auto a = p.a.compute(p.R_b, 16);
    const auto b = p.b.compute(p.R_a, 16);
    ASSERT_TRUE(a && b);
    Bytes sent(b->confirmation.begin(), b->confirmation.end());
    EXPECT_TRUE(SM2KeyExchange::confirm(*a, sent));
    for (std::size_t bit : {0u, 7u, 128u, 255u}) {
        Bytes flipped = sent;
        flipped[bit / 8] ^= static_cast<std::uint8_t>(1u << (bit % 8));
        EXPECT_FALSE(SM2KeyExchange::confirm(*a, flipped)) << bit;
    }
    EXPECT_FALSE(SM2KeyExchange::confirm(*a, ByteView(sent.data(), 31)));
    EXPECT_FALSE(SM2KeyExchange::confirm(*a, {}));
    Bytes longer = sent;
    longer.push_back(0);
    EXPECT_FALSE(SM2KeyExchange::confirm(*a, longer));
    // A side's own confirmation is not what it expects back (no reflection).
    EXPECT_FALSE(SM2KeyExchange::confirm(*a, a->confirmation));
}

// A peer whose static key is -[x̄_B r_B]G: then P_B + [x̄_B]R_B is the point at infinity
// for A, and t_B = d_B + x̄_B r_B = 0 for B; neither side gets a key.
TEST(SM2KeyExchange, SharedPointAtInfinityGivesNoValue) {
    for (const EccTable* table : {&pelmo::sm2::default_ecc_table, &kTestCurve}) {
        for (bool generic : {false, true}) {
            SCOPED_TRACE(generic ? "generic path" : "default path");
            const BigInt n = parse_hex_int(table->at("n"));
            const BigInt r_b = parse_hex_int("1d2c3b4a59687766554433221100ffeeddccbbaa");
            const CryptSM2 engine(std::nullopt, std::nullopt, *table);
            const std::string R_b = *engine._kg(r_b, table->at("g"));
            const BigInt xbar =
                (BigInt(1) << 127) + (parse_hex_int(R_b.substr(0, 64)) % (BigInt(1) << 127));
            BigInt d_b = (n - xbar * r_b % n) % n;
            const KeyPair kb{int_to_hex(d_b, 64), *engine._kg(d_b, table->at("g"))};
            const KeyPair ka = random_key_pair(*table);
            const std::string_view text = "1234567812345678";
            const Bytes id(text.begin(), text.end());
            Pair p = make_pair(*table, ka, kb, id, id, generic);
            const std::string R_a = p.a.ephemeral();
            EXPECT_EQ(p.b.ephemeral(int_to_hex(r_b, 40)), R_b);
            EXPECT_FALSE(p.a.compute(R_b, 16));
            EXPECT_FALSE(p.b.compute(R_a, 16));
        }
    }
}

template <class E>
void expect_error(const std::function<void()>& fn, std::string_view words) {
    try {
        fn();
        ADD_FAILURE() << "no exception; expected one mentioning " << words;
    } catch (const E& e) {
        EXPECT_NE(std::string(e.what()).find(words), std::string::npos) << e.what();
    }
}

TEST(SM2KeyExchange, BadInputIsRefusedAndTheExchangeKept) {
    using std::invalid_argument;
    const std::string n = kRec.table->at("n");
    const ByteView id = pelmo::test::as_bytes("1234567812345678");
    auto make = [&](std::string_view d, std::string_view pub, std::string_view peer) {
        return SM2KeyExchange(d, pub, id, peer, id, true);
    };
    // Keys.
    for (const std::string& d : {std::string(), std::string(64, '0'), n,
                                 "0" + std::string(kRec.d_a), std::string(kRec.d_a) + "x"})
        EXPECT_THROW(make(d, kRec.p_a, kRec.p_b), invalid_argument) << d;
    expect_error<invalid_argument>([&] { make(n, kRec.p_a, kRec.p_b); }, "[1, n - 1]");
    expect_error<invalid_argument>([&] { make(kRec.d_a, kRec.p_b, kRec.p_b); }, "private key's");
    expect_error<invalid_argument>(
        [&] { make(kRec.d_a, kRec.p_a, std::string(kRec.p_b).substr(0, 126) + "00"); },
        "not a point of the curve");
    expect_error<invalid_argument>([&] { make(kRec.d_a, kRec.p_a, std::string(kRec.p_b) + "0"); },
                                   "peer public key of 129 digits");
    expect_error<invalid_argument>(
        [&] { make(kRec.d_a, std::string(kRec.p_a).replace(5, 1, "g"), kRec.p_b); }, "'g'");
    // "04" prefixes and upper case are fine.
    EXPECT_NO_THROW(make(upper(kRec.d_a), "04" + std::string(kRec.p_a), "04" + upper(kRec.p_b)));
    // Identities up to 8191 bytes.
    const Bytes long_id(8191, 'x'), too_long(8192, 'x');
    EXPECT_NO_THROW(SM2KeyExchange(kRec.d_a, kRec.p_a, long_id, kRec.p_b, id, true));
    expect_error<invalid_argument>(
        [&] { SM2KeyExchange(kRec.d_a, kRec.p_a, id, kRec.p_b, too_long, true); }, "8192 bytes");

    // Ephemeral scalars, compute's arguments and its order.
    SM2KeyExchange a = make(kRec.d_a, kRec.p_a, kRec.p_b);
    EXPECT_THROW((void)a.compute(kRec.R_b, 16), std::logic_error);
    EXPECT_EQ(a.ephemeral(kRec.r_a), kRec.R_a);
    for (const std::string& r :
         {std::string(), std::string("0"), n, "1" + std::string(64, '0'), std::string("12g4")})
        EXPECT_THROW(a.ephemeral(r), invalid_argument) << r;
    const std::string R_b = kRec.R_b;
    for (const std::string& R : {R_b.substr(1), R_b + "0", R_b.substr(0, 127) + "z"})
        EXPECT_THROW((void)a.compute(R, 16), invalid_argument) << R;
    expect_error<invalid_argument>([&] { (void)a.compute(R_b, 0); }, "klen");
    EXPECT_THROW((void)a.compute(R_b, pelmo::detail::sm2::kMaxKeyStreamBytes + 1),
                 invalid_argument);
    // None of that changed the exchange under way.
    const auto result = a.compute(R_b, kRec.klen);
    ASSERT_TRUE(result);
    EXPECT_EQ(to_hex(result->key), kRec.k);

    // A moved-from side refuses to work; the moved-to one goes on.
    SM2KeyExchange moved = std::move(a);
    EXPECT_THROW((void)a.compute(R_b, 16), std::logic_error);  // NOLINT(bugprone-use-after-move)
    EXPECT_THROW(a.ephemeral(), std::logic_error);             // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(to_hex(moved.compute(R_b, kRec.klen)->key), kRec.k);
}

TEST(SM2KeyExchange, TablesUnfitForTheExchangeAreRefused) {
    EccTable odd = kTestCurve;
    odd["n"] = "0" + odd["n"];  // 65 digits: coordinates of half octets
    EXPECT_THROW(
        SM2KeyExchange("01", std::string(130, '1'), {}, std::string(130, '1'), {}, true, odd),
        std::invalid_argument);
}

TEST(SM2KeyExchange, NewEphemeralStartsANewExchange) {
    Pair p = example_pair();
    const auto first = p.a.compute(p.R_b, 16);
    const std::string R_a2 = p.a.ephemeral();
    EXPECT_NE(R_a2, p.R_a);
    const auto second = p.a.compute(p.R_b, 16);
    const auto from_b = p.b.compute(R_a2, 16);
    ASSERT_TRUE(first && second && from_b);
    EXPECT_NE(first->key, second->key);
    expect_agreement(*second, *from_b, 16);
}

}  // namespace
