// SM4-GCM and SM4-CCM, one-shot and streaming.
//
// GCM: counter mode with a 32-bit counter from inc32(J0), GHASH over the AAD and the
// ciphertext, tag = E(J0) ^ GHASH. Data goes through in chunks of a kernel batch: the chunk is
// encrypted and then hashed while it is still in the L1 cache.
// CCM: CBC-MAC over B0, the encoded AAD and the plaintext (on the kernels' CBC-encryption
// path), counter mode from counter block 1, tag = E(counter block 0) ^ MAC.
//
// Opening never releases plaintext whose tag failed: the one-shot functions wipe their output
// and return no value; the streaming opener returns its output as unverified and says whether
// the tag verifies only at the end.
#include <pelmo/sm4.hpp>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

#include "common/ct.hpp"
#include "common/wipe.hpp"
#include "sm4/ghash.hpp"
#include "sm4/stream.hpp"

namespace pelmo::detail::sm4 {
namespace {

/// Largest GCM plaintext: 2^32 - 2 blocks of keystream.
constexpr std::uint64_t kGcmMaxText = (std::uint64_t{1} << 36) - 32;

void check_gcm(ByteView nonce, std::size_t tag_len) {
    if (nonce.empty()) throw std::invalid_argument("GCM nonce must be at least 1 byte, got 0");
    if (tag_len != 4 && tag_len != 8 && (tag_len < 12 || tag_len > 16))
        throw std::invalid_argument("GCM tag length must be 4, 8 or 12..16, got " +
                                    std::to_string(tag_len));
}

void check_ccm(ByteView nonce, std::size_t tag_len) {
    if (nonce.size() < 7 || nonce.size() > 13)
        throw std::invalid_argument("CCM nonce must be 7..13 bytes, got " +
                                    std::to_string(nonce.size()));
    if (tag_len < 4 || tag_len > 16 || tag_len % 2 != 0)
        throw std::invalid_argument("CCM tag length must be 4, 6, 8, 10, 12, 14 or 16, got " +
                                    std::to_string(tag_len));
}

void check_ccm_length(std::size_t nonce_len, std::uint64_t text_len) {
    const std::size_t q = 15 - nonce_len;
    if (q < 8 && text_len >> (8 * q) != 0)
        throw std::invalid_argument("CCM plaintext of " + std::to_string(text_len) +
                                    " bytes does not fit the " + std::to_string(q) +
                                    "-byte length field of a " + std::to_string(nonce_len) +
                                    "-byte nonce");
}

[[noreturn]] void throw_gcm_too_long(std::uint64_t n) {
    throw std::invalid_argument(
        "GCM plaintext must be at most 68719476704 bytes (2^36 - 32), got " + std::to_string(n));
}

// A byte stream cut into whole 16-byte blocks for a MAC, which takes them in runs
// (`blocks(p, count)`); a trailing partial block waits here for more bytes, or for the
// zero padding of flush.
struct BlockFeed {
    std::uint8_t pending[16];
    unsigned npending = 0;

    template <typename Blocks>
    void feed(const std::uint8_t* p, std::size_t n, Blocks&& blocks) noexcept {
        if (n == 0) return;  // p may be null
        if (npending != 0) {
            const std::size_t take = std::min<std::size_t>(n, 16 - npending);
            std::memcpy(pending + npending, p, take);
            npending += static_cast<unsigned>(take);
            p += take, n -= take;
            if (npending < 16) return;
            blocks(pending, std::size_t{1});
            npending = 0;
        }
        if (n >= 16) blocks(p, n / 16);
        p += n & ~std::size_t{15};
        n &= 15;
        std::memcpy(pending, p, n);
        npending = static_cast<unsigned>(n);
    }

    template <typename Blocks>
    void flush(Blocks&& blocks) noexcept {
        if (npending == 0) return;
        std::memset(pending + npending, 0, 16 - npending);
        blocks(pending, std::size_t{1});
        npending = 0;
    }

