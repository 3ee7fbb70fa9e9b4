// SM2 key exchange (GB/T 32918.3) with key confirmation.
//
// Each side holds a static key pair (d, P) and draws an ephemeral r with R = [r]G. With
// w = ceil(ceil(log2 n) / 2) - 1 and x̄ = 2^w + (x mod 2^w) for a point's x, a side
// computes t = (d + x̄_own r) mod n and the shared point U = [t](P_peer + [x̄_peer] R_peer)
// (the cofactor is 1), then K = KDF(xU || yU || Z_A || Z_B, klen) and the confirmations
// S_B = SM3(0x02 || yU || H), S_A = SM3(0x03 || yU || H) with
// H = SM3(xU || Z_A || Z_B || x_RA || y_RA || x_RB || y_RB).
//
// On the recommended curve d, r and t live in 32-byte arrays and every operation on
// them is constant time: [r]G through the comb table, t with the scalar arithmetic mod
// n, U as one constant-time variable-base multiplication by t of the public point
// P_peer + [x̄_peer] R_peer (computed in variable time, as all of its inputs are
// public). Any other table runs on GMP through the generic point operations, in
// variable time. Secrets are wiped when replaced and when the object goes.
#include <pelmo/sm2.hpp>

#include <cstring>
#include <stdexcept>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/curve/curve.hpp"
#include "sm2/encrypt.hpp"
#include "sm2/engine.hpp"
#include "sm2/fast.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2/identity.hpp"
#include "sm2/kdf.hpp"
#include "sm2/key_exchange.hpp"
#include "sm2/keys.hpp"

namespace pelmo::detail::sm2 {

namespace {

namespace cv = curve;
using Digest = sm3::SM3::Digest;

// Zeros the limbs of a big integer that held a secret, and leaves it zero.
void wipe_int(BigInt& v) noexcept {
    mpz_ptr z = v.get_mpz_t();
    secure_wipe(mpz_limbs_modify(z, 0), mpz_size(z) * sizeof(mp_limb_t));
    mpz_set_ui(z, 0);
}

generic::Point read_point(const Curve& c, std::string_view text) {
    return {parse_hex_int(slice(text, 0, c.para_len), "x coordinate"),
            parse_hex_int(slice(text, c.para_len, c.para_len), "y coordinate")};
}

// The octets of an affine point, x then y, para_len / 2 each.
Bytes point_octets(const Curve& c, const generic::Point& P) {
    return from_hex(generic::format_affine(c, P.x, P.y));
}

generic::Jacobian jacobian(const generic::Point& P) {
    return {P.x, P.y, BigInt(1)};
}

// A point text of 2 * para_len hexadecimal digits; anything else is std::invalid_argument.
void check_point_text(const Curve& c, std::string_view text, std::string_view what) {
    if (text.size() != 2 * c.para_len)
        throw std::invalid_argument(std::string(what) + " of " + std::to_string(text.size()) +
                                    " digits is not x || y of " + std::to_string(c.para_len) +
                                    " digits each");
    check_hex_number(text, what);
}

// A scalar text of 1 to para_len digits (its value's range is the caller's to check).
void check_scalar_length(const Curve& c, std::string_view text, std::string_view what) {
    if (text.empty() || text.size() > c.para_len)
        throw std::invalid_argument(std::string(what) + " must have 1 to " +
                                    std::to_string(c.para_len) + " hexadecimal digits, not " +
                                    std::to_string(text.size()));
}

[[noreturn]] void throw_out_of_range(std::string_view what) {
    throw std::invalid_argument(std::string(what) + " must lie in [1, n - 1]");
}

// x̄ = 2^127 + (x mod 2^127) for a coordinate of the recommended curve (w = 127).
cv::Bytes32 xbar_recommended(const cv::Bytes32& x) {
    cv::Bytes32 v{};
    std::memcpy(v.data() + 16, x.data() + 16, 16);
    v[16] = static_cast<std::uint8_t>(v[16] | 0x80);
    return v;
}

bool published(bool flag) {
    ct::declassify(&flag, sizeof flag);
    return flag;
}

}  // namespace

// Everything one side of an exchange holds.
struct KeyExchangeState {
    std::shared_ptr<const Curve> curve;
    bool initiator = false;
    bool fast = false;  // the recommended curve: the fixed-width core
    Digest z_a{}, z_b{};
    std::size_t coordinate_bytes = 0;

    // The recommended curve: secrets as fixed-width values.
    cv::Bytes32 d{}, r{};
    cv::Affine peer{};

