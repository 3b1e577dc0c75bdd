#include "linux/process_identity.h"

#include <fstream>
#include <sstream>

namespace platform {

// The command name may hold spaces and parentheses: the fields begin after the last ')'.
bool ProcStatFields(const std::string& statPath, std::vector<std::string>& fields) {
    std::ifstream in(statPath);
    std::string line;
    if (!in || !std::getline(in, line)) return false;
    size_t close = line.rfind(')');
    if (close == std::string::npos) return false;
    std::istringstream words(line.substr(close + 1));
    fields.clear();
    for (std::string word; words >> word;) fields.push_back(word);
    return !fields.empty();
}

std::string ProcessStartTime(int pid) {
    std::vector<std::string> fields;
    if (pid <= 0 || !ProcStatFields("/proc/" + std::to_string(pid) + "/stat", fields)) return {};
    constexpr size_t kStartTime = 22 - 3;
    if (fields.size() <= kStartTime || fields[0] == "Z" || fields[0] == "X") return {};
    return fields[kStartTime];
}

}  // namespace platform
