// pelmo sm3: sha256sum-style digests, or HMAC-SM3 tags under a key, streamed in
// fixed-size chunks.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <pelmo/sm3.hpp>

#include "commands.hpp"
#include "common/wipe.hpp"
#include "io.hpp"
#include "secret_args.hpp"

namespace pelmo::cli {

namespace {

struct Sm3Options {
    std::vector<std::string> files;
    std::string hmac_key, hmac_file;
    bool hmac = false;  // --hmac given, possibly empty
};

// Each file through a copy of `fresh` (an SM3 hasher or a keyed HMAC).
template <class Hasher>
int hash_files(const std::vector<std::string>& files, const Hasher& fresh) {
    const std::vector<std::string> names = files.empty() ? std::vector<std::string>{"-"} : files;
    int status = 0;
    for (const std::string& name : names) {
        try {
            Input in(name);
            in.read_in_background();
            Progress progress("hashing " + name, in.size_hint());
            Hasher h = fresh;
            for (ByteView chunk; !(chunk = in.next(kChunk)).empty();) {
                h.update(chunk);
                progress.advance(chunk.size());
            }
            std::cout << h.hexdigest() << "  " << name << '\n';
        } catch (const std::runtime_error& e) {
            // An unreadable file is reported; the others are still hashed.
            std::cout.flush();
            std::cerr << "pelmo: " << e.what() << '\n';
            status = 1;
        }
    }
    std::cout.flush();
    return status;
}

int run_sm3(Sm3Options& o) {
    if (!o.hmac && o.hmac_file.empty()) return hash_files(o.files, sm3::SM3());
    Bytes key = o.hmac_file.empty() ? hex_bytes_argument(o.hmac_key, "--hmac")
                                    : read_secret_file(o.hmac_file);
    detail::secure_wipe(o.hmac_key);
    const detail::WipeOnExit wipe_key(key);
    return hash_files(o.files, sm3::HmacSM3(key));
}

}  // namespace

void add_sm3(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "sm3", "Print SM3 digests (or HMAC-SM3 tags) of files or standard input, like sha256sum");
    auto o = std::make_shared<Sm3Options>();
    cmd->add_option("FILE", o->files, "Files to hash; '-' or none reads standard input");
    auto* key = cmd->add_option("--hmac", o->hmac_key, "HMAC-SM3 under this key (hexadecimal)");
    cmd->add_option("--hmac-file", o->hmac_file,
                    "HMAC-SM3 under the key this file holds, every byte of it")
        ->excludes(key);
    cmd->callback([&action, o, key] {
        o->hmac = key->count() > 0;
        action = [o] { return run_sm3(*o); };
    });
}

}  // namespace pelmo::cli