    // Any other table.
    BigInt d_int, r_int, n;
    unsigned w = 0;
    generic::Point g, peer_point;

    // The exchange under way: R = [r]G as octets, x then y.
    bool has_ephemeral = false;
    Bytes own_R;

    ~KeyExchangeState() {
        secure_wipe(d);
        secure_wipe(r);
        wipe_int(d_int);
        wipe_int(r_int);
    }

    // The numbers of the generic path: n, w, G and the peer's key.
    void set_up_generic(std::string_view peer_text) {
        const Curve& c = *curve;
        n = c.n();
        if (n < 2) throw std::invalid_argument("curve order n is too small for key exchange");
        // w = ceil(ceil(log2 n) / 2) - 1, where ceil(log2 n) is n's bit length (n, a
        // prime above 2, is no power of two).
        const std::size_t bits = mpz_sizeinbase(n.get_mpz_t(), 2);
        w = static_cast<unsigned>((bits + 1) / 2 - 1);
        const std::string_view g_text = c.entry("g");
        check_point_text(c, g_text, "curve parameter \"g\"");
        g = read_point(c, g_text);
        peer_point = read_point(c, peer_text);
    }

    // x̄ for a point of any other table.
    BigInt xbar(const BigInt& x) const {
        BigInt low;
        mpz_fdiv_r_2exp(low.get_mpz_t(), x.get_mpz_t(), w);
        BigInt high;
        mpz_setbit(high.get_mpz_t(), w);
        return high + low;
    }

    // The private key or ephemeral scalar `text` checked and stored into `fixed` (the
    // recommended curve) or `big`; a bad value is std::invalid_argument and leaves both
    // untouched.
    void take_scalar(std::string_view text, std::string_view what, cv::Bytes32& fixed,
                     BigInt& big) const {
        const Curve& c = *curve;
        check_scalar_length(c, text, what);
        if (fast) {
            cv::Bytes32 v;
            const WipeOnExit wipe{v};
            fast::parse_scalar(text, v, what);  // at most 64 digits: always fits
            if (!published(fast::in_range_mask(v, ScalarRange::nonce) != 0))
                throw_out_of_range(what);
            fixed = v;
            return;
        }
        BigInt v = parse_hex_int(text, what);
        if (v < 1 || v >= n) {
            wipe_int(v);
            throw_out_of_range(what);
        }
        wipe_int(big);
        big = v;
        wipe_int(v);
    }

    // The shared point's octets (xU || yU) for the peer's ephemeral point text, or
    // nothing when that is not a point of the curve or U is the point at infinity.
    // Writes R_peer's octets too.
    bool shared_point(std::string_view peer_text, Bytes& xy, Bytes& peer_R) const {
        const Curve& c = *curve;
        if (fast) {
            cv::Affine Rp;
            from_hex_into(peer_text.substr(0, 64), Rp.x);
            from_hex_into(peer_text.substr(64), Rp.y);
            if (!cv::is_valid_point(Rp)) return false;
            peer_R.assign(Rp.x.begin(), Rp.x.end());
            peer_R.insert(peer_R.end(), Rp.y.begin(), Rp.y.end());

            // t = (d + x̄_own r) mod n, then U = [t](P_peer + [x̄_peer] R_peer): the sum is
            // public, the multiplication constant time in d, r and t.
            cv::Bytes32 own_x, t;
            const WipeOnExit wipe_t{t};
            std::memcpy(own_x.data(), own_R.data(), 32);
            t = cv::scalar::add(d, cv::scalar::mul(xbar_recommended(own_x), r));
            cv::Affine U;
            // False for a sum at infinity, or t = 0 (U at infinity).
            const bool finite = cv::mul_sum(U, t, xbar_recommended(Rp.x), Rp, peer);
            xy.assign(U.x.begin(), U.x.end());
            xy.insert(xy.end(), U.y.begin(), U.y.end());
            secure_wipe(&U, sizeof U);
            return finite;
        }

        if (!generic::is_on_curve(c, peer_text, true)) return false;
        const generic::Point Rp = read_point(c, peer_text);
        peer_R = point_octets(c, Rp);

        // Q = P_peer + [x̄_peer] R_peer, with the doubling case the mixed addition lacks.
        const auto xR = generic::scalar_mul(c, xbar(Rp.x), jacobian(Rp));
        if (!xR) return false;
        generic::Jacobian J = jacobian(*xR);
        generic::Scratch s;
        if (xR->x == peer_point.x && xR->y == peer_point.y)
            generic::double_point(c, J, s);
        else
            generic::add_point(c, J, peer_point.x, peer_point.y, s);
        const auto Q = generic::to_affine(c, J);
        if (!Q) return false;

        const BigInt own_x = bytes_to_int(ByteView(own_R.data(), coordinate_bytes));
        BigInt t = (d_int + xbar(own_x) * r_int) % n;
        const bool zero = t == 0;  // scalar_mul would read 0 as "the point itself"
        auto U = zero ? std::nullopt : generic::scalar_mul(c, t, jacobian(*Q));
        wipe_int(t);
        if (!U) return false;
        xy = point_octets(c, *U);
        wipe_int(U->x);
        wipe_int(U->y);
        return true;
    }

