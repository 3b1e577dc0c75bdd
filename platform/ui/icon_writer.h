// The one writer of icon resources, as a resource compiler lays them out: each image an
// RT_ICON resource (BITMAPINFOHEADER with the height doubled for the mask, the palette, the
// colour rows and the transparency mask, both bottom-up), and an RT_GROUP_ICON directory
// that lists the images with their resource ids.
#pragma once

#include <functional>
#include <vector>

#include "platform/base/types.h"

namespace platform {

// A picture's pixel: an entry of the standard 16-colour palette (0 black, 1 maroon, 2 green,
// 3 olive, 4 navy, 5 purple, 6 teal, 7 silver, 8 grey, 9 red, 10 lime, 11 yellow, 12 blue,
// 13 fuchsia, 14 aqua, 15 white), or transparent.
constexpr int kIconTransparent = -1;
// The pixel at x, y (from the top left) of the picture drawn size pixels square.
using IconPicture = std::function<int(int x, int y, int size)>;

// An image: size pixels square at 4, 8 or 24 bits a pixel. The 8-bit palette continues the
// 16 standard colours with greys.
struct IconFormat {
    int size;
    int depth;
};

struct IconResources {
    std::vector<std::vector<BYTE>> images;  // image i is the RT_ICON resource firstId + i
    std::vector<BYTE> group;                // the RT_GROUP_ICON directory
};

// The picture in every format, in the order given.
IconResources WriteIcon(const std::vector<IconFormat>& formats, WORD firstId,
                        const IconPicture& picture);

}  // namespace platform
