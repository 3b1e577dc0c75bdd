#include "internal/registry_format.h"

#include <cstdio>
#include <cstring>

#include "platform/base/strings.h"
#include "platform/io/registry.h"

namespace platform::detail {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";

struct RootName {
    const char* longName;
    const char* shortName;
};
constexpr RootName kRoots[] = {{"HKEY_LOCAL_MACHINE", "HKLM"},
                               {"HKEY_CURRENT_USER", "HKCU"},
                               {"HKEY_CLASSES_ROOT", "HKCR"},
                               {"HKEY_USERS", "HKU"}};

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
        s.remove_suffix(1);
    return s;
}

bool IEquals(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'a' && x <= 'z') x = static_cast<char>(x - 32);
        if (y >= 'a' && y <= 'z') y = static_cast<char>(y - 32);
        if (x != y) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

RegKey& EnsureKey(RegKeyMap& keys, const std::u16string& path) {
    size_t pos = 0;
    RegKey* key = nullptr;
    for (;;) {
        size_t next = path.find(u'\\', pos);
        std::u16string part = path.substr(0, next);
        auto [it, added] = keys.try_emplace(FoldName(part));
        if (added) it->second.path = part;
        key = &it->second;
        if (next == std::u16string::npos) break;
        pos = next + 1;
    }
    return *key;
}

namespace {

// "[HKEY_LOCAL_MACHINE\A\B]" contents to a full path with the root's long name.
bool ParseKeyPath(std::string_view inner, std::u16string& path, std::string& why) {
    size_t slash = inner.find('\\');
    std::string_view root = inner.substr(0, slash);
    const char* longName = nullptr;
    for (const RootName& r : kRoots)
        if (IEquals(root, r.longName) || IEquals(root, r.shortName)) longName = r.longName;
    if (!longName) {
        why = "unknown root key";
        return false;
    }
    path = FromUtf8(longName);
    if (slash == std::string_view::npos) return true;
    std::string_view rest = inner.substr(slash + 1);
    if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
    for (;;) {
        size_t next = rest.find('\\');
        std::string_view part = rest.substr(0, next);
        if (part.empty()) {
            why = "empty key name";
            return false;
        }
        path += u'\\';
        path += FromUtf8(part);
        if (next == std::string_view::npos) return true;
        rest.remove_prefix(next + 1);
    }
}

// A quoted string at the start of s with \\ and \" escapes; s is advanced past it.
bool ParseQuoted(std::string_view& s, std::string& out) {
    if (s.empty() || s.front() != '"') return false;
    for (size_t i = 1; i < s.size(); ++i) {
        char c = s[i];
        if (c == '\\' && i + 1 < s.size() && (s[i + 1] == '\\' || s[i + 1] == '"')) {
            out += s[++i];
        } else if (c == '"') {
            s.remove_prefix(i + 1);
            return true;
        } else {
            out += c;
        }
    }
    return false;
}

bool ParseHexBytes(std::string_view s, std::vector<BYTE>& out) {
    s = Trim(s);
    if (s.empty()) return true;
    for (;;) {
        std::string_view item = Trim(s.substr(0, s.find(',')));
        if (item.size() != 2 && item.size() != 1) return false;
        int value = 0;
        for (char c : item) {
            int d = HexDigit(c);
            if (d < 0) return false;
            value = value * 16 + d;
        }
        out.push_back(static_cast<BYTE>(value));
        size_t comma = s.find(',');
        if (comma == std::string_view::npos) return true;
        s.remove_prefix(comma + 1);
    }
}

bool ParseData(std::string_view s, RegValue& value, std::string& why) {
    s = Trim(s);
    if (!s.empty() && s.front() == '"') {
        std::string text;
        if (!ParseQuoted(s, text) || !Trim(s).empty()) {
            why = "unterminated or malformed text";
            return false;
        }
        value.type = REG_SZ;
        value.data = StringData(FromUtf8(text));
        return true;
    }
    if (s.substr(0, 6) == "dword:") {
        std::string_view digits = s.substr(6);
        if (digits.empty() || digits.size() > 8) {
            why = "malformed dword";
            return false;
        }
        DWORD v = 0;
        for (char c : digits) {
            int d = HexDigit(c);
            if (d < 0) {
                why = "malformed dword";
                return false;
            }
            v = v * 16 + static_cast<DWORD>(d);
        }
        value.type = REG_DWORD;
        value.data.resize(4);
        std::memcpy(value.data.data(), &v, 4);
        return true;
    }
    if (s.substr(0, 4) == "hex:" || s.substr(0, 4) == "hex(") {
        value.type = REG_BINARY;
        size_t colon = s.find(':');
        if (s[3] == '(') {
            size_t close = s.find(')');
            if (close == std::string_view::npos || close + 1 != colon || close == 4 || close > 12) {
                why = "malformed hex type";
                return false;
            }
            DWORD type = 0;
            for (char c : s.substr(4, close - 4)) {
                int d = HexDigit(c);
                if (d < 0) {
                    why = "malformed hex type";
                    return false;
                }
                type = type * 16 + static_cast<DWORD>(d);
            }
            value.type = type;
        }
        if (!ParseHexBytes(s.substr(colon + 1), value.data)) {
            why = "malformed hex bytes";
            return false;
        }
        return true;
    }
    why = "unknown value form";
    return false;
}

// A value line; name and data go to value.
bool ParseValueLine(std::string_view line, RegValue& value, std::string& why) {
    std::string name;
    if (line.front() == '@') {
        line.remove_prefix(1);
    } else if (!ParseQuoted(line, name)) {
        why = "unterminated value name";
        return false;
    }
    line = Trim(line);
    if (line.empty() || line.front() != '=') {
        why = "missing '='";
        return false;
    }
    value.name = FromUtf8(name);
    return ParseData(line.substr(1), value, why);
}

void SetValue(RegKey& key, RegValue value) {
    std::u16string folded = FoldName(value.name);
    for (RegValue& v : key.values) {
        if (FoldName(v.name) == folded) {
            v = std::move(value);
            return;
        }
    }
    key.values.push_back(std::move(value));
}

std::string Quote(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

// REG_SZ data that the quoted form carries exactly: terminated, no inner zero or line
// break, and text that survives the trip through UTF-8.
bool IsPlainText(const RegValue& v, std::u16string& text) {
    if (v.type != REG_SZ || v.data.size() < 2 || v.data.size() % 2 != 0) return false;
    text = DataString(v.data);
    if ((text.size() + 1) * 2 != v.data.size()) return false;
    if (text.find_first_of(u"\r\n") != std::u16string::npos) return false;
    return FromUtf8(ToUtf8(text)) == text;
}

std::string FormatHex(const std::string& prefix, const std::vector<BYTE>& data) {
    std::string out = prefix;
    size_t column = prefix.size();
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02x", data[i]);
        out += buf;
        column += 2;
        if (i + 1 < data.size()) {
            out += ',';
            ++column;
            // Long lists continue on the next line, as the export format does.
            if (column > 76) {
                out += "\\\n  ";
                column = 2;
            }
        }
    }
    return out;
}

std::string FormatValue(const RegValue& v) {
    std::string line = v.name.empty() ? "@=" : Quote(ToUtf8(v.name)) + "=";
    std::u16string text;
    if (IsPlainText(v, text)) return line + Quote(ToUtf8(text));
    if (v.type == REG_DWORD && v.data.size() == 4) {
        DWORD d;
        std::memcpy(&d, v.data.data(), 4);
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", d);
        return line + buf;
    }
    if (v.type == REG_BINARY) return FormatHex(line + "hex:", v.data);
    char type[24];
    std::snprintf(type, sizeof type, "hex(%x):", v.type);
    return FormatHex(line + type, v.data);
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string out(name);
    for (char16_t& c : out) {
        if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) c += 32;
    }
    return out;
}

