// The subcommands of the pelmo tool. Each registers its options on the CLI11 app
// and returns the action to run when it is chosen.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace pelmo::cli {

using Action = std::function<int()>;

/// `pelmo sm3 [FILE...]`
void add_sm3(CLI::App& app, Action& action);
/// `pelmo demo`
void add_demo(CLI::App& app, Action& action);

}  // namespace pelmo::cli
