// CTR, CFB-128 and OFB over the SM4 kernels, one-shot and streaming.
//
// CTR and CFB decryption run on the kernels' multi-block ECB path: counter blocks (or
// ciphertext blocks) go in batches through kernel.ecb and the result is XORed onto the input.
// CFB encryption and OFB are serial by construction and take one block at a time.
#include <pelmo/sm4.hpp>

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/ct.hpp"
#include "common/wipe.hpp"
#include "sm4/stream.hpp"

namespace pelmo::detail::sm4 {

void check_key(ByteView key) {
    if (key.size() != 16)
        throw std::invalid_argument("SM4 key must be 16 bytes, got " + std::to_string(key.size()));
}

void check_iv16(ByteView iv) {
    if (iv.size() != 16)
        throw std::invalid_argument("SM4 IV must be 16 bytes, got " + std::to_string(iv.size()));
}

void xor_bytes(std::uint8_t* out, const std::uint8_t* a, const std::uint8_t* b,
               std::size_t n) noexcept {
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(out + i, &x, 8);
    }
    for (; i < n; ++i) out[i] = static_cast<std::uint8_t>(a[i] ^ b[i]);
}

namespace {

inline std::uint64_t load_be64(const std::uint8_t* p) noexcept {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
    return v;
}

inline void store_be64(std::uint8_t* p, std::uint64_t v) noexcept {
    if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}

}  // namespace

void Ctr::start(const std::uint32_t round_keys[32], const std::uint8_t counter[16],
                bool low32) noexcept {
    std::copy_n(round_keys, 32, rk);
    hi = load_be64(counter);
    lo = load_be64(counter + 8);
    wrap32 = low32;
    used = 16;
}

void Ctr::fill(std::uint8_t* buf, std::size_t m) noexcept {
    // The carry out of the low half is a mask, not a branch: with a secret nonce (the check
    // in tests/ct treats it so) nothing depends on its value.
    const std::uint64_t keep = wrap32 ? 0xffffffff00000000u : 0;
    const std::uint64_t carries = wrap32 ? 0 : 1;
    for (std::size_t i = 0; i < m; ++i, buf += 16) {
        store_be64(buf, hi);
        store_be64(buf + 8, lo);
        const std::uint64_t next = lo + 1;
        const std::uint64_t wrapped = (lo & keep) | (next & ~keep);
        hi += ct::is_zero_mask(next) & carries;
        lo = wrapped;
    }
}

void Ctr::crypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                std::size_t n) noexcept {
    if (n == 0) return;
    if (used < 16) {
        const std::size_t take = std::min<std::size_t>(n, 16 - used);
        xor_bytes(out, in, ks + used, take);
        used += static_cast<unsigned>(take);
        in += take, out += take, n -= take;
    }
    if (k.ctr != nullptr && n >= 16) {
        std::uint64_t counter[2] = {hi, lo};
        k.ctr(rk, counter, wrap32, in, out, n / 16);
        hi = counter[0], lo = counter[1];
        in += n & ~std::size_t{15}, out += n & ~std::size_t{15}, n &= 15;
    }
    alignas(64) std::uint8_t buf[kBatchBlocks * 16];
    bool touched = false;
    while (n >= 16) {
        const std::size_t m = std::min(n / 16, kBatchBlocks);
        fill(buf, m);
        k.ecb(rk, buf, buf, m);
        xor_bytes(out, in, buf, 16 * m);
        touched = true;
        in += 16 * m, out += 16 * m, n -= 16 * m;
    }
    if (touched) secure_wipe(buf, sizeof buf);
    if (n != 0) {
        fill(ks, 1);
        k.ecb(rk, ks, ks, 1);
        xor_bytes(out, in, ks, n);
        used = static_cast<unsigned>(n);
    }
}

Ctr::~Ctr() {
    secure_wipe(rk, sizeof rk);
    secure_wipe(ks, sizeof ks);
}

void Cfb::encrypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                  std::size_t n) noexcept {
    for (std::size_t i = 0; i < n;) {
        if (used == 0) k.ecb(rk, reg, reg, 1);
        const std::size_t take = std::min<std::size_t>(n - i, 16 - used);
        xor_bytes(reg + used, reg + used, in + i, take);
        std::memcpy(out + i, reg + used, take);
        used = static_cast<unsigned>((used + take) % 16);
        i += take;
    }
}

void Cfb::decrypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                  std::size_t n) noexcept {
    std::uint8_t c[16];
    const auto partial = [&](std::size_t take) {
        if (used == 0) k.ecb(rk, reg, reg, 1);
        std::memcpy(c, in, take);  // in may be out
        xor_bytes(out, reg + used, in, take);
        std::memcpy(reg + used, c, take);
        used = static_cast<unsigned>((used + take) % 16);
        in += take, out += take, n -= take;
    };
    if (used != 0 && n != 0) partial(std::min<std::size_t>(n, 16 - used));
    // Whole blocks: the keystream of block i is E(ciphertext block i - 1), E(reg) for the
    // first, so a batch is one multi-block call.
    alignas(64) std::uint8_t buf[kBatchBlocks * 16];
    bool touched = false;
    while (n >= 16) {
        const std::size_t m = std::min(n / 16, kBatchBlocks);
        std::memcpy(buf, reg, 16);
        std::memcpy(buf + 16, in, 16 * (m - 1));
        std::memcpy(reg, in + 16 * (m - 1), 16);
        k.ecb(rk, buf, buf, m);
        xor_bytes(out, in, buf, 16 * m);
        touched = true;
        in += 16 * m, out += 16 * m, n -= 16 * m;
    }
    if (touched) secure_wipe(buf, sizeof buf);
    if (n != 0) partial(n);
    secure_wipe(c, sizeof c);
}

