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
    String text;
    Form form;
};

const char* FormName(Form form) {
    return form == Form::Terminated     ? "terminated"
           : form == Form::Unterminated ? "unterminated"
                                        : "binary, odd length";
}

class PortEnumValues : public PrivateRegistryTest {
  protected:
    static void Put(const String& path, const WCHAR* name, const Stored& value) {
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
        static_cast<std::vector<String>*>(context)->emplace_back(line, length);
    }
    static std::vector<String> Walk() {
        std::vector<String> lines;
        WalkActivePorts(Collect, &lines);
        WalkBluetoothPorts(Collect, &lines);
        return lines;
    }
    // What a value becomes in a buffer of kValueChars characters, and a line in its buffer.
    static String InValueBuffer(const String& text) { return text.substr(0, kValueChars - 1); }
    static String InLine(const String& text) { return text.substr(0, kLineChars - 1); }
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
                const String name = TEXT("COM") + String(length - 3, TEXT('n'));
                const String friendly = String(length, TEXT('f'));
                const String port = TEXT("COM") + String(length - 3, TEXT('p'));
                Put(TEXT("Drivers\\BuiltIn\\S"), TEXT("FriendlyName"),
                    {field == 1 ? friendly : TEXT("Friendly"),
                     field == 1 ? form : Form::Terminated});
                Put(TEXT("Drivers\\Active\\01"), TEXT("Name"),
                    {field == 0 ? name : TEXT("COM1:"), field == 0 ? form : Form::Terminated});
                Put(TEXT("Drivers\\Active\\01"), TEXT("Key"),
                    {TEXT("Drivers\\BuiltIn\\S"), Form::Terminated});
                Put(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\01"), TEXT("Port"),
                    {field == 2 ? port : TEXT("COM5"), field == 2 ? form : Form::Terminated});

                const String shownName = field == 0 ? InValueBuffer(name) : TEXT("COM1:");
                const String shownFriendly =
                    field == 1 ? InValueBuffer(friendly) : TEXT("Friendly");
                const String shownPort = field == 2 ? InValueBuffer(port) : TEXT("COM5");
                const std::vector<String> expected{InLine(shownName + TEXT(" - ") + shownFriendly),
                                                   InLine(shownPort + TEXT(": - Bluetooth"))};
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
            const String text(length, TEXT('v'));
            Put(TEXT("Drivers\\Active\\02"), TEXT("Name"), {text, form});
            WCHAR area[4 + kValueChars + 4];
            for (WCHAR& c : area) c = TEXT('#');
            HKEY key = nullptr;
            ASSERT_EQ(OpenActiveDriverKey(TEXT("02"), &key), ERROR_SUCCESS);
            EXPECT_EQ(QueryStringValue(key, TEXT("Name"), area + 4), ERROR_SUCCESS);
            RegCloseKey(key);
            for (int g = 0; g < 4; ++g) {
                EXPECT_EQ(area[g], TEXT('#'));
                EXPECT_EQ(area[4 + kValueChars + g], TEXT('#'));
            }
            const size_t shown = wcsnlen(area + 4, kValueChars);
            ASSERT_LT(shown, kValueChars);
            EXPECT_EQ(String(area + 4, shown), InValueBuffer(text));
        }
    }
}

// Data of other types: a number, a list of strings and an empty value.
TEST_F(PortEnumValues, ValuesOfOtherTypesEndAtTheirDataOrTheirFirstZero) {
    HKEY key = Key(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\03"));
    const BYTE multi[] = {'C', 0, 'O', 0, 'M', 0, '4', 0, 0, 0, 'X', 0, 0, 0, 0, 0};
    ASSERT_EQ(RegSetValueExW(key, TEXT("Port"), 0, REG_MULTI_SZ, multi, sizeof multi),
              ERROR_SUCCESS);
    RegCloseKey(key);
    key = Key(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\04"));
    ASSERT_EQ(RegSetValueExW(key, TEXT("Port"), 0, REG_BINARY, nullptr, 0), ERROR_SUCCESS);
    RegCloseKey(key);
    key = Key(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\05"));
    const BYTE one = 'C';
    ASSERT_EQ(RegSetValueExW(key, TEXT("Port"), 0, REG_BINARY, &one, 1), ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(Walk(), (std::vector<String>{TEXT("COM4: - Bluetooth"), TEXT(": - Bluetooth"),
                                           TEXT(": - Bluetooth")}));
}

}  // namespace
