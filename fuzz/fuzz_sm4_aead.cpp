// SM4-GCM and SM4-CCM under input-chosen keys, nonces, tag lengths, AAD and messages: bad
// parameters are std::invalid_argument and nothing else; what is sealed opens to the message;
// a sealed message with one bit flipped, or opened under other AAD, never opens; and any input
// that opens is exactly the sealing of what it opened to.
#include <pelmo/sm4.hpp>

#include <stdexcept>

#include "fuzz_check.hpp"
#include "sm4_aead_input.hpp"

namespace s4 = pelmo::sm4;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto in = parse_aead_input(data, size);
    if (!in) return 0;
    const AeadSeal seal = aead_seal(*in);
    const AeadOpen open = aead_open(*in);

    // The message as a sealed input: either it fails or it is the sealing of its plaintext.
    try {
        const auto opened = open(in->key, in->nonce, in->message, in->aad, in->tag_len);
        if (opened) {
            const pelmo::Bytes again = seal(in->key, in->nonce, *opened, in->aad, in->tag_len);
            FUZZ_CHECK(again == pelmo::Bytes(in->message.begin(), in->message.end()));
        }
    } catch (const std::invalid_argument&) {
    }

    pelmo::Bytes sealed;
    try {
        sealed = seal(in->key, in->nonce, in->message, in->aad, in->tag_len);
    } catch (const std::invalid_argument&) {
        return 0;  // a bad nonce or tag length (or a CCM message too long for its nonce)
    }
    FUZZ_CHECK(sealed.size() == in->message.size() + in->tag_len);
    const auto back = open(in->key, in->nonce, sealed, in->aad, in->tag_len);
    FUZZ_CHECK(back && *back == pelmo::Bytes(in->message.begin(), in->message.end()));

    pelmo::Bytes bad = sealed;
    const std::size_t at = (in->flip * 131u) % bad.size();
    bad[at] ^= static_cast<std::uint8_t>(1u << (in->flip % 8));
    FUZZ_CHECK(!open(in->key, in->nonce, bad, in->aad, in->tag_len));
    pelmo::Bytes other_aad(in->aad.begin(), in->aad.end());
    other_aad.push_back(in->flip);
    FUZZ_CHECK(!open(in->key, in->nonce, sealed, other_aad, in->tag_len));
    // Streaming opening agrees, split where the flip byte says.
    s4::SM4AeadOpen o(in->gcm ? s4::SM4AeadSeal::GCM : s4::SM4AeadSeal::CCM, in->key, in->nonce,
                      in->aad, in->tag_len, sealed.size());
    const std::size_t cut = in->flip % (sealed.size() + 1);
    pelmo::Bytes got = o.update_unverified(pelmo::ByteView(sealed).first(cut));
    const pelmo::Bytes rest = o.update_unverified(pelmo::ByteView(sealed).subspan(cut));
    got.insert(got.end(), rest.begin(), rest.end());
    FUZZ_CHECK(o.finish() && got == *back);
    return 0;
}
