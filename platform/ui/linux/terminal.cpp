// The terminal front end: ncurses (wide) draws the dialogs; keys and mouse reports are read
// from stdin by our own small decoder, so that mouse clicks work the same in every
// terminal that speaks the SGR (1006) or X10 mouse protocol.
//
// The terminal is restored on every way out: when the last dialog ends, at exit, and on
// SIGQUIT, SIGSEGV, SIGBUS, SIGFPE and SIGABRT, whose handlers write the saved terminal
// modes back and then re-raise the signal. SIGTERM, SIGHUP and SIGINT while a dialog is up
// ask the dialogs to close, innermost first, as the user would (see AskToClose); a second
// one, or one while no dialog is up, ends the program at once like the others.
#define NCURSES_WIDECHAR 1
#include "platform/ui/linux/terminal.h"

#include <fcntl.h>
#include <langinfo.h>
#include <locale.h>
#include <ncursesw/ncurses.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "internal/dialog_input.h"
#include "internal/dialog_paint.h"
#include "platform/base/linux/wait.h"

namespace platform::detail {

bool TerminalTypeUsable(std::string* why);  // terminal_probe.cpp: known and addressable

namespace {

constexpr char kMouseOn[] = "\033[?1000h\033[?1006h";
constexpr char kMouseOff[] = "\033[?1006l\033[?1000l";

// Written by signal handlers: prepared while the terminal is opened.
struct termios g_savedModes;
volatile sig_atomic_t g_modesSaved = 0;
volatile sig_atomic_t g_active = 0;
char g_resetSequence[256];
size_t g_resetLength = 0;
int g_winchPipe[2] = {-1, -1};
int g_closePipe[2] = {-1, -1};
volatile sig_atomic_t g_closeSignals = 0;

void WriteAll(int fd, const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = write(fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void RestoreFromSignal(int signal) {
    if (g_active) {
        WriteAll(STDOUT_FILENO, g_resetSequence, g_resetLength);
        if (g_modesSaved) tcsetattr(STDIN_FILENO, TCSAFLUSH, &g_savedModes);
        g_active = 0;
    }
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void OnCloseSignal(int signal) {
    if (!g_active || g_closePipe[1] < 0 || g_closeSignals > 0) {
        RestoreFromSignal(signal);  // re-raises: does not come back
        return;
    }
    g_closeSignals = 1;
    int saved = errno;
    char byte = 1;
    ssize_t n = write(g_closePipe[1], &byte, 1);
    (void)n;
    errno = saved;
}

void OnWinch(int) {
    int saved = errno;
    char byte = 1;
    ssize_t n = write(g_winchPipe[1], &byte, 1);
    (void)n;
    errno = saved;
}

void AppendCapability(const char* name) {
    const char* value = tigetstr(const_cast<char*>(name));
    if (!value || value == reinterpret_cast<char*>(-1)) return;
    size_t length = std::strlen(value);
    if (g_resetLength + length >= sizeof g_resetSequence) return;
    std::memcpy(g_resetSequence + g_resetLength, value, length);
    g_resetLength += length;
}

void PrepareResetSequence() {
    g_resetLength = 0;
    std::memcpy(g_resetSequence, kMouseOff, sizeof kMouseOff - 1);
    g_resetLength = sizeof kMouseOff - 1;
    AppendCapability("sgr0");
    AppendCapability("cnorm");
    AppendCapability("rmcup");
}

// Without a UTF-8 locale the drawing characters become ASCII ones.
char32_t AsciiFallback(char32_t c) {
    switch (c) {
        case U'┌':
        case U'┐':
        case U'└':
        case U'┘':
        case U'╔':
        case U'╗':
        case U'╚':
        case U'╝':
            return U'+';
        case U'─':
        case U'═':
            return U'-';
        case U'│':
        case U'║':
            return U'|';
        case U'░':
            return U':';
        case U'█':
            return U'#';
        case U'▲':
            return U'^';
        case U'▼':
            return U'v';
        case U'◆':
            return U'*';
        default:
            return c < 0x80 ? c : U'?';
    }
}

class NcursesCanvas : public Canvas {
  public:
    explicit NcursesCanvas(bool unicode) : unicode_(unicode) {}
    void Put(int column, int row, std::u16string_view text, int attr) override {
        std::wstring wide;
        for (size_t i = 0; i < text.size(); ++i) {
            char32_t c = text[i];
            if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                text[i + 1] < 0xE000) {
                c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
                ++i;
            } else if (c >= 0xD800 && c < 0xE000) {
                c = 0xFFFD;
            } else if (c < 0x20) {
                c = u' ';
            }
            wide.push_back(static_cast<wchar_t>(unicode_ ? c : AsciiFallback(c)));
        }
        attr_t a = A_NORMAL;
        if (attr & kReverse) a |= A_REVERSE;
        if (attr & kBold) a |= A_BOLD;
        if (attr & kDim) a |= A_DIM;
        if (attr & kUnderline) a |= A_UNDERLINE;
        attrset(a);
        mvaddnwstr(row, column, wide.c_str(), static_cast<int>(wide.size()));
        attrset(A_NORMAL);
    }

  private:
    bool unicode_;
};

class TerminalFront : public FrontEnd {
  public:
    bool Check(std::string* why) override {
        if (screen_) return true;
        if (!isatty(STDIN_FILENO) || !isatty(STDOUT_FILENO)) {
            *why =
                "This program shows its window in a terminal: run it with its input and "
                "output on a terminal.";
            return false;
        }
        return TerminalTypeUsable(why);
    }

    bool Open(std::string* why) override {
        if (screen_) {
            if (isendwin()) Resume();
            return true;
        }
        if (!Check(why)) return false;
        // Wide characters need a character set from the locale; only LC_CTYPE is taken,
        // so that number formatting elsewhere stays as it is.
        setlocale(LC_CTYPE, "");
        if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) setlocale(LC_CTYPE, "C.UTF-8");
        unicode_ = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
        if (tcgetattr(STDIN_FILENO, &g_savedModes) == 0) g_modesSaved = 1;
        screen_ = newterm(nullptr, stdout, stdin);
        if (!screen_) {
            *why = "This program could not set up the terminal.";
            return false;
        }
        PrepareResetSequence();
        InstallHandlers();
        Resume();
        return true;
    }

    void DialogStarted(HWND) override {}

    // The terminal is handed back when the last dialog ends, so that whatever the
    // program writes afterwards lands on a normal screen.
    // After a close signal the dialog below the one that ended is asked to close too.
    void DialogEnded(HWND) override {
        if (ThreadDialogs().size() <= 1 && screen_ && !isendwin()) Suspend();
        if (g_closeSignals > 0 && ThreadDialogs().size() > 1) Wake(g_closePipe[1]);
    }

    int InputFds(pollfd* fds, int max) override {
        if (max < 3) return 0;
        fds[0] = pollfd{STDIN_FILENO, POLLIN, 0};
        fds[1] = pollfd{g_winchPipe[0], POLLIN, 0};
        fds[2] = pollfd{g_closePipe[0], POLLIN, 0};
        return 3;
    }

    void HandleInput(HWND dialog, const pollfd* fds, int count) override {
        if (count >= 3 && fds[2].revents) {
            Drain(g_closePipe[0]);
            AskToClose(dialog);
            return;
        }
        if (count >= 2 && fds[1].revents) {
            Drain(g_winchPipe[0]);
            Resize();
        }
        if (count >= 1 && fds[0].revents) {
            if ((fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) || !ReadInput()) HangUp(dialog);
            Decode(dialog);
        }
    }

    void Paint(const std::vector<HWND>& dialogs) override {
        if (!screen_ || isendwin()) return;
        erase();
        NcursesCanvas canvas(unicode_);
        for (HWND dialog : dialogs) PaintDialog(dialog, COLS, LINES, canvas);
        refresh();
    }

    void Alert(HWND) override {
        if (!screen_ || isendwin()) return;
        clearok(curscr, TRUE);
        beep();
        flash();
    }

    void ScreenSize(int* columns, int* rows) override {
        if (screen_ && !isendwin()) {
            *columns = COLS;
            *rows = LINES;
            return;
        }
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
            *columns = size.ws_col;
            *rows = size.ws_row;
        }
    }

    // At exit: the screen is handed back and its memory freed.
    void Shutdown() {
        if (!screen_) return;
        if (!isendwin()) Suspend();
        delscreen(screen_);
        screen_ = nullptr;
    }

  private:
    void Resume() {
        raw();
        noecho();
        nonl();
        keypad(stdscr, FALSE);  // keys are decoded here, see Decode
        curs_set(0);
        WriteAll(STDOUT_FILENO, kMouseOn, sizeof kMouseOn - 1);
        clearok(curscr, TRUE);
        refresh();
        g_active = 1;
        Resize();
    }

    void Suspend() {
        WriteAll(STDOUT_FILENO, kMouseOff, sizeof kMouseOff - 1);
        curs_set(1);
        endwin();
        g_active = 0;
    }

    static void Drain(int fd) {
        char drain[64];
        while (read(fd, drain, sizeof drain) > 0) {
        }
    }

    static void Wake(int fd) {
        char byte = 1;
        ssize_t n = write(fd, &byte, 1);
        (void)n;
    }

    // A close signal does what a close does: WM_CLOSE, which a dialog with a Cancel path
    // turns into Cancel (so Belvane's scan is stopped and its ports closed on the way out)
    // and the lister into its close code. A dialog that ignores it is ended by the next
    // signal.
    void AskToClose(HWND dialog) {
        DialogState* state = GetDialogState(dialog);
        if (state && !state->ended) SendMessageW(dialog, WM_CLOSE, 0, 0);
    }

    void InstallHandlers() {
        if (pipe2(g_winchPipe, O_CLOEXEC | O_NONBLOCK) != 0) g_winchPipe[0] = g_winchPipe[1] = -1;
        if (pipe2(g_closePipe, O_CLOEXEC | O_NONBLOCK) != 0) g_closePipe[0] = g_closePipe[1] = -1;
        struct sigaction winch {};
        winch.sa_handler = OnWinch;
        sigemptyset(&winch.sa_mask);
        winch.sa_flags = SA_RESTART;
        sigaction(SIGWINCH, &winch, nullptr);
        struct sigaction closing {};
        closing.sa_handler = OnCloseSignal;
        sigemptyset(&closing.sa_mask);
        closing.sa_flags = SA_RESTART;
        for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &closing, nullptr);
        for (int signal : {SIGQUIT, SIGSEGV, SIGBUS, SIGFPE, SIGABRT}) {
            struct sigaction restore {};
            restore.sa_handler = RestoreFromSignal;
            sigemptyset(&restore.sa_mask);
            restore.sa_flags = SA_RESETHAND;
            sigaction(signal, &restore, nullptr);
        }
        std::atexit([] { TerminalFrontEndShutdown(); });
    }

