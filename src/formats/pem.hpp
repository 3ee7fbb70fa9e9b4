// PEM armour for the key readers and the tool: which blocks a text holds, found
// without a search over the text's bytes (see pem.cpp).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelmo::detail::pem {

/// The labels of the text's "-----BEGIN label-----" lines, in order. A line is
/// looked at only when it starts with a character that no base64 body holds; the
/// characters of body lines never steer a branch.
std::vector<std::string> begin_labels(std::string_view pem);

}  // namespace pelmo::detail::pem
