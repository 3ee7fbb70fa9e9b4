// The recommended curve table and the parsing of curve tables.
#include <stdexcept>

#include "common/hex.hpp"
#include "sm2/engine.hpp"

namespace pelmo::sm2 {

// GB/T 32918.5 (GM/T 0003.5): n, p, a and b in upper case, g in lower case. Built
// before ordinary static objects of other files, so that an engine made during static
// initialisation finds it ready.
#if defined(__GNUC__)
__attribute__((init_priority(200)))
#endif
const EccTable default_ecc_table = {
    {"n", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFF7203DF6B21C6052B53BBF40939D54123"},
    {"p", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFF"},
    {"g",
     "32c4ae2c1f1981195f9904466a39c9948fe30bbff2660be1715a4589334c74c7"
     "bc3736a2f4f6779c59bdcee36b692153d0a9877cc62a474002df32e52139f0a0"},
    {"a", "FFFFFFFEFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF00000000FFFFFFFFFFFFFFFC"},
    {"b", "28E9FA9E9D9F5E344D5A9E4BCF6509A7F39789F515AB8F92DDBCBD414D940E93"},
};

}  // namespace pelmo::sm2

namespace pelmo::detail::sm2 {

namespace {

// The number a text spells, or nothing when it is not a hexadecimal number.
std::optional<BigInt> try_parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    for (unsigned char c : text)
        if (hex_digit_value(c) < 0) return std::nullopt;
    return parse_hex_int(text);
}

std::optional<BigInt> try_entry(const EccTable& table, const char* key) {
    const auto it = table.find(key);
    if (it == table.end()) return std::nullopt;
    return try_parse(it->second);
}

bool is_recommended(const EccTable& table, const Curve& c) {
    const auto shared = make_curve(pelmo::sm2::default_ecc_table);
    const Curve& ref = *shared;
    const auto same = [&](const char* key) {
        const auto mine = try_entry(table, key);
        return mine && *mine == parse_hex_int(pelmo::sm2::default_ecc_table.at(key));
    };
    if (c.para_len != 64 || c.p != ref.p || c.ecc_a3 != 0) return false;
    if (!same("n") || !same("a") || !same("b")) return false;
    const auto g = table.find("g");
    if (g == table.end() || g->second.size() != 128) return false;
    const std::string_view gt = g->second, ref_g = pelmo::sm2::default_ecc_table.at("g");
    const auto gx = try_parse(gt.substr(0, 64)), gy = try_parse(gt.substr(64));
    return gx && gy && *gx == parse_hex_int(ref_g.substr(0, 64)) &&
           *gy == parse_hex_int(ref_g.substr(64));
}

std::shared_ptr<Curve> parse_table(const EccTable& table) {
    auto c = std::make_shared<Curve>();
    c->table = table;
    c->para_len = c->entry("n").size();
    // (a + 3) mod p, reading a before p.
    const BigInt a = parse_hex_int(c->entry("a"), "curve parameter \"a\"");
    c->p = parse_hex_int(c->entry("p"), "curve parameter \"p\"");
    if (c->p == 0) throw std::domain_error("division by zero: curve parameter \"p\" is 0");
    mpz_fdiv_r(c->ecc_a3.get_mpz_t(), BigInt(a + 3).get_mpz_t(), c->p.get_mpz_t());
    c->n_value = try_entry(table, "n");
    // Residues are below p, so they fit when p - 1 has at most para_len digits.
    const BigInt top = c->p - 1;
    c->exact_width = top == 0 || mpz_sizeinbase(top.get_mpz_t(), 16) <= c->para_len;
    return c;
}

}  // namespace

const std::string& Curve::entry(const char* key) const {
    const auto it = table.find(key);
    if (it == table.end())
        throw std::out_of_range(std::string("curve table has no entry \"") + key + "\"");
    return it->second;
}

const BigInt& Curve::n() const {
    if (!n_value) parse_hex_int(entry("n"), "curve parameter \"n\"");  // throws
    return *n_value;
}

std::shared_ptr<const Curve> make_curve(const EccTable& table) {
    // The recommended table is by far the most common: parse it once per process.
    if (&table == &pelmo::sm2::default_ecc_table || table == pelmo::sm2::default_ecc_table) {
        static const std::shared_ptr<const Curve> shared = [] {
            auto c = parse_table(pelmo::sm2::default_ecc_table);
            c->recommended = true;
            return std::shared_ptr<const Curve>(std::move(c));
        }();
        return shared;
    }
    auto c = parse_table(table);
    c->recommended = is_recommended(table, *c);
    return c;
}

}  // namespace pelmo::detail::sm2
