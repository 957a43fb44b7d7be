// vtu_arrays.h - the binary DataArrays of the emulator's VTU files, read
// back for the tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace vtest {

// The values of the binary DataArray called `name` (base64 of a 64-bit
// byte count and the little-endian values) as type T; empty when missing
// or when the count does not match the data.
template <class T = double>
std::vector<T> binaryArray(const std::string &vtu, const std::string &name) {
    const size_t at = vtu.find("Name=\"" + name + "\"");
    if (at == std::string::npos) return {};
    const size_t from = vtu.find('\n', at) + 1, to = vtu.find('\n', from);
    std::vector<unsigned char> raw;
    uint32_t acc = 0;
    int bits = 0;
    for (size_t i = from; i < to && vtu[i] != '='; ++i) {
        const char c = vtu[i];
        const int d = c >= 'A' && c <= 'Z'   ? c - 'A'
                      : c >= 'a' && c <= 'z' ? c - 'a' + 26
                      : c >= '0' && c <= '9' ? c - '0' + 52
                      : c == '+'             ? 62
                                             : 63;
        acc = (acc << 6) | uint32_t(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            raw.push_back(static_cast<unsigned char>(acc >> bits));
        }
    }
    if (raw.size() < 8) return {};
    uint64_t bytes = 0;
    for (int b = 7; b >= 0; --b)
        bytes = bytes << 8 | raw[size_t(b)];
    if (raw.size() != 8 + bytes || bytes % sizeof(T)) return {};
    std::vector<T> v(bytes / sizeof(T));
    std::memcpy(v.data(), raw.data() + 8, bytes);
    return v;
}

} // namespace vtest
