// What a user of the scan feels: the cost of classifying each received byte beside the floor
// of one empty call per byte, the delay from a device's "$GPRMC" sent at a random moment to
// the found notification, and the time StopPortScan takes while ten ports receive data.
// Runs every figure unless names are given (classify, threads, detect, stop); the one-core
// classifier figure is measured on each core in slices between the others and reported last.
#include <fcntl.h>
#include <sched.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "figures.h"
#include "platform/base/messages.h"
#include "probe/classifier.h"
#include "probe/port_scan.h"
#include "scan_support.h"

namespace {

// NMEA traffic with radar signatures mixed in, so every test path of the classifier runs.
const std::string kTraffic =
    "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\r\n"
    "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\r\n"
    "\xAA\x40\x01\x56\xAB\x03\xAB\xEE";

// A pass is short, so that a round of both callbacks takes about a millisecond.
constexpr size_t kPassBytes = 256 << 10;

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The floor of the one-call-per-byte contract: a callback that only reads its byte.
LONG EmptyCallback(SerialChannel*, LONG, const BYTE* data, LONG) {
    asm volatile("" : : "r"(data[0]));
    return 0;
}

std::string TrafficBuffer() {
    std::string buffer;
    while (buffer.size() < kPassBytes) buffer += kTraffic;
    buffer.resize(kPassBytes);
    return buffer;
}

// CPU seconds of this thread for one pass, each byte through the callback as a reader
// calls it: through a pointer, one byte per call.
double Pass(ChannelCallback callback, SerialChannel* channel, const std::string& buffer) {
    ChannelCallback volatile call = callback;
    const BYTE* bytes = reinterpret_cast<const BYTE*>(buffer.data());
    const double start = ThreadCpuSeconds();
    for (size_t i = 0; i < buffer.size(); ++i) call(channel, WM_CHANNEL_DATA, bytes + i, 1);
    return ThreadCpuSeconds() - start;
}

struct PerByte {
    std::vector<double> classify, empty;  // CPU nanoseconds per byte, one sample per round
    double seconds = 0;                   // wall time of the rounds
};

// The classifier and the empty callback, measured the same way: after a warm-up of both, in
// rounds that run one pass of each, the classifier first in every other round, for at least
// the given rounds and wall time; the samples join those already in t.
void MeasurePerByte(int port, int rounds, double minSeconds, PerByte& t) {
    SerialChannel channel{};
    channel.portIndex = port;
    const std::string buffer = TrafficBuffer();
    const auto warmUp = std::chrono::steady_clock::now();
    while (bench::SecondsSince(warmUp) < 0.2) {
        Pass(ClassifyByte, &channel, buffer);
        Pass(EmptyCallback, &channel, buffer);
    }
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds || bench::SecondsSince(start) < minSeconds; ++i) {
        const bool classifyFirst = i % 2 == 0;
        const double before = classifyFirst ? Pass(ClassifyByte, &channel, buffer) : 0;
        const double empty = Pass(EmptyCallback, &channel, buffer);
        const double classify = classifyFirst ? before : Pass(ClassifyByte, &channel, buffer);
        t.classify.push_back(classify * 1e9 / kPassBytes);
        t.empty.push_back(empty * 1e9 / kPassBytes);
    }
    t.seconds += bench::SecondsSince(start);
}

// On a shared machine one core can run the classifier far slower than another for minutes
// at a time (a neighbour busy on the same physical core; the empty callback suffers much
// less), so a figure from whichever core the thread happened to run on says more about the
// host than about the classifier. The one-core figure is therefore measured on every core
// this process may use in turn, in slices spread over the whole run (one before each other
// figure and one at the end) and reported last; each core counts alike, through the mean of
// its medians, and the medians of each core are reported beside it.
class OneCoreSlices {
  public:
    explicit OneCoreSlices(bool wanted) : wanted_(wanted) {
        cpu_set_t allowed;
        CPU_ZERO(&allowed);
        if (wanted_ && sched_getaffinity(0, sizeof allowed, &allowed) == 0) {
            for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
                if (CPU_ISSET(cpu, &allowed)) cpus_.push_back(cpu);
            }
        }
        if (cpus_.empty()) cpus_.push_back(-1);  // wherever the system runs it
        perCpu_.resize(cpus_.size());
    }
    void Slice();
    void Report() const;

  private:
    static constexpr int kSlices = 4;
    bool wanted_;
    std::vector<int> cpus_;
    std::vector<PerByte> perCpu_;
};

