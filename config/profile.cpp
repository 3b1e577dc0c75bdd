#include "config/profile.h"

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "config/module_path.h"
#include "platform/base/strings.h"
#include "platform/io/file_guard.h"
#include "platform/io/file_identity.h"
#include "platform/io/files.h"
#include "platform/io/textfile.h"

namespace {

// A piece is read with fgetws into a buffer of this many characters: at most 254
// characters and the terminating NUL.
constexpr int kPieceRead = 255;
constexpr int kLineBuffer = 256;

bool IsComment(const WCHAR* line) {
    return line[0] == TEXT(';');
}
bool IsHeader(const WCHAR* line) {
    return line[0] == TEXT('[');
}

// "[" + section + "]", whatever follows. Equality over n characters guarantees that
// line[n + 1] still lies within the piece.
bool HeaderMatches(const WCHAR* line, const WCHAR* section, size_t n) {
    return IsHeader(line) && wcsncmp(line + 1, section, n) == 0 && line[n + 1] == TEXT(']');
}

// The value of an entry "key=value", or null when the line is no entry of that key.
const WCHAR* EntryValue(const WCHAR* line, const WCHAR* key, size_t m) {
    if (wcsncmp(line, key, m) != 0 || line[m] != TEXT('=')) return nullptr;
    return line + m + 1;
}

bool ReadPiece(FILE* in, WCHAR* line) {
    line[0] = 0;
    return fgetws(line, kPieceRead, in) != nullptr;
}

// --- Reading -------------------------------------------------------------------------

bool FindSection(FILE* in, WCHAR* line, const WCHAR* section) {
    const size_t n = wcslen(section);
    while (ReadPiece(in, line)) {
        if (!IsComment(line) && HeaderMatches(line, section, n)) return true;
    }
    return false;
}

// The value of the section's first entry for key, pointing into line; null when the
// section or the file ends first.
const WCHAR* FindEntry(FILE* in, WCHAR* line, const WCHAR* key) {
    const size_t m = wcslen(key);
    while (ReadPiece(in, line)) {
        if (IsComment(line)) continue;
        if (IsHeader(line)) return nullptr;
        if (const WCHAR* value = EntryValue(line, key, m)) return value;
    }
    return nullptr;
}

int StoreText(const WCHAR* value, WCHAR* result, int capacity) {
    std::memset(result, 0, static_cast<size_t>(capacity) * sizeof(WCHAR));
    size_t len = wcslen(value);
    if (len > 0 && value[len - 1] == TEXT('\n')) --len;
    if (len > static_cast<size_t>(capacity - 1)) len = static_cast<size_t>(capacity - 1);
    std::memcpy(result, value, len * sizeof(WCHAR));
    return PROFILE_OK;
}

// Numbers are stored with memcpy: the caller's buffer need not be aligned for the type.
int StoreValue(const WCHAR* value, void* result, int capacity, int type) {
    if (type == PROFILE_TYPE_INT) {
        std::int32_t number = 0;
        std::memcpy(result, &number, sizeof number);
        if (value[0] == 0) return PROFILE_E_EMPTY_VALUE;
        number = static_cast<std::int32_t>(_wtol(value));
        std::memcpy(result, &number, sizeof number);
        return PROFILE_OK;
    }
    if (type == PROFILE_TYPE_DOUBLE) {
        double number = 0.0;
        std::memcpy(result, &number, sizeof number);
        if (value[0] == 0) return PROFILE_E_EMPTY_VALUE;
        number = wcstod(value, nullptr);
        std::memcpy(result, &number, sizeof number);
        return PROFILE_OK;
    }
    return StoreText(value, static_cast<WCHAR*>(result), capacity);
}

// --- Rewriting -----------------------------------------------------------------------

template <typename Number>
std::basic_string<WCHAR> DecimalText(Number number) {
    char digits[40];
    // Shortest form that reads back to the same value (for double) or plain decimal.
    const std::to_chars_result done = std::to_chars(digits, digits + sizeof digits, number);
    return std::basic_string<WCHAR>(digits, done.ptr);
}

// "key=value\n", or empty when it would not be one piece that reads back whole: a line
// longer than a piece would be split by the next read and leave its tail behind as a line
// of its own, and a line feed inside would start a line of the caller's choosing.
std::basic_string<WCHAR> ComposeEntry(const WCHAR* key, const void* value, int type) {
    std::basic_string<WCHAR> line(key);
    line += TEXT('=');
    if (type == PROFILE_TYPE_INT) {
        std::int32_t number = 0;
        std::memcpy(&number, value, sizeof number);
        line += DecimalText(number);
    } else if (type == PROFILE_TYPE_DOUBLE) {
        double number = 0.0;
        std::memcpy(&number, value, sizeof number);
        line += DecimalText(number);
    } else {
        line += static_cast<const WCHAR*>(value);
    }
    if (line.find(TEXT('\n')) != std::basic_string<WCHAR>::npos) return {};
    line += TEXT('\n');
    if (line.size() > static_cast<size_t>(PROFILE_MAX_ENTRY_LINE)) return {};
    return line;
}

struct Copy {
    FILE* in;
    FILE* out;
    WCHAR* line;  // the piece just read, in one of pieces
    WCHAR pieces[2][kLineBuffer];
    // The last piece written, kept whole until the end: the next read goes into the other
    // buffer. How it ends is looked at only once the file has ended, rather than measuring
    // every piece. Null while nothing is written.
    const WCHAR* lastWritten;
};

bool Next(Copy& copy) {
    copy.line = copy.lastWritten == copy.pieces[0] ? copy.pieces[1] : copy.pieces[0];
    return ReadPiece(copy.in, copy.line);
}

bool Emit(Copy& copy, const WCHAR* text) {
    if (fputws(text, copy.out) < 0) return false;
    if (text[0] != 0) copy.lastWritten = text;
    return true;
}

// Whether the last piece written ended with a line feed (nothing written counts as ended).
bool LastLineEnded(const Copy& copy) {
    if (copy.lastWritten == nullptr) return true;
    return copy.lastWritten[wcslen(copy.lastWritten) - 1] == TEXT('\n');
}

// Copies the file up to and including the section's header. A read error is not the end
// of the file: treating it so would put a truncated copy in the file's place.
int CopyThroughHeader(Copy& copy, const WCHAR* section) {
    const size_t n = wcslen(section);
    while (Next(copy)) {
        if (!Emit(copy, copy.line)) return PROFILE_E_TEMP_WRITE;
        if (HeaderMatches(copy.line, section, n)) return PROFILE_OK;
    }
    return ferror(copy.in) ? PROFILE_E_OPEN : PROFILE_E_WRITE_NO_SECTION;
}

enum class SectionEnd { Entry, Header, EndOfFile };

// Copies the section's lines up to its first entry for key (dropped) or the next header
// (held back in copy.line).
SectionEnd CopySectionBody(Copy& copy, const WCHAR* key, int& rc) {
    const size_t m = wcslen(key);
    while (Next(copy)) {
        if (!IsComment(copy.line)) {
            if (IsHeader(copy.line)) return SectionEnd::Header;
            if (EntryValue(copy.line, key, m) != nullptr) return SectionEnd::Entry;
        }
        if (!Emit(copy, copy.line)) {
            rc = PROFILE_E_TEMP_WRITE;
            return SectionEnd::EndOfFile;
        }
    }
    if (ferror(copy.in)) rc = PROFILE_E_OPEN;
    return SectionEnd::EndOfFile;
}

int CopyRest(Copy& copy) {
    while (Next(copy)) {
        if (!Emit(copy, copy.line)) return PROFILE_E_TEMP_WRITE;
    }
    return ferror(copy.in) ? PROFILE_E_OPEN : PROFILE_OK;
}

int CopyWithEntry(Copy& copy, const WCHAR* section, const WCHAR* key, const WCHAR* entry) {
    int rc = CopyThroughHeader(copy, section);
    if (rc != PROFILE_OK) return rc;
    const SectionEnd end = CopySectionBody(copy, key, rc);
    if (rc != PROFILE_OK) return rc;
    // A last line without a line feed is ended first, so that the new entry is not glued
    // to it.
    if (end == SectionEnd::EndOfFile && !LastLineEnded(copy) && !Emit(copy, TEXT("\n")))
        return PROFILE_E_TEMP_WRITE;
    if (!Emit(copy, entry)) return PROFILE_E_TEMP_WRITE;
    if (end == SectionEnd::Header && !Emit(copy, copy.line)) return PROFILE_E_TEMP_WRITE;
    return CopyRest(copy);
}

int CopyFileWithEntry(LPCWSTR path, FILE* out, const WCHAR* section, const WCHAR* key,
                      const WCHAR* entry) {
    Copy copy{};
    copy.in = _wfopen(path, TEXT("r"));
    if (copy.in == nullptr) return PROFILE_E_OPEN;
    copy.out = out;
    const int rc = CopyWithEntry(copy, section, key, entry);
    fclose(copy.in);
    return rc;
}

// Puts the finished copy in the file's place in one step, so that the old or the new file
// is always there, complete, also across file systems. Through a symbolic link the file it
// leads to is replaced, so the link stays. Only the copy made here is moved: a name that
// another program has pointed elsewhere meanwhile fails the rewrite.
int ReplaceWithCopy(FILE* copy, LPCWSTR tempPath, LPCWSTR target) {
    if (!platform::PathNamesStream(tempPath, copy)) return PROFILE_E_REPLACE;
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH;
    return MoveFileExW(tempPath, target, flags) ? PROFILE_OK : PROFILE_E_REPLACE;
}

// A new private copy at tempPath. Whatever is in the way is removed first (a link itself,
// never what it leads to); a directory stays and fails the creation.
FILE* CreateCopy(LPCWSTR tempPath) {
    DeleteFileW(tempPath);
    return _wfopen(tempPath, TEXT("wx"));
}

}  // namespace

