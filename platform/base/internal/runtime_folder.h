// Platform-private (base layer): the folder in which this user's programs meet, for finding
// each other's windows.
#pragma once

#include <string>

namespace platform::detail {

// The folder "belvane" in the user's runtime folder: $XDG_RUNTIME_DIR when it is an absolute
// path, else belvane-<uid> in $TMPDIR or /tmp. Missing folders are made. Each of them must be
// a folder (not a link) of this user with mode 0700, whoever made it; otherwise the result is
// empty, with a line in the account of failures, and nobody finds this program's windows nor
// it theirs.
std::string WindowSocketFolder();

// Notes text in the account of failures once per process: the account itself drops repeats,
// but every note also goes to the log, and windows are made again and again.
void ReportOnce(const std::string& text);

}  // namespace platform::detail