    pelmo::sm2::KeyExchangeResult derive(const Bytes& xy, const Bytes& peer_R,
                                         std::size_t klen) const {
        const std::size_t half = coordinate_bytes;
        const ByteView xU(xy.data(), half), yU(xy.data() + half, half);
        const Bytes& RA = initiator ? own_R : peer_R;
        const Bytes& RB = initiator ? peer_R : own_R;

        pelmo::sm2::KeyExchangeResult out;
        // K = KDF(xU || yU || Z_A || Z_B, klen): the key stream over zeros.
        Bytes z(xy);
        const WipeOnExit wipe_z{z};
        z.insert(z.end(), z_a.begin(), z_a.end());
        z.insert(z.end(), z_b.begin(), z_b.end());
        out.key.assign(klen, 0);
        xor_key_stream(z, out.key.data(), out.key.data(), klen);

        sm3::SM3 h;  // wipes its state when it goes
        h.update(xU).update(z_a).update(z_b).update(RA).update(RB);
        Digest inner = h.digest();
        const WipeOnExit wipe_inner{inner};
        const auto confirmation = [&](std::uint8_t tag) {
            const std::uint8_t prefix[1] = {tag};
            sm3::SM3 s;
            s.update(ByteView(prefix, 1)).update(yU).update(inner);
            return s.digest();
        };
        const Digest s_b = confirmation(0x02), s_a = confirmation(0x03);
        out.confirmation = initiator ? s_a : s_b;
        out.expected = initiator ? s_b : s_a;
        ct::declassify(out.confirmation.data(), out.confirmation.size());  // sent to the peer
        return out;
    }
};

void KeyExchangeAccess::use_generic_path(pelmo::sm2::SM2KeyExchange& kx) {
    KeyExchangeState& s = *kx.state_;
    if (!s.fast) return;
    s.set_up_generic(fast::format_point(s.peer));
    s.d_int = bytes_to_int(s.d);
    s.fast = false;
}

}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

namespace {

namespace cv = detail::sm2::curve;
namespace generic = detail::sm2::generic;
using detail::sm2::KeyExchangeState;
using Digest = sm3::SM3::Digest;

// A public key text without the "04" prefix of an uncompressed point.
std::string_view strip_prefix(const detail::sm2::Curve& c, std::string_view key) {
    if (key.size() == 2 * c.para_len + 2 && key.starts_with("04")) key.remove_prefix(2);
    return key;
}

const KeyExchangeState& live(const std::unique_ptr<KeyExchangeState>& state) {
    if (!state) throw std::logic_error("this key exchange was moved from");
    return *state;
}

}  // namespace

