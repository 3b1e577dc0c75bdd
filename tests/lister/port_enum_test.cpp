#include "lister/port_enum.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/base/strings.h"
#include "platform/io/registry.h"
#include "private_registry.h"

namespace {

class PortEnumTest : public PrivateRegistryTest {
  protected:
    static void Collect(void* context, LPCWSTR line) {
        static_cast<std::vector<String>*>(context)->push_back(line);
    }
    std::vector<String> Walk() {
        std::vector<String> lines;
        WalkActivePorts(Collect, &lines);
        WalkBluetoothPorts(Collect, &lines);
        return lines;
    }
};

using Lines = std::vector<String>;

TEST_F(PortEnumTest, EmptyRegistryGivesNoLines) {
    EXPECT_EQ(Walk(), Lines{});
}

TEST_F(PortEnumTest, ActiveEntriesNameTheirDriverAndOnlyComAndGpdCount) {
    Set(TEXT("Drivers\\BuiltIn\\Serial1"), TEXT("FriendlyName"), TEXT("USB serial adapter"));
    Active(TEXT("01"), TEXT("COM1:"), TEXT("Drivers\\BuiltIn\\Serial1"));
    Active(TEXT("02"), TEXT("com2:"), TEXT("Drivers\\BuiltIn\\Serial1"));  // lower case: not a port
    Active(TEXT("03"), TEXT("GPD0:"), TEXT("Drivers\\BuiltIn\\Serial1"));
    Active(TEXT("04"), TEXT("COM3:"));  // no Key: empty friendly name
    Active(TEXT("05"), TEXT("COM4:"), TEXT("Drivers\\BuiltIn\\Missing"));  // Key names nothing
    Active(TEXT("06"), TEXT("TEL1:"));
    EXPECT_EQ(Walk(), (Lines{TEXT("COM1: - USB serial adapter"), TEXT("GPD0: - USB serial adapter"),
                             TEXT("COM3: - "), TEXT("COM4: - ")}));
}

TEST_F(PortEnumTest, BluetoothPortsAreListedAsStoredAndDuplicatesStay) {
    Active(TEXT("01"), TEXT("COM5:"), TEXT(""));
    Bluetooth(TEXT("1"), TEXT("COM5"));
    Bluetooth(TEXT("2"), TEXT("whatever it holds"));
    Set(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\3"), TEXT("Other"),
        TEXT("x"));  // no Port
    EXPECT_EQ(Walk(), (Lines{TEXT("COM5: - "), TEXT("COM5: - Bluetooth"),
                             TEXT("whatever it holds: - Bluetooth")}));
}

TEST_F(PortEnumTest, EachWalkRunsWithoutTheOthersRoot) {
    Bluetooth(TEXT("1"), TEXT("COM8"));
    HKEY drivers = Key(TEXT("Drivers"));
    ASSERT_EQ(RegDeleteKeyW(drivers, TEXT("Active")), ERROR_SUCCESS);
    RegCloseKey(drivers);
    EXPECT_EQ(Walk(), Lines{TEXT("COM8: - Bluetooth")});
}

TEST_F(PortEnumTest, AnEntryWhosePathDoesNotFitIsSkippedAndTheWalkGoesOn) {
    // 15 characters of "Drivers\Active\" and a 120-character name exceed the 127 of the path.
    Active(TEXT("1"), TEXT("COM1:"));
    Active(TEXT("2") + String(119, TEXT('x')), TEXT("COM2:"));
    Active(TEXT("3"), TEXT("COM3:"));
    EXPECT_EQ(Walk(), (Lines{TEXT("COM1: - "), TEXT("COM3: - ")}));
}

TEST_F(PortEnumTest, ANameTooLongToEnumerateEndsTheWalkKeepingEarlierLines) {
    Active(TEXT("1"), TEXT("COM1:"));
    Active(TEXT("2") + String(127, TEXT('x')), TEXT("COM2:"));
    Active(TEXT("3"), TEXT("COM3:"));
    EXPECT_EQ(Walk(), (Lines{TEXT("COM1: - ")}));
}

TEST_F(PortEnumTest, OverlongAndUnterminatedValuesAreCutInsideTheBuffers) {
    const String longName = TEXT("COM9:") + String(200, TEXT('n'));
    Set(TEXT("Drivers\\BuiltIn\\S"), TEXT("FriendlyName"), String(127, TEXT('f')));
    Active(TEXT("1"), longName, TEXT("Drivers\\BuiltIn\\S"));
    Set(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\1"), TEXT("Port"), TEXT("COM7"),
        false);
    HKEY key = Key(TEXT("Software\\Microsoft\\Bluetooth\\Serial\\Ports\\2"));
    DWORD number = 0x004D4F43;  // "COM" and a zero as little-endian bytes, of the wrong type
    RegSetValueExW(key, TEXT("Port"), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);
    Lines lines = Walk();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], longName.substr(0, 127));  // the line is cut at its 127 characters
    EXPECT_EQ(lines[1], TEXT("COM7: - Bluetooth"));
    EXPECT_EQ(lines[2], TEXT("\u4F43\u004D: - Bluetooth"));

    WCHAR buffer[kValueChars + 8];
    for (auto& c : buffer) c = TEXT('#');
    HKEY active = nullptr;
    ASSERT_EQ(OpenActiveDriverKey(TEXT("1"), &active), ERROR_SUCCESS);
    EXPECT_EQ(QueryStringValue(active, TEXT("Name"), buffer), ERROR_SUCCESS);
    RegCloseKey(active);
    EXPECT_EQ(String(buffer), longName.substr(0, kValueChars - 1));
    EXPECT_EQ(buffer[kValueChars], TEXT('#'));  // nothing written past the 128 characters
}

TEST_F(PortEnumTest, MissingValueLeavesTheBufferAsItWas) {
    Active(TEXT("1"), TEXT("COM1:"));
    HKEY active = nullptr;
    ASSERT_EQ(OpenActiveDriverKey(TEXT("1"), &active), ERROR_SUCCESS);
    WCHAR buffer[kValueChars] = {TEXT('k'), TEXT('e'), TEXT('e'), TEXT('p'), 0};
    EXPECT_EQ(QueryStringValue(active, TEXT("Key"), buffer), ERROR_FILE_NOT_FOUND);
    RegCloseKey(active);
    EXPECT_EQ(String(buffer), TEXT("keep"));
}

}  // namespace
