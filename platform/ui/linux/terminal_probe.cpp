// Whether the terminal type in TERM is known, asked without taking the screen. Kept apart
// from the front end because <term.h> defines macros (columns, lines, ...) that collide
// with ordinary names.
#define NCURSES_WIDECHAR 1
#include <ncursesw/ncurses.h>
#include <ncursesw/term.h>
#include <unistd.h>

namespace platform::detail {

bool TerminalTypeKnown() {
    int error = 0;
    if (setupterm(nullptr, STDOUT_FILENO, &error) != OK) return false;
    del_curterm(cur_term);  // the screen makes its own when it opens
    return true;
}

}  // namespace platform::detail
