// CryptSM2: encryption and decryption, and their path on the recommended curve.
#include "sm2/encrypt.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

#include <pelmo/sm3.hpp>

#include "common/ct.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "sm2/fast.hpp"
#include "sm2/kdf.hpp"
#include "sm2/keys.hpp"

namespace pelmo::detail::sm2 {

namespace {

namespace cv = curve;

constexpr std::size_t kC3 = sm3::SM3::digest_size;

void require_plaintext(ByteView data) {
    if (data.empty()) throw std::invalid_argument("empty plaintext: there is nothing to encrypt");
}

// A ciphertext must hold C1 (para_len bytes), C3 and at least one byte of C2.
void require_ciphertext(const Curve& c, ByteView data) {
    const std::size_t digits = 2 * data.size(), c1_digits = 2 * c.para_len;
    if (digits < c1_digits)
        throw std::invalid_argument("ciphertext of " + std::to_string(data.size()) +
                                    " bytes is shorter than its C1 part (" +
                                    std::to_string(c.para_len) + " bytes)");
    if (digits <= c1_digits + 2 * kC3)
        throw std::invalid_argument("ciphertext of " + std::to_string(data.size()) +
                                    " bytes has no C2 part: it needs more than " +
                                    std::to_string(c.para_len + kC3) + " bytes");
}

// The bool is computed without branches from a secret; it is published before use.
bool published_nonzero(std::uint8_t v) {
    std::uint64_t nonzero = ~ct::is_zero_mask(ct::value_barrier(v));
    ct::declassify(&nonzero, sizeof nonzero);
    return nonzero != 0;
}

}  // namespace

std::optional<Bytes> encrypt_with_scalar(const pelmo::sm2::CryptSM2& engine, ByteView data,
                                         std::string_view k_hex) {
    const Curve& c = EngineAccess::curve(engine);
    require_plaintext(data);
    if (!engine.public_key) throw std::invalid_argument("no public key to encrypt to");
    const std::string& PB = *engine.public_key;
    // Encrypting to a text that is no point of the curve would give a ciphertext that
    // nobody can decrypt (and on a weak curve one that its chooser reads without the
    // key): such a key is refused. Coordinates count by their residues mod p, as _kg
    // reads them.
    if (PB.size() != 2 * c.para_len)
        throw std::invalid_argument("public key of " + std::to_string(PB.size()) +
                                    " digits is not x || y of " + std::to_string(c.para_len) +
                                    " digits each");
    if (c.recommended) {
        const auto P = fast::parse_point(PB);
        if (!P) {
            check_hex_number(PB, "public key");  // names a bad digit
            throw std::invalid_argument("public key is not a point of the curve");
        }
        cv::Bytes32 k;
        const WipeOnExit wipe{k};
        if (fast::parse_scalar(k_hex, k, "scalar k"))
            return fast::encrypt(data, *P, k, engine.mode);
    } else if (!generic::is_on_curve(c, PB, false)) {
        throw std::invalid_argument("public key is not a point of the curve");
    }
    return generic::encrypt(c, data, PB, k_hex, engine.mode);
}

namespace fast {

std::optional<Bytes> encrypt(ByteView data, const cv::Affine& PB, const cv::Bytes32& k, int mode) {
    // _kg's results for any k, in constant time: C1 = k*G and the shared point k*PB.
    cv::Affine C1, shared;
    const bool finite = kg_pair(k, PB, C1, shared);
    std::array<std::uint8_t, 64> z;  // x2 || y2
    const WipeOnExit wipe_z{z};
    std::memcpy(z.data(), shared.x.data(), 32);
    std::memcpy(z.data() + 32, shared.y.data(), 32);
    secure_wipe(&shared, sizeof shared);
    if (!finite)
        throw std::invalid_argument("k*G is the point at infinity: no ciphertext with this k");

    const std::size_t len = data.size();
    Bytes out(64 + kC3 + len);
    std::memcpy(out.data(), C1.x.data(), 32);
    std::memcpy(out.data() + 32, C1.y.data(), 32);
    std::uint8_t* c2 = out.data() + (mode != 0 ? 64 + kC3 : 64);
    std::uint8_t* c3 = out.data() + (mode != 0 ? 64 : 64 + len);

    const std::uint8_t any = xor_key_stream(z, data.data(), c2, len);
    sm3::SM3 h;
    h.update(ByteView(z.data(), 32)).update(data).update(ByteView(z.data() + 32, 32));
    const auto digest = h.digest();
    std::memcpy(c3, digest.data(), kC3);

    if (!published_nonzero(any)) return std::nullopt;  // an all-zero key stream
    ct::declassify(out.data(), out.size());            // the ciphertext is public
    return out;
}

std::optional<Bytes> decrypt(ByteView data, const cv::Bytes32& d, int mode) {
    cv::Affine C1;
    std::memcpy(C1.x.data(), data.data(), 32);
    std::memcpy(C1.y.data(), data.data() + 32, 32);
    return decrypt_split(C1, data.subspan(64), d, mode != 0 ? kSplitC3C2 : kSplitC2C3);
}

std::optional<Bytes> decrypt_split(const cv::Affine& C1, ByteView block, const cv::Bytes32& d,
                                   unsigned modes, int* mode_found) {
    // C1 must be a point of the curve before d is used with it: a point of another
    // curve (one with a small subgroup) would let the result reveal d piece by piece.
    if (!cv::is_valid_point(C1)) return std::nullopt;
    std::array<std::uint8_t, 64> z;  // the shared point x2 || y2
    const WipeOnExit wipe_z{z};
    {
        auto shared = kg(d, C1);
        if (!shared) return std::nullopt;  // d = n or n + 2: the key is unusable
        std::memcpy(z.data(), shared->x.data(), 32);
        std::memcpy(z.data() + 32, shared->y.data(), 32);
        secure_wipe(&*shared, sizeof *shared);
    }

    // Where C2 and C3 sit in the block, by mode.
    const std::size_t len = block.size() - kC3;
    const std::uint8_t* const c2_at[2] = {block.data(), block.data() + kC3};
    const std::uint8_t* const c3_at[2] = {block.data() + len, block.data()};
    const int first = (modes & kSplitC2C3) != 0 ? 0 : 1;
    Bytes M(len);
    const std::uint8_t any = xor_key_stream(z, c2_at[first], M.data(), len);
    for (int mode = first; mode < 2; ++mode) {
        if ((modes & (1u << mode)) == 0) continue;
        // The other split's C2 under the same key stream: M ^ C2(first) ^ C2(mode).
        if (mode != first)
            for (std::size_t i = 0; i < len; ++i)
                M[i] = static_cast<std::uint8_t>(M[i] ^ c2_at[first][i] ^ c2_at[mode][i]);
        sm3::SM3 h;  // wipes its state, which holds x2, when it goes
        h.update(ByteView(z.data(), 32)).update(M).update(ByteView(z.data() + 32, 32));
        const auto u = h.digest();

        // The check value is compared in constant time; only the outcome is published.
        std::uint8_t diff = 0;
        for (std::size_t i = 0; i < kC3; ++i)
            diff |= static_cast<std::uint8_t>(u[i] ^ c3_at[mode][i]);
        std::uint64_t ok =
            ct::is_zero_mask(ct::value_barrier(diff)) & ~ct::is_zero_mask(ct::value_barrier(any));
        ct::declassify(&ok, sizeof ok);
        if (ok != 0) {
            ct::declassify(M.data(), M.size());  // the plaintext goes to the caller
            if (mode_found) *mode_found = mode;
            return M;
        }
    }
    secure_wipe(M);  // what the wrong key stream made of C2
    return std::nullopt;
}

}  // namespace fast

}  // namespace pelmo::detail::sm2