void OneCoreSlices::Slice() {
    if (!wanted_) return;
    const int shares = kSlices * static_cast<int>(cpus_.size());
    cpu_set_t before;
    const bool pinnable = sched_getaffinity(0, sizeof before, &before) == 0;
    for (size_t i = 0; i < cpus_.size(); ++i) {
        if (pinnable && cpus_[i] >= 0) {
            cpu_set_t one;
            CPU_ZERO(&one);
            CPU_SET(cpus_[i], &one);
            sched_setaffinity(0, sizeof one, &one);
        }
        MeasurePerByte(
            0, bench::Count("BELVANE_BENCH_PASSES", 300) / shares + 1,
            bench::Count("BELVANE_BENCH_CLASSIFY_SECONDS", 4) / static_cast<double>(shares),
            perCpu_[i]);
    }
    if (pinnable) sched_setaffinity(0, sizeof before, &before);
}

void OneCoreSlices::Report() const {
    if (!wanted_) return;
    double classifyNs = 0, emptyNs = 0, seconds = 0;
    size_t rounds = 0;
    std::vector<std::pair<std::string, double>> cores;
    for (size_t i = 0; i < cpus_.size(); ++i) {
        const PerByte& t = perCpu_[i];
        classifyNs += bench::Percentile(t.classify, 50) / static_cast<double>(cpus_.size());
        emptyNs += bench::Percentile(t.empty, 50) / static_cast<double>(cpus_.size());
        seconds += t.seconds;
        rounds += t.classify.size();
        const std::string core = cpus_[i] >= 0 ? "cpu" + std::to_string(cpus_[i]) : "any";
        cores.push_back({core + "_ns_p50", bench::Percentile(t.classify, 50)});
        cores.push_back({core + "_empty_ns_p50", bench::Percentile(t.empty, 50)});
    }
    bench::Figure f;
    f.name = "classify_one_core";
    f.unit = "MB/s";
    f.value = 1e3 / classifyNs;
    f.floor = 1e3 / emptyNs;
    f.ratio = f.value / f.floor;
    f.target = ">=250 MB/s, ratio >=0.55";
    f.met = f.value >= 250 && f.ratio >= 0.55;
    f.extra = {{"ns", classifyNs}, {"empty_ns", emptyNs}};
    f.extra.insert(f.extra.end(), cores.begin(), cores.end());
    f.extra.push_back({"rounds", static_cast<double>(rounds)});
    f.extra.push_back({"seconds", seconds});
    bench::Report(f);
}

// Ten threads on ten ports, as ten readers: CPU time per byte, so that threads sharing
// fewer cores than ten are not counted for the time they wait.
void ClassifyTenThreads() {
    const int rounds = bench::Count("BELVANE_BENCH_PASSES", 300) / 3 + 1;
    std::vector<PerByte> perPort(PORT_COUNT);
    std::vector<std::thread> threads;
    for (int port = 0; port < PORT_COUNT; ++port) {
        threads.emplace_back([port, rounds, &perPort] {
            MeasurePerByte(port, rounds, 0, perPort[static_cast<size_t>(port)]);
        });
    }
    for (std::thread& t : threads) t.join();
    std::vector<double> all, allEmpty;
    for (const PerByte& port : perPort) {
        all.insert(all.end(), port.classify.begin(), port.classify.end());
        allEmpty.insert(allEmpty.end(), port.empty.begin(), port.empty.end());
    }
    bench::Figure f;
    f.name = "classify_ten_threads_cpu";
    f.unit = "ns/B";
    f.value = bench::Percentile(all, 50);
    f.floor = bench::Percentile(allEmpty, 50);
    f.ratio = f.value / f.floor;
    f.target = "(none: CPU per byte)";
    f.extra = {{"ns_p90", bench::Percentile(all, 90)}, {"ns_max", bench::Percentile(all, 100)}};
    bench::Report(f);
}

// Waits on the calling thread's queue for the next found notification.
void AwaitFound() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        if (msg.message == WM_PROBE_NOTIFY && msg.wParam == NOTIFY_FOUND) return;
    }
}

// How long a byte written to the device end takes to be readable on the port end: the
// transport part of every detection.
double TransportSeconds(testsupport::PtyPair& pty) {
    int fd = open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY);
    const auto start = std::chrono::steady_clock::now();
    probetest::WriteSome(pty, "x");
    char c;
    ssize_t n = read(fd, &c, 1);
    const double seconds = bench::SecondsSince(start);
    close(fd);
    return n == 1 ? seconds : 0;
}

