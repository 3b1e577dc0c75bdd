// Wide text streams over the C library's FILE, UTF-8 on disk: reading and writing, the same
// on every system (opening is the system's, in <os>/textfile.cpp).
//
// fgetws decodes straight from the stream's own buffer: on glibc a run of plain ASCII is
// tested and widened in one go, elsewhere it comes a byte at a time without further tests.
// The code units of a character that did not fit the caller's buffer (the second half of a
// surrogate pair, or the escapes of a broken sequence whose bytes were already consumed) wait
// in a small per-stream store and come first on the next call, so nothing is ever lost or
// reordered. That store is rarely used: while it is empty, a read takes no lock at all.
// fputws encodes the whole text, on glibc straight into the stream's buffer, elsewhere into a
// block on the stack that one fwrite hands over.
//
// A stream has one owner. On Linux the streams that _wfopen makes leave locking to their
// caller, so neither the calls here nor the C library's own (feof, ferror, fclose) take the
// stream's lock; on Windows a read holds the stream for the whole call.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "internal/ascii_runs.h"
#include "internal/text_stream.h"
#include "platform/io/textfile.h"

#ifdef _WIN32
#define getc_unlocked _getc_nolock
#endif

namespace {

struct Pending {
    WCHAR units[4];
    int count = 0;
};

std::mutex pendingMutex;
// Keyed by stream; _wfopen clears the entry, so a FILE* reused after fclose starts clean.
std::unordered_map<FILE*, Pending> pendingByStream;
// How many entries pendingByStream holds. A stream's own entry is written by the stream's one
// owner before its next read, so a read that sees none here has nothing waiting.
std::atomic<int> streamsPending{0};

Pending TakePending(FILE* stream) {
    if (streamsPending.load(std::memory_order_acquire) == 0) return {};
    std::lock_guard<std::mutex> lock(pendingMutex);
    auto it = pendingByStream.find(stream);
    if (it == pendingByStream.end()) return {};
    Pending p = it->second;
    pendingByStream.erase(it);
    streamsPending.fetch_sub(1, std::memory_order_release);
    return p;
}

// Called after TakePending, so the stream has no entry yet.
void KeepPending(FILE* stream, const Pending& p) {
    if (p.count == 0) return;
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (pendingByStream.insert_or_assign(stream, p).second)
        streamsPending.fetch_add(1, std::memory_order_release);
}

void ForgetPending(FILE* stream) {
    if (streamsPending.load(std::memory_order_acquire) == 0) return;
    std::lock_guard<std::mutex> lock(pendingMutex);
    if (pendingByStream.erase(stream) != 0) streamsPending.fetch_sub(1, std::memory_order_release);
}

bool IsContinuation(int byte) {
    return byte != EOF && (byte & 0xC0) == 0x80;
}

constexpr WCHAR kNulEscape = 0xDC00;

// The escape of a NUL byte is a lone U+DC00. After a high surrogate the same unit is the
// second half of a character (U+10000, U+10400 ... U+10FC00) and stays text. fgetws never
// hands out a lone high surrogate, nor splits a pair when the buffer has room for both, so
// the two cannot be confused. A lone surrogate on disk is invalid UTF-8 and comes back as
// byte escapes (U+DC80..U+DCFF), never as U+DC00.

// Reads the rest of the character that starts with lead (a byte the stream gave): one or
// two code units, or one escape per consumed byte when the bytes are not valid UTF-8.
int DecodeOne(FILE* stream, int lead, WCHAR* units) {
    if (lead < 0x80) {
        // A NUL byte would end the caller's string and lose the rest of its line: it comes
        // back as the escape U+DC00, which fputws writes as the same byte.
        units[0] = static_cast<WCHAR>(lead == 0 ? kNulEscape : lead);
        return 1;
    }
    const int extra = lead >= 0xF0 && lead <= 0xF4   ? 3
                      : lead >= 0xE0 && lead <= 0xEF ? 2
                      : lead >= 0xC2 && lead <= 0xDF ? 1
                                                     : 0;
    unsigned char bytes[4] = {static_cast<unsigned char>(lead)};
    int have = 1;
    char32_t cp = static_cast<char32_t>(lead) & (0x3Fu >> extra);
    bool valid = extra > 0;
    while (valid && have <= extra) {
        const int next = getc_unlocked(stream);
        if (!IsContinuation(next)) {
            if (next != EOF) ungetc(next, stream);  // starts the next character
            valid = false;
            break;
        }
        bytes[have++] = static_cast<unsigned char>(next);
        cp = (cp << 6) | (static_cast<char32_t>(next) & 0x3F);
    }
    // Overlong forms, surrogates and values beyond U+10FFFF are not valid either.
    if (valid &&
        ((extra == 1 && cp < 0x80) || (extra == 2 && cp < 0x800) ||
         (cp >= 0xD800 && cp <= 0xDFFF) || (extra == 3 && cp < 0x10000) || cp > 0x10FFFF)) {
        valid = false;
    }
    if (!valid) {
        for (int i = 0; i < have; ++i) units[i] = static_cast<WCHAR>(0xDC00 + bytes[i]);
        return have;
    }
    if (cp < 0x10000) {
        units[0] = static_cast<WCHAR>(cp);
        return 1;
    }
    cp -= 0x10000;
    units[0] = static_cast<WCHAR>(0xD800 + (cp >> 10));
    units[1] = static_cast<WCHAR>(0xDC00 + (cp & 0x3FF));
    return 2;
}

#ifdef __GLIBC__
// Copies the run of plain ASCII that waits in the stream's buffer, up to and including a line
// feed and at most room bytes, straight into units: glibc's own getc_unlocked reads these two
// fields the same way, one byte per call. Stops at a byte that needs decoding (a NUL or one
// above 0x7F). Returns the count copied; zeroAfter tells that units[count] is zero already.
int TakeAsciiRun(FILE* stream, WCHAR* units, int room, bool& lineEnded, bool& zeroAfter) {
    const auto* at = reinterpret_cast<const unsigned char*>(stream->_IO_read_ptr);
    const auto* end = reinterpret_cast<const unsigned char*>(stream->_IO_read_end);
    const size_t span = std::min(static_cast<size_t>(end - at), static_cast<size_t>(room));
    const size_t taken = platform::detail::WidenAsciiRun(at, span, units, lineEnded, zeroAfter);
    stream->_IO_read_ptr += taken;
    return static_cast<int>(taken);
}
#else
// Elsewhere the stream's buffer is the C library's own: every byte comes through getc.
int TakeAsciiRun(FILE*, WCHAR*, int, bool&, bool&) {
    return 0;
}
#endif

// Fills buffer[start .. room) from pending units first, then from the stream, up to and
// including a line feed. Units that do not fit stay in pending. Returns the count;
// terminated tells that buffer[count] is zero already.
int ReadUnits(FILE* stream, WCHAR* buffer, int start, int room, Pending& pending,
              bool& terminated) {
    int n = start;
    bool lineEnded = false;
    auto put = [&](const WCHAR* units, int count) {
        // A surrogate pair waits whole for the next call, unless the buffer has room for
        // one unit only and would otherwise never take it.
        const bool pair = count == 2 && units[0] >= 0xD800 && units[0] <= 0xDBFF;
        int i = 0;
        if (!pair || room - n >= 2 || n == 0) {
            while (i < count && n < room && !lineEnded) {
                lineEnded = units[i] == u'\n';
                buffer[n++] = units[i++];
            }
        }
        Pending rest;
        while (i < count) rest.units[rest.count++] = units[i++];
        pending = rest;
    };
    const Pending carried = pending;
    put(carried.units, carried.count);
    while (pending.count == 0 && n < room && !lineEnded) {
        bool zeroAfter = false;
        n += TakeAsciiRun(stream, buffer + n, room - n, lineEnded, zeroAfter);
        if (n == room || lineEnded) {
            terminated = zeroAfter;
            break;
        }
        const int lead = getc_unlocked(stream);
        if (lead == EOF) break;
        if (lead > 0 && lead < 0x80) {  // the common case: the byte is the character
            buffer[n++] = static_cast<WCHAR>(lead);
            lineEnded = lead == '\n';
            continue;
        }
        WCHAR units[4];
        put(units, DecodeOne(stream, lead, units));
    }
    return n;
}

#ifdef _WIN32
// A read holds the stream once rather than let each byte take its lock.
class ReadHold {
  public:
    explicit ReadHold(FILE* stream) : stream_(stream) { _lock_file(stream_); }
    ~ReadHold() { _unlock_file(stream_); }
    ReadHold(const ReadHold&) = delete;
    ReadHold& operator=(const ReadHold&) = delete;

