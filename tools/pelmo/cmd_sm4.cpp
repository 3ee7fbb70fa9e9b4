// pelmo sm4 encrypt|decrypt: SM4 in ECB, CBC, CTR, CFB, OFB, GCM or CCM over files of any
// size, in chunks, with output identical to the library's one-shot functions on the whole
// message. GCM and CCM write ciphertext || tag; their decryption writes to a temporary file (or
// memory, for standard output) that becomes the output only once the tag verifies.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>

#include <pelmo/func.hpp>
#include <pelmo/sm4.hpp>

#include "commands.hpp"
#include "common/wipe.hpp"
#include "io.hpp"
#include "sm4/kernels/kernel.hpp"

namespace pelmo::cli {

namespace {

namespace s4 = pelmo::sm4;

struct Sm4Options {
    bool encrypt = true;
    std::string key, iv, nonce, mode = "cbc", padding = "pkcs7", in, out, aad, aad_file;
    std::size_t tag_len = 16;
    bool padding_given = false, aad_given = false;
};

const std::map<std::string, int> kPaddings = {{"none", s4::NoPadding},
                                              {"zero", s4::ZERO},
                                              {"iso9797m2", s4::ISO9797M2},
                                              {"pkcs7", s4::PKCS7},
                                              {"pboc", s4::PBOC}};

// The message goes through in chunks. Whole chunks (a multiple of the block size,
// never the last) run on the library's block kernel with the engine's round keys,
// into buffers that the output writes on its own thread and then reuses; the last chunk goes
// through CryptSM4 itself, which pads or checks the padding and reports a partial block exactly as
// for a whole message. CBC carries the chaining value from chunk to chunk.
class ChunkCipher {
  public:
    ChunkCipher(const s4::CryptSM4& engine, bool cbc, Bytes iv, bool encrypting)
        : engine_(engine),
          kernel_(detail::sm4::active_kernel()),
          cbc_(cbc),
          encrypting_(encrypting) {
        std::copy(iv.begin(), iv.end(), iv_);
    }

    // Encrypts or decrypts whole blocks of chunk into out.
    void run(ByteView chunk, std::uint8_t* out) {
        const std::size_t n = chunk.size() / 16;
        const auto* sk = engine_.sk.data();
        if (!cbc_)
            kernel_.ecb(sk, chunk.data(), out, n);
        else if (encrypting_)
            kernel_.cbc_encrypt(sk, iv_, chunk.data(), out, n);
        else
            kernel_.cbc_decrypt(sk, iv_, chunk.data(), out, n);
    }

    Bytes last(ByteView chunk) const {
        return cbc_ ? engine_.crypt_cbc(ByteView(iv_, 16), chunk) : engine_.crypt_ecb(chunk);
    }