Cfb::~Cfb() {
    secure_wipe(rk, sizeof rk);
    secure_wipe(reg, sizeof reg);
}

void Ofb::crypt(const Kernel& k, const std::uint8_t* in, std::uint8_t* out,
                std::size_t n) noexcept {
    for (std::size_t i = 0; i < n;) {
        if (used == 0) k.ecb(rk, reg, reg, 1);
        const std::size_t take = std::min<std::size_t>(n - i, 16 - used);
        xor_bytes(out + i, in + i, reg + used, take);
        used = static_cast<unsigned>((used + take) % 16);
        i += take;
    }
}

Ofb::~Ofb() {
    secure_wipe(rk, sizeof rk);
    secure_wipe(reg, sizeof reg);
}

}  // namespace pelmo::detail::sm4

namespace pelmo::sm4 {

namespace ds = pelmo::detail::sm4;

namespace detail_state {

struct Stream {
    SM4Stream::Mode mode;
    ds::Ctr ctr;
    ds::Cfb cfb;
    ds::Ofb ofb;

    Stream(SM4Stream::Mode m, ByteView key, ByteView iv) : mode(m) {
        ds::check_key(key);
        ds::check_iv16(iv);
        std::uint32_t rk[32];
        const ds::Kernel& k = ds::active_kernel();
        k.expand_key(key.data(), rk);
        switch (mode) {
            case SM4Stream::CTR:
                ctr.start(rk, iv.data(), false);
                break;
            case SM4Stream::CFB_ENCRYPT:
            case SM4Stream::CFB_DECRYPT:
                std::copy_n(rk, 32, cfb.rk);
                std::copy_n(iv.data(), 16, cfb.reg);
                break;
            case SM4Stream::OFB:
                std::copy_n(rk, 32, ofb.rk);
                std::copy_n(iv.data(), 16, ofb.reg);
                break;
        }
        detail::secure_wipe(rk, sizeof rk);
    }

    void run(const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept {
        const ds::Kernel& k = ds::active_kernel();
        switch (mode) {
            case SM4Stream::CTR:
                return ctr.crypt(k, in, out, n);
            case SM4Stream::CFB_ENCRYPT:
                return cfb.encrypt(k, in, out, n);
            case SM4Stream::CFB_DECRYPT:
                return cfb.decrypt(k, in, out, n);
            case SM4Stream::OFB:
                return ofb.crypt(k, in, out, n);
        }
    }
};

}  // namespace detail_state

namespace {

SM4Stream::Mode checked_mode(SM4Stream::Mode mode) {
    if (mode != SM4Stream::CTR && mode != SM4Stream::CFB_ENCRYPT &&
        mode != SM4Stream::CFB_DECRYPT && mode != SM4Stream::OFB)
        throw std::invalid_argument("SM4 stream mode must be CTR, CFB_ENCRYPT, CFB_DECRYPT or OFB");
    return mode;
}

Bytes one_shot(SM4Stream::Mode mode, ByteView key, ByteView iv, ByteView data) {
    detail_state::Stream s(mode, key, iv);
    Bytes out(data.size());
    s.run(data.data(), out.data(), data.size());
    return out;
}

}  // namespace

SM4Stream::SM4Stream(Mode mode, ByteView key, ByteView iv)
    : state_(std::make_unique<detail_state::Stream>(checked_mode(mode), key, iv)) {}
SM4Stream::~SM4Stream() = default;
SM4Stream::SM4Stream(SM4Stream&&) noexcept = default;
SM4Stream& SM4Stream::operator=(SM4Stream&&) noexcept = default;

Bytes SM4Stream::update(ByteView data) {
    Bytes out(data.size());
    update(data, out);
    return out;
}

void SM4Stream::update(ByteView data, std::span<std::uint8_t> out) {
    if (!state_) throw std::logic_error("SM4Stream used after being moved from");
    if (out.size() != data.size())
        throw std::invalid_argument("SM4Stream output must be as long as the input (" +
                                    std::to_string(data.size()) + " bytes), got " +
                                    std::to_string(out.size()));
    state_->run(data.data(), out.data(), data.size());
}

Bytes ctr_crypt(ByteView key, ByteView iv, ByteView data) {
    return one_shot(SM4Stream::CTR, key, iv, data);
}
Bytes cfb_encrypt(ByteView key, ByteView iv, ByteView data) {
    return one_shot(SM4Stream::CFB_ENCRYPT, key, iv, data);
}
Bytes cfb_decrypt(ByteView key, ByteView iv, ByteView data) {
    return one_shot(SM4Stream::CFB_DECRYPT, key, iv, data);
}
Bytes ofb_crypt(ByteView key, ByteView iv, ByteView data) {
    return one_shot(SM4Stream::OFB, key, iv, data);
}

}  // namespace pelmo::sm4
