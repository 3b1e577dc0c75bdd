// The reader's framing step fed from memory in every mode, the input cut into reads at
// random places.
//
// Input: byte 0 chooses the mode; bytes 1-4 the delimiters or the record size; byte 5 the
// record callback's results; bytes 6-7 seed the read sizes; the rest is the received data.
//
// Checked for every input:
//  - the held count, scan and resume positions stay inside the buffer, and every piece a
//    receiver gets lies inside the filled part of the buffer;
//  - raw mode hands on every byte once, in order; the sentence chunks are the reads;
//  - a delivered frame has the shape its mode gives it (opener, end byte, no opener inside;
//    a header record found by the search for a start has its length, CR and long mark).
// And, where the framing rules make the frames independent of read boundaries:
//  - record mode with callback results 0 and records that fit the buffer: the frames are
//    the input's consecutive records, however it was cut;
//  - sentence, delimiter and request mode, when no frame stays open over more than
//    kLongestSafeOpenFrame bytes: the frames are those that the bytes give read as one
//    stream (the same list for random reads and for reads as large as the buffer allows).
//    A longer open frame can fill the buffer and be dropped, and where that happens depends
//    on when the held bytes were moved to the buffer start, which depends on the reads.
//  Header mode keeps a header start byte that ends a read on its own and drops the frame
//  open before it, so its frames depend on the reads by design; raw mode hands on reads.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "serial/channel.h"
#include "serial/framing.h"

