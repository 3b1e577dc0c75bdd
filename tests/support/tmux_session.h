// Runs a program in a real terminal inside a private tmux server, for tests that read the
// screen and type like a person.
#pragma once

#include <string>
#include <vector>

#include "support/test_support.h"

namespace testsupport {

// The cell of caption on the first screen row that holds rowMarker (1 past the caption's
// first character, inside a "[ Caption ]" button); false when there is none.
bool FindOnRow(const std::string& screen, const std::string& rowMarker, const std::string& caption,
               int* column, int* row);

class TmuxSession {
  public:
    // Starts command (run by /bin/sh) in a detached session of width x height cells. env
    // entries "NAME=value" are set for the command. Unless env names one, the command has a
    // runtime folder (XDG_RUNTIME_DIR) of its own, so that the windows of programs running
    // elsewhere are not found from it.
    TmuxSession(const std::string& command, const std::vector<std::string>& env = {},
                int width = 100, int height = 30);
    ~TmuxSession();
    TmuxSession(const TmuxSession&) = delete;
    TmuxSession& operator=(const TmuxSession&) = delete;

    // tmux key names ("Tab", "Enter", "Escape", "C-c") or literal text with literal = true.
    void SendKeys(const std::string& keys, bool literal = false);
    // A left click at the 0-based cell (column, row), as an SGR mouse sequence.
    void Click(int column, int row);
    std::string Screen();
    // A tmux format expanded for the session's pane, such as "#{window_bell_flag}", without
    // the line end.
    std::string Format(const std::string& format);
    // Waits until the screen contains text; returns false after timeoutMs.
    bool WaitFor(const std::string& text, int timeoutMs);
    // True while the program runs; its exit status once it ended (the pane stays).
    bool Running();
    int ExitStatus();
    bool WaitForExit(int timeoutMs);
    // The value of a tmux format for the pane, such as "#{alternate_on}".
    std::string Query(const std::string& format);
    void Resize(int width, int height);

  private:
    std::string Tmux(const std::string& args);
    std::string socket_;
    std::string session_;
    TempDir runtime_;
};

}  // namespace testsupport