    // A full-screen dialog follows the terminal's size and hears of it through WM_SIZE.
    void Resize() {
        winsize size{};
        if (ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0)
            resizeterm(size.ws_row, size.ws_col);
        for (HWND dialog : ThreadDialogs()) {
            DialogState* state = GetDialogState(dialog);
            if (state && state->fullScreen)
                SendMessageW(dialog, WM_SIZE, 0, MAKELPARAM(COLS, LINES));
        }
    }

    // The terminal went away: nobody can answer the dialog any more, so the program ends
    // as a hang-up would end it.
    void HangUp(HWND) {
        Suspend();
        _exit(129);
    }

    // One read of what is waiting (stdin stays blocking: it is shared with the shell);
    // false when the terminal has gone (end of input).
    bool ReadInput() {
        char buffer[256];
        ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
        if (n > 0) pending_.append(buffer, static_cast<size_t>(n));
        if (n == 0) return false;
        return n > 0 || errno == EINTR || errno == EAGAIN;
    }

    // A lone Escape byte may begin a sequence whose rest is still on its way.
    bool MoreInputSoon() {
        pollfd fd{STDIN_FILENO, POLLIN, 0};
        if (WaitFds(&fd, 1, 30, false) != WaitResult::Ready) return false;
        return ReadInput();
    }

