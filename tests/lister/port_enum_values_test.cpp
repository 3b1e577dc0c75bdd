// Registry values of 127, 128 and 129 characters, with and without a terminator and of the
// wrong type, read by the lister's walks: every line arrives terminated within its buffer,
// cut where the buffers end, and no value is read past its data (the sanitizer builds
// catch an over-read; the guarded buffer below catches a write past the 128 characters).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "lister/port_enum.h"
#include "platform/base/strings.h"
#include "platform/io/registry.h"
#include "private_registry.h"
#include "support/test_support.h"

namespace {

enum class Form { Terminated, Unterminated, BinaryOddLength };

struct Stored {
    std::u16string text;
    Form form;
};

const char* FormName(Form form) {
    return form == Form::Terminated     ? "terminated"
           : form == Form::Unterminated ? "unterminated"
                                        : "binary, odd length";
}

class PortEnumValues : public PrivateRegistryTest {
  protected:
    static void Put(const std::u16string& path, const char16_t* name, const Stored& value) {
        std::vector<BYTE> bytes(value.text.size() * 2);
        for (size_t i = 0; i < value.text.size(); ++i) {
            bytes[2 * i] = static_cast<BYTE>(value.text[i] & 0xff);
            bytes[2 * i + 1] = static_cast<BYTE>(value.text[i] >> 8);
        }
        DWORD type = REG_SZ;
        if (value.form == Form::Terminated) bytes.insert(bytes.end(), {0, 0});
        if (value.form == Form::BinaryOddLength) {
            type = REG_BINARY;
            bytes.push_back('X');  // half a character: never shown
        }
        HKEY key = Key(path);
        ASSERT_EQ(
            RegSetValueExW(key, name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size())),
            ERROR_SUCCESS);
        RegCloseKey(key);
    }
    static void Collect(void* context, LPCWSTR line) {
        // A line must end inside the walk's buffer before anything else is done with it.
        const size_t length = wcsnlen(line, kLineChars);
        ASSERT_LT(length, kLineChars) << "line without a terminator in its buffer";
        static_cast<std::vector<std::u16string>*>(context)->emplace_back(line, length);
    }
    static std::vector<std::u16string> Walk() {
        std::vector<std::u16string> lines;
        WalkActivePorts(Collect, &lines);
        WalkBluetoothPorts(Collect, &lines);
        return lines;
    }
    // What a value becomes in a buffer of kValueChars characters, and a line in its buffer.
    static std::u16string InValueBuffer(const std::u16string& text) {
        return text.substr(0, kValueChars - 1);
    }
    static std::u16string InLine(const std::u16string& text) {
        return text.substr(0, kLineChars - 1);
    }
};

const size_t kLengths[] = {127, 128, 129};
const Form kForms[] = {Form::Terminated, Form::Unterminated, Form::BinaryOddLength};

// Each case sets all three values anew: a port name, a friendly name or a Bluetooth port of the
// length and form, the others plain.
TEST_F(PortEnumValues, EveryLengthAndFormGivesTerminatedLinesCutAtTheBuffers) {
    int cases = 0;
    for (size_t length : kLengths) {
        for (Form form : kForms) {
            for (int field = 0; field < 3; ++field) {
                SCOPED_TRACE(std::to_string(length) + " characters, " + FormName(form) +
                             ", field " + std::to_string(field));
                const std::u16string name = u"COM" + std::u16string(length - 3, u'n');
                const std::u16string friendly = std::u16string(length, u'f');
                const std::u16string port = u"COM" + std::u16string(length - 3, u'p');
                Put(u"Drivers\\BuiltIn\\S", u"FriendlyName",
                    {field == 1 ? friendly : u"Friendly", field == 1 ? form : Form::Terminated});
                Put(u"Drivers\\Active\\01", u"Name",
                    {field == 0 ? name : u"COM1:", field == 0 ? form : Form::Terminated});
                Put(u"Drivers\\Active\\01", u"Key", {u"Drivers\\BuiltIn\\S", Form::Terminated});
                Put(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\01", u"Port",
                    {field == 2 ? port : u"COM5", field == 2 ? form : Form::Terminated});

                const std::u16string shownName = field == 0 ? InValueBuffer(name) : u"COM1:";
                const std::u16string shownFriendly =
                    field == 1 ? InValueBuffer(friendly) : u"Friendly";
                const std::u16string shownPort = field == 2 ? InValueBuffer(port) : u"COM5";
                const std::vector<std::u16string> expected{
                    InLine(shownName + u" - " + shownFriendly),
                    InLine(shownPort + u": - Bluetooth")};
                EXPECT_EQ(Walk(), expected);
                ++cases;
            }
        }
    }
    EXPECT_EQ(cases, 27);
}

// The value reader itself, between guards: 128 characters are the most it writes, and it
// always ends the text inside them.
TEST_F(PortEnumValues, ValueReaderStaysInsideItsBufferForEveryLengthAndForm) {
    for (size_t length :
         {size_t{0}, size_t{1}, size_t{126}, size_t{127}, size_t{128}, size_t{129}, size_t{300}}) {
        for (Form form : kForms) {
            SCOPED_TRACE(std::to_string(length) + " characters, " + FormName(form));
            const std::u16string text(length, u'v');
            Put(u"Drivers\\Active\\02", u"Name", {text, form});
            WCHAR area[4 + kValueChars + 4];
            for (WCHAR& c : area) c = u'#';
            HKEY key = nullptr;
            ASSERT_EQ(OpenActiveDriverKey(u"02", &key), ERROR_SUCCESS);
            EXPECT_EQ(QueryStringValue(key, u"Name", area + 4), ERROR_SUCCESS);
            RegCloseKey(key);
            for (int g = 0; g < 4; ++g) {
                EXPECT_EQ(area[g], u'#');
                EXPECT_EQ(area[4 + kValueChars + g], u'#');
            }
            const size_t shown = wcsnlen(area + 4, kValueChars);
            ASSERT_LT(shown, kValueChars);
            EXPECT_EQ(std::u16string(area + 4, shown), InValueBuffer(text));
        }
    }
}

// Data of other types: a number, a list of strings and an empty value.
TEST_F(PortEnumValues, ValuesOfOtherTypesEndAtTheirDataOrTheirFirstZero) {
    HKEY key = Key(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\03");
    const BYTE multi[] = {'C', 0, 'O', 0, 'M', 0, '4', 0, 0, 0, 'X', 0, 0, 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(key, u"Port", 0, REG_MULTI_SZ, multi, sizeof multi), ERROR_SUCCESS);
    RegCloseKey(key);
    key = Key(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\04");
    ASSERT_EQ(RegSetValueExW(key, u"Port", 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    RegCloseKey(key);
    key = Key(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\05");
    const BYTE one = 'C';
    ASSERT_EQ(RegSetValueExW(key, u"Port", 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Walk(), (std::vector<std::u16string>{u"COM4: - Bluetooth", u": - Bluetooth",
                                                   u": - Bluetooth"}));
}

}  // namespace
