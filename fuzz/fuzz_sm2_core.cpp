// The fixed-width SM2 core against the literal GMP double-and-add, for fuzzed
// scalars and points of the recommended curve: _kg must give the same text.
#include <pelmo/sm2.hpp>

#include <string>

#include "common/hex.hpp"
#include "fuzz_check.hpp"
#include "sm2/engine.hpp"
#include "sm2/generic/point_ops.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    static const pelmo::sm2::CryptSM2 engine(std::nullopt, std::nullopt);
    static const auto curve = pelmo::detail::sm2::make_curve(pelmo::sm2::default_ecc_table);
    // The input is two scalars: m picks the point m*G, k multiplies it.
    const std::size_t half = size / 2;
    const pelmo::BigInt m = pelmo::detail::bytes_to_int(pelmo::ByteView(data, half));
    const pelmo::BigInt k = pelmo::detail::bytes_to_int(pelmo::ByteView(data + half, size - half));
    const std::string g = pelmo::sm2::default_ecc_table.at("g");
    const auto p = engine._kg(m, g);
    FUZZ_CHECK(p == pelmo::detail::sm2::generic::kg_text(*curve, m, g));
    if (!p) return 0;
    FUZZ_CHECK(engine._kg(k, *p) == pelmo::detail::sm2::generic::kg_text(*curve, k, *p));
    return 0;
}
