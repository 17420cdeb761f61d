#include <gtest/gtest.h>

#include <asio/io_context.hpp>

#include <filesystem>
#include <fstream>

#include "platform/line_settings.hpp"
#include "platform/port_table.hpp"
#include "platform/retry_schedule.hpp"
#include "platform/system_calls.hpp"

namespace quorvane {
namespace {

TEST(PortTable, MapsTheBuiltInFamilies) {
  EXPECT_EQ(DevicePathOfPort(1), "/dev/ttyS0");
  EXPECT_EQ(DevicePathOfPort(32), "/dev/ttyS31");
  EXPECT_EQ(DevicePathOfPort(33), "/dev/ttyUSB0");
  EXPECT_EQ(DevicePathOfPort(65), "/dev/ttyACM0");
  EXPECT_EQ(DevicePathOfPort(96), "/dev/ttyACM31");
  for (const int16_t unmapped : {0, -1, 97, 32767}) {
    EXPECT_FALSE(DevicePathOfPort(unmapped).has_value()) << unmapped;
  }
  EXPECT_EQ(PortNumberOfDevice("/dev/ttyUSB3"), 36);
  EXPECT_FALSE(PortNumberOfDevice("/dev/ttyUSB32").has_value());
  EXPECT_FALSE(PortNumberOfDevice("/dev/ttyS01").has_value());
  EXPECT_FALSE(PortNumberOfDevice("/dev/ttyS1x").has_value());
}

TEST(PortTable, AnAssignedNumberTakesPrecedenceUntilRemoved) {
  ASSERT_TRUE(AssignPort(3, "/dev/rfcomm0"));
  ASSERT_TRUE(AssignPort(500, "/dev/serial/by-id/usb-gps"));
  EXPECT_EQ(DevicePathOfPort(3), "/dev/rfcomm0");
  EXPECT_EQ(PortNumberOfDevice("/dev/rfcomm0"), 3);
  EXPECT_FALSE(PortNumberOfDevice("/dev/ttyS2").has_value());  // its number went elsewhere
  EXPECT_EQ(DevicePathOfPort(500), "/dev/serial/by-id/usb-gps");
  EXPECT_EQ(AssignedPortNumbers(), (std::vector<int16_t>{3, 500}));
  EXPECT_FALSE(AssignPort(0, "/dev/null"));
  EXPECT_FALSE(AssignPort(-4, "/dev/null"));
  AssignPort(3, "");
  AssignPort(500, "");
  EXPECT_EQ(DevicePathOfPort(3), "/dev/ttyS2");
  EXPECT_TRUE(AssignedPortNumbers().empty());
}

TEST(ListSerialPorts, ListsDevicesWithHardwareAndAssignedNumbers) {
  namespace fs = std::filesystem;
  const fs::path root = fs::temp_directory_path() / "qgps-sys-class-tty";
  fs::remove_all(root);
  for (const char* name : {"ttyS0", "ttyS4", "ttyUSB1", "ttyACM0", "tty1", "ttyS2"}) {
    fs::create_directories(root / name);
  }
  for (const char* with_device : {"ttyS0", "ttyUSB1", "ttyACM0", "tty1", "ttyS4", "ttyS5"}) {
    fs::create_directories(root / with_device / "device");
  }
  // A UART's type: 4 is a 16550A; 0 is the kernel's placeholder with no UART behind it.
  std::ofstream(root / "ttyS0" / "type") << "4\n";
  std::ofstream(root / "ttyS4" / "type") << "4\n";
  std::ofstream(root / "ttyS5" / "type") << "0\n";
  AssignPort(200, "/dev/pts/7");
  EXPECT_EQ(SystemCalls::ListSerialPorts(true, root), "1,5,34,65,200");
  EXPECT_EQ(SystemCalls::ListSerialPorts(false, root), "COM1,COM5,COM34,COM65,COM200");
  AssignPort(200, "");
  EXPECT_EQ(SystemCalls::ListSerialPorts(true, root / "missing"), "");
  fs::remove_all(root);
}

TEST(LineSettings, ReadsTheSettingsText) {
  EXPECT_EQ(ParseLineSettings("4800,n,8,1"), (LineSettings{4800, 'n', 8, 1}));
  EXPECT_EQ(ParseLineSettings("9600,E,7,2"), (LineSettings{9600, 'e', 7, 2}));
  EXPECT_EQ(ParseLineSettings(" 115200 , o , 8 , 1 "), (LineSettings{115200, 'o', 8, 1}));
  EXPECT_EQ(ParseLineSettings("38400,m,5,1"), (LineSettings{38400, 'm', 5, 1}));
  EXPECT_EQ(ToText(LineSettings{9600, 's', 7, 2}), "9600,s,7,2");
  for (const char* refused :
       {"", "4800", "4800,n,8", "4800,n,8,1,1", "4801,n,8,1", "14400,n,8,1", "4800,x,8,1",
        "4800,nn,8,1", "4800,n,9,1", "4800,n,4,1", "4800,n,8,1.5", "4800,n,8,3", "-4800,n,8,1",
        "4800,,8,1", "abc,n,8,1", "4800;n;8;1"}) {
    EXPECT_FALSE(ParseLineSettings(refused).has_value()) << '"' << refused << '"';
  }
}

TEST(LineSettings, StoresEachParityAsTermiosFlags) {
  const struct {
    char parity;
    tcflag_t cflags;
    bool checked;
  } cases[] = {
      {'n', 0, false},
      {'e', PARENB, true},
      {'o', PARENB | PARODD, true},
      {'m', PARENB | PARODD | CMSPAR, true},
      {'s', PARENB | CMSPAR, true},
  };
  for (const auto& c : cases) {
    termios line{};
    line.c_cflag = PARENB | PARODD | CMSPAR | CS8;  // whatever an earlier setting left
    line.c_iflag = INPCK | IGNPAR;
    StoreParity(c.parity, line);
    EXPECT_EQ(line.c_cflag & (PARENB | PARODD | CMSPAR), c.cflags) << c.parity;
    EXPECT_EQ((line.c_iflag & INPCK) != 0, c.checked) << c.parity;
    EXPECT_EQ((line.c_iflag & IGNPAR) != 0, !c.checked) << c.parity;
    EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  }
}

TEST(RetrySchedule, WaitsDoubleToTheCapAndStartAgainAfterAConnection) {
  asio::io_context io;
  RetrySchedule retry(io);
  const auto nothing = [] {};
  // Each row: what is done, the wait it gives, whether it is the first try of this loss.
  const struct {
    const char* step;
    double seconds;
    bool first;
  } rows[] = {{"lost", 0.5, true},      {"lost", 1, false},  {"another server", 0, false},
              {"lost", 2, false},       {"lost", 4, false},  {"lost", 8, false},
              {"lost", 16, false},      {"lost", 30, false}, {"lost", 30, false},
              {"connected", 0.5, true}, {"lost", 1, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step);
    const std::string step = row.step;
    if (step == "connected") retry.Connected();
    const auto next = step == "another server" ? retry.Now(nothing) : retry.Schedule(nothing);
    EXPECT_EQ(next.seconds, row.seconds);
    EXPECT_EQ(next.first_of_loss, row.first);
  }
  retry.Cancel();
}

}  // namespace
}  // namespace quorvane
