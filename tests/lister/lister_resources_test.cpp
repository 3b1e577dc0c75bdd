#include "lister/lister_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "internal/template_parser.h"
#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"

namespace {

using platform::detail::ItemTemplate;
using platform::detail::ParsedTemplate;

class ListerResources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { platform::RegisterResources(::ListerResources()); }
    static void TearDownTestSuite() { platform::UnregisterResources(::ListerResources()); }

    static const platform::Resource* Find(LPCWSTR type, int id) {
        return reinterpret_cast<const platform::Resource*>(
            FindResourceW(nullptr, MAKEINTRESOURCEW(id), type));
    }
};

// The template read back as the dialog manager reads it, to the last word: a slip in a
// padding word or a style half would move every control after it.
TEST_F(ListerResources, DialogTemplateReadsBackAsTheListerWindowAndItsSixControls) {
    const platform::Resource* found = Find(RT_DIALOG, IDD_LISTER);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->language, 0x409);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(found->data) % 4, 0u) << "templates are DWORD-aligned";
    ParsedTemplate t;
    ASSERT_TRUE(platform::detail::ParseTemplate(static_cast<const DLGTEMPLATE*>(found->data), &t));

    EXPECT_EQ(t.style, 0x80880840u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ((std::vector<short>{t.x, t.y, t.cx, t.cy}), (std::vector<short>{6, 18, 289, 150}));
    EXPECT_EQ(t.className, TEXT("LumbraClass"));
    EXPECT_EQ(t.title, TEXT("LumbraPorts"));
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.font, TEXT("Tahoma"));

    const std::vector<ItemTemplate> expected = {
        {0x50010000, 0, 114, 113, 88, 22, 1, TEXT("BUTTON"), TEXT("OK")},
        {0x50A10003, 0, 67, 28, 180, 88, 4001, TEXT("LISTBOX"), TEXT("")},
        {0x50020001, 0, 109, 9, 100, 9, 4002, TEXT("STATIC"), TEXT(BELVANE_PUBLISHER)},
        {0x50020001, 0, 108, 18, 100, 8, 4003, TEXT("STATIC"), TEXT(BELVANE_WEBSITE)},
        {0x50000203, 0, 4, 4, 20, 20, 4004, TEXT("STATIC"), TEXT(""), 8001},
        {0x50020001, 0, 120, 2, 72, 8, 4005, TEXT("STATIC"), TEXT("LumbraPorts v1.0")},
    };
    ASSERT_EQ(t.items.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_TRUE(t.items[i] == expected[i]) << "item " << i;

    // The last control's text, its terminator and its empty creation data end the resource.
    const auto* end =
        reinterpret_cast<const WCHAR*>(static_cast<const BYTE*>(found->data) + found->size);
    EXPECT_EQ(std::basic_string<WCHAR>(end - 2 - t.items.back().text.size()),
              TEXT("LumbraPorts v1.0"));
    EXPECT_EQ(end[-1], 0);
}

template <class T>
T Le(const BYTE* p) {
    T value = 0;
    for (size_t i = 0; i < sizeof(T); ++i) value |= static_cast<T>(T{p[i]} << (8 * i));
    return value;
}

TEST_F(ListerResources, IconGroupHoldsOneSixteenColourImageOfSixteenPixels) {
    const platform::Resource* group = Find(RT_GROUP_ICON, IDI_LISTER);
    ASSERT_NE(group, nullptr);
    ASSERT_EQ(group->size, 20u);
    const BYTE* g = static_cast<const BYTE*>(group->data);
    EXPECT_EQ(Le<WORD>(g), 0);
    EXPECT_EQ(Le<WORD>(g + 2), 1);  // icons, not cursors
    ASSERT_EQ(Le<WORD>(g + 4), 1);
    EXPECT_EQ(g[6], 16);
    EXPECT_EQ(g[7], 16);
    EXPECT_EQ(g[8], 16);
    EXPECT_EQ(Le<WORD>(g + 10), 1);
    EXPECT_EQ(Le<WORD>(g + 12), 4);

    const platform::Resource* image = Find(RT_ICON, Le<WORD>(g + 18));
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->size, Le<DWORD>(g + 14));
    // Header, 16 colours, 16 rows of 8 colour bytes and 16 rows of 4 mask bytes.
    ASSERT_EQ(image->size, 40u + 64u + 128u + 64u);
    const BYTE* b = static_cast<const BYTE*>(image->data);
    EXPECT_EQ(Le<DWORD>(b), 40u);
    EXPECT_EQ(Le<DWORD>(b + 4), 16u);
    EXPECT_EQ(Le<DWORD>(b + 8), 32u) << "the height counts colour and mask";
    EXPECT_EQ(Le<WORD>(b + 12), 1);
    EXPECT_EQ(Le<WORD>(b + 14), 4);
    EXPECT_EQ(Le<DWORD>(b + 16), 0u);

    // Transparent pixels are black in the colour rows, so that the picture shows nothing
    // there; the picture has both kinds.
    const BYTE* colours = b + 40 + 64;
    const BYTE* mask = colours + 128;
    int transparent = 0, opaque = 0;
    for (int row = 0; row < 16; ++row) {
        for (int x = 0; x < 16; ++x) {
            bool clear = mask[row * 4 + x / 8] & (0x80 >> (x % 8));
            int colour = (colours[row * 8 + x / 2] >> (x % 2 ? 0 : 4)) & 0xF;
            if (clear) {
                ++transparent;
                EXPECT_EQ(colour, 0) << "row " << row << " column " << x;
            } else {
                ++opaque;
            }
        }
        EXPECT_EQ(mask[row * 4 + 2], 0) << "mask rows are padded with zeros";
        EXPECT_EQ(mask[row * 4 + 3], 0);
    }
    EXPECT_GT(transparent, 0);
    EXPECT_GT(opaque, 0);

    HICON icon = LoadIconW(nullptr, MAKEINTRESOURCEW(IDI_LISTER));
    platform::IconInfo info{};
    ASSERT_TRUE(platform::GetIconInfo(icon, &info));
    EXPECT_EQ(info.imageCount, 1);
    EXPECT_EQ(info.largestSize, 16);
}

}  // namespace