    void Decode(HWND dialog) {
        DialogState* state = GetDialogState(dialog);
        while (!pending_.empty() && state && !state->ended) {
            size_t used = DecodeOne(dialog);
            if (used == 0) {
                if (!MoreInputSoon()) {
                    // An incomplete sequence: a lone Escape is the key itself.
                    if (pending_[0] == '\033') HandleKey(dialog, DialogKey::Escape);
                    pending_.erase(0, 1);
                }
                continue;
            }
            pending_.erase(0, used);
            state = GetDialogState(dialog);
        }
    }

    // Handles the first key or mouse report in pending_; returns the bytes it used, or 0
    // when the bytes so far are an unfinished sequence.
    size_t DecodeOne(HWND dialog) {
        const std::string& in = pending_;
        unsigned char c = static_cast<unsigned char>(in[0]);
        switch (c) {
            case '\t':
                HandleKey(dialog, DialogKey::Tab);
                return 1;
            case '\r':
            case '\n':
                HandleKey(dialog, DialogKey::Enter);
                return 1;
            case ' ':
                HandleKey(dialog, DialogKey::Space);
                return 1;
            case 3:
                HandleKey(dialog, DialogKey::CtrlC);
                return 1;
            case 27:
                return DecodeEscape(dialog);
            default:
                return 1;  // other keys have no meaning in these dialogs
        }
    }

