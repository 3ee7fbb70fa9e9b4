// The pelmo tool's key loading with secret key text: a private key as PEM (PKCS#8 and
// SEC 1), DER and hexadecimal files (whose content the loader itself marks secret as it
// reads it) and as command-line text, public keys beside them, and SM4 key arguments.
#if defined(PELMO_CT_WITH_CLI_KEYS)

#include <pelmo/formats.hpp>

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "ct_check.hpp"
#include "keys.hpp"
#include "support/example_keys.hpp"

namespace {

namespace fmt = pelmo::formats;
using pelmo::ct_check::classify;
using pelmo::ct_check::declassify;

const std::string& kD = pelmo::test::kExamplePrivateKey;
const std::string& kPub = pelmo::test::kExamplePublicKey;

void require(bool ok, const char* what) {
    if (!ok) {
        std::fprintf(stderr, "ct_cli_keys: %s\n", what);
        std::abort();
    }
}

std::string secret(const std::string& text) {
    std::string s = text;
    classify(s.data(), s.size());
    return s;
}

// Key files in a fresh directory, removed afterwards.
struct KeyFiles {
    std::string dir;
    KeyFiles() {
        char name[] = "/tmp/pelmo-ct-keys-XXXXXX";
        require(::mkdtemp(name) != nullptr, "mkdtemp");
        dir = name;
        const pelmo::Bytes der = fmt::sm2_private_key_to_der(kD, kPub);
        const pelmo::Bytes sec1(der.begin() + 29, der.end());
        write("k.pem", fmt::sm2_private_key_to_pem(kD, kPub));
        write("k.der", std::string(der.begin(), der.end()));
        write("ec.pem", fmt::pem_encode(sec1, "EC PRIVATE KEY"));
        write("k.hex", "\n" + kD + "\r\n");
        write("p.pem", fmt::sm2_public_key_to_pem(kPub));
        const pelmo::Bytes pub = fmt::sm2_public_key_to_der(kPub);
        write("p.der", std::string(pub.begin(), pub.end()));
    }
    ~KeyFiles() {
        for (const char* f : {"k.pem", "k.der", "ec.pem", "k.hex", "p.pem", "p.der"})
            std::remove(path(f).c_str());
        ::rmdir(dir.c_str());
    }
    std::string path(const std::string& f) const { return dir + "/" + f; }
    void write(const std::string& f, const std::string& content) const {
        std::ofstream(path(f), std::ios::binary) << content;
    }
};

void require_private(fmt::Sm2PrivateKey key, const char* what) {
    declassify(key.private_key.data(), key.private_key.size());
    require(key.private_key == kD && key.public_key == kPub, what);
}

}  // namespace

PELMO_CT_CHECK_CASE(cli_key_loading_from_files_and_text) {
    using pelmo::cli::load_private_key;
    using pelmo::cli::load_public_key;
    const KeyFiles files;
    for (const char* f : {"k.pem", "k.der", "ec.pem", "k.hex"}) {
        require_private(load_private_key(files.path(f), "--key"), f);
        require(load_public_key(files.path(f), "--pubkey") == kPub, f);
    }
    for (const char* f : {"p.pem", "p.der"})
        require(load_public_key(files.path(f), "--pubkey") == kPub, f);
    require_private(load_private_key(secret(kD), "--key"), "hexadecimal text");
    require_private(load_private_key(secret(" " + kD + "\n"), "--key"), "spaced text");
    require(load_public_key(secret(kD), "--key") == kPub, "public half of the text");
}

PELMO_CT_CHECK_CASE(cli_hex_arguments_trim_and_digits) {
    const std::string key = "0123456789abcdefFEDCBA9876543210";
    pelmo::Bytes b = pelmo::cli::hex_key_argument(secret(key), "--key", 16);
    declassify(b.data(), b.size());
    require(b.size() == 16 && b[0] == 0x01 && b[15] == 0x10, "SM4 key argument");
    std::string t = pelmo::cli::trim(secret("\t " + key + " \r\n"));
    declassify(t.data(), t.size());
    require(t == key, "trim");
    require(pelmo::cli::is_hex(secret(key)) && !pelmo::cli::is_hex(secret(key + "g")), "is_hex");
}

#endif  // PELMO_CT_WITH_CLI_KEYS