  private:
    FILE* stream_;
};
#else
// The stream's one owner reads it: nothing to hold.
struct ReadHold {
    explicit ReadHold(FILE*) {}
};
#endif

// Where encoded bytes go: on glibc straight into the free part of the stream's buffer, as
// glibc's own putc_unlocked does byte by byte; otherwise, and while that part is too small,
// into a block on the stack that one fwrite hands over. A stream buffered by line or not at
// all shows no free part, so its writes always go through fwrite.
class ByteSink {
  public:
    explicit ByteSink(FILE* stream) : stream_(stream) { Open(); }
    ByteSink(const ByteSink&) = delete;
    ByteSink& operator=(const ByteSink&) = delete;
    // Room for the four bytes of the largest character.
    bool HasRoom() const { return end_ - at_ >= 4; }
    void Put(unsigned char byte) { *at_++ = byte; }
    // Puts the run of ASCII (no NUL) that starts at text while room lasts; returns where the
    // run stopped.
    const WCHAR* PutAscii(const WCHAR* text) {
        return platform::detail::NarrowAsciiRun(text, at_, end_);
    }
    // Hands over what was put and makes room for more; false once a write failed.
    bool Flush() {
        Close();
        Open();
        return ok_;
    }
    bool Finish() {
        Close();
        return ok_;
    }

