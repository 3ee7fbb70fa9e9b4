// A tiny registry for the constant-time checks: each check marks its secrets with
// classify() and runs the code under test; valgrind does the rest.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/ct.hpp"

namespace pelmo::ct_check {

struct Check {
    std::string name;
    std::function<void()> run;
};

inline std::vector<Check>& registry() {
    static std::vector<Check> checks;
    return checks;
}

struct Register {
    Register(std::string name, std::function<void()> run) {
        registry().push_back({std::move(name), std::move(run)});
    }
};

using pelmo::detail::ct::classify;
using pelmo::detail::ct::declassify;

}  // namespace pelmo::ct_check

#define PELMO_CT_CHECK_CASE(name)                                            \
    static void name();                                                      \
    static const ::pelmo::ct_check::Register name##_registered(#name, name); \
    static void name()
