// pelmo sm3: sha256sum-style digests, streamed in fixed-size chunks.
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <pelmo/sm3.hpp>

#include "commands.hpp"
#include "io.hpp"

namespace pelmo::cli {

namespace {

int run_sm3(const std::vector<std::string>& files) {
    const std::vector<std::string> names = files.empty() ? std::vector<std::string>{"-"} : files;
    int status = 0;
    for (const std::string& name : names) {
        try {
            Input in(name);
            in.read_in_background();
            Progress progress("hashing " + name, in.size_hint());
            sm3::SM3 h;
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

}  // namespace

void add_sm3(CLI::App& app, Action& action) {
    auto* cmd =
        app.add_subcommand("sm3", "Print SM3 digests of files (or standard input), like sha256sum");
    auto files = std::make_shared<std::vector<std::string>>();
    cmd->add_option("FILE", *files, "Files to hash; '-' or none reads standard input");
    cmd->callback([&action, files] { action = [files] { return run_sm3(*files); }; });
}

}  // namespace pelmo::cli
