// SM4-GCM and SM4-CCM against Botan 2 under input-chosen parameters: where Botan offers the
// parameters, both seal the message alike and give the same verdict on it as a sealed input.
#include <pelmo/sm4.hpp>

#include <botan/aead.h>
#include <botan/exceptn.h>

#include <memory>
#include <stdexcept>
#include <string>

#include "fuzz_check.hpp"
#include "sm4_aead_input.hpp"

namespace s4 = pelmo::sm4;

namespace {

std::unique_ptr<Botan::AEAD_Mode> botan_mode(const AeadInput& in, Botan::Cipher_Dir dir) {
    const std::string name = in.gcm ? "SM4/GCM(" + std::to_string(in.tag_len) + ")"
                                    : "SM4/CCM(" + std::to_string(in.tag_len) + "," +
                                          std::to_string(15 - in.nonce.size()) + ")";
    try {
        auto m = Botan::AEAD_Mode::create_or_throw(name, dir);
        if (!m->valid_nonce_length(in.nonce.size())) return nullptr;
        m->set_key(in.key.data(), in.key.size());
        m->set_associated_data(in.aad.data(), in.aad.size());
        m->start(in.nonce.data(), in.nonce.size());
        return m;
    } catch (const Botan::Exception&) {
        return nullptr;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = parse_aead_input(data, size);
    if (!in) return 0;
    if (!in->gcm && (in->nonce.size() < 7 || in->nonce.size() > 13)) return 0;
    if (in->gcm && in->nonce.empty()) return 0;
    const auto enc = botan_mode(*in, Botan::ENCRYPTION);
    const auto dec = botan_mode(*in, Botan::DECRYPTION);
    if (!enc || !dec) return 0;
    const AeadSeal seal = aead_seal(*in);
    const AeadOpen open = aead_open(*in);
    Botan::secure_vector<std::uint8_t> buf(in->message.begin(), in->message.end());
    std::optional<pelmo::Bytes> ours;
    try {
        ours = seal(in->key, in->nonce, in->message, in->aad, in->tag_len);
    } catch (const std::invalid_argument&) {
        return 0;  // the tag length is not one of pelmo's (Botan's are a superset for GCM)
    }
    enc->finish(buf);
    FUZZ_CHECK(*ours == pelmo::Bytes(buf.begin(), buf.end()));

    // The message as a sealed input: the same verdict, the same plaintext.
    const auto opened = open(in->key, in->nonce, in->message, in->aad, in->tag_len);
    Botan::secure_vector<std::uint8_t> theirs(in->message.begin(), in->message.end());
    bool botan_ok = true;
    try {
        dec->finish(theirs);
    } catch (const Botan::Exception&) {
        botan_ok = false;
    }
    FUZZ_CHECK(opened.has_value() == botan_ok);
    if (opened) FUZZ_CHECK(*opened == pelmo::Bytes(theirs.begin(), theirs.end()));
    return 0;
}
