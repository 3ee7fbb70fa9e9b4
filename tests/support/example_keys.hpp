// The GM/T 0003.5 example key pair, which the standard's signature and encryption
// examples use.
#pragma once

#include <algorithm>
#include <string>

namespace pelmo::test {

/// In lower case, as pelmo writes keys.
inline const std::string kExamplePrivateKey =
    "3945208f7b2144b13f36e38ac6d39f95889393692860b51a42fb81ef4df7c5b8";
inline const std::string kExamplePublicKey =
    "09f9df311e5421a150dd7d161e4bc5c672179fad1833fc076bb08ff356f35020"
    "ccea490ce26775a52dc6ea718cc1aa600aed05fbf35e084a6632f6072da9ad13";

/// Hexadecimal text in upper case, as the standard prints it.
inline std::string upper(std::string hex) {
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](char c) { return c >= 'a' && c <= 'f' ? static_cast<char>(c - 32) : c; });
    return hex;
}

}  // namespace pelmo::test
