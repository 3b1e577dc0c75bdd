// Whether the terminal type in TERM can show the dialogs, asked without taking the screen.
// Kept apart from the front end because <term.h> defines macros (columns, lines, ...) that
// collide with ordinary names.
#define NCURSES_WIDECHAR 1
#include <ncursesw/ncurses.h>
#include <ncursesw/term.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace platform::detail {

namespace {

// A terminal that cannot move its cursor to a cell ("dumb", a printing terminal) would show
// nothing of a dialog while still taking its keys.
bool CursorAddressable() {
    char* move = tigetstr(const_cast<char*>("cup"));
    bool hardcopy = tigetflag(const_cast<char*>("hc")) > 0;
    return move != nullptr && move != reinterpret_cast<char*>(-1) && !hardcopy;
}

}  // namespace

bool TerminalTypeUsable(std::string* why) {
    const char* term = std::getenv("TERM");
    std::string name = std::string("TERM=\"") + (term ? term : "") + "\"";
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) {
        *why = "This program needs a usable terminal type; " + name + " is not known.";
        return false;
    }
    bool addressable = CursorAddressable();
    del_curterm(cur_term);  // the screen makes its own when it opens
    if (!addressable)
        *why = "This program needs a terminal that can move its cursor; " + name +
               " cannot. Run it in a terminal such as xterm, or set TERM to the terminal's type.";
    return addressable;
}

}  // namespace platform::detail
