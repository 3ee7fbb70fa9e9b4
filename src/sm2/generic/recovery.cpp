// Public-key recovery on any curve table, step by step with GMP and the engine's point
// operations. The recommended curve takes this path only for recovery bytes other than
// 0, 27 and 28.
#include <pelmo/func.hpp>

#include <stdexcept>
#include <vector>

#include "common/hex.hpp"
#include "sm2/generic/point_ops.hpp"
#include "sm2/recover.hpp"

namespace pelmo::detail::sm2::generic {

namespace {

BigInt mod(const BigInt& a, const BigInt& m) {
    if (m == 0) throw std::domain_error("division by zero: modulus is 0");
    BigInt r;
    mpz_mod(r.get_mpz_t(), a.get_mpz_t(), m.get_mpz_t());
    return r;
}

[[noreturn]] void degenerate(const char* why) {
    throw std::invalid_argument(std::string("degenerate signature: ") + why +
                                ", no key to recover");
}

}  // namespace

std::set<std::string> recover(const Curve& c, std::string_view sign, ByteView data,
                              std::optional<int> v_arg) {
    const std::size_t pl = c.para_len;
    const BigInt r = parse_hex_int(slice(sign, 0, pl), "signature r");
    const BigInt s = parse_hex_int(slice(sign, pl, pl), "signature s");
    const auto v = recovery_byte(sign, pl, v_arg);
    const BigInt& n = c.n();
    const BigInt& p = c.p;
    const BigInt e = bytes_to_int(data);

    // x of R = [k]G, and y from y^2 = x^3 + a x + b by the exponent (p + 1)/4.
    const BigInt x = mod(r - e, n);
    const BigInt a = parse_hex_int(c.entry("a"), "curve parameter \"a\"");
    const BigInt b = parse_hex_int(c.entry("b"), "curve parameter \"b\"");
    BigInt g = mod(mod(x * x, p) * x, p);
    g = mod(g + mod(x * a, p), p);
    g = mod(g + b, p);
    BigInt u;
    mpz_fdiv_q(u.get_mpz_t(), BigInt(p - 3).get_mpz_t(), BigInt(4).get_mpz_t());
    u += 1;
    BigInt y = func::exp_mod(g, u, p);
    if (mod(y * y, p) != g) throw std::invalid_argument(kNoPointWithX);

    // w = -(r + s)^-1 mod n and [s]G serve every candidate.
    const BigInt t = mod(s + r, n);
    if (t == 0) degenerate("(r + s) mod n is 0");
    const BigInt w = n - func::inv_mod(t, n);
    const auto sG = kg_text(c, s, c.entry("g"));
    if (!sG) degenerate("[s]G is the point at infinity");

    const std::vector<long> candidates =
        v && *v != 0 ? std::vector<long>{*v} : std::vector<long>{27, 28};
    std::set<std::string> keys;
    for (const long cand : candidates) {
        // R gets the parity that the candidate asks for (any byte other than 27 and 28
        // negates y); y carries over to the next candidate.
        const long bit = cand - 27;
        if ((mpz_odd_p(y.get_mpz_t()) ? 1 : 0) != bit) y = p - y;
        y = p - y;  // -R
        const std::string Q = format_jacobian(c, Jacobian{x, y, BigInt(1)});
        const auto sum = add_point_text(c, Q, *sG);
        const auto P = sum ? convert_text(c, *sum) : std::nullopt;
        if (!P) degenerate("[s]G - R is the point at infinity");
        const auto PA = kg_text(c, w, *P);
        if (!PA) degenerate("the recovered key is the point at infinity");
        keys.insert(*PA);
    }
    return keys;
}

}  // namespace pelmo::detail::sm2::generic
