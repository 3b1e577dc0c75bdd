// The terminal front end, for the programs' entry: modal dialogs are shown with ncurses in
// the terminal from now on (the test front end, once chosen, still takes over).
#pragma once

namespace platform {

void UseTerminalFrontEnd();

}  // namespace platform
