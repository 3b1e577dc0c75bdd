// Writes an icon group of a program's resource table as an .ico file, for the resource
// compiler to put into the Windows program file as the icon its file shows. Built and run on
// the build machine; the table (BELVANE_ICON_TABLE) is the program's own, made in code.
//   icon_file <out.ico> <group ordinal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/ui/resources.h"

const platform::ResourceTable& BELVANE_ICON_TABLE();

namespace {

constexpr WORD kIconType = 3, kGroupType = 14;

bool Is(LPCWSTR id, WORD ordinal) {
    return IS_INTRESOURCE(id) && LOWORD(reinterpret_cast<ULONG_PTR>(id)) == ordinal;
}

const platform::Resource* Find(WORD type, WORD name) {
    const platform::ResourceTable& table = BELVANE_ICON_TABLE();
    for (size_t i = 0; i < table.count; ++i)
        if (Is(table.items[i].type, type) && Is(table.items[i].name, name)) return &table.items[i];
    return nullptr;
}

void PutLe(std::vector<BYTE>& out, DWORD value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

// The file's directory is the group's, each entry's resource id (2 bytes) replaced by the
// offset of its image in the file (4 bytes); the images follow in the same order.
bool IconFile(const platform::Resource& group, std::vector<BYTE>* out) {
    const BYTE* g = static_cast<const BYTE*>(group.data);
    if (group.size < 6) return false;
    const int count = g[4] | (g[5] << 8);
    if (group.size < 6u + 14u * count) return false;
    out->assign(g, g + 6);
    std::vector<BYTE> images;
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = g + 6 + 14 * i;
        const platform::Resource* image =
            Find(kIconType, static_cast<WORD>(entry[12] | entry[13] << 8));
        if (!image) return false;
        out->insert(out->end(), entry, entry + 12);
        PutLe(*out, static_cast<DWORD>(6 + 16 * count + images.size()), 4);
        const BYTE* bytes = static_cast<const BYTE*>(image->data);
        images.insert(images.end(), bytes, bytes + image->size);
    }
    out->insert(out->end(), images.begin(), images.end());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    const platform::Resource* group = Find(kGroupType, static_cast<WORD>(std::atoi(argv[2])));
    std::vector<BYTE> bytes;
    if (!group || !IconFile(*group, &bytes)) {
        std::fprintf(stderr, "icon_file: no icon group %s\n", argv[2]);
        return 1;
    }
    FILE* file = std::fopen(argv[1], "wb");
    if (!file) return 1;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written ? 0 : 1;
}
