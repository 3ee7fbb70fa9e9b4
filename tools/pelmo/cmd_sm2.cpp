// pelmo sm2: key generation, signatures over SM3 with the identity digest,
// encryption and public-key recovery, in files that OpenSSL reads and writes.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <vector>

#include <pelmo/crypt_managers.hpp>
#include <pelmo/formats.hpp>
#include <pelmo/sm2.hpp>

#include "commands.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "io.hpp"
#include "secret_args.hpp"
#include "sm2/der.hpp"
#include "sm2/identity.hpp"
#include "sm2/keys.hpp"

namespace pelmo::cli {

namespace {

struct Sm2Options {
    std::string key, pubkey, sig, in, out, pubout, format = "c1c3c2", file;
    std::string id{detail::sm2::kDefaultIdentity}, id_hex;
    std::vector<std::string> candidates;
    bool hex = false, raw = false, id_hex_given = false, digest = false;
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

// The signer's identity: the bytes of --id-hex, else the text of --id (by default
// "1234567812345678"; OpenSSL signs with an empty one unless told a distid).
Bytes identity(const Sm2Options& o) {
    if (o.id_hex_given) return hex_bytes_argument(o.id_hex, "--id-hex");
    return Bytes(o.id.begin(), o.id.end());
}

// e = SM3(Z || data), with Z the identity digest of the public key pub under id: what a
// signature over SM3 signs.
Bytes signed_digest(const sm2::CryptSM2& engine, const std::string& pub, ByteView id,
                    ByteView data) {
    const auto z = detail::sm2::identity_digest(detail::sm2::EngineAccess::curve(engine), pub, id);
    sm3::SM3 h;
    const auto e = h.update(z).update(data).digest();
    return Bytes(e.begin(), e.end());
}

int run_sign(const Sm2Options& o) {
    formats::Sm2PrivateKey key = load_private_key(o.key, "--key");
    const detail::WipeOnExit wipe_key(key.private_key);
    const Bytes data = Input(o.file).read_all();
    const sm2::CryptSM2 engine(key.private_key, key.public_key, sm2::default_ecc_table, 0, !o.raw);
    const Bytes e = signed_digest(engine, key.public_key, identity(o), data);
    const auto& curve = detail::sm2::EngineAccess::curve(engine);
    std::optional<std::string> sig;
    // A scalar that gives no signature (r = 0, r + k = n, s = 0) is drawn again.
    while (!sig) {
        std::string k = detail::sm2::random_scalar_hex(curve, detail::sm2::ScalarRange::nonce);
        const detail::WipeOnExit wipe_k(k);
        sig = engine.sign(e, k);
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
    const Bytes e = signed_digest(engine, pub, identity(o), data);
    bool ok = false;
    try {
        ok = engine.verify(
            raw ? text
                : detail::to_hex(ByteView(reinterpret_cast<const std::uint8_t*>(sig_bytes.data()),
                                          sig_bytes.size())),
            e);
    } catch (const std::invalid_argument& error) {
        std::cerr << "pelmo: " << o.sig << ": " << error.what() << '\n';
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

// A signature in the raw form r || s (128 digits, and maybe a recovery byte) from the
// argument of --sig: a file or the text itself, raw or DER (binary in a file, or its
// hexadecimal text), as sign writes them.
std::string raw_signature(const std::string& arg) {
    std::error_code ec;
    const bool file = std::filesystem::is_regular_file(arg, ec);
    const std::string bytes = file ? read_file(arg) : arg;
    const std::string text = trim(bytes);
    if (is_hex(text) && (text.size() == 128 || text.size() == 130)) return text;
    Bytes der;
    if (!file && !is_hex(text)) fail_io(arg, ENOENT);  // neither a file nor a signature
    if (file && !is_hex(text))
        der.assign(bytes.begin(), bytes.end());
    else if (text.size() % 2 == 0)
        der = detail::from_hex(text);
    const std::string where = "--sig" + (file ? ": " + arg : std::string()) + ": ";
    try {
        const auto sig = detail::sm2::der::decode_signature(der);
        if (sig.r.size() > 32 || sig.s.size() > 32)
            throw std::invalid_argument("r or s is longer than 32 bytes");
        Bytes rs(64, 0);
        std::copy(sig.r.begin(), sig.r.end(), rs.begin() + (32 - sig.r.size()));
        std::copy(sig.s.begin(), sig.s.end(), rs.begin() + (64 - sig.s.size()));
        return detail::to_hex(rs);
    } catch (const std::invalid_argument& e) {
        throw std::invalid_argument(where + "not a DER signature nor 128 hexadecimal digits (" +
                                    e.what() + ")");
    }
}

// Public-key recovery. From r, s and e, a key Q follows: R = [s]G + [r + s]Q has x =
// (r - e) mod n, so Q = [(r + s)^-1](R - [s]G) for the two points R with that x. With
// --digest, FILE holds e itself and both candidates are printed.
//
// A signature over SM3 signs e = SM3(Z || M), where Z digests the signer's identity and
// public key: e depends on the very key being recovered. Finding Q from (r, s, M) alone
// means finding a key whose own e leads back to it, a fixed point through SM3, which
// no amount of work finds. What can be done, and is, is to take the candidate keys
// given (--pubkey, any number), compute e under each one's own Z, recover from that e,
// and keep the candidate if it is among the keys recovered: exactly the keys for which
// the signature verifies (a recovery byte, when the signature has one, narrows it to the
// key of that R).
int run_recover(const Sm2Options& o) {
    if (!o.digest && o.candidates.empty())
        throw UsageError(
            "sm2 recover: a signature over SM3 signs SM3(Z || FILE), and Z depends on the "
            "signer's key; give the candidate keys (--pubkey KEY, repeatable), or --digest when "
            "FILE holds the signed integer e itself");
    if (o.digest && !o.candidates.empty())
        throw UsageError("sm2 recover: --digest recovers from e alone; --pubkey is not used");
    const std::string sig = raw_signature(o.sig);
    const Bytes data = Input(o.file).read_all();
    const sm2::CryptSM2 engine(std::nullopt, std::nullopt);
    if (o.digest) {
        for (const std::string& k : engine.recover_public_keys(sig, data)) std::cout << k << '\n';
        return 0;
    }
    const Bytes id = identity(o);
    std::size_t found = 0;
    for (const std::string& arg : o.candidates) {
        std::string pub = load_public_key(arg, "--pubkey");
        std::transform(pub.begin(), pub.end(), pub.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::set<std::string> keys;
        try {
            keys = engine.recover_public_keys(sig, signed_digest(engine, pub, id, data));
        } catch (const std::invalid_argument&) {
            continue;  // no point R for this candidate's e: not the signer
        }
        if (keys.count(pub) != 0) {
            std::cout << pub << '\n';
            ++found;
        }
    }
    std::cout.flush();
    if (found != 0) return 0;
    std::cerr << "pelmo: none of the candidate keys made this signature\n";
    return 1;
}

// --id and --id-hex: the identity that the identity digest Z takes.
void add_identity(CLI::App* cmd, const Opts& o) {
    auto* text = cmd->add_option("--id", o->id,
                                 "Signer's identity as text ('' for none, as OpenSSL without "
                                 "distid)")
                     ->capture_default_str();
    cmd->add_option_function<std::string>(
           "--id-hex",
           [o](const std::string& hex) {
               o->id_hex = hex;
               o->id_hex_given = true;
           },
           "Signer's identity as hexadecimal bytes")
        ->excludes(text);
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
    add_identity(sign, o);
    set_action(sign, action, o, run_sign);

    o = std::make_shared<Sm2Options>();
    auto* verify =
        sm2->add_subcommand("verify", "Verify a signature made over SM3 with the identity digest");
    verify->add_option("--pubkey", o->pubkey, "Public key: " + key_help)->required();
    verify->add_option("--sig", o->sig, "Signature file: DER, or the raw 128-digit text")
        ->required();
    verify->add_option("FILE", o->file, "Signed file (default: standard input)");
    add_identity(verify, o);
    set_action(verify, action, o, run_verify);

    o = std::make_shared<Sm2Options>();
    auto* enc = sm2->add_subcommand("encrypt", "Encrypt to a public key");
    enc->add_option("--pubkey", o->pubkey, "Public key: " + key_help)->required();
    enc->add_option("--format", o->format, "Ciphertext layout")
        ->check(formats)
        ->capture_default_str();
    auto* enc_in = enc->add_option("--in", o->in, "Input file, the same as FILE");
    enc->add_option("FILE", o->in, "Input file ('-' or none: standard input)")->excludes(enc_in);
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
    auto* dec_in = dec->add_option("--in", o->in, "Input file, the same as FILE");
    dec->add_option("FILE", o->in, "Input file ('-' or none: standard input)")->excludes(dec_in);
    dec->add_option("--out", o->out, "Output file (default: standard output)");
    set_action(dec, action, o, run_decrypt);

    o = std::make_shared<Sm2Options>();
    auto* rec = sm2->add_subcommand(
        "recover",
        "Which candidate keys made a signature of FILE (or, with --digest, the keys "
        "a signature of the integer e allows)");
    rec->add_option("--sig", o->sig,
                    "Signature as sign writes it (DER or raw): a file, or its hexadecimal text")
        ->required();
    rec->add_option("--pubkey", o->candidates, "A candidate public key (repeatable): " + key_help)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    rec->add_flag("--digest", o->digest,
                  "FILE holds the signed integer e itself (not hashed); print both keys");
    rec->add_option("FILE", o->file, "Signed file (default: standard input)");
    add_identity(rec, o);
    set_action(rec, action, o, run_recover);
}

}  // namespace pelmo::cli
