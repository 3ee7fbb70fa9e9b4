// pelmo sm3: sha256sum-style digests, or HMAC-SM3 tags under a key, streamed in
// fixed-size chunks; with --check, digest lists in the same format are checked.
#include <cctype>
#include <cstdio>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
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
    bool hmac = false;   // --hmac given, possibly empty
    bool check = false;  // the files are digest lists to check
};

// A name with a backslash or a newline is printed as sha256sum prints it: the line
// starts with a backslash and the name spells them "\\" and "\n".
bool needs_escape(const std::string& name, bool backslash_too) {
    return name.find('\n') != std::string::npos ||
           (backslash_too && name.find('\\') != std::string::npos);
}

std::string escaped(const std::string& name) {
    std::string out;
    for (const char c : name) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

// The inverse of escaped(); no value for any other escape or a trailing backslash.
std::optional<std::string> unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\')
            out += '\\';
        else if (text[i] == 'n')
            out += '\n';
        else
            return std::nullopt;
    }
    return out;
}

// The digest (or tag) of one file in hexadecimal, through a copy of `fresh`.
template <class Hasher>
std::string digest_of(const std::string& name, const Hasher& fresh) {
    Input in(name);
    in.read_in_background();
    Progress progress("hashing " + name, in.size_hint());
    Hasher h = fresh;
    for (ByteView chunk; !(chunk = in.next(kChunk)).empty();) {
        h.update(chunk);
        progress.advance(chunk.size());
    }
    return h.hexdigest();
}

// Reports an unreadable file after what standard output holds so far.
void report(const std::runtime_error& e) {
    std::cout.flush();
    std::cerr << "pelmo: " << e.what() << '\n';
}

template <class Hasher>
int hash_files(const std::vector<std::string>& names, const Hasher& fresh) {
    int status = 0;
    for (const std::string& name : names) {
        try {
            const std::string digest = digest_of(name, fresh);
            if (needs_escape(name, true))
                std::cout << '\\' << digest << "  " << escaped(name) << '\n';
            else
                std::cout << digest << "  " << name << '\n';
        } catch (const std::runtime_error& e) {
            // An unreadable file is reported; the others are still hashed.
            report(e);
            status = 1;
        }
    }
    std::cout.flush();
    return status;
}

// One line of a digest list, as sha256sum reads it: optional leading blanks, an
// optional backslash (the name is escaped), the 64 digits of either case, a blank,
// an optional ' ' or '*' (text or binary: the same here), then the name. No value for
// a line that is not one.
struct ListEntry {
    std::string digest, name;
};

std::optional<ListEntry> parse_line(std::string line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::size_t i = line.find_first_not_of(" \t");
    if (i == std::string::npos) return std::nullopt;
    const bool escape = line[i] == '\\';
    if (escape) ++i;
    constexpr std::size_t kDigits = 2 * sm3::SM3::digest_size;
    if (line.size() < i + kDigits + 2) return std::nullopt;
    std::string digest = line.substr(i, kDigits);
    for (char& c : digest) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    i += kDigits;
    if (line[i] != ' ' && line[i] != '\t') return std::nullopt;
    ++i;
    if (line[i] == ' ' || line[i] == '*') ++i;
    std::string name = line.substr(i);
    if (escape) {
        auto plain = unescaped(name);
        if (!plain) return std::nullopt;
        name = std::move(*plain);
    }
    if (name.empty()) return std::nullopt;
    return ListEntry{std::move(digest), std::move(name)};
}

// "1 line is" / "2 lines are".
std::string count_of(std::size_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Checks every line of each list, as `sha256sum --check` does: "NAME: OK", "NAME:
// FAILED" or "NAME: FAILED open or read" on standard output, then warnings with the
// counts of bad lines, unreadable files and mismatches on standard error. The status
// is 1 when anything failed or a list had no line to check.
template <class Hasher>
int check_lists(const std::vector<std::string>& lists, const Hasher& fresh) {
    int status = 0;
    for (const std::string& list : lists) {
        std::string text;
        try {
            text = read_file(list);
        } catch (const std::runtime_error& e) {
            report(e);
            status = 1;
            continue;
        }
        std::size_t checked = 0, improper = 0, unreadable = 0, mismatched = 0;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            const std::size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos || line[first] == '#') continue;
            const std::optional<ListEntry> entry = parse_line(line);
            if (!entry) {
                ++improper;
                continue;
            }
            ++checked;
            const std::string shown =
                needs_escape(entry->name, false) ? "\\" + escaped(entry->name) : entry->name;
            try {
                const bool ok = digest_of(entry->name, fresh) == entry->digest;
                if (!ok) ++mismatched;
                std::cout << shown << (ok ? ": OK\n" : ": FAILED\n");
            } catch (const std::runtime_error& e) {
                report(e);
                ++unreadable;
                std::cout << shown << ": FAILED open or read\n";
            }
        }
        std::cout.flush();
        const std::string name = list == "-" ? "'standard input'" : list;
        if (checked == 0) {
            std::cerr << "pelmo: " << name << ": no properly formatted checksum lines found\n";
            status = 1;
            continue;
        }
        if (improper != 0)
            std::cerr << "pelmo: WARNING: " << count_of(improper, "line is", "lines are")
                      << " improperly formatted\n";
        if (unreadable != 0)
            std::cerr << "pelmo: WARNING: " << count_of(unreadable, "listed file", "listed files")
                      << " could not be read\n";
        if (mismatched != 0)
            std::cerr << "pelmo: WARNING: "
                      << count_of(mismatched, "computed checksum", "computed checksums")
                      << " did NOT match\n";
        if (unreadable != 0 || mismatched != 0) status = 1;
    }
    return status;
}

template <class Hasher>
int run(const Sm3Options& o, const Hasher& fresh) {
    const std::vector<std::string> names =
        o.files.empty() ? std::vector<std::string>{"-"} : o.files;
    return o.check ? check_lists(names, fresh) : hash_files(names, fresh);
}

int run_sm3(Sm3Options& o) {
    if (!o.hmac && o.hmac_file.empty()) return run(o, sm3::SM3());
    Bytes key = o.hmac_file.empty() ? hex_bytes_argument(o.hmac_key, "--hmac")
                                    : read_secret_file(o.hmac_file);
    detail::secure_wipe(o.hmac_key);
    const detail::WipeOnExit wipe_key(key);
    return run(o, sm3::HmacSM3(key));
}

}  // namespace

void add_sm3(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand(
        "sm3", "Print SM3 digests (or HMAC-SM3 tags) of files or standard input, like sha256sum");
    auto o = std::make_shared<Sm3Options>();
    cmd->add_option("FILE", o->files, "Files to hash; '-' or none reads standard input");
    cmd->add_flag("-c,--check", o->check,
                  "Read digest lists from the FILEs (in the format printed) and check them");
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
