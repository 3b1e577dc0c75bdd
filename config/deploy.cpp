#include "config/deploy.h"

#include <string>

#include "config/profile.h"
#include "platform/base/strings.h"
#include "platform/io/file_guard.h"

namespace {

constexpr int kTestChars = 260;
constexpr int kTypeGps = 2;
constexpr int kTypeRadar = 3;
constexpr int kTypeVirtualFree = 4;

struct Deployment {
    LPCWSTR path;
    WCHAR* failures;
    size_t failuresChars;
    int failed;
};

void Note(Deployment& d, int code, LPCWSTR section, LPCWSTR key) {
    if (code == PROFILE_OK) return;
    ++d.failed;
    WCHAR line[160];
    StringCchPrintfW(line, 160, TEXT("Not written: [%s] %s (%s)\r\n"), section, key,
                     ProfileResultText(code));
    StringCchCatW(d.failures, d.failuresChars, line);
}

void WriteText(Deployment& d, LPCWSTR section, LPCWSTR key, LPCWSTR text) {
    Note(d, WriteProfileValue(d.path, section, key, text, PROFILE_TYPE_TEXT), section, key);
}

void WriteNumber(Deployment& d, LPCWSTR section, LPCWSTR key, int value) {
    Note(d, WriteProfileValue(d.path, section, key, &value, PROFILE_TYPE_INT), section, key);
}

// Layout A is used exactly when the stored "com" value begins with a lower-case "c"; a
// missing file, section or key reads as empty and so gives layout B. The read's result is
// not a failure: a file of layout B has no "com" key by design.
bool UsesLayoutA(LPCWSTR path, LPCWSTR section) {
    WCHAR test[kTestChars] = {};
    ReadProfileValue(path, section, TEXT("com"), test, kTestChars, PROFILE_TYPE_TEXT);
    return test[0] == TEXT('c');
}

void DeployDevice(Deployment& d, int port, int baud, LPCWSTR testSection, LPCWSTR sectionB) {
    if (UsesLayoutA(d.path, testSection)) {
        WCHAR text[kTestChars] = {};
        StringCchPrintfW(text, kTestChars, TEXT("com%d"), port);
        WriteText(d, testSection, TEXT("com"), text);
        WriteNumber(d, testSection, TEXT("baud"), baud);
    } else {
        WriteNumber(d, sectionB, TEXT("ComPort"), port);
        WriteNumber(d, sectionB, TEXT("BaudRate"), baud);
    }
}

void DeployVirtualPorts(Deployment& d, int port, NextPortQuery nextPort) {
    const WCHAR* section = TEXT("VIRTUAL_COM");
    WCHAR text[kTestChars] = {};
    if (UsesLayoutA(d.path, section)) {
        StringCchPrintfW(text, kTestChars, TEXT("com%d"), port);
        WriteText(d, section, TEXT("com"), text);
        return;
    }
    StringCchPrintfW(text, kTestChars, TEXT("%d"), port);
    int baud = 0;
    while (nextPort(&port, &baud, kTypeVirtualFree)) {
        WCHAR more[16];
        StringCchPrintfW(more, 16, TEXT(",%d"), port);
        StringCchCatW(text, kTestChars, more);
    }
    WriteText(d, section, TEXT("ComPort"), text);
}

// Why the whole file is left alone, after its name.
LPCWSTR RefusalText(int code) {
    switch (code) {
        case PROFILE_E_BUSY:
            return TEXT("is busy: another program is writing it");
        case PROFILE_E_NOT_FILE:
            return TEXT("is not a regular file");
        case PROFILE_E_READ_ONLY:
            return TEXT("is read-only");
        case PROFILE_E_OWNER:
            return TEXT("belongs to another user");
        default:
            return nullptr;
    }
}

LPCWSTR FileName(LPCWSTR path) {
    LPCWSTR name = path;
    for (LPCWSTR p = path; *p; ++p) {
        if (*p == TEXT('\\') || *p == TEXT('/')) name = p + 1;
    }
    return name;
}

// One line for a file that is refused whole, before anything is read or written. A missing
// or unreadable file is not refused here: each write reports it, as it always did.
bool RefuseFile(Deployment& d, int code) {
    const LPCWSTR why = RefusalText(code);
    if (why == nullptr) return false;
    ++d.failed;
    WCHAR line[MAX_PATH + 80];
    StringCchPrintfW(line, MAX_PATH + 80, TEXT("Not written: %s %s\r\n"), FileName(d.path), why);
    StringCchCatW(d.failures, d.failuresChars, line);
    return true;
}

// A missing or unreadable file is no refusal here: each write reports it on its own line.
int FileRefusal(LPCWSTR path) {
    const int code = ProfileFileRefusal(path);
    return code == PROFILE_E_OPEN ? PROFILE_OK : code;
}

void DeployAll(Deployment& d, FirstPortQuery firstPort, NextPortQuery nextPort) {
    int baud = 0;
    int port = firstPort(&baud, kTypeGps);
    if (port >= 0) DeployDevice(d, port, baud, TEXT("GPS_COM"), TEXT("GPS_COM"));
    port = firstPort(&baud, kTypeRadar);
    if (port >= 0) DeployDevice(d, port, baud, TEXT("DYN_COM"), TEXT("KOVU_COM"));
    port = firstPort(&baud, kTypeVirtualFree);
    if (port >= 0) DeployVirtualPorts(d, port, nextPort);
}

}  // namespace

