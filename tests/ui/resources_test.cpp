#include "platform/ui/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "ui/resource_ids.h"

namespace {

template <class T>
T Le(const BYTE* p) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{p[i]} << (8 * i));
    return value;
}

const BYTE* Find(LPCWSTR name, LPCWSTR type, DWORD* size) {
    HRSRC found = FindResourceW(nullptr, name, type);
    if (found == nullptr) return nullptr;
    *size = SizeofResource(nullptr, found);
    return static_cast<const BYTE*>(LockResource(LoadResource(nullptr, found)));
}

class ProgramResourcesTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::RegisterResources(ProgramResources()); }
    void TearDown() override { platform::UnregisterResources(ProgramResources()); }
};

// The hand-laid template must say byte for byte what the template builder makes of the
// dialog's description: a slip in a padding word or a style half would move every control.
TEST_F(ProgramResourcesTest, DialogTemplateMatchesItsDescription) {
    const std::vector<WORD> expected = platform::BuildDialogTemplate(
        {0x90C00040, 0x80040000, 0, 0, 187, 109, u"WM_Belvane", u"", 12, u"MS Sans Serif"},
        {
            {0x50010844, 0, 7, 7, 173, 73, 1000, u"EDIT", u""},
            {0x50010000, 0, 7, 86, 64, 16, 1001, u"BUTTON", u"Belvane"},
            {0x50010000, 0, 116, 86, 64, 16, 1002, u"BUTTON", u"Cancel"},
        });
    DWORD size = 0;
    const BYTE* data = Find(MAKEINTRESOURCEW(102), RT_DIALOG, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 4, 0u) << "templates are DWORD aligned";
    ASSERT_EQ(size, expected.size() * sizeof(WORD));
    EXPECT_EQ(std::memcmp(data, expected.data(), size), 0);
    const auto* header = reinterpret_cast<const DLGTEMPLATE*>(data);
    EXPECT_EQ(header->style, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT);
    EXPECT_EQ(header->dwExtendedStyle, WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW);
}

// Every image of the group exists as an icon resource of the announced byte count, and its
// bitmap header agrees with the directory: a disagreement makes the system drop the image.
TEST_F(ProgramResourcesTest, IconGroupHoldsNineConsistentImages) {
    DWORD size = 0;
    const BYTE* group = Find(MAKEINTRESOURCEW(128), RT_GROUP_ICON, &size);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(size, 6u + 14u * 9u);
    EXPECT_EQ(Le<WORD>(group), 0);
    EXPECT_EQ(Le<WORD>(group + 2), 1);
    ASSERT_EQ(Le<WORD>(group + 4), 9);

    std::set<std::pair<int, int>> kinds;
    std::set<WORD> ids;
    for (int i = 0; i < 9; ++i) {
        const BYTE* entry = group + 6 + 14 * i;
        const int pixels = entry[0], depth = Le<WORD>(entry + 6);
        SCOPED_TRACE(testing::Message() << pixels << " px at " << depth << " bpp");
        EXPECT_EQ(entry[1], pixels);
        EXPECT_EQ(entry[2], depth == 4 ? 16 : 0);
        EXPECT_EQ(Le<WORD>(entry + 4), 1) << "planes";
        kinds.insert({pixels, depth});
        const WORD id = Le<WORD>(entry + 12);
        ids.insert(id);

        DWORD imageSize = 0;
        const BYTE* image = Find(MAKEINTRESOURCEW(id), RT_ICON, &imageSize);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(imageSize, Le<DWORD>(entry + 8));
        EXPECT_EQ(Le<DWORD>(image), 40u);
        EXPECT_EQ(Le<int32_t>(image + 4), pixels);
        EXPECT_EQ(Le<int32_t>(image + 8), 2 * pixels) << "colour rows and mask rows";
        EXPECT_EQ(Le<WORD>(image + 14), depth);
        const DWORD colourRow = (pixels * depth + 31) / 32 * 4, maskRow = (pixels + 31) / 32 * 4;
        const DWORD palette = depth <= 8 ? 4u << depth : 0;
        EXPECT_EQ(imageSize, 40 + palette + (colourRow + maskRow) * pixels);
        // The picture is round: the corner is transparent, the centre is not.
        const BYTE* mask = image + 40 + palette + colourRow * pixels;
        EXPECT_TRUE(mask[0] & 0x80) << "bottom left corner";
        const BYTE* middle = mask + maskRow * (pixels / 2);
        EXPECT_FALSE(middle[pixels / 16] & (0x80 >> (pixels / 2 % 8))) << "centre";
    }
    EXPECT_EQ(kinds.size(), 9u);
    for (int pixels : {48, 32, 16})
        for (int depth : {4, 8, 24}) EXPECT_TRUE(kinds.count({pixels, depth}));
    EXPECT_EQ(ids.size(), 9u);

    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(128));
    platform::IconInfo info{};
    ASSERT_TRUE(platform::GetIconInfo(icon, &info));
    EXPECT_EQ(info.imageCount, 9);
    EXPECT_EQ(info.largestSize, 48);
}

TEST_F(ProgramResourcesTest, HighResolutionMarkerAndLanguage) {
    DWORD size = 0;
    const BYTE* marker = Find(u"hi_res_aware", u"ceux", &size);
    ASSERT_NE(marker, nullptr);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(Le<WORD>(marker), 1);

    const platform::ResourceTable& table = ProgramResources();
    EXPECT_EQ(table.count, 3u + 9u);
    for (size_t i = 0; i < table.count; ++i) EXPECT_EQ(table.items[i].language, 2052);
}

}  // namespace