void AddRootKeys(RegKeyMap& keys) {
    for (const RootName& r : kRoots) EnsureKey(keys, FromUtf8(r.longName));
}

std::vector<BYTE> StringData(std::u16string_view text) {
    std::vector<BYTE> data((text.size() + 1) * 2, 0);
    std::memcpy(data.data(), text.data(), text.size() * 2);
    return data;
}

std::u16string DataString(const std::vector<BYTE>& data) {
    std::u16string text(data.size() / 2, u'\0');
    std::memcpy(text.data(), data.data(), text.size() * 2);
    size_t zero = text.find(u'\0');
    if (zero != std::u16string::npos) text.resize(zero);
    return text;
}

RegParseResult ParseRegText(std::string_view text) {
    RegParseResult result;
    AddRootKeys(result.keys);
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    RegKey* current = nullptr;
    bool headerSeen = false;
    bool skipping = false;  // after a bad key header, its values have no home
    size_t lineNo = 0;
    auto problem = [&](size_t n, const std::string& why) {
        result.problems.push_back("line " + std::to_string(n) + ": " + why);
    };
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string logical(Trim(text.substr(0, end)));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        size_t first = ++lineNo;
        // Hex lists may continue over several lines, each ending with a backslash.
        while (logical.find("=hex") != std::string::npos && !logical.empty() &&
               logical.back() == '\\' && !text.empty()) {
            logical.pop_back();
            end = text.find('\n');
            logical += Trim(text.substr(0, end));
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++lineNo;
        }
        std::string_view line = logical;
        if (line.empty() || line.front() == ';') continue;
        if (!headerSeen) {
            headerSeen = true;
            if (line == kHeader) continue;
            problem(first, "missing the line \"" + std::string(kHeader) + "\"");
        }
        std::string why;
        if (line.front() == '[') {
            std::u16string path;
            if (line.back() != ']') {
                why = "malformed key line";
            } else if (ParseKeyPath(line.substr(1, line.size() - 2), path, why)) {
                current = &EnsureKey(result.keys, path);
                skipping = false;
                continue;
            }
            problem(first, why);
            current = nullptr;
            skipping = true;
            continue;
        }
        if (line.front() != '"' && line.front() != '@') {
            problem(first, "not a key or value line");
            continue;
        }
        RegValue value;
        if (!ParseValueLine(line, value, why)) {
            problem(first, why);
        } else if (!current) {
            if (!skipping) problem(first, "value outside a key");
        } else {
            SetValue(*current, std::move(value));
        }
    }
    // An empty file is no registry either: it is kept as damaged rather than replaced.
    if (!headerSeen) problem(1, "empty file, missing the line \"" + std::string(kHeader) + "\"");
    return result;
}

std::string FormatRegText(const RegKeyMap& keys) {
    std::string out(kHeader);
    out += "\n";
    for (const auto& [folded, key] : keys) {
        bool isRoot = key.path.find(u'\\') == std::u16string::npos;
        if (isRoot && key.values.empty()) continue;
        out += "\n[" + ToUtf8(key.path) + "]\n";
        for (const RegValue& v : key.values) out += FormatValue(v) + "\n";
    }
    return out;
}

}  // namespace platform::detail
