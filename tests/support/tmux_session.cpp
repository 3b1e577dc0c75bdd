#include "support/tmux_session.h"

#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

namespace testsupport {
namespace {

std::string Quote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

int counter = 0;

}  // namespace

bool FindOnRow(const std::string& screen, const std::string& rowMarker, const std::string& caption,
               int* column, int* row) {
    size_t begin = 0;
    for (int r = 0; begin < screen.size(); ++r) {
        size_t end = screen.find('\n', begin);
        if (end == std::string::npos) end = screen.size();
        const std::string line = screen.substr(begin, end - begin);
        begin = end + 1;
        if (line.find(rowMarker) == std::string::npos) continue;
        size_t at = line.find(caption);
        if (at == std::string::npos) return false;
        *column = static_cast<int>(at) + 1;
        *row = r;
        return true;
    }
    return false;
}

TmuxSession::TmuxSession(const std::string& command, const std::vector<std::string>& env, int width,
                         int height) {
    socket_ = "belvane-test-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    session_ = "t";
    std::string envs = " -e TERM=xterm-256color";
    bool ownRuntime = true;
    for (const auto& e : env) {
        envs += " -e " + Quote(e);
        if (e.starts_with("XDG_RUNTIME_DIR=")) ownRuntime = false;
    }
    if (ownRuntime) envs += " -e " + Quote("XDG_RUNTIME_DIR=" + runtime_.path());
    // remain-on-exit keeps the pane after the program ends, so that its exit status and last
    // screen can be read; it is set before the session starts so that no exit is missed.
    Tmux(
        "-f /dev/null start-server \\; set-option -g remain-on-exit on \\; "
        "set-option -g default-terminal xterm-256color \\; new-session -d -s " +
        session_ + " -x " + std::to_string(width) + " -y " + std::to_string(height) + envs + " " +
        Quote(command));
}

TmuxSession::~TmuxSession() {
    Tmux("kill-server");
}

std::string TmuxSession::Tmux(const std::string& args) {
    std::string cmd = "tmux -L " + socket_ + " " + args + " 2>/dev/null";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("cannot run tmux");
    std::string out;
    std::array<char, 4096> buf{};
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    pclose(p);
    return out;
}

void TmuxSession::SendKeys(const std::string& keys, bool literal) {
    Tmux("send-keys -t " + session_ + (literal ? " -l " : " ") + Quote(keys));
}

void TmuxSession::Click(int column, int row) {
    // SGR encoding: press and release of button 0 at 1-based coordinates.
    std::string at = std::to_string(column + 1) + ";" + std::to_string(row + 1);
    SendKeys("\x1b[<0;" + at + "M\x1b[<0;" + at + "m", true);
}

std::string TmuxSession::Screen() {
    return Tmux("capture-pane -p -t " + session_);
}

std::string TmuxSession::Format(const std::string& format) {
    std::string out = Tmux("display-message -p -t " + session_ + " " + Quote(format));
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

bool TmuxSession::WaitFor(const std::string& text, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (Screen().find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

bool TmuxSession::Running() {
    return Tmux("display-message -p -t " + session_ + " '#{pane_dead}'").rfind("0", 0) == 0;
}

int TmuxSession::ExitStatus() {
    // tmux marks the pane dead when the program's terminal closes and records the status
    // when it reaps the process, a moment later; wait for that moment. tmux 3.3 now and then
    // misses the program's SIGCHLD and leaves it a zombie; a job of its own that ends makes
    // it reap every child that has ended.
    for (int tries = 0; tries < 50; ++tries) {
        std::string s = Tmux("display-message -p -t " + session_ + " '#{pane_dead_status}'");
        if (!s.empty() && s != "\n") return std::stoi(s);
        if (tries % 5 == 4) Tmux("run-shell true");
        std::this_thread::sleep_for(std::chrono::milliseconds(40));
    }
    return -1;
}

bool TmuxSession::WaitForExit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Running()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string TmuxSession::Query(const std::string& format) {
    std::string s = Tmux("display-message -p -t " + session_ + " " + Quote(format));
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

void TmuxSession::Resize(int width, int height) {
    Tmux("resize-window -t " + session_ + " -x " + std::to_string(width) + " -y " +
         std::to_string(height));
}

}  // namespace testsupport