namespace {

// An open frame is moved to the buffer start once it starts at FRAME_COMPACT_OFFSET or
// later, so the buffer can only fill while one is open over more than this many bytes.
constexpr size_t kLongestSafeOpenFrame = RECEIVE_BUFFER_SIZE - FRAME_COMPACT_OFFSET;

enum Kind { RAW, RECORD, SENTENCE, DELIMITER, HEADER, REQUEST, KIND_COUNT };

struct Run {
    const ReaderState* state = nullptr;
    std::vector<std::string> frames;
    std::vector<std::string> chunks;
    std::vector<int32_t> results;  // record mode: what the callback returns, in turn
    size_t calls = 0;
};

Run* g_run = nullptr;  // the callbacks learn their run here; one run at a time

void CheckInsideBuffer(const BYTE* data, LONG count) {
    const ReaderState* s = g_run->state;
    FUZZ_CHECK(count > 0);
    FUZZ_CHECK(data >= s->buffer);
    FUZZ_CHECK(data + count <= s->buffer + s->fill);
}

LONG OnFrame(SerialChannel*, LONG id, const BYTE* data, LONG count) {
    FUZZ_CHECK(id == WM_CHANNEL_DATA);
    CheckInsideBuffer(data, count);
    g_run->frames.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
    const std::vector<int32_t>& r = g_run->results;
    return r.empty() ? 0 : r[g_run->calls++ % r.size()];
}

// Called before the read is counted into fill: the chunk lies just past it.
LONG OnChunk(SerialChannel*, LONG id, const BYTE* data, LONG count) {
    const ReaderState* s = g_run->state;
    FUZZ_CHECK(id == 0);
    FUZZ_CHECK(data == s->buffer + s->fill);
    FUZZ_CHECK(s->fill + count <= RECEIVE_BUFFER_SIZE);
    g_run->chunks.emplace_back(reinterpret_cast<const char*>(data), static_cast<size_t>(count));
    return 0;
}

struct Setup {
    Kind kind = RAW;
    BYTE start[2] = {0, 0};
    BYTE end = 0;
    LONG recordSize = 0;
    std::vector<int32_t> results;
    uint32_t seed = 0;
};

Setup ReadSetup(const uint8_t* data) {
    Setup s;
    s.kind = static_cast<Kind>(data[0] % KIND_COUNT);
    s.start[0] = data[1];
    s.start[1] = data[2];
    s.end = data[3];
    // Mostly short records; a set high bit asks for records up to twice the buffer.
    s.recordSize = (data[4] & 0x80) ? 1 + (data[4] & 0x7f) * 200 : 1 + (data[4] & 0x3f);
    if (s.kind == RECORD && data[5] != 0) {
        for (int i = 0; i < 4; ++i)
            s.results.push_back(static_cast<int8_t>(data[5] * (i + 7)) % (s.recordSize + 2));
    }
    s.seed = data[6] | (data[7] << 8);
    return s;
}

void Configure(SerialChannel* channel, const Setup& s) {
    InitChannel(channel);
    channel->frameCallback = OnFrame;
    channel->chunkCallback = OnChunk;
    channel->framed = s.kind == RAW || s.kind == RECORD ? 0 : 1;
    channel->recordSize = s.kind == RECORD ? s.recordSize : 0;
    const BYTE end[2] = {s.end, 0};
    switch (s.kind) {
        case SENTENCE:
            SetFrameDelimiters(channel, s.start, 0, end, 0);
            break;
        case DELIMITER:
            SetFrameDelimiters(channel, s.start, 1, end, 1);
            break;
        case HEADER:
            SetFrameDelimiters(channel, s.start, 2, end, 1);
            break;
        case REQUEST:
            SetFrameDelimiters(channel, s.start, 2, end, 2);
            break;
        default:
            break;
    }
}

// Read sizes: mostly short, sometimes up to a polled request, sometimes anything.
DWORD NextWanted(uint32_t* rng) {
    *rng = *rng * 1103515245u + 12345u;
    const uint32_t r = *rng >> 8;
    switch (r % 4) {
        case 0:
            return 1 + (r >> 2) % 8;
        case 1:
            return 1 + (r >> 2) % 100;
        case 2:
            return 1 + (r >> 2) % READ_REQUEST_POLLED;
        default:
            return 1 + (r >> 2) % RECEIVE_BUFFER_SIZE;
    }
}

void CheckState(const ReaderState* s) {
    FUZZ_CHECK(s->fill >= 0 && s->fill <= RECEIVE_BUFFER_SIZE);
    FUZZ_CHECK(s->scanPos >= 0 && s->scanPos <= s->fill);
    FUZZ_CHECK(s->resumePos <= s->fill);
}

// Feeds the data in reads of the sizes rng gives; greedy (rng null): as much as fits.
Run Feed(const Setup& setup, const uint8_t* data, size_t size, uint32_t* rng) {
    SerialChannel channel;
    std::memset(&channel, 0, sizeof channel);
    Configure(&channel, setup);
    auto state = std::make_unique<ReaderState>();
    BeginReaderState(state.get(), &channel);
    Run run;
    run.state = state.get();
    run.results = setup.results;
    g_run = &run;
    size_t at = 0;
    while (at < size) {
        const DWORD wanted = rng != nullptr ? NextWanted(rng) : RECEIVE_BUFFER_SIZE;
        const DWORD room = PrepareRead(state.get(), wanted);
        FUZZ_CHECK(room >= 1 && room <= wanted);
        FUZZ_CHECK(static_cast<LONG>(room) <= RECEIVE_BUFFER_SIZE - state->fill);
        const size_t count = std::min<size_t>(room, size - at);
        std::memcpy(state->buffer + state->fill, data + at, count);
        ProcessRead(&channel, state.get(), static_cast<LONG>(count));
        CheckState(state.get());
        at += count;
    }
    g_run = nullptr;
    ReleaseChannel(&channel);
    return run;
}

bool IsOpener(Kind kind, BYTE b, BYTE start) {
    return b == SENTENCE_START || ((kind == DELIMITER || kind == REQUEST) && b == start);
}

// The frames of sentence, delimiter and request mode read as one stream: an opener starts a
// frame ('$' ends at a line feed, the start byte at the end byte; '$' wins when both are the
// same byte), its end byte delivers it, and an opener inside starts the frame afresh.
// longestOpen receives the most bytes any frame held while open.
std::vector<std::string> StreamFrames(Kind kind, BYTE start, BYTE end, const std::string& in,
                                      size_t* longestOpen) {
    std::vector<std::string> frames;
    bool open = false;
    size_t from = 0;
    BYTE awaited = 0;
    *longestOpen = 0;
    for (size_t i = 0; i < in.size(); ++i) {
        const BYTE b = static_cast<BYTE>(in[i]);
        if (open && b == awaited) {
            frames.push_back(in.substr(from, i - from + 1));
            open = false;
        } else if (IsOpener(kind, b, start)) {
            open = true;
            from = i;
            awaited = b == SENTENCE_START ? LINE_FEED : end;
        }
        if (open) *longestOpen = std::max(*longestOpen, i - from + 1);
    }
    return frames;
}

void CheckFrameShape(Kind kind, const Setup& s, const std::string& f) {
    FUZZ_CHECK(f.size() >= 2);
    const BYTE first = static_cast<BYTE>(f.front());
    const BYTE last = static_cast<BYTE>(f.back());
    if (kind == HEADER && first == s.start[0] && first != SENTENCE_START) {
        // A header start inside an open frame opens a frame that its end byte closes,
        // whatever its header says; a start byte kept alone at the end of a read takes
        // over the awaited end of the frame open before it.
        if (last == s.end || last == LINE_FEED) return;
        // Otherwise it is a whole header record found by the search for a start.
        FUZZ_CHECK(static_cast<BYTE>(f[1]) == s.start[1]);
        FUZZ_CHECK(f.size() >= HEADER_OVERHEAD);
        const size_t payload = static_cast<BYTE>(f[4]) * 256u + static_cast<BYTE>(f[5]);
        FUZZ_CHECK(f.size() == payload + HEADER_OVERHEAD);
        FUZZ_CHECK(payload <= HEADER_PLAIN_MAX || static_cast<BYTE>(f[3]) == HEADER_LONG_MARK);
        FUZZ_CHECK(last == CARRIAGE_RETURN);
        return;
    }
    FUZZ_CHECK(IsOpener(kind, first, s.start[0]));
    const BYTE awaited = first == SENTENCE_START ? LINE_FEED : s.end;
    FUZZ_CHECK(last == awaited);
    for (size_t i = 1; i + 1 < f.size(); ++i) {
        const BYTE b = static_cast<BYTE>(f[i]);
        FUZZ_CHECK(b != awaited);
        if (kind != HEADER) FUZZ_CHECK(!IsOpener(kind, b, s.start[0]));
    }
}

std::string Joined(const std::vector<std::string>& pieces) {
    std::string all;
    for (const auto& p : pieces) all += p;
    return all;
}

void CheckRun(const Setup& s, const std::string& in, const Run& run) {
    switch (s.kind) {
        case RAW:
            FUZZ_CHECK(Joined(run.frames) == in);
            break;
        case RECORD:
            for (const auto& f : run.frames)
                FUZZ_CHECK(f.size() == static_cast<size_t>(s.recordSize));
            if (s.results.empty() && s.recordSize <= RECEIVE_BUFFER_SIZE) {
                const size_t whole = in.size() / static_cast<size_t>(s.recordSize);
                FUZZ_CHECK(run.frames.size() == whole);
                FUZZ_CHECK(Joined(run.frames) == in.substr(0, whole * s.recordSize));
            }
            break;
        default:
            for (const auto& f : run.frames) CheckFrameShape(s.kind, s, f);
            break;
    }
    if (s.kind == SENTENCE) FUZZ_CHECK(Joined(run.chunks) == in);
    if (s.kind != SENTENCE) FUZZ_CHECK(run.chunks.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const Setup setup = ReadSetup(data);
    const std::string in(reinterpret_cast<const char*>(data + 8), size - 8);
    uint32_t rng = setup.seed;
    const Run cut = Feed(setup, data + 8, size - 8, &rng);
    CheckRun(setup, in, cut);
    if (setup.kind == SENTENCE || setup.kind == DELIMITER || setup.kind == REQUEST) {
        size_t longestOpen = 0;
        const auto expected = StreamFrames(setup.kind, setup.start[0], setup.end, in, &longestOpen);
        if (longestOpen <= kLongestSafeOpenFrame) {
            FUZZ_CHECK(cut.frames == expected);
            const Run whole = Feed(setup, data + 8, size - 8, nullptr);
            FUZZ_CHECK(whole.frames == expected);
        }
    }
    return 0;
}