    size_t DecodeEscape(HWND dialog) {
        const std::string& in = pending_;
        if (in.size() < 2) return 0;
        if (in[1] == '\033') {
            HandleKey(dialog, DialogKey::Escape);
            return 1;
        }
        if (in[1] != '[' && in[1] != 'O') {
            HandleKey(dialog, DialogKey::Escape);
            return 1;
        }
        if (in.size() < 3) return 0;
        if (in[1] == '[' && in[2] == '<') return DecodeSgrMouse(dialog);
        if (in[1] == '[' && in[2] == 'M') {
            if (in.size() < 6) return 0;
            int button = static_cast<unsigned char>(in[3]) - 32;
            int x = static_cast<unsigned char>(in[4]) - 33;
            int y = static_cast<unsigned char>(in[5]) - 33;
            if ((button & 3) == 0 && !(button & 32) && !(button & 64)) HandleClick(dialog, x, y);
            return 6;
        }
        // CSI or SS3: parameters, then a final byte in 0x40..0x7E.
        size_t end = 2;
        while (end < in.size() && (static_cast<unsigned char>(in[end]) < 0x40 ||
                                   static_cast<unsigned char>(in[end]) > 0x7E))
            ++end;
        if (end >= in.size()) return in.size() > 32 ? in.size() : 0;
        std::string params = in.substr(2, end - 2);
        char final = in[end];
        switch (final) {
            case 'A':
                HandleKey(dialog, DialogKey::Up);
                break;
            case 'B':
                HandleKey(dialog, DialogKey::Down);
                break;
            case 'C':
                HandleKey(dialog, DialogKey::Right);
                break;
            case 'D':
                HandleKey(dialog, DialogKey::Left);
                break;
            case 'Z':
                HandleKey(dialog, DialogKey::ShiftTab);
                break;
            case 'M':  // keypad Enter in SS3 form
                if (in[1] == 'O') HandleKey(dialog, DialogKey::Enter);
                break;
            case '~':
                if (params == "5") HandleKey(dialog, DialogKey::PageUp);
                if (params == "6") HandleKey(dialog, DialogKey::PageDown);
                break;
            default:
                break;
        }
        return end + 1;
    }

    // ESC [ < button ; column ; row M (press) or m (release); columns and rows count from 1.
    size_t DecodeSgrMouse(HWND dialog) {
        const std::string& in = pending_;
        size_t end = 3;
        while (end < in.size() && in[end] != 'M' && in[end] != 'm') {
            if (!std::strchr("0123456789;", in[end])) return end;  // malformed: skip it
            ++end;
        }
        if (end >= in.size()) return in.size() > 32 ? in.size() : 0;
        int button = 0, x = 0, y = 0;
        if (std::sscanf(in.c_str() + 3, "%d;%d;%d", &button, &x, &y) == 3 && in[end] == 'M' &&
            (button & 3) == 0 && !(button & 32) && !(button & 64))
            HandleClick(dialog, x - 1, y - 1);
        return end + 1;
    }

    SCREEN* screen_ = nullptr;
    bool unicode_ = false;
    std::string pending_;

  public:
    static void TerminalFrontEndShutdown();
};

TerminalFront& TheTerminal() {
    static TerminalFront* terminal = new TerminalFront;  // used until exit
    return *terminal;
}

void TerminalFront::TerminalFrontEndShutdown() {
    TheTerminal().Shutdown();
}

}  // namespace
}  // namespace platform::detail

void platform::UseTerminalFrontEnd() {
    detail::SetProgramFrontEnd(&detail::TheTerminal());
}
