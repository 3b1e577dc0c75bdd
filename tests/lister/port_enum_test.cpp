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
        static_cast<std::vector<std::u16string>*>(context)->push_back(line);
    }
    std::vector<std::u16string> Walk() {
        std::vector<std::u16string> lines;
        WalkActivePorts(Collect, &lines);
        WalkBluetoothPorts(Collect, &lines);
        return lines;
    }
};

using Lines = std::vector<std::u16string>;

TEST_F(PortEnumTest, EmptyRegistryGivesNoLines) {
    EXPECT_EQ(Walk(), Lines{});
}

TEST_F(PortEnumTest, ActiveEntriesNameTheirDriverAndOnlyComAndGpdCount) {
    Set(u"Drivers\\BuiltIn\\Serial1", u"FriendlyName", u"USB serial adapter");
    Active(u"01", u"COM1:", u"Drivers\\BuiltIn\\Serial1");
    Active(u"02", u"com2:", u"Drivers\\BuiltIn\\Serial1");  // lower case: not a port
    Active(u"03", u"GPD0:", u"Drivers\\BuiltIn\\Serial1");
    Active(u"04", u"COM3:");                                // no Key: empty friendly name
    Active(u"05", u"COM4:", u"Drivers\\BuiltIn\\Missing");  // Key names nothing
    Active(u"06", u"TEL1:");
    EXPECT_EQ(Walk(), (Lines{u"COM1: - USB serial adapter", u"GPD0: - USB serial adapter",
                             u"COM3: - ", u"COM4: - "}));
}

TEST_F(PortEnumTest, BluetoothPortsAreListedAsStoredAndDuplicatesStay) {
    Active(u"01", u"COM5:", u"");
    Bluetooth(u"1", u"COM5");
    Bluetooth(u"2", u"whatever it holds");
    Set(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\3", u"Other", u"x");  // no Port
    EXPECT_EQ(Walk(),
              (Lines{u"COM5: - ", u"COM5: - Bluetooth", u"whatever it holds: - Bluetooth"}));
}

TEST_F(PortEnumTest, EachWalkRunsWithoutTheOthersRoot) {
    Bluetooth(u"1", u"COM8");
    HKEY drivers = Key(u"Drivers");
    ASSERT_EQ(RegDeleteKeyW(drivers, u"Active"), ERROR_SUCCESS);
    RegCloseKey(drivers);
    EXPECT_EQ(Walk(), Lines{u"COM8: - Bluetooth"});
}

TEST_F(PortEnumTest, AnEntryWhosePathDoesNotFitIsSkippedAndTheWalkGoesOn) {
    // 15 characters of "Drivers\Active\" and a 120-character name exceed the 127 of the path.
    Active(u"1", u"COM1:");
    Active(u"2" + std::u16string(119, u'x'), u"COM2:");
    Active(u"3", u"COM3:");
    EXPECT_EQ(Walk(), (Lines{u"COM1: - ", u"COM3: - "}));
}

TEST_F(PortEnumTest, ANameTooLongToEnumerateEndsTheWalkKeepingEarlierLines) {
    Active(u"1", u"COM1:");
    Active(u"2" + std::u16string(127, u'x'), u"COM2:");
    Active(u"3", u"COM3:");
    EXPECT_EQ(Walk(), (Lines{u"COM1: - "}));
}

TEST_F(PortEnumTest, OverlongAndUnterminatedValuesAreCutInsideTheBuffers) {
    const std::u16string longName = u"COM9:" + std::u16string(200, u'n');
    Set(u"Drivers\\BuiltIn\\S", u"FriendlyName", std::u16string(127, u'f'));
    Active(u"1", longName, u"Drivers\\BuiltIn\\S");
    Set(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\1", u"Port", u"COM7", false);
    HKEY key = Key(u"Software\\Microsoft\\Bluetooth\\Serial\\Ports\\2");
    DWORD number = 0x004D4F43;  // "COM" and a zero as little-endian bytes, of the wrong type
    RegSetValueExW(key, u"Port", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), 4);
    RegCloseKey(key);
    Lines lines = Walk();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], longName.substr(0, 127));  // the line is cut at its 127 characters
    EXPECT_EQ(lines[1], u"COM7: - Bluetooth");
    EXPECT_EQ(lines[2], u"\u4F43\u004D: - Bluetooth");

    WCHAR buffer[kValueChars + 8];
    for (auto& c : buffer) c = u'#';
    HKEY active = nullptr;
    ASSERT_EQ(OpenActiveDriverKey(u"1", &active), ERROR_SUCCESS);
    EXPECT_EQ(QueryStringValue(active, u"Name", buffer), ERROR_SUCCESS);
    RegCloseKey(active);
    EXPECT_EQ(std::u16string(buffer), longName.substr(0, kValueChars - 1));
    EXPECT_EQ(buffer[kValueChars], u'#');  // nothing written past the 128 characters
}

TEST_F(PortEnumTest, MissingValueLeavesTheBufferAsItWas) {
    Active(u"1", u"COM1:");
    HKEY active = nullptr;
    ASSERT_EQ(OpenActiveDriverKey(u"1", &active), ERROR_SUCCESS);
    WCHAR buffer[kValueChars] = {u'k', u'e', u'e', u'p', 0};
    EXPECT_EQ(QueryStringValue(active, u"Key", buffer), ERROR_FILE_NOT_FOUND);
    RegCloseKey(active);
    EXPECT_EQ(std::u16string(buffer), u"keep");
}

}  // namespace
