#include "platform/serial_comm.hpp"
#include "platform/port_table.hpp"

#include <gtest/gtest.h>
#include <termios.h>

#include "support/pseudo_terminal.hpp"
#include "support/run_until.hpp"

namespace quorvane {
namespace {

using namespace std::chrono_literals;
using testing::PseudoTerminal;
using testing::RunFor;
using testing::RunUntil;

class SerialCommTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pty_.AssignTo(kNumber);
    ser_.OnComm([this](std::string_view block) {
      if (ser_.CommEvent() == SerialComm::comEvReceive) received_ += block;
    });
  }

  static constexpr int16_t kNumber = 250;
  asio::io_context io_;
  PseudoTerminal pty_;
  SerialComm ser_{io_};
  std::string received_;
};

TEST_F(SerialCommTest, OpensRawSoACarriageReturnArrivesAsItWasSent) {
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  ASSERT_TRUE(ser_.PortOpen());
  const std::string text = "$GPGGA,1*00\r\n$GPRMC\r\r\n\x03\x1a\x7f";
  pty_.Write(text);
  ASSERT_TRUE(RunUntil(io_, [&] { return received_.size() >= text.size(); }));
  EXPECT_EQ(received_, text);
  EXPECT_EQ(pty_.Read(50ms), "");  // nothing echoed back to the receiver
}

TEST_F(SerialCommTest, HandsOnEveryBlockInOrder) {
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  std::string expected;
  for (int i = 0; i < 50; ++i) expected += "$GPGSV,3,1,11,03,03,111,00*74\r\n";
  pty_.Write(expected);
  ASSERT_TRUE(RunUntil(io_, [&] { return received_.size() >= expected.size(); }));
  EXPECT_EQ(received_, expected);
}

TEST_F(SerialCommTest, WritesOutputByteForByte) {
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  ser_.Output("$PMTK220,1000*1F");
  EXPECT_EQ(pty_.Read(), "$PMTK220,1000*1F");
}

TEST_F(SerialCommTest, RefusesUnmappedNumbersAndLeavesNoPortSelected) {
  ser_.CommPort(kNumber);
  for (const int16_t bad : {0, -3, 31000}) {
    try {
      ser_.CommPort(bad);
      FAIL() << bad;
    } catch (const SerialError& error) {
      EXPECT_STREQ(error.what(), "Invalid port number");
    }
    EXPECT_EQ(ser_.CommPort(), 0);
    EXPECT_THROW(ser_.PortOpen(true), SerialError);
    EXPECT_FALSE(ser_.PortOpen());
  }
}

TEST_F(SerialCommTest, NamesTheDeviceAndTheReasonWhenOpenFails) {
  AssignPort(251, "/dev/no-such-gps");
  ser_.CommPort(251);
  try {
    ser_.PortOpen(true);
    FAIL();
  } catch (const SerialError& error) {
    EXPECT_STREQ(error.what(),
                 "Cannot open serial port /dev/no-such-gps: No such file or directory");
  }
  AssignPort(251, "");
}

TEST_F(SerialCommTest, ASecondOpenerOfTheSameDeviceIsRefused) {
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  SerialComm second(io_);
  second.CommPort(kNumber);
  try {
    second.PortOpen(true);
    FAIL();
  } catch (const SerialError& error) {
    EXPECT_EQ(error.what(),
              "Serial port " + pty_.SlavePath() + " is already in use by another program");
  }
  ser_.PortOpen(false);
  EXPECT_NO_THROW(second.PortOpen(true));
}

TEST_F(SerialCommTest, SettingsApplyAtOpenAndAtOnceWhileOpen) {
  EXPECT_EQ(ser_.Settings(), "4800,n,8,1");
  ser_.Settings("9600,n,8,2");
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.SlaveDescriptor(), &line), 0);
  EXPECT_EQ(::cfgetispeed(&line), B9600);
  EXPECT_EQ(line.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(line.c_cflag & CSTOPB);

  // (A pseudo-terminal drops parity silently; the parity flags are checked on their own.)
  ser_.Settings("38400,m,8,1");
  ASSERT_EQ(::tcgetattr(pty_.SlaveDescriptor(), &line), 0);
  EXPECT_EQ(::cfgetospeed(&line), B38400);
  EXPECT_FALSE(line.c_cflag & CSTOPB);

  EXPECT_THROW(ser_.Settings("4800,q,8,1"), SerialError);
  EXPECT_EQ(ser_.Settings(), "38400,m,8,1");
}

TEST_F(SerialCommTest, SettingsTheOpenPortRefusesAreDroppedAndTheOldOnesStayApplied) {
  // A pseudo-terminal carries 8 data bits only.
  ser_.Settings("19200,n,8,1");
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  try {
    ser_.Settings("4800,e,7,1");
    FAIL();
  } catch (const SerialError& error) {
    EXPECT_EQ(error.what(),
              "Serial port " + pty_.SlavePath() + " refused settings 4800,e,7,1: Invalid argument");
  }
  EXPECT_EQ(ser_.Settings(), "19200,n,8,1");
  termios line{};
  ASSERT_EQ(::tcgetattr(pty_.SlaveDescriptor(), &line), 0);
  EXPECT_EQ(::cfgetispeed(&line), B19200);
  EXPECT_FALSE(line.c_cflag & PARENB);
}

TEST_F(SerialCommTest, APortThatRefusesTheSettingsIsNotLeftOpen) {
  ser_.Settings("4800,n,7,1");
  ser_.CommPort(kNumber);
  EXPECT_THROW(ser_.PortOpen(true), SerialError);
  EXPECT_FALSE(ser_.PortOpen());
  ser_.Settings("4800,n,8,1");
  EXPECT_NO_THROW(ser_.PortOpen(true));
}

TEST_F(SerialCommTest, AReceiverThatDisappearsClosesThePortQuietly) {
  ser_.CommPort(kNumber);
  ser_.PortOpen(true);
  pty_.Write("$GPGGA\r\n");
  ASSERT_TRUE(RunUntil(io_, [&] { return !received_.empty(); }));
  pty_.CloseMaster();
  ASSERT_TRUE(RunUntil(io_, [&] { return !ser_.PortOpen(); }));
  EXPECT_LT(RunFor(io_, 200ms), 5u);  // no handler spinning on the error
}

TEST_F(SerialCommTest, ClosingWithAReadPendingAndDestroyingAreSafe) {
  {
    SerialComm short_lived(io_);
    short_lived.CommPort(kNumber);
    short_lived.PortOpen(true);
    short_lived.PortOpen(false);
    short_lived.PortOpen(false);  // closing a closed port does nothing
    short_lived.PortOpen(true);
  }
  RunFor(io_, 50ms);  // the aborted reads complete after their component is gone
  ser_.CommPort(kNumber);
  EXPECT_NO_THROW(ser_.PortOpen(true));
}

}  // namespace
}  // namespace quorvane