// A user plugs in or powers on a receiver at any moment: "$GPRMC" is written at a moment
// uniform over 0 to 150 ms after the previous byte, and timed to the notification.
void DetectFromRandomMoment() {
    platform::UseManualClock();  // keep the scan's own timer from stepping the ladder
    probetest::ScanEnvironment env;
    testsupport::PtyPair& pty = env.AddPort(1);
    const double transport = TransportSeconds(pty);
    probetest::NotifyWindow window;
    if (!StartPortScan(window.hwnd(), 1)) {
        fprintf(stderr, "detect: the scan did not start\n");
        return;
    }
    std::mt19937 random(19);
    std::uniform_real_distribution<double> moment(0.0, 0.150);
    const int tries = bench::Count("BELVANE_BENCH_TRIES", 300);
    std::vector<double> ms;
    probetest::WriteSome(pty, "$GPRMC");
    AwaitFound();
    for (int i = 0; i < tries; ++i) {
        std::this_thread::sleep_for(std::chrono::duration<double>(moment(random)));
        const auto start = std::chrono::steady_clock::now();
        probetest::WriteSome(pty, "$GPRMC");
        AwaitFound();
        ms.push_back(bench::SecondsSince(start) * 1e3);
    }
    StopPortScan();
    platform::UseRealClock();
    bench::Figure f;
    f.name = "detect_random_moment_p99";
    f.unit = "ms";
    f.value = bench::Percentile(ms, 99);
    // An idle reader sleeps 100 ms between reads: the worst case the design allows is one
    // whole sleep plus the transport.
    f.floor = 100.0 + transport * 1e3;
    f.ratio = f.value / f.floor;
    f.target = "p99 <110 ms";
    f.met = f.value < 110;
    f.extra = {{"p50", bench::Percentile(ms, 50)},
               {"p99", bench::Percentile(ms, 99)},
               {"max", bench::Percentile(ms, 100)},
               {"tries", static_cast<double>(ms.size())},
               {"transport_ms", transport * 1e3}};
    bench::Report(f);
}

// Milliseconds of each StopPortScan over ten ports, each scan running a while first.
std::vector<double> TimeStops(int stops) {
    probetest::NotifyWindow window;
    std::vector<double> ms;
    for (int i = 0; i < stops; ++i) {
        if (!StartPortScan(window.hwnd(), 1)) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        window.Pump();
        const auto start = std::chrono::steady_clock::now();
        StopPortScan();
        ms.push_back(bench::SecondsSince(start) * 1e3);
        window.Pump();
    }
    return ms;
}

// A reader that does not end within its grace (ten pauses of 10 ms) is terminated; a stop
// that took that long had to force at least one.
int ForcedStops(const std::vector<double>& ms) {
    int forced = 0;
    for (double m : ms) forced += m >= 100.0 ? 1 : 0;
    return forced;
}

void StopWhileReceiving() {
    platform::UseManualClock();
    probetest::ScanEnvironment env;
    std::vector<testsupport::PtyPair*> ports;
    for (int i = 0; i < PORT_COUNT; ++i) ports.push_back(&env.AddPort(i));
    const int stops = bench::Count("BELVANE_BENCH_STOPS", 40);
    const std::vector<double> idle = TimeStops(stops);
    std::vector<double> busy;
    {
        std::vector<std::unique_ptr<probetest::Talker>> talkers;
        for (int i = 0; i < PORT_COUNT; ++i) {
            talkers.push_back(
                std::make_unique<probetest::Talker>(*ports[i], probetest::kGpsLine, 0));
        }
        busy = TimeStops(stops);
    }
    StopPortScan();
    platform::UseRealClock();
    bench::Figure f;
    f.name = "stop_ten_receiving_p50";
    f.unit = "ms";
    f.value = bench::Percentile(busy, 50);
    f.floor = bench::Percentile(idle, 50);
    f.ratio = f.floor > 0 ? f.value / f.floor : 0;
    f.target = "<10 ms, 0 forced";
    const int forced = ForcedStops(busy);
    f.met = f.value < 10 && forced == 0;
    f.extra = {{"p50", f.value},
               {"p99", bench::Percentile(busy, 99)},
               {"max", bench::Percentile(busy, 100)},
               {"forced", static_cast<double>(forced)},
               {"idle_p50", f.floor},
               {"idle_p99", bench::Percentile(idle, 99)},
               {"stops", static_cast<double>(busy.size())}};
    bench::Report(f);
}

bool Wanted(int argc, char** argv, const char* name) {
    if (argc < 2) return true;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], name) == 0) return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    OneCoreSlices oneCore(Wanted(argc, argv, "classify"));
    oneCore.Slice();
    if (Wanted(argc, argv, "threads")) ClassifyTenThreads();
    oneCore.Slice();
    if (Wanted(argc, argv, "detect")) DetectFromRandomMoment();
    oneCore.Slice();
    if (Wanted(argc, argv, "stop")) StopWhileReceiving();
    oneCore.Slice();
    oneCore.Report();
    return 0;
}
