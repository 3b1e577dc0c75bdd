// Rewrites of a profile file through the temporary copy: a typical 2 KiB Belv.ini and a
// 1 MiB file. Each rewrite syncs the copy before it replaces the file, so the figures
// include the storage's flush time.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "config/profile.h"
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

std::string LargeFile() {
    std::string text = "[HEAD]\n";
    for (int i = 0; text.size() < 512 * 1024; ++i)
        text += "; filler line " + std::to_string(i) + "\n";
    text += "[GPS_COM]\ncom=com2\nbaud=4800\n[TAIL]\n";
    for (int i = 0; text.size() < 1024 * 1024; ++i) text += "key" + std::to_string(i) + "=value\n";
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

  private:
    std::string dir_;
    std::u16string ini_;
};

void Rewrite(benchmark::State& state, const std::string& contents) {
    ProgramDir dir(contents);
    int32_t baud = 4800;
    for (auto _ : state) {
        baud = baud == 4800 ? 9600 : 4800;
        if (WriteProfileValue(dir.ini(), u"GPS_COM", u"baud", &baud, PROFILE_TYPE_INT) !=
            PROFILE_OK)
            state.SkipWithError("rewrite failed");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(contents.size()));
}

void Read(benchmark::State& state, const std::string& contents) {
    ProgramDir dir(contents);
    WCHAR value[260];
    for (auto _ : state) {
        if (ReadProfileValue(dir.ini(), u"GPS_COM", u"baud", value, 260, PROFILE_TYPE_TEXT) !=
            PROFILE_OK)
            state.SkipWithError("read failed");
    }
}

void BM_RewriteTypicalIni(benchmark::State& state) {
    Rewrite(state, TypicalIni());
}
void BM_Rewrite1MiB(benchmark::State& state) {
    Rewrite(state, LargeFile());
}
void BM_ReadTypicalIni(benchmark::State& state) {
    Read(state, TypicalIni());
}

BENCHMARK(BM_RewriteTypicalIni)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Rewrite1MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadTypicalIni)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
