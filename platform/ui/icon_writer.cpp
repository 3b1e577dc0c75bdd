#include "platform/ui/icon_writer.h"

namespace platform {
namespace {

struct Rgb {
    BYTE r, g, b;
};

constexpr Rgb kStandardPalette[16] = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

void PutLe(std::vector<BYTE>& out, DWORD value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<BYTE>(value >> (8 * i)));
}

int RowBytes(int pixels, int bitsPerPixel) {
    return (pixels * bitsPerPixel + 31) / 32 * 4;
}

void PutHeader(std::vector<BYTE>& out, const IconFormat& format, int imageBytes) {
    PutLe(out, 40, 4);
    PutLe(out, static_cast<DWORD>(format.size), 4);
    PutLe(out, static_cast<DWORD>(2 * format.size), 4);  // colour rows and mask rows
    PutLe(out, 1, 2);                                    // planes
    PutLe(out, static_cast<DWORD>(format.depth), 2);
    PutLe(out, 0, 4);  // no compression
    PutLe(out, static_cast<DWORD>(imageBytes), 4);
    for (int i = 0; i < 4; ++i) PutLe(out, 0, 4);  // resolution and colour counts
}

void PutPalette(std::vector<BYTE>& out, int depth) {
    const int entries = depth <= 8 ? 1 << depth : 0;
    for (int i = 0; i < entries; ++i) {
        const BYTE grey = static_cast<BYTE>(i);
        const Rgb c = i < 16 ? kStandardPalette[i] : Rgb{grey, grey, grey};
        out.insert(out.end(), {c.b, c.g, c.r, 0});
    }
}

// A transparent pixel is black in the colour rows, so that the picture shows nothing there.
void PutColourRow(std::vector<BYTE>& out, const IconFormat& format, int y,
                  const IconPicture& picture) {
    std::vector<BYTE> row(static_cast<size_t>(RowBytes(format.size, format.depth)), 0);
    for (int x = 0; x < format.size; ++x) {
        const int pixel = picture(x, y, format.size);
        const int shade = pixel == kIconTransparent ? 0 : pixel;
        if (format.depth == 24) {
            const Rgb c = kStandardPalette[shade];
            row[3 * x] = c.b;
            row[3 * x + 1] = c.g;
            row[3 * x + 2] = c.r;
        } else if (format.depth == 8) {
            row[x] = static_cast<BYTE>(shade);
        } else {
            row[x / 2] |= static_cast<BYTE>(x % 2 ? shade : shade << 4);
        }
    }
    out.insert(out.end(), row.begin(), row.end());
}

void PutMaskRow(std::vector<BYTE>& out, int size, int y, const IconPicture& picture) {
    std::vector<BYTE> row(static_cast<size_t>(RowBytes(size, 1)), 0);
    for (int x = 0; x < size; ++x) {
        if (picture(x, y, size) == kIconTransparent)
            row[x / 8] |= static_cast<BYTE>(0x80 >> (x % 8));
    }
    out.insert(out.end(), row.begin(), row.end());
}

std::vector<BYTE> WriteImage(const IconFormat& format, const IconPicture& picture) {
    const int rows = (RowBytes(format.size, format.depth) + RowBytes(format.size, 1)) * format.size;
    std::vector<BYTE> out;
    PutHeader(out, format, rows);
    PutPalette(out, format.depth);
    for (int y = format.size - 1; y >= 0; --y) PutColourRow(out, format, y, picture);
    for (int y = format.size - 1; y >= 0; --y) PutMaskRow(out, format.size, y, picture);
    return out;
}

// A directory entry: size, colour count, planes, depth, byte count and resource id.
void PutGroupEntry(std::vector<BYTE>& group, const IconFormat& format, size_t bytes, WORD id) {
    group.insert(group.end(), {static_cast<BYTE>(format.size), static_cast<BYTE>(format.size),
                               static_cast<BYTE>(format.depth == 4 ? 16 : 0), 0});
    PutLe(group, 1, 2);
    PutLe(group, static_cast<DWORD>(format.depth), 2);
    PutLe(group, static_cast<DWORD>(bytes), 4);
    PutLe(group, id, 2);
}

}  // namespace

IconResources WriteIcon(const std::vector<IconFormat>& formats, WORD firstId,
                        const IconPicture& picture) {
    IconResources icon;
    PutLe(icon.group, 0, 2);
    PutLe(icon.group, 1, 2);  // icons, not cursors
    PutLe(icon.group, static_cast<DWORD>(formats.size()), 2);
    for (const IconFormat& format : formats) {
        const WORD id = static_cast<WORD>(firstId + icon.images.size());
        icon.images.push_back(WriteImage(format, picture));
        PutGroupEntry(icon.group, format, icon.images.back().size(), id);
    }
    return icon;
}

}  // namespace platform