int ReadProfileValue(LPCWSTR path, LPCWSTR section, LPCWSTR key, void* result, int capacity,
                     int type) {
    if (path == nullptr || section == nullptr || key == nullptr || result == nullptr ||
        capacity <= 0)
        return PROFILE_E_ARGUMENT;
    FILE* in = _wfopen(path, TEXT("r"));
    if (in == nullptr) return PROFILE_E_OPEN;
    WCHAR line[kLineBuffer];
    int rc = PROFILE_E_READ_NO_SECTION;
    if (FindSection(in, line, section)) {
        const WCHAR* value = FindEntry(in, line, key);
        rc = value != nullptr ? StoreValue(value, result, capacity, type) : PROFILE_E_READ_NO_KEY;
    }
    // Not finding what a file that could not be read to its end might hold is no answer.
    if ((rc == PROFILE_E_READ_NO_SECTION || rc == PROFILE_E_READ_NO_KEY) && ferror(in))
        rc = PROFILE_E_OPEN;
    fclose(in);
    return rc;
}

int WriteProfileValue(LPCWSTR path, LPCWSTR section, LPCWSTR key, const void* value, int type) {
    if (path == nullptr || section == nullptr || key == nullptr || value == nullptr)
        return PROFILE_E_ARGUMENT;
    // Refused before anything is created, so the file and the temporary path stay untouched.
    const std::basic_string<WCHAR> entry = ComposeEntry(key, value, type);
    if (entry.empty()) return PROFILE_E_ENTRY_LINE;

    int rc = ProfileFileRefusal(path);
    if (rc != PROFILE_OK) return rc;

    WCHAR tempPath[MAX_PATH];
    ModuleFilePath(tempPath, MAX_PATH, nullptr, TEXT("config_tmp"));
    if (tempPath[0] == 0) return PROFILE_E_TEMP_CREATE;
    std::basic_string<WCHAR> target = platform::FinalPathName(path);
    if (target.empty()) target = path;
    FILE* out = CreateCopy(tempPath);
    if (out == nullptr) return PROFILE_E_TEMP_CREATE;

    rc = CopyFileWithEntry(path, out, section, key, entry.c_str());
    // A full disk often shows only when the buffered rest is written out.
    if (rc == PROFILE_OK && !platform::SealCopyLike(out, target.c_str())) rc = PROFILE_E_TEMP_WRITE;
    if (rc == PROFILE_OK) rc = ReplaceWithCopy(out, tempPath, target.c_str());
    if (rc != PROFILE_OK && platform::PathNamesStream(tempPath, out)) DeleteFileW(tempPath);
    fclose(out);
    return rc;
}

int ProfileFileRefusal(LPCWSTR path) {
    switch (platform::CheckFileForRewrite(path)) {
        case platform::RewriteRefusal::None:
            return PROFILE_OK;
        case platform::RewriteRefusal::NotRegularFile:
            return PROFILE_E_NOT_FILE;
        case platform::RewriteRefusal::ReadOnly:
            return PROFILE_E_READ_ONLY;
        case platform::RewriteRefusal::ForeignOwner:
            return PROFILE_E_OWNER;
        default:
            return PROFILE_E_OPEN;
    }
}