  private:
    void Open() {
#ifdef __GLIBC__
        if (stream_->_IO_write_end - stream_->_IO_write_ptr >= 4) {
            at_ = reinterpret_cast<unsigned char*>(stream_->_IO_write_ptr);
            end_ = reinterpret_cast<unsigned char*>(stream_->_IO_write_end);
            inStream_ = true;
            return;
        }
#endif
        at_ = block_;
        end_ = block_ + sizeof block_;
        inStream_ = false;
    }
    void Close() {
        if (inStream_) {
#ifdef __GLIBC__
            stream_->_IO_write_ptr = reinterpret_cast<char*>(at_);
#endif
            return;
        }
        const size_t used = static_cast<size_t>(at_ - block_);
        if (used != 0 && fwrite(block_, 1, used, stream_) != used) ok_ = false;
    }

    FILE* stream_;
    unsigned char* at_ = nullptr;
    unsigned char* end_ = nullptr;
    bool inStream_ = false;
    bool ok_ = true;
    unsigned char block_[1024];
};

void PutCodePoint(ByteSink& out, char32_t cp) {
    if (cp < 0x80) {
        out.Put(static_cast<unsigned char>(cp));
    } else if (cp < 0x800) {
        out.Put(static_cast<unsigned char>(0xC0 | (cp >> 6)));
        out.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.Put(static_cast<unsigned char>(0xE0 | (cp >> 12)));
        out.Put(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
        out.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    } else {
        out.Put(static_cast<unsigned char>(0xF0 | (cp >> 18)));
        out.Put(static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F)));
        out.Put(static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F)));
        out.Put(static_cast<unsigned char>(0x80 | (cp & 0x3F)));
    }
}

