// Escaping is byte-exact and reversible by eye: "\n" for a line feed,
// "\x1b" for ESC, "\u202e" for a right-to-left override.
#include "common/log_text.h"

#include <cstdint>

namespace nb {

namespace {

constexpr char k_hex[] = "0123456789abcdef";

void append_byte_escape(std::string& out, uint8_t byte) {
    out += "\\x";
    out.push_back(k_hex[byte >> 4]);
    out.push_back(k_hex[byte & 0x0F]);
}

void append_code_point_escape(std::string& out, uint32_t code_point) {
    out += "\\u";
    for (int shift = 12; shift >= 0; shift -= 4) out.push_back(k_hex[(code_point >> shift) & 0x0F]);
}

// Length of the well-formed UTF-8 sequence at `at` (overlong forms and
// surrogates refused) and its code point; 0 when the bytes are not UTF-8.
size_t utf8_sequence(std::string_view text, size_t at, uint32_t& code_point) {
    const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[at + i]); };
    const uint8_t lead = byte(0);
    size_t length = 0;
    uint32_t minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, code_point = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, code_point = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, code_point = lead & 0x07u;
    } else {
        return 0;
    }
    if (at + length > text.size()) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        code_point = code_point << 6 | (byte(i) & 0x3Fu);
    }
    if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) return 0;
    return length;
}

// C1 controls (some terminals act on U+009B as on ESC [) and the format
// characters that could make a log line read differently from its bytes.
bool shown_escaped(uint32_t code_point) {
    return (code_point >= 0x80 && code_point <= 0x9F) || (code_point >= 0x2028 && code_point <= 0x202E) ||
           (code_point >= 0x2066 && code_point <= 0x2069);
}

}  // namespace

std::string log_safe(std::string_view text, size_t max_bytes) {
    std::string out;
    out.reserve(text.size() < max_bytes ? text.size() : max_bytes);
    size_t at = 0;
    std::string piece;
    while (at < text.size()) {
        piece.clear();
        const auto byte = static_cast<uint8_t>(text[at]);
        size_t consumed = 1;
        if (byte == '\\') {
            piece = "\\\\";
        } else if (byte == '\n') {
            piece = "\\n";
        } else if (byte == '\r') {
            piece = "\\r";
        } else if (byte == '\t') {
            piece = "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            append_byte_escape(piece, byte);
        } else if (byte < 0x80) {
            piece.push_back(static_cast<char>(byte));
        } else {
            uint32_t code_point = 0;
            consumed = utf8_sequence(text, at, code_point);
            if (consumed == 0) {
                consumed = 1;
                append_byte_escape(piece, byte);
            } else if (shown_escaped(code_point)) {
                append_code_point_escape(piece, code_point);
            } else {
                piece.assign(text.substr(at, consumed));
            }
        }
        if (out.size() + piece.size() > max_bytes) {
            out += "...(" + std::to_string(text.size() - at) + " more bytes)";
            return out;
        }
        out += piece;
        at += consumed;
    }
    return out;
}

}  // namespace nb
