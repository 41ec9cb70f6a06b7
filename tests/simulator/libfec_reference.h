// The receiver's decoding done with libfec directly, as an independent check
// of the encoder: Viterbi (polynomials 0x6D, 0x4F; hard decisions; start and
// end state 0) and Reed-Solomon for a k-byte payload.
#pragma once

#include "simulator/encoder.h"

// libfec's header has no C++ linkage block of its own.
extern "C" {
#include <fec.h>
}

#include <cstddef>
#include <vector>

namespace libfec_reference {

using sondrel::Bytes;

// The n data bytes behind 2n + 2 code bytes.
inline Bytes viterbi(const Bytes& code, std::size_t n) {
    int polys[2] = {0x6D, 0x4F};
    set_viterbi27_polynomial(polys);
    std::vector<unsigned char> symbols(16 * n + 12);
    for (std::size_t i = 0; i < symbols.size(); ++i) {
        symbols[i] = (code[i / 8] >> (7 - i % 8)) & 1 ? 255 : 0;
    }
    void* v = create_viterbi27(static_cast<int>(8 * n));
    init_viterbi27(v, 0);
    update_viterbi27_blk(v, symbols.data(), static_cast<int>(8 * n + 6));
    Bytes out(n);
    chainback_viterbi27(v, out.data(), static_cast<unsigned>(8 * n), 0);
    delete_viterbi27(v);
    return out;
}

// libfec's result for a codeword with a payload of the given length
// (corrected symbols, or negative); corrected gets the codeword after decoding.
inline int rs_decode(Bytes codeword, std::size_t payload, Bytes* corrected = nullptr) {
    void* rs = init_rs_char(8, 0x187, 112, 11, 16, static_cast<int>(239 - payload));
    int result = decode_rs_char(rs, codeword.data(), nullptr, 0);
    free_rs_char(rs);
    if (corrected) {
        *corrected = codeword;
    }
    return result;
}

} // namespace libfec_reference
