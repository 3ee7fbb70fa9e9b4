// pelmo kdf pbkdf2|hkdf: keys derived with PBKDF2-HMAC-SM3 or HKDF-SM3, printed as
// hexadecimal. The password and the input keying material come from files, never from
// the command line, where other users could read them.
#include <iostream>
#include <memory>
#include <string>

#include <pelmo/sm3.hpp>

#include "commands.hpp"
#include "common/hex.hpp"
#include "common/wipe.hpp"
#include "secret_args.hpp"

namespace pelmo::cli {

namespace {

struct KdfOptions {
    std::string secret_file, salt, info;
    std::uint32_t iterations = 0;
    std::size_t length = 0;
};

// Prints the key and wipes every copy of it.
int print_key(Bytes key) {
    std::string hex = detail::to_hex(key);
    detail::secure_wipe(key);
    hex += '\n';
    std::cout << hex << std::flush;
    detail::secure_wipe(hex);
    return 0;
}

// The secret's file, named by its option or as FILE; one of them is needed.
void require_secret(const KdfOptions& o, const char* option) {
    if (o.secret_file.empty())
        throw UsageError(std::string(option) +
                         " or FILE is required (the secret is never an argument)");
}

int run_pbkdf2(const KdfOptions& o) {
    require_secret(o, "--password-file");
    const Bytes salt = hex_bytes_argument(o.salt, "--salt");
    Bytes password = read_secret_file(o.secret_file);
    const detail::WipeOnExit wipe_password(password);
    return print_key(sm3::pbkdf2_sm3(password, salt, o.iterations, o.length));
}

int run_hkdf(const KdfOptions& o) {
    require_secret(o, "--ikm-file");
    const Bytes salt = hex_bytes_argument(o.salt, "--salt");
    const Bytes info = hex_bytes_argument(o.info, "--info");
    Bytes ikm = read_secret_file(o.secret_file);
    const detail::WipeOnExit wipe_ikm(ikm);
    return print_key(sm3::hkdf_sm3(ikm, salt, info, o.length));
}

}  // namespace

void add_kdf(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("kdf", "Derive keys with PBKDF2-HMAC-SM3 or HKDF-SM3");
    cmd->require_subcommand(1);
    auto o = std::make_shared<KdfOptions>();

    auto* pbkdf2 = cmd->add_subcommand(
        "pbkdf2", "PBKDF2 with HMAC-SM3 (RFC 8018): a key from a password, printed as hexadecimal");
    auto* password = pbkdf2->add_option(
        "--password-file", o->secret_file,
        "File holding the password, every byte of it ('-': standard input); or FILE");
    pbkdf2->add_option("FILE", o->secret_file, "The same as --password-file")->excludes(password);
    pbkdf2->add_option("--salt", o->salt, "Salt, hexadecimal")->required();
    pbkdf2->add_option("--iter", o->iterations, "Iteration count, at least 1")->required();
    pbkdf2->add_option("--len", o->length, "Key length in bytes")->required();
    pbkdf2->callback([&action, o] { action = [o] { return run_pbkdf2(*o); }; });

    auto* hkdf = cmd->add_subcommand(
        "hkdf", "HKDF with SM3 (RFC 5869), extract then expand, printed as hexadecimal");
    auto* ikm = hkdf->add_option("--ikm-file", o->secret_file,
                                 "File holding the input keying material, every byte of it ('-': "
                                 "standard input); or FILE");
    hkdf->add_option("FILE", o->secret_file, "The same as --ikm-file")->excludes(ikm);
    hkdf->add_option("--salt", o->salt, "Salt, hexadecimal (none: 32 zero bytes)");
    hkdf->add_option("--info", o->info, "Context and application information, hexadecimal");
    hkdf->add_option("--len", o->length, "Key length in bytes, 1..8160")->required();
    hkdf->callback([&action, o] { action = [o] { return run_hkdf(*o); }; });
}

}  // namespace pelmo::cli
