#include "platform/ui/resources.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "internal/template_parser.h"
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

// The template read back as the dialog manager reads it: the styles, texts and places of
// the dialog and its three controls, with nothing left over after the last one.
TEST_F(ProgramResourcesTest, DialogTemplateReadsBackAsTheMainDialog) {
    DWORD size = 0;
    const BYTE* data = Find(MAKEINTRESOURCEW(102), RT_DIALOG, &size);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % 4, 0u) << "templates are DWORD aligned";
    platform::detail::ParsedTemplate t;
    ASSERT_TRUE(platform::detail::ParseTemplate(reinterpret_cast<const DLGTEMPLATE*>(data), &t));
    EXPECT_EQ(t.style, 0x90C00040u);
    EXPECT_EQ(t.style, WS_POPUP | WS_VISIBLE | WS_CAPTION | DS_SETFONT);
    EXPECT_EQ(t.exStyle, 0x80040000u);
    EXPECT_EQ(t.exStyle, WS_EX_CAPTIONOKBTN | WS_EX_APPWINDOW);
    EXPECT_EQ((std::vector<short>{t.x, t.y, t.cx, t.cy}), (std::vector<short>{0, 0, 187, 109}));
    EXPECT_EQ(t.className, TEXT(""));
    EXPECT_EQ(t.title, TEXT("WM_Belvane"));
    EXPECT_EQ(t.pointSize, 12);
    EXPECT_EQ(t.font, TEXT("MS Sans Serif"));
    const std::vector<platform::detail::ItemTemplate> expected = {
        {0x50010844, 0, 7, 7, 173, 73, 1000, TEXT("EDIT"), TEXT("")},
        {0x50010000, 0, 7, 86, 64, 16, 1001, TEXT("BUTTON"), TEXT("Belvane")},
        {0x50010000, 0, 116, 86, 64, 16, 1002, TEXT("BUTTON"), TEXT("Cancel")},
    };
    ASSERT_EQ(t.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(t.items[i] == expected[i]) << "item " << i;
    // The last control's text, its terminator and its empty creation data end the resource.
    const auto* end = reinterpret_cast<const WCHAR*>(data + size);
    EXPECT_EQ(std::basic_string<WCHAR>(end - 2 - t.items.back().text.size()), TEXT("Cancel"));
    EXPECT_EQ(end[-1], 0);
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
    const BYTE* marker = Find(TEXT("hi_res_aware"), TEXT("ceux"), &size);
    ASSERT_NE(marker, nullptr);
    ASSERT_EQ(size, 2u);
    EXPECT_EQ(Le<WORD>(marker), 1);

    const platform::ResourceTable& table = ProgramResources();
    EXPECT_EQ(table.count, 3u + 9u);
    for (size_t i = 0; i < table.count; ++i) EXPECT_EQ(table.items[i].language, 2052);
}

}  // namespace
