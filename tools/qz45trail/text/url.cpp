// Percent-encoding both ways, forms and request targets.
#include "url.h"

namespace qz45trail {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string UrlDecode(const std::string &text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

std::map<std::string, std::string> ParseForm(const std::string &encoded) {
    std::map<std::string, std::string> fields;
    std::size_t at = 0;
    while (at <= encoded.size()) {
        std::size_t end = encoded.find('&', at);
        if (end == std::string::npos) end = encoded.size();
        const std::string pair = encoded.substr(at, end - at);
        if (!pair.empty()) {
            const std::size_t eq = pair.find('=');
            const std::string name = UrlDecode(pair.substr(0, eq));
            fields[name] = eq == std::string::npos ? "" : UrlDecode(pair.substr(eq + 1));
        }
        at = end + 1;
    }
    return fields;
}

std::string UrlEncode(const std::string &text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~')
            out.push_back(static_cast<char>(c));
        else
            out += {'%', kDigits[c >> 4], kDigits[c & 15]};
    }
    return out;
}

std::string TargetPath(const std::string &target) { return target.substr(0, target.find('?')); }

std::string TargetQuery(const std::string &target) {
    const std::size_t q = target.find('?');
    return q == std::string::npos ? "" : target.substr(q + 1);
}

}  // namespace qz45trail
