// pelmo demo: a short guided tour of the library.
#include <iostream>
#include <string>

#include <pelmo/pelmo.hpp>

#include "commands.hpp"
#include "common/hex.hpp"

namespace pelmo::cli {

namespace {

ByteView as_bytes(std::string_view s) {
    return ByteView(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// Two parties agree on a 16-byte key over the SM2 key exchange and confirm it.
int demo_key_exchange() {
    std::cout << "SM2 key exchange (GB/T 32918.3) with key confirmation\n";
    crypt_managers::SM2Manager alice_keys, bob_keys;
    const std::string alice_pub = alice_keys.get_public_key(), bob_pub = bob_keys.get_public_key();
    const ByteView alice_id = as_bytes("alice@example.com"), bob_id = as_bytes("bob@example.com");
    sm2::SM2KeyExchange alice(alice_keys.get_private_key(), alice_pub, alice_id, bob_pub, bob_id,
                              true);
    sm2::SM2KeyExchange bob(bob_keys.get_private_key(), bob_pub, bob_id, alice_pub, alice_id,
                            false);
    std::cout << "  A (initiator, \"alice@example.com\") and B (responder, \"bob@example.com\")"
              << " know each other's public keys\n";
    const std::string R_a = alice.ephemeral();
    std::cout << "  A -> B  R_A = " << R_a.substr(0, 64) << "\n"
              << "                " << R_a.substr(64) << "\n";
    const std::string R_b = bob.ephemeral();
    const auto at_b = bob.compute(R_a, 16);
    if (!at_b) {
        std::cout << "  B: R_A is not usable\n";
        return 1;
    }
    std::cout << "  B -> A  R_B = " << R_b.substr(0, 64) << "\n"
              << "                " << R_b.substr(64) << "\n"
              << "          S_B = " << detail::to_hex(at_b->confirmation) << "\n";
    const auto at_a = alice.compute(R_b, 16);
    if (!at_a) {
        std::cout << "  A: R_B is not usable\n";
        return 1;
    }
    std::cout << "  A checks S_B: " << std::boolalpha
              << sm2::SM2KeyExchange::confirm(*at_a, at_b->confirmation) << "\n";
    std::cout << "  A -> B  S_A = " << detail::to_hex(at_a->confirmation) << "\n";
    std::cout << "  B checks S_A: " << sm2::SM2KeyExchange::confirm(*at_b, at_a->confirmation)
              << "\n";
    std::cout << "  K at A = " << detail::to_hex(at_a->key) << "\n"
              << "  K at B = " << detail::to_hex(at_b->key) << "\n";
    return at_a->key == at_b->key ? 0 : 1;
}

int run_demo() {
    std::cout << "pelmo: the SM commercial cryptography family\n\n";

    std::cout << "SM3 hash (GB/T 32905)\n";
    std::cout << "  sm3(\"abc\") = " << sm3::sm3_hash(as_bytes("abc")) << "\n";
    sm3::SM3 h;
    h.update("ab").update("c");
    std::cout << "  streamed in two parts      = " << h.hexdigest() << "\n";
    std::cout << "  kdf(\"abc\" digest, 16 bytes) = "
              << sm3::sm3_kdf(sm3::sm3_hash(as_bytes("abc")), 16) << "\n\n";

    std::cout << "SM4 (GB/T 32907), CBC with PKCS#7 under SM4Manager's fixed key\n";
    crypt_managers::SM4Manager box;
    const std::string secret = box.encrypt("SM4算法，对称加解密");
    std::cout << "  encrypt(\"SM4算法，对称加解密\") = " << secret << "\n";
    std::cout << "  decrypt(that)                 = " << box.decrypt(secret) << "\n\n";

    std::cout << "Helpers\n";
    std::cout << "  random_hex(32)         = " << func::random_hex(32) << "\n";
    const Bytes padded = func::pkcs7_padding(as_bytes("pelmo"));
    std::cout << "  pkcs7_padding(\"pelmo\") = " << padded.size() << " bytes, last byte "
              << int(padded.back()) << "\n\n";

    std::cout << "SM2 signatures (GB/T 32918) with SM2Manager\n";
    crypt_managers::SM2Manager manager;
    const std::string public_key = manager.get_public_key();
    std::cout << "  private key = " << manager.get_private_key() << "\n";
    std::cout << "  public key  = " << public_key.substr(0, 64) << "\n"
              << "                " << public_key.substr(64) << "\n";
    const std::string text = "pelmo 签名";
    const auto signature = manager.signature(text);
    if (!signature) {
        std::cout << "  no signature for this nonce; try again\n";
        return 1;
    }
    std::cout << "  signature of \"" << text << "\"\n"
              << "              = " << signature->substr(0, 64) << "\n"
              << "                " << signature->substr(64) << "\n";
    std::cout << "  validate(same text)  = " << std::boolalpha << manager.validate(*signature, text)
              << "\n";
    std::cout << "  validate(other text) = " << manager.validate(*signature, text + "!") << "\n";
    // The signer's key is among the two candidates that the signature allows.
    const auto candidates = manager.recover_public_keys(*signature, as_bytes(text));
    std::cout << "  recover_public_keys(signature, text): " << candidates.size()
              << " candidates, signer's key among them = " << candidates.contains(public_key)
              << "\n\n";

    std::cout << "SM2 encryption (GB/T 32918.4), C1 || C3 || C2\n";
    const sm2::CryptSM2 box2(manager.get_private_key(), public_key, sm2::default_ecc_table, 1);
    const std::string message = "pelmo 加密";
    const auto cipher = box2.encrypt(as_bytes(message));
    if (!cipher) {
        std::cout << "  no ciphertext for this k; try again\n";
        return 1;
    }
    const std::string cipher_hex = detail::to_hex(*cipher);
    std::cout << "  encrypt(\"" << message << "\") = " << cipher->size() << " bytes\n"
              << "    C1 = " << cipher_hex.substr(0, 64) << "\n"
              << "         " << cipher_hex.substr(64, 64) << "\n"
              << "    C3 = " << cipher_hex.substr(128, 64) << "\n"
              << "    C2 = " << cipher_hex.substr(192) << "\n";
    const auto plain = box2.decrypt(*cipher);
    std::cout << "  decrypt(that) = \""
              << (plain ? std::string(plain->begin(), plain->end()) : "(no value)") << "\"\n\n";
    return demo_key_exchange();
}

}  // namespace

void add_demo(CLI::App& app, Action& action) {
    auto* cmd = app.add_subcommand("demo", "A short tour of what pelmo does");
    cmd->callback([&action] { action = run_demo; });
}

}  // namespace pelmo::cli