SM2KeyExchange::SM2KeyExchange(std::string_view private_key, std::string_view public_key,
                               ByteView id, std::string_view peer_public_key, ByteView peer_id,
                               bool initiator, const EccTable& ecc_table)
    : state_(std::make_unique<KeyExchangeState>()) {
    KeyExchangeState& s = *state_;
    s.curve = detail::sm2::make_curve(ecc_table);
    const detail::sm2::Curve& c = *s.curve;
    if (!c.exact_width || c.para_len % 2 != 0)
        throw std::invalid_argument(
            "curve table unsuitable for key exchange: its coordinates must fit in the width of "
            "\"n\", an even number of digits");
    s.initiator = initiator;
    s.fast = c.recommended;
    s.coordinate_bytes = c.para_len / 2;
    const std::string_view own = strip_prefix(c, public_key);
    const std::string_view peer = strip_prefix(c, peer_public_key);
    detail::sm2::check_point_text(c, own, "public key");
    detail::sm2::check_point_text(c, peer, "peer public key");

    Bytes derived;  // [d]G, to compare with the public key given
    if (s.fast) {
        s.take_scalar(private_key, "private key", s.d, s.d_int);
        detail::from_hex_into(peer.substr(0, 64), s.peer.x);
        detail::from_hex_into(peer.substr(64), s.peer.y);
        if (!cv::is_valid_point(s.peer))
            throw std::invalid_argument("peer public key is not a point of the curve");
        cv::Affine P;
        cv::mul_base(P, s.d);  // d in [1, n - 1]: never infinity
        detail::ct::declassify(&P, sizeof P);
        derived.assign(P.x.begin(), P.x.end());
        derived.insert(derived.end(), P.y.begin(), P.y.end());
    } else {
        s.set_up_generic(peer);
        s.take_scalar(private_key, "private key", s.d, s.d_int);
        if (!generic::is_on_curve(c, peer, true))
            throw std::invalid_argument("peer public key is not a point of the curve");
        const auto P = generic::scalar_mul(c, s.d_int, detail::sm2::jacobian(s.g));
        if (P) derived = detail::sm2::point_octets(c, *P);
    }
    if (derived != detail::from_hex(own))
        throw std::invalid_argument("public key is not the private key's");

    const Digest z_own = detail::sm2::identity_digest(c, own, id);
    const Digest z_peer = detail::sm2::identity_digest(c, peer, peer_id);
    s.z_a = initiator ? z_own : z_peer;
    s.z_b = initiator ? z_peer : z_own;
}

SM2KeyExchange::SM2KeyExchange(SM2KeyExchange&& other) noexcept = default;
SM2KeyExchange& SM2KeyExchange::operator=(SM2KeyExchange&& other) noexcept = default;
SM2KeyExchange::~SM2KeyExchange() = default;

std::string SM2KeyExchange::ephemeral(std::optional<std::string_view> r) {
    (void)live(state_);
    KeyExchangeState& s = *state_;
    const detail::sm2::Curve& c = *s.curve;
    std::string drawn;
    const detail::WipeOnExit wipe_drawn{drawn};
    if (!r) {
        drawn = detail::sm2::random_scalar_hex(c, detail::sm2::ScalarRange::nonce);
        r = drawn;
    }
    Bytes R;
    if (s.fast) {
        cv::Bytes32 v;
        const detail::WipeOnExit wipe_v{v};
        BigInt unused;
        s.take_scalar(*r, "ephemeral scalar r", v, unused);
        cv::Affine P;
        cv::mul_base(P, v);  // r in [1, n - 1]: never infinity
        detail::ct::declassify(&P, sizeof P);
        R.assign(P.x.begin(), P.x.end());
        R.insert(R.end(), P.y.begin(), P.y.end());
        s.r = v;
    } else {
        BigInt v;
        cv::Bytes32 unused;
        s.take_scalar(*r, "ephemeral scalar r", unused, v);
        const auto P = generic::scalar_mul(c, v, detail::sm2::jacobian(s.g));
        if (!P) {  // only for a base point whose order is not n
            detail::sm2::wipe_int(v);
            throw std::invalid_argument("[r]G is the point at infinity");
        }
        R = detail::sm2::point_octets(c, *P);
        detail::sm2::wipe_int(s.r_int);
        s.r_int = v;
        detail::sm2::wipe_int(v);
    }
    s.own_R = std::move(R);
    s.has_ephemeral = true;
    return detail::to_hex(s.own_R);
}

std::optional<KeyExchangeResult> SM2KeyExchange::compute(std::string_view peer_ephemeral,
                                                         std::size_t klen) const {
    const KeyExchangeState& s = live(state_);
    if (!s.has_ephemeral) throw std::logic_error("ephemeral() must be called before compute()");
    if (klen == 0 || klen > detail::sm2::kMaxKeyStreamBytes)
        throw std::invalid_argument("key length klen must be 1 to " +
                                    std::to_string(detail::sm2::kMaxKeyStreamBytes) +
                                    " bytes, not " + std::to_string(klen));
    detail::sm2::check_point_text(*s.curve, peer_ephemeral, "peer ephemeral point");
    Bytes xy, peer_R;
    const detail::WipeOnExit wipe_xy{xy};
    if (!s.shared_point(peer_ephemeral, xy, peer_R)) return std::nullopt;
    return s.derive(xy, peer_R, klen);
}

bool SM2KeyExchange::confirm(const KeyExchangeResult& result, ByteView received) {
    if (received.size() != result.expected.size()) return false;
    bool same = detail::ct::equal(result.expected.data(), received.data(), received.size());
    detail::ct::declassify(&same, sizeof same);
    return same;
}

}  // namespace pelmo::sm2
