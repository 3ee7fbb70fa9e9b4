#include "sm2/generic/point_ops.hpp"

#include <stdexcept>

#include <pelmo/func.hpp>

#include "common/hex.hpp"

namespace pelmo::detail::sm2::generic {

namespace {

// r = r mod p, the non-negative remainder.
inline void reduce(BigInt& r, const BigInt& p) {
    mpz_mod(r.get_mpz_t(), r.get_mpz_t(), p.get_mpz_t());
}
// r = a * b mod p (r may alias a or b).
inline void mul(BigInt& r, const BigInt& a, const BigInt& b, const BigInt& p) {
    mpz_mul(r.get_mpz_t(), a.get_mpz_t(), b.get_mpz_t());
    reduce(r, p);
}
inline void mul_ui(BigInt& r, const BigInt& a, unsigned long b, const BigInt& p) {
    mpz_mul_ui(r.get_mpz_t(), a.get_mpz_t(), b);
    reduce(r, p);
}
inline void add(BigInt& r, const BigInt& a, const BigInt& b, const BigInt& p) {
    mpz_add(r.get_mpz_t(), a.get_mpz_t(), b.get_mpz_t());
    reduce(r, p);
}
inline void sub(BigInt& r, const BigInt& a, const BigInt& b, const BigInt& p) {
    mpz_sub(r.get_mpz_t(), a.get_mpz_t(), b.get_mpz_t());
    reduce(r, p);
}

BigInt parse_field(std::string_view text, const char* what) {
    return parse_hex_int(text, what);
}

}  // namespace

void double_point(const Curve& c, Jacobian& P, Scratch& s) {
    const BigInt& p = c.p;
    BigInt &T1 = s.t1, &T2 = s.t2, &T3 = s.t3, &T4 = s.t4, &T5 = s.t5, &T6 = s.t6;
    const BigInt &x1 = P.x, &y1 = P.y, &z1 = P.z;
    mul(T6, z1, z1, p);        //  1
    mul(T2, y1, y1, p);        //  2
    add(T3, x1, T6, p);        //  3
    sub(T4, x1, T6, p);        //  4
    mul(T1, T3, T4, p);        //  5
    mul(T3, y1, z1, p);        //  6
    mul_ui(T4, T2, 8, p);      //  7
    mul(T5, x1, T4, p);        //  8
    mul_ui(T1, T1, 3, p);      //  9
    mul(T6, T6, T6, p);        // 10
    mul(T6, c.ecc_a3, T6, p);  // 11
    add(T1, T1, T6, p);        // 12: M = 3 x^2 + a z^4
    add(P.z, T3, T3, p);       // 13: z3 = 2 y z
    mul(T3, T1, T1, p);        // 14
    mul(T2, T2, T4, p);        // 15: 8 y^4
    sub(P.x, T3, T5, p);       // 16: x3 = M^2 - 8 x y^2
    // 17: T4 = T5 / 2 - x3 mod p, halving T5 (adding p first when it is odd).
    if (mpz_odd_p(T5.get_mpz_t())) {
        mpz_add(T4.get_mpz_t(), T5.get_mpz_t(), p.get_mpz_t());
    } else {
        T4 = T5;
    }
    mpz_fdiv_q_2exp(T4.get_mpz_t(), T4.get_mpz_t(), 1);
    mpz_add(T4.get_mpz_t(), T4.get_mpz_t(), T5.get_mpz_t());
    sub(T4, T4, T3, p);
    mul(T1, T1, T4, p);   // 18
    sub(P.y, T1, T2, p);  // 19
}

void add_point(const Curve& c, Jacobian& P1, const BigInt& x2, const BigInt& y2, Scratch& s) {
    const BigInt& p = c.p;
    BigInt &T1 = s.t1, &T2 = s.t2, &T3 = s.t3, &T4 = s.t4, &T5 = s.t5;
    BigInt &X1 = P1.x, &Y1 = P1.y, &Z1 = P1.z;
    mul(T1, Z1, Z1, p);  //  1
    mul(T2, y2, Z1, p);  //  2
    mul(T3, x2, T1, p);  //  3: U2
    mul(T1, T1, T2, p);  //  4: S2
    sub(T2, T3, X1, p);  //  5: H
    add(T3, T3, X1, p);  //  6
    mul(T4, T2, T2, p);  //  7: H^2
    sub(T1, T1, Y1, p);  //  8: r
    mul(Z1, Z1, T2, p);  //  9: Z3
    mul(T2, T2, T4, p);  // 10: H^3
    mul(T3, T3, T4, p);  // 11
    mul(T5, T1, T1, p);  // 12
    mul(T4, X1, T4, p);  // 13
    sub(X1, T5, T3, p);  // 14: X3
    mul(T2, Y1, T2, p);  // 15
    sub(T3, T4, X1, p);  // 16
    mul(T1, T1, T3, p);  // 17
    sub(Y1, T1, T2, p);  // 18: Y3
}

std::optional<Point> to_affine(const Curve& c, const Jacobian& P) {
    const BigInt& p = c.p;
    const BigInt z_inv = func::exp_mod(P.z, p - 2, p);
    BigInt zi2, zi3, z_new;
    Point out;
    mul(zi2, z_inv, z_inv, p);
    mul(zi3, zi2, z_inv, p);
    mul(out.x, P.x, zi2, p);
    mul(out.y, P.y, zi3, p);
    mul(z_new, P.z, z_inv, p);
    if (z_new != 1) return std::nullopt;
    return out;
}

std::optional<Point> scalar_mul(const Curve& c, const BigInt& k, const Jacobian& start) {
    const auto bits = static_cast<mp_bitcnt_t>(4 * c.para_len);
    BigInt kk;
    mpz_fdiv_r_2exp(kk.get_mpz_t(), k.get_mpz_t(), bits);  // bits above are never looked at
    Jacobian T = start;
    if (kk != 0) {
        // The top set bit loads the point; every later bit doubles, and a set bit adds.
        Scratch s;
        for (auto i = mpz_sizeinbase(kk.get_mpz_t(), 2) - 1; i-- > 0;) {
            double_point(c, T, s);
            if (mpz_tstbit(kk.get_mpz_t(), i)) add_point(c, T, start.x, start.y, s);
        }
    }
    return to_affine(c, T);
}

std::string format_affine(const Curve& c, const BigInt& x, const BigInt& y) {
    return int_to_hex(x, c.para_len) + int_to_hex(y, c.para_len);
}

std::string format_jacobian(const Curve& c, const Jacobian& P) {
    return int_to_hex(P.x, c.para_len) + int_to_hex(P.y, c.para_len) + int_to_hex(P.z, c.para_len);
}

std::optional<std::string> double_point_text(const Curve& c, std::string_view point) {
    const std::size_t pl = c.para_len;
    if (point.size() < 2 * pl) return std::nullopt;
    Jacobian P;
    P.x = parse_field(slice(point, 0, pl), "x coordinate");
    P.y = parse_field(slice(point, pl, pl), "y coordinate");
    P.z = point.size() == 2 * pl ? BigInt(1) : parse_field(slice(point, 2 * pl), "z coordinate");
    Scratch s;
    double_point(c, P, s);
    return format_jacobian(c, P);
}

std::optional<std::string> add_point_text(const Curve& c, std::string_view p1,
                                          std::string_view p2) {
    const std::size_t pl = c.para_len;
    if (p1.size() < 2 * pl || p2.size() < 2 * pl) return std::nullopt;
    Jacobian P;
    P.x = parse_field(slice(p1, 0, pl), "x coordinate");
    P.y = parse_field(slice(p1, pl, pl), "y coordinate");
    P.z = p1.size() == 2 * pl ? BigInt(1) : parse_field(slice(p1, 2 * pl), "z coordinate");
    // The second point is always read as affine; a Z part of it is ignored.
    const BigInt x2 = parse_field(slice(p2, 0, pl), "x coordinate");
    const BigInt y2 = parse_field(slice(p2, pl, pl), "y coordinate");
    Scratch s;
    add_point(c, P, x2, y2, s);
    return format_jacobian(c, P);
}

std::optional<std::string> convert_text(const Curve& c, std::string_view point) {
    const std::size_t pl = c.para_len;
    Jacobian P;
    P.x = parse_field(slice(point, 0, pl), "x coordinate");
    P.y = parse_field(slice(point, pl, pl), "y coordinate");
    P.z = parse_field(slice(point, 2 * pl), "z coordinate");
    const auto A = to_affine(c, P);
    if (!A) return std::nullopt;
    return format_affine(c, A->x, A->y);
}

std::optional<std::string> kg_text(const Curve& c, const BigInt& k, std::string_view point) {
    const std::size_t pl = c.para_len;
    if (point.size() < 2 * pl)
        throw std::invalid_argument("point text of " + std::to_string(point.size()) +
                                    " digits is shorter than two coordinates of " +
                                    std::to_string(pl) + " digits");
    // The point is marked Jacobian by appending the digit "1" (Z = 1 for an affine text).
    const std::string start_text = std::string(point) + "1";
    if (c.exact_width) {
        // Texts written by the steps read back as the same numbers: work on numbers.
        Jacobian start;
        start.x = parse_field(slice(start_text, 0, pl), "x coordinate");
        start.y = parse_field(slice(start_text, pl, pl), "y coordinate");
        start.z = parse_field(slice(start_text, 2 * pl), "z coordinate");
        const auto A = scalar_mul(c, k, start);
        if (!A) return std::nullopt;
        return format_affine(c, A->x, A->y);
    }
    // A table whose p is wider than para_len digits: coordinates spill over their
    // fields, and re-reading by position is part of the result. Go through the texts.
    const auto bits = static_cast<mp_bitcnt_t>(4 * pl);
    BigInt kk;
    mpz_fdiv_r_2exp(kk.get_mpz_t(), k.get_mpz_t(), bits);
    std::string temp = start_text;
    if (kk != 0) {
        for (auto i = mpz_sizeinbase(kk.get_mpz_t(), 2) - 1; i-- > 0;) {
            temp = *double_point_text(c, temp);  // temp is never shorter than 2 * para_len
            if (mpz_tstbit(kk.get_mpz_t(), i)) temp = *add_point_text(c, temp, start_text);
        }
    }
    return convert_text(c, temp);
}

}  // namespace pelmo::detail::sm2::generic
