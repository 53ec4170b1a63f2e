// Reading label text, UTF-8, one code point at a time; shared by the label text of both
// platforms so that they read the same bytes as the same characters.
#pragma once

#include <cstddef>
#include <string_view>

namespace qv {

// Next code point of UTF-8 text; a malformed byte stands for itself (Latin-1), so no text can
// stop the drawing.
inline char32_t NextCodePoint(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    const int extra = lead >= 0xF0 && lead < 0xF8   ? 3
                      : lead >= 0xE0 && lead < 0xF0 ? 2
                      : lead >= 0xC0 && lead < 0xE0 ? 1
                                                    : 0;
    if (extra == 0 || i + extra >= text.size()) {
        ++i;
        return lead;
    }
    char32_t code = lead & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return lead;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
    }
    i += 1 + extra;
    return code;
}

}  // namespace qv
