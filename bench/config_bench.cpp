// Rewrites of a profile file through the temporary copy, for a typical 2 KiB Belv.ini, a
// 1 MiB and a 20 MiB file, each beside its floor measured in the same run: copying the same
// bytes to a temporary file with fsync, renaming it over the file and syncing the folder.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "config/profile.h"
#include "figures.h"
#include "platform/io/files.h"

namespace {

std::string TypicalIni() {
    std::string text =
        "; kovu settings\n[MAIN]\nlanguage=en\nskin=night\nvolume=7\n"
        "[GPS_COM]\ncom=com2\nbaud=4800\n[DYN_COM]\ncom=com3\nbaud=9600\n"
        "[KOVU_COM]\nComPort=3\nBaudRate=9600\n[VIRTUAL_COM]\ncom=com7\n[MAP]\n";
    for (int i = 0; text.size() < 2048; ++i)
        text += "layer" + std::to_string(i) + "=\\Storage Card\\Maps\\tile" + std::to_string(i) +
                ".dat\n";
    return text;
}

// The key to change half way through, so the rewrite reads and writes the whole file.
std::string LargeFile(size_t size) {
    std::string text = "[HEAD]\n";
    for (int i = 0; text.size() < size / 2; ++i)
        text += "; filler line " + std::to_string(i) + "\n";
    text += "[GPS_COM]\ncom=com2\nbaud=4800\n[TAIL]\n";
    for (int i = 0; text.size() < size; ++i) text += "key" + std::to_string(i) + "=value\n";
    return text;
}

class ProgramDir {
  public:
    explicit ProgramDir(const std::string& contents) {
        char pattern[] = "/tmp/belvane-bench-XXXXXX";
        dir_ = mkdtemp(pattern);
        std::ofstream(dir_ + "/Belv.ini", std::ios::binary) << contents;
        platform::SetModuleFileNameForTesting(platform::WindowsPath(dir_ + "/Belvane.exe").c_str());
        ini_ = platform::WindowsPath(dir_ + "/Belv.ini");
    }
    ~ProgramDir() {
        platform::SetModuleFileNameForTesting(nullptr);
        std::filesystem::remove_all(dir_);
    }
    LPCWSTR ini() const { return ini_.c_str(); }
    const std::string& path() const { return dir_; }

  private:
    std::string dir_;
    std::u16string ini_;
};

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// The least a safe rewrite must do: read the file, write the same bytes to a temporary
// file, sync it, rename it over a file and sync the folder.
bool CopySyncRename(const std::string& dir, std::string* buffer) {
    const std::string source = dir + "/Belv.ini", temp = dir + "/floor.tmp";
    int in = open(source.c_str(), O_RDONLY);
    if (in < 0) return false;
    buffer->resize(static_cast<size_t>(lseek(in, 0, SEEK_END)));
    bool ok = pread(in, buffer->data(), buffer->size(), 0) == static_cast<ssize_t>(buffer->size());
    close(in);
    int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ok = ok && out >= 0 && WriteAll(out, buffer->data(), buffer->size()) && fsync(out) == 0;
    if (out >= 0) close(out);
    ok = ok && rename(temp.c_str(), (dir + "/floor.ini").c_str()) == 0;
    int folder = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    ok = ok && folder >= 0 && fsync(folder) == 0;
    if (folder >= 0) close(folder);
    return ok;
}

struct Timings {
    std::vector<double> rewrite, floor;  // milliseconds
};

// Alternates the rewrite and its floor, so both meet the same load on the storage.
Timings Measure(const std::string& contents, int samples) {
    ProgramDir dir(contents);
    Timings t;
    int32_t baud = 4800;
    std::string buffer;
    for (int i = 0; i < samples + 1; ++i) {
        baud = baud == 4800 ? 9600 : 4800;
        auto start = std::chrono::steady_clock::now();
        if (WriteProfileValue(dir.ini(), u"GPS_COM", u"baud", &baud, PROFILE_TYPE_INT) !=
            PROFILE_OK) {
            fprintf(stderr, "rewrite failed\n");
            exit(1);
        }
        const double rewrite = bench::SecondsSince(start) * 1e3;
        start = std::chrono::steady_clock::now();
        if (!CopySyncRename(dir.path(), &buffer)) {
            fprintf(stderr, "floor copy failed\n");
            exit(1);
        }
        const double floor = bench::SecondsSince(start) * 1e3;
        if (i == 0) continue;  // the first of each warms the caches
        t.rewrite.push_back(rewrite);
        t.floor.push_back(floor);
    }
    return t;
}

bench::Figure RewriteFigure(const char* name, const Timings& t) {
    bench::Figure f;
    f.name = name;
    f.unit = "ms";
    f.value = bench::Percentile(t.rewrite, 50);
    f.floor = bench::Percentile(t.floor, 50);
    f.ratio = f.value / f.floor;
    f.extra = {{"p50", f.value},
               {"p90", bench::Percentile(t.rewrite, 90)},
               {"floor_p90", bench::Percentile(t.floor, 90)},
               {"samples", static_cast<double>(t.rewrite.size())}};
    return f;
}

}  // namespace

int main() {
    const int samples = bench::Count("BELVANE_BENCH_REWRITES", 21);
    bench::Figure small = RewriteFigure("rewrite_2KiB", Measure(TypicalIni(), samples * 2));
    small.target = "(kept: ~1.1x floor)";
    bench::Report(small);

    const Timings oneMiB = Measure(LargeFile(1 << 20), samples);
    bench::Figure one = RewriteFigure("rewrite_1MiB", oneMiB);
    one.target = "<=2x floor";
    one.met = one.ratio <= 2.0;
    bench::Report(one);

    const Timings twenty = Measure(LargeFile(20 << 20), std::max(3, samples / 5));
    bench::Figure big = RewriteFigure("rewrite_20MiB", twenty);
    // Linear: a MiB of the large file costs no more than a MiB of the 1 MiB file.
    const double perMiB = big.value / 20.0 / one.value;
    big.extra.push_back({"per_MiB_vs_1MiB", perMiB});
    big.target = "linear (per MiB <=1.5x 1MiB)";
    big.met = perMiB <= 1.5;
    bench::Report(big);
    return 0;
}
