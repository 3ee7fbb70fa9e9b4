// The published test vectors in tests/vectors/: records of `name = value` lines separated by
// blank lines; '#' starts a comment line.
#pragma once

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/hex.hpp"

namespace pelmo::test {

using VectorRecord = std::map<std::string, std::string>;

/// Every record of tests/vectors/<file>.
inline std::vector<VectorRecord> load_vectors(const std::string& file) {
    std::ifstream in(std::string(PELMO_TEST_VECTORS_DIR) + "/" + file);
    if (!in) throw std::runtime_error("cannot open test vectors " + file);
    std::vector<VectorRecord> records(1);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            if (!records.back().empty()) records.emplace_back();
            continue;
        }
        if (line[0] == '#') continue;
        const auto eq = line.find(" = ");
        if (eq == std::string::npos) throw std::runtime_error("bad vector line: " + line);
        records.back()[line.substr(0, eq)] = line.substr(eq + 3);
    }
    if (records.back().empty()) records.pop_back();
    return records;
}

/// A hexadecimal field of a record as bytes (an empty or absent field is empty).
inline Bytes vector_bytes(const VectorRecord& r, const std::string& name) {
    const auto it = r.find(name);
    if (it == r.end() || it->second.empty()) return {};
    return detail::from_hex(it->second);
}

}  // namespace pelmo::test