namespace pelmo::sm2 {

using detail::sm2::Curve;
using detail::sm2::EngineAccess;

std::optional<Bytes> CryptSM2::encrypt(ByteView data) const {
    const Curve& c = EngineAccess::curve(*this);
    detail::sm2::require_plaintext(data);
    if (!public_key) throw std::invalid_argument("no public key to encrypt to");
    // A fresh k in [1, n - 1] for every message.
    std::string k = detail::sm2::random_scalar_hex(c, detail::sm2::ScalarRange::nonce);
    const detail::WipeOnExit wipe{k};
    return detail::sm2::encrypt_with_scalar(*this, data, k);
}

std::optional<Bytes> CryptSM2::decrypt(ByteView data) const {
    const Curve& c = EngineAccess::curve(*this);
    detail::sm2::require_ciphertext(c, data);
    if (!private_key) throw std::invalid_argument("no private key to decrypt with");
    const std::string& d = *private_key;
    // On the recommended curve a key whose value fits in 256 bits, whatever its text's
    // length, goes to the core; a larger one (never produced by pelmo) takes the
    // generic path, in variable time.
    if (c.recommended) {
        detail::sm2::curve::Bytes32 d_value;
        const detail::WipeOnExit wipe{d_value};
        if (detail::sm2::fast::parse_scalar(d, d_value, "private key"))
            return detail::sm2::fast::decrypt(data, d_value, mode);
    }
    return detail::sm2::generic::decrypt(c, data, d, mode);
}

}  // namespace pelmo::sm2
