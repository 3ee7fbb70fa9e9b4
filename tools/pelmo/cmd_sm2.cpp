// pelmo sm2: key generation, signatures over SM3 with the identity digest,
// encryption and public-key recovery, in files that OpenSSL reads and writes.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>

#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include "commands.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "io.hpp"

namespace pelmo::cli {

namespace {

struct Sm2Options {
    std::string key, pubkey, sig, in, out, pubout, format = "c1c3c2", file;
    bool hex = false, raw = false;
};

using Opts = std::shared_ptr<Sm2Options>;

int run_keygen(const Sm2Options& o) {
    crypt_managers::SM2Manager manager;
    const std::string pub = manager.get_public_key();
    std::string priv = manager.get_private_key();
    const detail::WipeOnExit wipe_priv(priv), wipe_copy(*manager.private_key);
    Output out(o.out, Access::owner_only);
    std::string text = o.hex ? priv + "\n" : formats::sm2_private_key_to_pem(priv, pub);
    const detail::WipeOnExit wipe_text(text);
    out.write(text);
    if (o.hex && o.pubout.empty()) out.write(pub + "\n");
    if (!o.pubout.empty()) {
        Output pubout(o.pubout);
        pubout.write(o.hex ? pub + "\n" : formats::sm2_public_key_to_pem(pub));
        pubout.commit();
    }
    out.commit();
    return 0;
}

int run_pubkey(const Sm2Options& o) {
    const std::string pub = load_public_key(o.key, "--key");
    Output out(o.out);
    out.write(o.hex ? pub + "\n" : formats::sm2_public_key_to_pem(pub));
    out.commit();
    return 0;
}

int run_sign(const Sm2Options& o) {
    formats::Sm2PrivateKey key = load_private_key(o.key, "--key");
    const detail::WipeOnExit wipe_key(key.private_key);
    const Bytes data = Input(o.file).read_all();
    const sm2::CryptSM2 engine(key.private_key, key.public_key, sm2::default_ecc_table, 0, !o.raw);
    std::optional<std::string> sig;
    // A scalar that gives no signature (r = 0, r + k = n, s = 0) is drawn again.
    while (!(sig = engine.sign_with_sm3(data))) {
    }
    Output out(o.out);
    if (o.raw)
        out.write(*sig + "\n");
    else
        out.write(detail::from_hex(*sig));
    out.commit();
    return 0;
}

int run_verify(const Sm2Options& o) {
    const std::string pub = load_public_key(o.pubkey, "--pubkey");
    const std::string sig_bytes = read_file(o.sig);
    const Bytes data = Input(o.file).read_all();
    // A raw signature is 128 hexadecimal digits (and maybe a recovery byte); anything
    // else is taken as DER.
    const std::string text = trim(sig_bytes);
    const bool raw = is_hex(text) && (text.size() == 128 || text.size() == 130);
    const sm2::CryptSM2 engine(std::nullopt, pub, sm2::default_ecc_table, 0, !raw);
    bool ok = false;
    try {
        ok = engine.verify_with_sm3(
            raw ? text
                : detail::to_hex(ByteView(reinterpret_cast<const std::uint8_t*>(sig_bytes.data()),
                                          sig_bytes.size())),
            data);
    } catch (const std::invalid_argument& e) {
        std::cerr << "pelmo: " << o.sig << ": " << e.what() << '\n';
    }
    std::cout << (ok ? "Verified OK" : "Verification failure") << std::endl;
    return ok ? 0 : 1;
}

int run_encrypt(const Sm2Options& o) {
    const std::string pub = load_public_key(o.pubkey, "--pubkey");
    const Bytes data = Input(o.in).read_all();
    if (data.empty()) throw std::invalid_argument("SM2 cannot encrypt an empty message");
    const sm2::CryptSM2 engine(std::nullopt, pub, sm2::default_ecc_table, 1);
    std::optional<Bytes> ct;
    while (!(ct = engine.encrypt(data))) {  // an all-zero key stream: draw again
    }
    Output out(o.out);
    out.write(formats::sm2_ciphertext_convert(*ct, formats::Sm2CiphertextLayout::c1c3c2,
                                              formats::sm2_ciphertext_layout_from_name(o.format)));
    out.commit();
    return 0;
}

// Every way a ciphertext fails (no layout fits, a C1 off the curve, a check value that
// does not match) is this one message: the tool tells no more about why.
[[noreturn]] void decryption_failed() {
    throw std::runtime_error("decryption failed: wrong key, wrong format or corrupted ciphertext");
}

std::optional<Bytes> decrypt_as(const formats::Sm2PrivateKey& key, const Bytes& data,
                                const std::string& format) {
    if (format == "auto") {
        auto found = formats::sm2_decrypt_any_layout(data, key.private_key);
        if (!found) return std::nullopt;
        return std::move(found->plaintext);
    }
    // An explicit layout: rewritten as pelmo's C1C3C2 for the engine.
    const Bytes bare =
        formats::sm2_ciphertext_convert(data, formats::sm2_ciphertext_layout_from_name(format),
                                        formats::Sm2CiphertextLayout::c1c3c2);
    const sm2::CryptSM2 engine(key.private_key, key.public_key, sm2::default_ecc_table, 1);
    return engine.decrypt(bare);
}

int run_decrypt(const Sm2Options& o) {
    formats::Sm2PrivateKey key = load_private_key(o.key, "--key");
    const detail::WipeOnExit wipe_key(key.private_key);
    const Bytes data = Input(o.in).read_all();
    std::optional<Bytes> plain;
    try {
        plain = decrypt_as(key, data, o.format);
    } catch (const std::invalid_argument&) {
        decryption_failed();
    }
    if (!plain) decryption_failed();
    const detail::WipeOnExit wipe_plain(*plain);
    Output out(o.out);
    out.write(*plain);
    out.commit();
    return 0;
}

int run_recover(const Sm2Options& o) {
    std::error_code ec;
    const std::string sig =
        trim(std::filesystem::is_regular_file(o.sig, ec) ? read_file(o.sig) : o.sig);
    const Bytes data = Input(o.file).read_all();
    const sm2::CryptSM2 engine(std::nullopt, std::nullopt);
    const std::set<std::string> keys = engine.recover_public_keys(sig, data);
    for (const std::string& k : keys) std::cout << k << '\n';
    return 0;
}

template <typename Fn>
void set_action(CLI::App* cmd, Action& action, Opts o, Fn fn) {
    cmd->callback([&action, o, fn] { action = [o, fn] { return fn(*o); }; });
}

}  // namespace

void add_sm2(CLI::App& app, Action& action) {
    auto* sm2 = app.add_subcommand("sm2", "SM2 keys, signatures, encryption and key recovery");
    sm2->require_subcommand(1);
    const std::string key_help = "PEM or DER file, or the hexadecimal key itself";
    const auto formats = CLI::IsMember({"c1c3c2", "c1c2c3", "04c1c3c2", "04c1c2c3", "asn1"});
    const auto decrypt_formats =
        CLI::IsMember({"auto", "c1c3c2", "c1c2c3", "04c1c3c2", "04c1c2c3", "asn1"});

    auto o = std::make_shared<Sm2Options>();
    auto* keygen = sm2->add_subcommand("keygen", "Generate a key pair (PKCS#8 PEM by default)");
    keygen->add_option("--out", o->out, "Private key file (default: standard output)");
    keygen->add_option("--pubout", o->pubout, "Also write the public key to this file");
    keygen->add_flag("--hex", o->hex, "Write hexadecimal keys instead of PEM");
    set_action(keygen, action, o, run_keygen);

    o = std::make_shared<Sm2Options>();
    auto* pubkey = sm2->add_subcommand("pubkey", "Print the public key of a key (PEM by default)");
    pubkey->add_option("--key", o->key, "Private or public key: " + key_help)->required();
    pubkey->add_option("--out", o->out, "Output file (default: standard output)");
    pubkey->add_flag("--hex", o->hex, "Print 128 hexadecimal digits instead of PEM");
    set_action(pubkey, action, o, run_pubkey);

    o = std::make_shared<Sm2Options>();
    auto* sign =
        sm2->add_subcommand("sign", "Sign a file over SM3 with the identity digest (DER output)");
    sign->add_option("--key", o->key, "Private key: " + key_help)->required();
    sign->add_option("--out", o->out, "Signature file (default: standard output)");
    sign->add_flag("--raw", o->raw, "Write the 128-digit r||s text instead of DER");
    sign->add_option("FILE", o->file, "File to sign (default: standard input)");
    set_action(sign, action, o, run_sign);

    o = std::make_shared<Sm2Options>();
    auto* verify =
        sm2->add_subcommand("verify", "Verify a signature made over SM3 with the identity digest");
    verify->add_option("--pubkey", o->pubkey, "Public key: " + key_help)->required();
    verify->add_option("--sig", o->sig, "Signature file: DER, or the raw 128-digit text")
        ->required();
    verify->add_option("FILE", o->file, "Signed file (default: standard input)");
    set_action(verify, action, o, run_verify);

    o = std::make_shared<Sm2Options>();
    auto* enc = sm2->add_subcommand("encrypt", "Encrypt to a public key");
    enc->add_option("--pubkey", o->pubkey, "Public key: " + key_help)->required();
    enc->add_option("--format", o->format, "Ciphertext layout")
        ->check(formats)
        ->capture_default_str();
    enc->add_option("--in", o->in, "Input file (default: standard input)");
    enc->add_option("--out", o->out, "Output file (default: standard output)");
    set_action(enc, action, o, run_encrypt);

    o = std::make_shared<Sm2Options>();
    auto* dec = sm2->add_subcommand("decrypt", "Decrypt with a private key");
    dec->add_option("--key", o->key, "Private key: " + key_help)->required();
    o->format = "auto";
    dec->add_option("--format", o->format,
                    "Ciphertext layout; auto tells it by structure and the check value")
        ->check(decrypt_formats)
        ->capture_default_str();
    dec->add_option("--in", o->in, "Input file (default: standard input)");
    dec->add_option("--out", o->out, "Output file (default: standard output)");
    set_action(dec, action, o, run_decrypt);

    o = std::make_shared<Sm2Options>();
    auto* rec =
        sm2->add_subcommand("recover", "Candidate public keys of a raw signature of FILE's bytes");
    rec->add_option("--sig", o->sig,
                    "Raw signature (128 digits, maybe a recovery byte): a file or the text")
        ->required();
    rec->add_option("FILE", o->file, "Signed bytes, not hashed (default: standard input)");
    set_action(rec, action, o, run_recover);
}

}  // namespace pelmo::cli
