// Resources built into the program: dialog templates, icons and marker resources.
//
// Each program lists its resources in a table in its own folder and defines
// ProgramResources() to return it; the program's startup (platform/winmain.h) registers
// that table before WinMain runs. Tests register tables of their own with
// platform::RegisterResources. The process is one module: FindResourceW searches every
// registered table, the latest first, whatever module handle it is given.
#pragma once

#include "platform/base/types.h"

#ifdef _WIN32
// The system's calls read the resources linked into the program file, and the programs'
// resources are not there: they are built in code. So these names stand for calls that
// search the registered tables first and hand whatever they do not hold to the system
// (platform/ui/windows/resources.cpp); an icon from a table is a real icon.
HRSRC ProgramFindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL ProgramLoadResource(HMODULE module, HRSRC resource);
LPVOID ProgramLockResource(HGLOBAL data);
DWORD ProgramSizeofResource(HMODULE module, HRSRC resource);
HICON ProgramLoadIconW(HINSTANCE instance, LPCWSTR name);
#define FindResourceW ProgramFindResourceW
#define LoadResource ProgramLoadResource
#define LockResource ProgramLockResource
#define SizeofResource ProgramSizeofResource
#define LoadIconW ProgramLoadIconW
#else
#define RT_ICON MAKEINTRESOURCEW(3)
#define RT_DIALOG MAKEINTRESOURCEW(5)
#define RT_RCDATA MAKEINTRESOURCEW(10)
#define RT_GROUP_ICON MAKEINTRESOURCEW(14)

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);
// Loads an icon group resource (RT_GROUP_ICON). Icons are never freed, as on Windows for
// icons from resources.
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
#endif

namespace platform {

// One resource: type and name are MAKEINTRESOURCEW ordinals or strings (compared
// without regard to case); data must outlive the process's use of it.
struct Resource {
    LPCWSTR type;
    LPCWSTR name;
    WORD language;
    const void* data;
    DWORD size;
};

struct ResourceTable {
    const Resource* items;
    size_t count;
};

void RegisterResources(const ResourceTable& table);
void UnregisterResources(const ResourceTable& table);

// What LoadIconW knows of an icon.
struct IconInfo {
    int imageCount;
    int largestSize;  // pixels, 256 for the 0 of the icon directory
};
bool GetIconInfo(HICON icon, IconInfo* info);

}  // namespace platform

// Defined by each program in its own folder: the resources built into it.
const platform::ResourceTable& ProgramResources();
