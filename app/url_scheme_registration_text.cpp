#include "app/url_scheme_registration_text.h"

#include <cstdint>
#include <vector>

namespace nb {

namespace {

constexpr std::string_view k_reserved = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view k_default_group = "[Default Applications]";

bool valid_utf8(std::string_view text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<uint8_t>(text[i]);
        size_t length = 0;
        uint32_t code = 0;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2;
            code = lead & 0x1F;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3;
            code = lead & 0x0F;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4;
            code = lead & 0x07;
        } else {
            return false;
        }
        if (i + length > text.size()) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto next = static_cast<uint8_t>(text[i + k]);
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode are not UTF-8.
        constexpr uint32_t k_smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < k_smallest[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view k_blank = " \t\r";
    const size_t first = text.find_first_not_of(k_blank);
    if (first == std::string_view::npos) return {};
    return text.substr(first, text.find_last_not_of(k_blank) - first + 1);
}

bool is_group_header(std::string_view line) {
    const auto text = trimmed(line);
    return text.size() >= 2 && text.front() == '[' && text.back() == ']';
}

bool has_key(std::string_view line, std::string_view key) {
    const size_t equals = line.find('=');
    return equals != std::string_view::npos && trimmed(line.substr(0, equals)) == key;
}

}  // namespace

std::optional<std::string> desktop_exec_program(std::string_view path) {
    if (path.empty() || !valid_utf8(path) || path.find('=') != std::string_view::npos) return std::nullopt;
    const bool quoted = path.find_first_of(k_reserved) != std::string_view::npos;
    // Two layers: the Exec quoting first, then the escapes every string value
    // of the file takes, which is how "\\$" ends up meaning a literal "$".
    std::string argument;
    for (const char c : path) {
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) argument += '\\';
        if (c == '%') argument += '%';  // a lone "%" would start a field code
        argument += c;
    }
    std::string value = quoted ? "\"" : "";
    for (const char c : argument) {
        switch (c) {
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default:
                if (static_cast<uint8_t>(c) < 0x20 || c == 0x7F) return std::nullopt;
                value += c;
        }
    }
    if (quoted) value += '"';
    return value;
}

std::optional<std::string> scheme_desktop_entry(std::string_view target) {
    const auto program = desktop_exec_program(target);
    if (!program) return std::nullopt;
    std::string entry = "[Desktop Entry]\nType=Application\nName=Nubora\n";
    entry += "Exec=" + *program + " %u\n";
    entry += "MimeType=" + std::string(k_scheme_mime_type) + ";\n";
    entry += "NoDisplay=true\nTerminal=false\n";
    return entry;
}

std::string with_default_handler(std::string_view mimeapps, std::string_view mime_type,
                                 std::string_view desktop_id) {
    const std::string handler = std::string(mime_type) + "=" + std::string(desktop_id);
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < mimeapps.size();) {
        const size_t end = mimeapps.find('\n', start);
        if (end == std::string_view::npos) {
            lines.push_back(mimeapps.substr(start));
            break;
        }
        lines.push_back(mimeapps.substr(start, end - start));
        start = end + 1;
    }

    std::string out;
    bool in_defaults = false;
    bool seen_defaults = false;
    bool written = false;
    for (const auto line : lines) {
        if (is_group_header(line)) {
            in_defaults = trimmed(line) == k_default_group;
            out.append(line).append("\n");
            if (in_defaults && !written) {
                out.append(handler).append("\n");
                written = true;
            }
            seen_defaults = seen_defaults || in_defaults;
            continue;
        }
        // Earlier defaults for the type give way to ours, written above.
        if (in_defaults && has_key(line, mime_type)) continue;
        out.append(line).append("\n");
    }
    if (!seen_defaults) {
        if (!out.empty() && out != "\n" && !out.ends_with("\n\n")) out += "\n";
        out.append(k_default_group).append("\n").append(handler).append("\n");
    }
    return out;
}

}  // namespace nb