LPCWSTR ProfileResultText(int code) {
    switch (code) {
        case PROFILE_OK:
            return TEXT("done");
        case PROFILE_E_ARGUMENT:
            return TEXT("bad argument");
        case PROFILE_E_OPEN:
            return TEXT("file cannot be read");
        case PROFILE_E_TEMP_CREATE:
            return TEXT("config_tmp cannot be created");
        case PROFILE_E_TEMP_WRITE:
            return TEXT("config_tmp cannot be written");
        case PROFILE_E_WRITE_NO_SECTION:
            return TEXT("section missing");
        case PROFILE_E_REPLACE:
            return TEXT("file cannot be replaced");
        case PROFILE_E_ENTRY_LINE:
            return TEXT("entry too long");
        case PROFILE_E_NOT_FILE:
            return TEXT("not a regular file");
        case PROFILE_E_READ_ONLY:
            return TEXT("file is read-only");
        case PROFILE_E_OWNER:
            return TEXT("file belongs to another user");
        case PROFILE_E_BUSY:
            return TEXT("file is busy");
        default:
            return TEXT("error");
    }
}

int DeployFindings(LPCWSTR iniPath, FirstPortQuery firstPort, NextPortQuery nextPort,
                   WCHAR* failures, size_t failuresChars) {
    return DeployFindingsWaiting(iniPath, firstPort, nextPort, failures, failuresChars,
                                 kDeployLockWaitMs);
}

int DeployFindingsWaiting(LPCWSTR iniPath, FirstPortQuery firstPort, NextPortQuery nextPort,
                          WCHAR* failures, size_t failuresChars, DWORD lockWaitMs) {
    Deployment d{iniPath, failures, failuresChars, 0};
    if (failuresChars) failures[0] = 0;
    // Every read and rewrite runs under the lock, so that another deployment never rewrites
    // the file from a copy made before this one replaced it.
    const std::basic_string<WCHAR> lockPath = std::basic_string<WCHAR>(iniPath) + TEXT(".lock");
    const platform::ExclusiveFileLock lock(lockPath.c_str(), lockWaitMs);
    if (!lock.Held()) {
        RefuseFile(d, PROFILE_E_BUSY);
        return d.failed;
    }
    if (RefuseFile(d, FileRefusal(iniPath))) return d.failed;
    DeployAll(d, firstPort, nextPort);
    return d.failed;
}