    ~BlockFeed() { secure_wipe(pending, sizeof pending); }
};

// Encrypts or decrypts in chunks that stay in cache, each chunk also fed to the MAC:
// before the keystream when the MAC covers the input (read before it is overwritten when
// in == out), after it when the MAC covers the output.
// Bytes per chunk: large enough that the per-call costs of the GHASH kernel (loading the
// key powers, the final reduction) and of the counter kernel spread thin, small enough to
// stay in the L1 cache between the two passes.
inline constexpr std::size_t kChunkBytes = 4096;

template <typename Mac>
void crypt_and_mac(Ctr& ctr, const std::uint8_t* in, std::uint8_t* out, std::size_t n,
                   bool mac_covers_input, Mac&& mac) noexcept {
    const Kernel& k = active_kernel();
    for (std::size_t done = 0; done < n;) {
        const std::size_t m = std::min(n - done, kChunkBytes);
        if (mac_covers_input) mac(in + done, m);
        ctr.crypt(k, in + done, out + done, m);
        if (!mac_covers_input) mac(out + done, m);
        done += m;
    }
}

struct Gcm {
    Ctr ctr;
    GhashKey key;
    GhashElement y{0, 0};
    std::uint8_t ej0[16];
    BlockFeed blocks;
    std::uint64_t aad_len = 0, text_len = 0;

    void start(const Kernel& k, ByteView key16, ByteView nonce, ByteView aad) {
        std::uint32_t rk[32];
        k.expand_key(key16.data(), rk);
        // H = E(0^128) and, for a 96-bit nonce, E(J0) with J0 = nonce || 1: one kernel call
        // for both, since two blocks together cost less than two in series.
        std::uint8_t block[32] = {};
        std::uint8_t j0[16] = {};
        const bool short_nonce = nonce.size() == 12;
        if (short_nonce) {
            std::memcpy(j0, nonce.data(), 12);
            j0[15] = 1;
            std::memcpy(block + 16, j0, 16);
        }
        k.ecb(rk, block, block, short_nonce ? 2 : 1);
        const GhashKernel& g = active_ghash();
        ghash_init(key, block, g);
        if (!short_nonce) {
            hash(g, nonce.data(), nonce.size());
            flush(g);
            std::memset(block, 0, 16);
            const std::uint64_t bits = std::uint64_t{nonce.size()} * 8;
            for (int i = 0; i < 8; ++i)
                block[8 + i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
            g.blocks(key, y, block, 1);
            ghash_store(y, j0);
            y = {0, 0};
            std::memcpy(block + 16, j0, 16);
            k.ecb(rk, block + 16, block + 16, 1);
        }
        std::memcpy(ej0, block + 16, 16);
        // The data's counter starts at inc32(J0).
        std::uint8_t first[16];
        std::memcpy(first, j0, 16);
        for (int i = 15, carry = 1; i >= 12; --i) {
            const int v = first[i] + carry;
            first[i] = static_cast<std::uint8_t>(v);
            carry = v >> 8;
        }
        ctr.start(rk, first, true);
        hash(g, aad.data(), aad.size());
        flush(g);
        aad_len = aad.size();
        secure_wipe(rk, sizeof rk);
        secure_wipe(j0, sizeof j0);
        secure_wipe(first, sizeof first);
        secure_wipe(block, sizeof block);
    }

    /// GHASH over a stream of bytes (the last partial block waits).
    void hash(const GhashKernel& g, const std::uint8_t* p, std::size_t n) noexcept {
        blocks.feed(p, n, [&](const std::uint8_t* b, std::size_t m) { g.blocks(key, y, b, m); });
    }

    /// Pads the pending partial block with zeros and hashes it.
    void flush(const GhashKernel& g) noexcept {
        blocks.flush([&](const std::uint8_t* b, std::size_t m) { g.blocks(key, y, b, m); });
    }

    void check_more(std::size_t n) const {
        if (n > kGcmMaxText - text_len) throw_gcm_too_long(text_len + n);
    }

    // GHASH covers the ciphertext: the output when sealing, the input when opening.
    void seal(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        crypt(in, out, n, false);
    }
    void open(const std::uint8_t* in, std::uint8_t* out, std::size_t n) { crypt(in, out, n, true); }
    void crypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n, bool opening) {
        check_more(n);
        const GhashKernel& g = active_ghash();
        text_len += n;
        crypt_and_mac(ctr, in, out, n, opening,
                      [&](const std::uint8_t* p, std::size_t m) { hash(g, p, m); });
    }