bool IsHighSurrogate(WCHAR c) {
    return c >= 0xD800 && c <= 0xDBFF;
}
bool IsLowSurrogate(WCHAR c) {
    return c >= 0xDC00 && c <= 0xDFFF;
}

// UTF-8 of the character at at, which is no ASCII, the escapes back as their bytes: a pair
// is one character, so a U+DC00 met on its own is lone and the NUL byte, U+DC80..U+DCFF are
// raw bytes, and any other lone surrogate becomes U+FFFD. Returns where the next begins.
const WCHAR* PutOther(ByteSink& out, const WCHAR* at) {
    const WCHAR c = *at;
    if (IsHighSurrogate(c) && IsLowSurrogate(at[1])) {
        PutCodePoint(out, 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) +
                              (static_cast<char32_t>(at[1]) - 0xDC00));
        return at + 2;
    }
    if (c == kNulEscape || (c >= 0xDC80 && c <= 0xDCFF)) {
        out.Put(static_cast<unsigned char>(c - 0xDC00));
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
        PutCodePoint(out, 0xFFFD);
    } else {
        PutCodePoint(out, c);
    }
    return at + 1;
}

// UTF-8 of the whole text, ASCII in runs.
bool EncodeAll(const WCHAR* text, FILE* stream) {
    ByteSink out(stream);
    const WCHAR* at = text;
    while (*at != 0) {
        if (!out.HasRoom() && !out.Flush()) return false;
        at = out.PutAscii(at);
        if (*at != 0 && out.HasRoom()) at = PutOther(out, at);
    }
    return out.Finish();
}

}  // namespace

namespace platform::detail {

void StartTextStream(FILE* stream) {
    ForgetPending(stream);
}

}  // namespace platform::detail

WCHAR* fgetws(WCHAR* buffer, int count, FILE* stream) {
    if (buffer == nullptr || stream == nullptr || count <= 0) {
        errno = EINVAL;
        return nullptr;
    }
    if (count == 1) {
        buffer[0] = 0;
        return buffer;
    }
    int n = 0;
    bool terminated = false;
    // The common call, a whole line of ASCII waiting in the stream's buffer while no stream
    // holds anything back, is done here, before any other test.
    if (streamsPending.load(std::memory_order_acquire) == 0) {
        bool lineEnded = false;
        n = TakeAsciiRun(stream, buffer, count - 1, lineEnded, terminated);
        if (lineEnded) {
            if (!terminated) buffer[n] = 0;
            return buffer;
        }
        terminated = false;
    }
    {
        ReadHold hold(stream);
        Pending pending = TakePending(stream);
        n = ReadUnits(stream, buffer, n, count - 1, pending, terminated);
        // Units held back are still unread text: the stream must not look finished yet. The
        // next read reaches the end again by itself.
        if (pending.count != 0 && feof(stream) && !ferror(stream)) clearerr(stream);
        KeepPending(stream, pending);
    }
    // Storing a NUL already there would split the last block of the text between two stores.
    if (!terminated) buffer[n] = 0;
    if (n == 0) return nullptr;  // end of file or a read error
    return buffer;
}

int fputws(const WCHAR* text, FILE* stream) {
    if (text == nullptr || stream == nullptr) {
        errno = EINVAL;
        return -1;
    }
#ifdef __GLIBC__
    // The common call, a line of ASCII that fits the free part of the stream's buffer, is
    // done here; whatever else follows goes on below.
    auto* to = reinterpret_cast<unsigned char*>(stream->_IO_write_ptr);
    const auto* end = reinterpret_cast<const unsigned char*>(stream->_IO_write_end);
    if (end - to >= 4) {
        text = platform::detail::NarrowAsciiRun(text, to, end);
        stream->_IO_write_ptr = reinterpret_cast<char*>(to);
        if (*text == 0) return 0;
    }
#endif
    return EncodeAll(text, stream) ? 0 : -1;
}
