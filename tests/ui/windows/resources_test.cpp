// The registered resource tables under the system's resource and icon calls: what a table
// holds comes back byte for byte, what it does not is the system's, and an icon written in
// code is drawn by the system as it was written.
#include "platform/ui/resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/ui/dialog_template.h"
#include "platform/ui/icon_writer.h"
#include "window_driver.h"

namespace {

constexpr WORD kDialogId = 300;
constexpr WORD kIconId = 301;
constexpr WORD kFirstImage = 40;
constexpr int kRed = 9, kBlue = 12;

// Left half red with a blue top row, right half transparent: any row order or mask mistake
// moves a colour.
int Picture(int x, int y, int size) {
    if (x >= size / 2) return platform::kIconTransparent;
    return y == 0 ? kBlue : kRed;
}

class ResourceTables : public ::testing::Test {
  protected:
    ResourceTables()
        : dialog_(platform::BuildDialogTemplate(
              {WS_POPUP | WS_CAPTION, 0, 0, 0, 100, 50, TEXT("Test"), TEXT(""), 0, TEXT("")},
              {{WS_CHILD, 0, 5, 5, 40, 12, IDOK, TEXT("BUTTON"), TEXT("OK")}})),
          icon_(platform::WriteIcon({{16, 4}, {32, 24}}, kFirstImage, Picture)),
          items_{{RT_DIALOG, MAKEINTRESOURCEW(kDialogId), 0, dialog_.data(),
                  static_cast<DWORD>(dialog_.size() * sizeof(WORD))},
                 {RT_RCDATA, TEXT("Marker"), 0, kMarker, sizeof(kMarker)},
                 {RT_GROUP_ICON, MAKEINTRESOURCEW(kIconId), 0, icon_.group.data(),
                  static_cast<DWORD>(icon_.group.size())},
                 {RT_ICON, MAKEINTRESOURCEW(kFirstImage), 0, icon_.images[0].data(),
                  static_cast<DWORD>(icon_.images[0].size())},
                 {RT_ICON, MAKEINTRESOURCEW(kFirstImage + 1), 0, icon_.images[1].data(),
                  static_cast<DWORD>(icon_.images[1].size())}},
          table_{items_, 5} {
        platform::RegisterResources(table_);
    }
    ~ResourceTables() override { platform::UnregisterResources(table_); }

    static constexpr BYTE kMarker[3] = {1, 2, 3};
    std::vector<WORD> dialog_;
    platform::IconResources icon_;
    platform::Resource items_[5];
    platform::ResourceTable table_;
};

// Ordinals, "#n" names and names in any case find the item; its bytes come back whole.
TEST_F(ResourceTables, FindLoadLockAndSizeGiveTheItemBack) {
    struct Case {
        LPCWSTR name;
        LPCWSTR type;
        const void* data;
        size_t size;
    };
    const Case cases[] = {
        {MAKEINTRESOURCEW(kDialogId), RT_DIALOG, dialog_.data(), dialog_.size() * sizeof(WORD)},
        {TEXT("#300"), RT_DIALOG, dialog_.data(), dialog_.size() * sizeof(WORD)},
        {TEXT("mArKeR"), RT_RCDATA, kMarker, sizeof(kMarker)},
    };
    for (const Case& c : cases) {
        HRSRC found = FindResourceW(nullptr, c.name, c.type);
        ASSERT_NE(found, nullptr);
        ASSERT_EQ(SizeofResource(nullptr, found), c.size);
        const void* data = LockResource(LoadResource(nullptr, found));
        ASSERT_NE(data, nullptr);
        EXPECT_EQ(std::memcmp(data, c.data, c.size), 0);
    }
    // Not in the table: the system answers, from the program file, which has none of these.
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(kDialogId), RT_RCDATA), nullptr);
    EXPECT_EQ(FindResourceW(nullptr, TEXT("Marker"), RT_DIALOG), nullptr);
}

// A table registered later hides an item of the same type and name in an earlier one, until
// it is unregistered.
TEST_F(ResourceTables, LatestTableFirst) {
    static constexpr BYTE kOther[1] = {9};
    const platform::Resource item{RT_RCDATA, TEXT("MARKER"), 0, kOther, sizeof(kOther)};
    const platform::ResourceTable later{&item, 1};
    platform::RegisterResources(later);
    EXPECT_EQ(SizeofResource(nullptr, FindResourceW(nullptr, TEXT("Marker"), RT_RCDATA)), 1u);
    platform::UnregisterResources(later);
    EXPECT_EQ(SizeofResource(nullptr, FindResourceW(nullptr, TEXT("Marker"), RT_RCDATA)), 3u);
}

DWORD PixelAt(const std::vector<DWORD>& rows, int x, int y) {
    return rows[static_cast<size_t>(y * 32 + x)] & 0xFFFFFF;
}

// The system picks the 32-pixel image for its icon size and draws it: red on the left, the
// blue row on top, the background showing through the transparent half.
TEST_F(ResourceTables, IconFromTheTableIsARealIcon) {
    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(kIconId));
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(kIconId)), icon);
    platform::IconInfo info{};
    ASSERT_TRUE(platform::GetIconInfo(icon, &info));
    EXPECT_EQ(info.imageCount, 2);
    EXPECT_EQ(info.largestSize, 32);

    const std::vector<DWORD> rows = uitest::DrawnPixels(icon, 32);
    ASSERT_EQ(rows.size(), 32u * 32u);
    const DWORD red = 0xFF0000, blue = 0x0000FF, background = 0x00FF00;
    EXPECT_EQ(PixelAt(rows, 3, 0), blue);
    EXPECT_EQ(PixelAt(rows, 3, 20), red);
    EXPECT_EQ(PixelAt(rows, 20, 0), background);
    EXPECT_EQ(PixelAt(rows, 30, 31), background);

    // Icons the tables do not hold are the system's.
    EXPECT_NE(LoadIconW(nullptr, IDI_APPLICATION), nullptr);
    EXPECT_EQ(LoadIconW(nullptr, MAKEINTRESOURCEW(kIconId + 1)), nullptr);
}

}  // namespace
