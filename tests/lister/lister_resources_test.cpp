#include "lister/lister_resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ui/dialogs.h"
#include "platform/ui/resources.h"

namespace {

// Reads a dialog template word by word, as the dialog manager reads it.
class TemplateReader {
  public:
    TemplateReader(const void* data, DWORD bytes)
        : words_(static_cast<const WORD*>(data)), count_(bytes / 2) {}

    WORD Word() {
        if (at_ >= count_) throw std::out_of_range("template ends early");
        return words_[at_++];
    }
    DWORD Dword() {
        DWORD low = Word();
        return low | (DWORD{Word()} << 16);
    }
    short Short() { return static_cast<short>(Word()); }
    std::u16string Text() {
        std::u16string text;
        while (WORD c = Word()) text += static_cast<char16_t>(c);
        return text;
    }
    // A class or text field: "#<n>" for an ordinal, the string otherwise.
    std::u16string NameOrOrdinal() {
        if (at_ < count_ && words_[at_] == 0xFFFF) {
            Word();
            std::string number = std::to_string(Word());
            return u"#" + std::u16string(number.begin(), number.end());
        }
        return Text();
    }
    void AlignToDword() {
        if (at_ % 2) Word();
    }
    size_t position() const { return at_; }
    size_t count() const { return count_; }

  private:
    const WORD* words_;
    size_t count_;
    size_t at_ = 0;
};

struct Control {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    std::u16string className, text;
    WORD creationBytes;
    bool operator==(const Control&) const = default;
};

class ListerResources : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { platform::RegisterResources(::ListerResources()); }
    static void TearDownTestSuite() { platform::UnregisterResources(::ListerResources()); }

    static const platform::Resource* Find(LPCWSTR type, int id) {
        return reinterpret_cast<const platform::Resource*>(
            FindResourceW(nullptr, MAKEINTRESOURCEW(id), type));
    }
};

TEST_F(ListerResources, DialogTemplateDecodesToTheListerWindowAndItsSixControls) {
    const platform::Resource* found = Find(RT_DIALOG, IDD_LISTER);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->language, 0x409);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(found->data) % 4, 0u) << "templates are DWORD-aligned";
    TemplateReader t(found->data, found->size);

    EXPECT_EQ(t.Dword(), 0x80880840u);
    EXPECT_EQ(t.Dword(), 0u);
    WORD items = t.Word();
    ASSERT_EQ(items, 6);
    EXPECT_EQ(t.Short(), 6);
    EXPECT_EQ(t.Short(), 18);
    EXPECT_EQ(t.Short(), 289);
    EXPECT_EQ(t.Short(), 150);
    EXPECT_EQ(t.NameOrOrdinal(), u"") << "no menu";
    EXPECT_EQ(t.NameOrOrdinal(), u"LumbraClass");
    EXPECT_EQ(t.Text(), u"LumbraPorts");
    EXPECT_EQ(t.Word(), 8);
    EXPECT_EQ(t.Text(), u"Tahoma");

    std::vector<Control> controls;
    for (int i = 0; i < items; ++i) {
        t.AlignToDword();
        Control c{};
        c.style = t.Dword();
        c.exStyle = t.Dword();
        c.x = t.Short();
        c.y = t.Short();
        c.cx = t.Short();
        c.cy = t.Short();
        c.id = t.Word();
        c.className = t.NameOrOrdinal();
        c.text = t.NameOrOrdinal();
        c.creationBytes = t.Word();
        controls.push_back(c);
    }
    EXPECT_EQ(t.position(), t.count()) << "nothing follows the last control";

    // Predefined classes: #128 button, #130 static, #131 list box.
    const std::vector<Control> expected = {
        {0x50010000, 0, 114, 113, 88, 22, 1, u"#128", u"OK", 0},
        {0x50A10003, 0, 67, 28, 180, 88, 4001, u"#131", u"", 0},
        {0x50020001, 0, 109, 9, 100, 9, 4002, u"#130", TEXT(BELVANE_PUBLISHER), 0},
        {0x50020001, 0, 108, 18, 100, 8, 4003, u"#130", TEXT(BELVANE_WEBSITE), 0},
        {0x50000203, 0, 4, 4, 20, 20, 4004, u"#130", u"#8001", 0},
        {0x50020001, 0, 120, 2, 72, 8, 4005, u"#130", u"LumbraPorts v1.0", 0},
    };
    ASSERT_EQ(controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_EQ(controls[i], expected[i]) << "item " << i;
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
