// pelmo sm4 encrypt|decrypt: SM4 in ECB or CBC over files of any size, in chunks,
// with output identical to CryptSM4 on the whole message.
#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
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
    std::string key, iv, mode = "cbc", padding = "pkcs7", in, out;
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

int run_sm4(const Sm4Options& o) {
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
        // rules see its true length.
        switch (padding) {
            case s4::ZERO:
                tail = func::zero_unpadding(tail);
                break;
            case s4::ISO9797M2:
                tail = func::iso9797m2_unpadding(tail);
                break;
            case s4::PKCS7:
                tail = func::pkcs7_unpadding(tail);
                break;
            case s4::PBOC:
                tail = func::pboc_unpadding(tail);
                break;
            default:
                break;
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
    cmd->add_option("--iv", o->iv, "CBC initial value, 32 hexadecimal digits");
    cmd->add_option("--mode", o->mode, "Block mode")
        ->check(CLI::IsMember({"ecb", "cbc"}))
        ->capture_default_str();
    cmd->add_option("--padding", o->padding, "Padding")
        ->check(CLI::IsMember({"pkcs7", "zero", "iso9797m2", "pboc", "none"}))
        ->capture_default_str();
    cmd->add_option("--in", o->in, "Input file (default: standard input)");
    cmd->add_option("--out", o->out, "Output file (default: standard output)");
    cmd->callback([&action, o] { action = [o] { return run_sm4(*o); }; });
}

}  // namespace

void add_sm4(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("sm4", "SM4 encryption and decryption (ECB, CBC)");
    cmd->require_subcommand(1);
    add_direction(*cmd, action, true);
    add_direction(*cmd, action, false);
}

}  // namespace pelmo::cli
