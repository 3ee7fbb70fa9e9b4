// The subcommands of the pelmo tool. Each registers its options on the CLI11 app
// and returns the action to run when it is chosen.
#pragma once

#include <functional>
#include <stdexcept>

#include <CLI/CLI.hpp>

namespace pelmo::cli {

using Action = std::function<int()>;

/// A usage error found after option parsing (exit status 2).
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// `pelmo sm3 [--hmac KEY | --hmac-file F] [FILE...]`
void add_sm3(CLI::App& app, Action& action);
/// `pelmo sm4 encrypt|decrypt ...`
void add_sm4(CLI::App& app, Action& action);
/// `pelmo sm2 keygen|pubkey|sign|verify|encrypt|decrypt|recover ...`
void add_sm2(CLI::App& app, Action& action);
/// `pelmo kdf pbkdf2|hkdf ...`
void add_kdf(CLI::App& app, Action& action);
/// `pelmo demo`
void add_demo(CLI::App& app, Action& action);
/// `pelmo speed`
void add_speed(CLI::App& app, Action& action);

}  // namespace pelmo::cli
