#include "api/machine_identity.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <regex>

#include "core/text_convert.h"

namespace tavro {
namespace {

std::string computerNameUtf8() {
    wchar_t name[256] = {};
    DWORD size = 256;
    EXPECT_TRUE(GetComputerNameW(name, &size));
    return toUtf8(name);
}

TEST(MachineIdentity, SerialIsNameVolumeSerialAndGuid) {
    const std::string name = computerNameUtf8();
    DWORD volumeSerial = 0;
    ASSERT_TRUE(
        GetVolumeInformationW(L"C:\\", nullptr, 0, &volumeSerial, nullptr, nullptr, nullptr, 0))
        << "error " << GetLastError();
    const std::string serial = getPcSerialNumber();
    const std::string prefix = name + "-" + std::to_string(volumeSerial);
    ASSERT_EQ(serial.rfind(prefix, 0), 0u) << serial;
    const std::string rest = serial.substr(prefix.size());
    // The prefix keeps its MachineGuid.
    EXPECT_TRUE(std::regex_match(
        rest, std::regex("-[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-"
                         "[0-9a-fA-F]{12}")))
        << serial;
    EXPECT_EQ(getPcSerialNumber(), serial);  // stable
}

TEST(MachineIdentity, InformationHasTheFourLabelledFields) {
    const std::string info = getPcInformation();
    SYSTEM_INFO system{};
    GetNativeSystemInfo(&system);
    const std::string expectedStart =
        "ComputerName:" + computerNameUtf8() +
        ",Architecture:9,NumberOfLogicalProcessors:" + std::to_string(system.dwNumberOfProcessors) +
        ",BuildNumber:";
    ASSERT_EQ(info.rfind(expectedStart, 0), 0u) << info;
    EXPECT_TRUE(std::regex_match(info.substr(expectedStart.size()), std::regex("[1-9][0-9]*")))
        << info;
    EXPECT_EQ(info.find(' '), std::string::npos);
}

}  // namespace
}  // namespace tavro
