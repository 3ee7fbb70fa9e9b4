// A typical program: includes <pelmo/pelmo.hpp>, hashes, signs and encrypts texts.
#include <pelmo/pelmo.hpp>

#include <iostream>

int main() {
    std::cout << "pelmo " << pelmo::version() << '\n';
    std::cout << pelmo::sm3::sm3_hash("abc") << '\n';
    const auto [d, pub] = pelmo::sm2::CryptSM2::generate_key_pair();
    const pelmo::sm2::CryptSM2 signer(d, pub);
    const auto sig = signer.sign_with_sm3(std::string("message"));
    const bool ok = sig && pelmo::sm2::CryptSM2(std::nullopt, pub).verify_with_sm3(*sig, "message");
    std::cout << (ok ? "signed and verified" : "signature FAILED") << '\n';
    const pelmo::Bytes key(16, 0x42), iv(16, 0x24);
    pelmo::crypt_managers::SM4Manager box(key, iv);
    std::cout << box.decrypt(box.encrypt("你好")) << '\n';
    return ok ? 0 : 1;
}
