// Runs every registered constant-time check. Under valgrind, a secret-dependent
// branch or index shows up as "Conditional jump or move depends on uninitialised
// value(s)" or "Use of uninitialised value", and the run fails.
#include <cstdio>

#include "ct_check.hpp"

int main() {
    for (const auto& check : pelmo::ct_check::registry()) {
        std::printf("ct: %s\n", check.name.c_str());
        std::fflush(stdout);
        check.run();
    }
    std::printf("ct: %zu checks ran\n", pelmo::ct_check::registry().size());
    return 0;
}