    void tag(std::uint8_t t[16]) noexcept {
        const GhashKernel& g = active_ghash();
        flush(g);
        std::uint8_t lengths[16];
        const std::uint64_t a = aad_len * 8, c = text_len * 8;
        for (int i = 0; i < 8; ++i) {
            lengths[i] = static_cast<std::uint8_t>(a >> (56 - 8 * i));
            lengths[8 + i] = static_cast<std::uint8_t>(c >> (56 - 8 * i));
        }
        g.blocks(key, y, lengths, 1);
        ghash_store(y, t);
        xor_bytes(t, t, ej0, 16);
    }

    ~Gcm() {
        secure_wipe(&key, sizeof key);
        secure_wipe(&y, sizeof y);
        secure_wipe(ej0, sizeof ej0);
    }
};

struct Ccm {
    Ctr ctr;
    std::uint32_t rk[32];
    std::uint8_t mac[16] = {};
    std::uint8_t s0[16];
    BlockFeed blocks;
    std::uint64_t expected = 0, fed = 0;

    void start(const Kernel& k, ByteView key16, ByteView nonce, ByteView aad, std::size_t tag_len,
               std::uint64_t text_len) {
        k.expand_key(key16.data(), rk);
        expected = text_len;
        const std::size_t q = 15 - nonce.size();
        std::uint8_t b0[16] = {};
        b0[0] =
            static_cast<std::uint8_t>((aad.empty() ? 0 : 64) + 8 * ((tag_len - 2) / 2) + (q - 1));
        std::memcpy(b0 + 1, nonce.data(), nonce.size());
        for (std::size_t i = 0; i < q && i < 8; ++i)
            b0[15 - i] = static_cast<std::uint8_t>(text_len >> (8 * i));
        absorb(k, b0, 16);
        if (!aad.empty()) {
            // The AAD's length: 2 bytes below 2^16 - 2^8, else 0xfffe and 4 bytes, else
            // 0xffff and 8 bytes.
            std::uint8_t enc[10];
            std::size_t len = 0;
            const std::uint64_t a = aad.size();
            if (a < 0xff00) {
                enc[0] = static_cast<std::uint8_t>(a >> 8), enc[1] = static_cast<std::uint8_t>(a);
                len = 2;
            } else if (a >> 32 == 0) {
                enc[0] = 0xff, enc[1] = 0xfe;
                for (int i = 0; i < 4; ++i)
                    enc[2 + i] = static_cast<std::uint8_t>(a >> (24 - 8 * i));
                len = 6;
            } else {
                enc[0] = 0xff, enc[1] = 0xff;
                for (int i = 0; i < 8; ++i)
                    enc[2 + i] = static_cast<std::uint8_t>(a >> (56 - 8 * i));
                len = 10;
            }
            absorb(k, enc, len);
            absorb(k, aad.data(), aad.size());
            flush(k);
        }
        // Counter block 0: flags q - 1, the nonce, a zero counter; the data starts at 1.
        std::uint8_t ctr0[16] = {};
        ctr0[0] = static_cast<std::uint8_t>(q - 1);
        std::memcpy(ctr0 + 1, nonce.data(), nonce.size());
        k.ecb(rk, ctr0, s0, 1);
        ctr0[15] = 1;
        ctr.start(rk, ctr0, false);
    }

    /// CBC-MAC over a stream of bytes; the last partial block waits.
    void absorb(const Kernel& k, const std::uint8_t* p, std::size_t n) noexcept {
        blocks.feed(p, n, [&](const std::uint8_t* b, std::size_t m) { mac_blocks(k, b, m); });
    }

