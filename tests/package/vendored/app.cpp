#include <pelmo/sm3.hpp>

#include <iostream>

int main() {
    std::cout << pelmo::sm3::sm3_hash("abc") << '\n';
}