  private:
    const s4::CryptSM4& engine_;
    const detail::sm4::Kernel& kernel_;
    bool cbc_, encrypting_;
    std::uint8_t iv_[16] = {};
};

// Hexadecimal of any even length (the nonce: its length rules are the mode's).
Bytes hex_argument(const std::string& text, std::string_view option) {
    return hex_key_argument(text, option, (text.size() + 1) / 2);
}

// CTR, CFB and OFB: no padding, any length, chunk by chunk.
int run_stream(const Sm4Options& o) {
    if (o.iv.empty()) throw UsageError("--iv is required in " + o.mode + " mode");
    Bytes key = hex_key_argument(o.key, "--key", 16);
    const detail::WipeOnExit wipe_key(key);
    const Bytes iv = hex_key_argument(o.iv, "--iv", 16);
    const auto mode = o.mode == "ctr"   ? s4::SM4Stream::CTR
                      : o.mode == "ofb" ? s4::SM4Stream::OFB
                      : o.encrypt       ? s4::SM4Stream::CFB_ENCRYPT
                                        : s4::SM4Stream::CFB_DECRYPT;
    s4::SM4Stream cipher(mode, key, iv);
    Input in(o.in);
    Output out(o.out);
    if (!out.to_file()) in.read_in_background();
    Progress progress(o.encrypt ? "encrypting" : "decrypting", in.size_hint());
    for (ByteView cur = in.next(kChunk); !cur.empty(); cur = in.next(kChunk)) {
        Bytes buf = out.buffer(cur.size());
        cipher.update(cur, buf);
        out.write_async(std::move(buf));
        progress.advance(cur.size());
    }
    out.commit();
    return 0;
}

// GCM and CCM. CCM needs the message's length before its first byte: a regular file's size,
// or else the whole input read into memory.
int run_aead(const Sm4Options& o) {
    const std::string& nonce_text = o.nonce.empty() ? o.iv : o.nonce;
    if (nonce_text.empty()) throw UsageError("--nonce is required in " + o.mode + " mode");
    if (!o.nonce.empty() && !o.iv.empty()) throw UsageError("give --nonce or --iv, not both");
    if (o.aad_given && !o.aad_file.empty()) throw UsageError("give --aad or --aad-file, not both");
    Bytes key = hex_key_argument(o.key, "--key", 16);
    const detail::WipeOnExit wipe_key(key);
    const Bytes nonce = hex_argument(nonce_text, o.nonce.empty() ? "--iv" : "--nonce");
    const std::string aad_text = o.aad_file.empty() ? o.aad : read_file(o.aad_file);
    const ByteView aad(reinterpret_cast<const std::uint8_t*>(aad_text.data()), aad_text.size());
    const auto mode = o.mode == "gcm" ? s4::SM4AeadSeal::GCM : s4::SM4AeadSeal::CCM;

    Input in(o.in);
    std::optional<Bytes> whole;
    std::uint64_t length = in.size_hint();
    if (mode == s4::SM4AeadSeal::CCM && length == 0) {
        whole = in.read_all();
        length = whole->size();
    }
    bool whole_fed = false;
    const auto next = [&]() -> ByteView {
        if (!whole) return in.next(kChunk);
        if (whole_fed) return {};
        whole_fed = true;
        return *whole;
    };
    Output out(o.out);
    // As for the stream modes: with no writer thread, a reader thread overlaps the reads.
    if (!out.to_file()) in.read_in_background();
    Progress progress(o.encrypt ? "encrypting" : "decrypting", length);
    if (o.encrypt) {
        s4::SM4AeadSeal seal(mode, key, nonce, aad, o.tag_len, static_cast<std::size_t>(length));
        for (ByteView cur = next(); !cur.empty(); cur = next()) {
            Bytes buf = out.buffer(cur.size());
            seal.update(cur, buf);
            out.write_async(std::move(buf));
            progress.advance(cur.size());
        }
        out.write(seal.finish());
        out.commit();
        return 0;
    }
    s4::SM4AeadOpen open(mode, key, nonce, aad, o.tag_len, static_cast<std::size_t>(length));
    // Unverified plaintext goes only to the temporary file, which disappears unless the tag
    // verifies; for standard output or a pipe it waits in memory.
    Bytes held;
    const detail::WipeOnExit wipe_held(held);
    for (ByteView cur = next(); !cur.empty(); cur = next()) {
        Bytes plain = out.buffer(cur.size());
        plain.resize(open.update_unverified(cur, plain));
        if (out.to_file()) {
            out.write_async(std::move(plain));
        } else {
            held.insert(held.end(), plain.begin(), plain.end());
            detail::secure_wipe(plain);
        }
        progress.advance(cur.size());
    }
    if (!open.finish()) throw std::runtime_error("authentication failed");
    if (!out.to_file()) out.write(held);
    out.commit();
    return 0;
}

// The message without its padding; std::invalid_argument when the padding is bad.
Bytes unpadded(int padding, Bytes tail) {
    switch (padding) {
        case s4::ZERO:
            return func::zero_unpadding(tail);
        case s4::ISO9797M2:
            return func::iso9797m2_unpadding(tail);
        case s4::PKCS7:
            return func::pkcs7_unpadding(tail);
        case s4::PBOC:
            return func::pboc_unpadding(tail);
        default:
            return tail;
    }
}

int run_sm4(const Sm4Options& o) {
    const bool block_mode = o.mode == "ecb" || o.mode == "cbc";
    if (!block_mode && o.padding_given) throw UsageError("--padding is only used in ECB and CBC");
    const bool aead = o.mode == "gcm" || o.mode == "ccm";
    if (!aead && (o.aad_given || !o.aad_file.empty() || o.tag_len != 16 || !o.nonce.empty()))
        throw UsageError("--nonce, --aad, --aad-file and --tag-len are only used in GCM and CCM");
    if (aead) return run_aead(o);
    if (!block_mode) return run_stream(o);
    Bytes key = hex_key_argument(o.key, "--key", 16);
    const detail::WipeOnExit wipe_key(key);
    const bool cbc = o.mode == "cbc";
    if (cbc && o.iv.empty()) throw UsageError("--iv is required in CBC mode");
    if (!cbc && !o.iv.empty()) throw UsageError("--iv is only used in CBC mode");
    Bytes iv = cbc ? hex_key_argument(o.iv, "--iv", 16) : Bytes{};
    const int padding = kPaddings.at(o.padding);

    Input in(o.in);
    Output out(o.out);
    // The second core either reads ahead or writes behind: writing a file costs
    // more than reading one, so it writes when there is a file to write.
    if (!out.to_file()) in.read_in_background();
    Progress progress(o.encrypt ? "encrypting" : "decrypting", in.size_hint());
    s4::CryptSM4 engine(o.encrypt ? s4::SM4_ENCRYPT : s4::SM4_DECRYPT, s4::NoPadding);
    engine.set_key(key, o.encrypt ? s4::SM4_ENCRYPT : s4::SM4_DECRYPT);

    ChunkCipher cipher(engine, cbc, iv, o.encrypt);
    ByteView cur = in.next(kChunk);
    if (o.encrypt) {
        // Whole chunks go through unpadded; the last (possibly empty) one is padded.
        for (;;) {
            const ByteView ahead = cur.size() == kChunk ? in.next(kChunk) : ByteView();
            if (ahead.empty()) {
                engine.padding_mode = padding;
                out.write(cipher.last(cur));
                break;
            }
            Bytes buf = out.buffer(cur.size());
            cipher.run(cur, buf.data());
            out.write_async(std::move(buf));
            progress.advance(cur.size());
            cur = ahead;
        }
    } else {
        // Decrypt everything unpadded and write it out, holding back a tail that the
        // unpadding may touch: at least 32 bytes, and for the 0x80 marker paddings
        // everything from the last 0x80 on, since their unpadding strips back to it.
        Bytes tail;
        // Bytes from the last 0x80 seen to the end of the data so far (all if none).
        std::size_t since_marker = SIZE_MAX;
        for (;;) {
            const ByteView ahead = cur.size() == kChunk ? in.next(kChunk) : ByteView();
            Bytes plain;
            if (ahead.empty()) {
                plain = cipher.last(cur);
            } else {
                plain = out.buffer(cur.size());
                cipher.run(cur, plain.data());
            }
            progress.advance(cur.size());
            const std::size_t total = tail.size() + plain.size();
            std::size_t keep = std::min<std::size_t>(total, 32);
            if (padding == s4::ISO9797M2 || padding == s4::PBOC) {
                std::size_t i = plain.size();
                while (i > 0 && plain[i - 1] != 0x80) --i;
                since_marker = i > 0                      ? plain.size() - (i - 1)
                               : since_marker == SIZE_MAX ? SIZE_MAX
                                                          : since_marker + plain.size();
                keep = std::max(keep, std::min(since_marker, total));
            }
            // Write what is safe, the tail first, and carry the rest over.
            const std::size_t emit = total - keep;
            const std::size_t from_tail = std::min(emit, tail.size());
            const auto split = static_cast<std::ptrdiff_t>(emit - from_tail);
            if (from_tail != 0) {
                Bytes head = out.buffer(from_tail);
                std::copy_n(tail.begin(), from_tail, head.begin());
                out.write_async(std::move(head));
                tail.erase(tail.begin(), tail.begin() + static_cast<std::ptrdiff_t>(from_tail));
            }
            tail.insert(tail.end(), plain.begin() + split, plain.end());
            plain.resize(static_cast<std::size_t>(split));
            out.write_async(std::move(plain));
            if (ahead.empty()) break;
            cur = ahead;
        }
        // A short message stays whole in the tail, so the unpadding functions' length
        // rules see its true length. Padding that does not check out is, nearly always,
        // the work of a wrong key or IV, as openssl enc says.
        try {
            tail = unpadded(padding, std::move(tail));
        } catch (const std::invalid_argument& e) {
            throw std::runtime_error(
                std::string("bad decrypt (wrong key or IV, or corrupted data): ") + e.what());
        }
        out.write(tail);
    }
    out.commit();
    return 0;
}

void add_direction(CLI::App& parent, Action& action, bool encrypt) {
    auto o = std::make_shared<Sm4Options>();
    o->encrypt = encrypt;
    auto* cmd = parent.add_subcommand(encrypt ? "encrypt" : "decrypt",
                                      encrypt ? "Encrypt with SM4" : "Decrypt with SM4");
    cmd->add_option("--key", o->key, "Key, 32 hexadecimal digits")->required();
    cmd->add_option("--iv", o->iv,
                    "CBC, CTR, CFB or OFB initial value, 32 hexadecimal digits (GCM, CCM: the "
                    "nonce)");
    cmd->add_option("--nonce", o->nonce,
                    "GCM nonce (1 byte or more, 12 usual) or CCM nonce (7..13 bytes), hexadecimal");
    cmd->add_option("--mode", o->mode, "Mode")
        ->check(CLI::IsMember({"ecb", "cbc", "ctr", "cfb", "ofb", "gcm", "ccm"}))
        ->capture_default_str();
    cmd->add_option("--padding", o->padding, "Padding (ECB and CBC)")
        ->check(CLI::IsMember({"pkcs7", "zero", "iso9797m2", "pboc", "none"}))
        ->capture_default_str();
    cmd->add_option("--aad", o->aad, "GCM/CCM additional authenticated data, as text");
    cmd->add_option("--aad-file", o->aad_file, "GCM/CCM additional authenticated data, a file");
    cmd->add_option("--tag-len", o->tag_len,
                    "GCM/CCM tag length in bytes (GCM 4, 8, 12..16; CCM 4, 6, ..., 16)")
        ->capture_default_str();
    auto* in = cmd->add_option("--in", o->in, "Input file, the same as FILE");
    cmd->add_option("FILE", o->in, "Input file ('-' or none: standard input)")->excludes(in);
    cmd->add_option("--out", o->out, "Output file (default: standard output)");
    cmd->callback([&action, o, cmd] {
        o->padding_given = cmd->count("--padding") != 0;
        o->aad_given = cmd->count("--aad") != 0;
        action = [o] { return run_sm4(*o); };
    });
}

}  // namespace

void add_sm4(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "sm4", "SM4 encryption and decryption (ECB, CBC, CTR, CFB, OFB, GCM, CCM)");
    cmd->require_subcommand(1);
    add_direction(*cmd, action, true);
    add_direction(*cmd, action, false);
}

}  // namespace pelmo::cli