    void flush(const Kernel& k) noexcept {
        blocks.flush([&](const std::uint8_t* b, std::size_t m) { mac_blocks(k, b, m); });
    }

    /// CBC-MAC over whole blocks: only the chaining value is kept; the ciphertext blocks
    /// go through a scratch buffer, wiped after.
    void mac_blocks(const Kernel& k, const std::uint8_t* p, std::size_t count) noexcept {
        alignas(64) std::uint8_t scratch[kBatchBlocks * 16];
        for (std::size_t done = 0; done < count;) {
            const std::size_t m = std::min(count - done, kBatchBlocks);
            k.cbc_encrypt(rk, mac, p + 16 * done, scratch, m);
            done += m;
        }
        secure_wipe(scratch, 16 * std::min(count, kBatchBlocks));
    }

    // The CBC-MAC covers the plaintext: the input when sealing, the output when opening.
    void seal(const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept {
        crypt(in, out, n, false);
    }
    void open(const std::uint8_t* in, std::uint8_t* out, std::size_t n) noexcept {
        crypt(in, out, n, true);
    }
    void crypt(const std::uint8_t* in, std::uint8_t* out, std::size_t n, bool opening) noexcept {
        const Kernel& k = active_kernel();
        fed += n;
        crypt_and_mac(ctr, in, out, n, !opening,
                      [&](const std::uint8_t* p, std::size_t m) { absorb(k, p, m); });
    }

    void tag(std::uint8_t t[16]) noexcept {
        flush(active_kernel());
        xor_bytes(t, mac, s0, 16);
    }

    ~Ccm() {
        secure_wipe(rk, sizeof rk);
        secure_wipe(mac, sizeof mac);
        secure_wipe(s0, sizeof s0);
    }
};

}  // namespace
}  // namespace pelmo::detail::sm4

namespace pelmo::sm4 {

namespace ds = pelmo::detail::sm4;

namespace detail_state {

struct Aead {
    SM4AeadSeal::Mode mode;
    std::size_t tag_len;
    ds::Gcm gcm;
    ds::Ccm ccm;
    std::uint8_t held[16] = {};  // the opener's last bytes, which may be the tag
    std::size_t nheld = 0;
    std::uint64_t sealed_expected = 0, sealed_fed = 0;
    bool finished = false;

    /// text_len: the plaintext's length (CCM).
    Aead(SM4AeadSeal::Mode m, ByteView key, ByteView nonce, ByteView aad, std::size_t tag,
         std::uint64_t text_len)
        : mode(m), tag_len(tag) {
        ds::check_key(key);
        const ds::Kernel& k = ds::active_kernel();
        if (mode == SM4AeadSeal::GCM) {
            ds::check_gcm(nonce, tag_len);
            gcm.start(k, key, nonce, aad);
        } else if (mode == SM4AeadSeal::CCM) {
            ds::check_ccm(nonce, tag_len);
            ds::check_ccm_length(nonce.size(), text_len);
            ccm.start(k, key, nonce, aad, tag_len, text_len);
        } else {
            throw std::invalid_argument("SM4 AEAD mode must be GCM or CCM");
        }
    }

    void check_live() const {
        if (finished) throw std::logic_error("SM4 AEAD object used after finish()");
    }

    void seal(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        if (mode == SM4AeadSeal::GCM) return gcm.seal(in, out, n);
        if (n > ccm.expected - ccm.fed)
            throw std::logic_error("CCM plaintext longer than the " + std::to_string(ccm.expected) +
                                   " bytes announced");
        ccm.seal(in, out, n);
    }

    void open(const std::uint8_t* in, std::uint8_t* out, std::size_t n) {
        if (mode == SM4AeadSeal::GCM) return gcm.open(in, out, n);
        ccm.open(in, out, n);  // the caller keeps n within the announced length
    }

    void tag(std::uint8_t t[16]) noexcept {
        if (mode == SM4AeadSeal::GCM)
            gcm.tag(t);
        else
            ccm.tag(t);
    }

    /// Constant-time comparison of the computed tag with tag_len received bytes.
    bool verify(const std::uint8_t* received) noexcept {
        std::uint8_t t[16];
        tag(t);
        bool ok = pelmo::detail::ct::equal(t, received, tag_len);
        pelmo::detail::secure_wipe(t, sizeof t);
        // Whether the tag verifies is published; nothing else about the tag is.
        pelmo::detail::ct::declassify(&ok, sizeof ok);
        return ok;
    }

    ~Aead() { pelmo::detail::secure_wipe(held, sizeof held); }
};

}  // namespace detail_state

namespace {

using detail_state::Aead;

Bytes seal(SM4AeadSeal::Mode mode, ByteView key, ByteView nonce, ByteView plaintext, ByteView aad,
           std::size_t tag_len) {
    if (mode == SM4AeadSeal::GCM && plaintext.size() > ds::kGcmMaxText)
        ds::throw_gcm_too_long(plaintext.size());
    Aead a(mode, key, nonce, aad, tag_len, plaintext.size());
    Bytes out(plaintext.size() + tag_len);
    a.seal(plaintext.data(), out.data(), plaintext.size());
    std::uint8_t t[16];
    a.tag(t);
    std::memcpy(out.data() + plaintext.size(), t, tag_len);
    return out;
}

std::optional<Bytes> open(SM4AeadSeal::Mode mode, ByteView key, ByteView nonce, ByteView sealed,
                          ByteView aad, std::size_t tag_len) {
    ds::check_key(key);
    if (mode == SM4AeadSeal::GCM)
        ds::check_gcm(nonce, tag_len);
    else
        ds::check_ccm(nonce, tag_len);
    if (sealed.size() < tag_len) return std::nullopt;
    const std::size_t n = sealed.size() - tag_len;
    if (mode == SM4AeadSeal::GCM && n > ds::kGcmMaxText) ds::throw_gcm_too_long(n);
    Aead a(mode, key, nonce, aad, tag_len, n);
    Bytes out(n);
    a.open(sealed.data(), out.data(), n);
    if (!a.verify(sealed.data() + n)) {
        pelmo::detail::secure_wipe(out);
        return std::nullopt;
    }
    return out;
}

}  // namespace

Bytes gcm_seal(ByteView key, ByteView nonce, ByteView plaintext, ByteView aad,
               std::size_t tag_len) {
    return seal(SM4AeadSeal::GCM, key, nonce, plaintext, aad, tag_len);
}
std::optional<Bytes> gcm_open(ByteView key, ByteView nonce, ByteView sealed, ByteView aad,
                              std::size_t tag_len) {
    return open(SM4AeadSeal::GCM, key, nonce, sealed, aad, tag_len);
}
Bytes ccm_seal(ByteView key, ByteView nonce, ByteView plaintext, ByteView aad,
               std::size_t tag_len) {
    return seal(SM4AeadSeal::CCM, key, nonce, plaintext, aad, tag_len);
}
std::optional<Bytes> ccm_open(ByteView key, ByteView nonce, ByteView sealed, ByteView aad,
                              std::size_t tag_len) {
    return open(SM4AeadSeal::CCM, key, nonce, sealed, aad, tag_len);
}

// ---- streaming ----

SM4AeadSeal::SM4AeadSeal(Mode mode, ByteView key, ByteView nonce, ByteView aad, std::size_t tag_len,
                         std::size_t text_length)
    : state_(std::make_unique<Aead>(mode, key, nonce, aad, tag_len, text_length)) {}
SM4AeadSeal::~SM4AeadSeal() = default;
SM4AeadSeal::SM4AeadSeal(SM4AeadSeal&&) noexcept = default;
SM4AeadSeal& SM4AeadSeal::operator=(SM4AeadSeal&&) noexcept = default;

Bytes SM4AeadSeal::update(ByteView plaintext) {
    Bytes out(plaintext.size());
    update(plaintext, out);
    return out;
}

void SM4AeadSeal::update(ByteView plaintext, std::span<std::uint8_t> out) {
    if (!state_) throw std::logic_error("SM4AeadSeal used after being moved from");
    state_->check_live();
    if (out.size() != plaintext.size())
        throw std::invalid_argument("SM4AeadSeal output must be as long as the input (" +
                                    std::to_string(plaintext.size()) + " bytes), got " +
                                    std::to_string(out.size()));
    state_->seal(plaintext.data(), out.data(), plaintext.size());
}

Bytes SM4AeadSeal::finish() {
    if (!state_) throw std::logic_error("SM4AeadSeal used after being moved from");
    state_->check_live();
    if (state_->mode == CCM && state_->ccm.fed != state_->ccm.expected)
        throw std::logic_error("CCM plaintext of " + std::to_string(state_->ccm.fed) + " bytes, " +
                               std::to_string(state_->ccm.expected) + " announced");
    state_->finished = true;
    std::uint8_t t[16];
    state_->tag(t);
    return Bytes(t, t + state_->tag_len);
}

SM4AeadOpen::SM4AeadOpen(Mode mode, ByteView key, ByteView nonce, ByteView aad, std::size_t tag_len,
                         std::size_t sealed_length) {
    // CCM's B0 carries the ciphertext's length: a sealed length below the tag can never
    // verify (finish() says so); the check of the tag length comes first.
    if (mode == SM4AeadSeal::CCM) ds::check_ccm(nonce, tag_len);
    const std::size_t text = sealed_length >= tag_len ? sealed_length - tag_len : 0;
    state_ = std::make_unique<Aead>(mode, key, nonce, aad, tag_len, text);
    state_->sealed_expected = sealed_length;
}
SM4AeadOpen::~SM4AeadOpen() = default;
SM4AeadOpen::SM4AeadOpen(SM4AeadOpen&&) noexcept = default;
SM4AeadOpen& SM4AeadOpen::operator=(SM4AeadOpen&&) noexcept = default;

Bytes SM4AeadOpen::update_unverified(ByteView sealed) {
    Bytes out(sealed.size());
    out.resize(update_unverified(sealed, out));
    return out;
}

std::size_t SM4AeadOpen::update_unverified(ByteView sealed, std::span<std::uint8_t> out_span) {
    if (!state_) throw std::logic_error("SM4AeadOpen used after being moved from");
    state_->check_live();
    if (out_span.size() < sealed.size())
        throw std::invalid_argument("SM4AeadOpen output must hold at least the input (" +
                                    std::to_string(sealed.size()) + " bytes), got " +
                                    std::to_string(out_span.size()));
    Aead& a = *state_;
    std::uint8_t* const out = out_span.data();
    a.sealed_fed += sealed.size();
    const std::size_t total = a.nheld + sealed.size();
    if (a.mode == SM4AeadSeal::CCM && a.sealed_fed > a.sealed_expected) {
        // More than announced: never verifies; nothing more is decrypted.
        a.nheld = 0;
        return 0;
    }
    if (sealed.empty()) return 0;
    if (total <= a.tag_len) {
        std::memcpy(a.held + a.nheld, sealed.data(), sealed.size());
        a.nheld = total;
        return 0;
    }
    const std::size_t release = total - a.tag_len;  // at most sealed.size(): nheld <= tag_len
    const std::size_t from_held = std::min(release, a.nheld);
    a.open(a.held, out, from_held);
    std::memmove(a.held, a.held + from_held, a.nheld - from_held);
    a.nheld -= from_held;
    const std::size_t from_data = release - from_held;
    a.open(sealed.data(), out + from_held, from_data);
    std::memcpy(a.held + a.nheld, sealed.data() + from_data, sealed.size() - from_data);
    a.nheld += sealed.size() - from_data;
    return release;
}

bool SM4AeadOpen::finish() {
    if (!state_) throw std::logic_error("SM4AeadOpen used after being moved from");
    state_->check_live();
    Aead& a = *state_;
    a.finished = true;
    if (a.nheld < a.tag_len) return false;
    if (a.mode == SM4AeadSeal::CCM && a.sealed_fed != a.sealed_expected) return false;
    return a.verify(a.held);
}

}  // namespace pelmo::sm4
