#include <gtest/gtest.h>

#include "transport/comm.h"

using qarn::ParseSettings;
using qarn::PortSettings;

namespace {

PortSettings Parse(const char* text) {
    PortSettings settings;
    ParseSettings(text, settings);
    return settings;
}

} // namespace

TEST(PortSettings, EmptyTextIsTheDefaultPort) {
    PortSettings s = Parse("");
    EXPECT_EQ(s.portName, "COM1");
    EXPECT_EQ(s.baud, 9600u);
    EXPECT_EQ(s.parity, 2);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, 0);
    EXPECT_EQ(Parse(nullptr).portName, "COM1");
}

TEST(PortSettings, ValuesCountByPositionAndKeysAreIgnored) {
    PortSettings s = Parse("COM2:baud=19200,parity=N,data=8,stop=2");
    EXPECT_EQ(s.portName, "COM2");
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.parity, 0);
    EXPECT_EQ(s.stopBits, 2);
    EXPECT_EQ(qarn::WriteMultiplier(s.baud), 1u);

    s = Parse("COM1:a=4800,b=o,c=7,d=1.5");
    EXPECT_EQ(s.baud, 4800u);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, 1);
}

TEST(PortSettings, UnmatchedParityAndStopKeepThePreviousValues) {
    PortSettings s;
    s.parity = 3;
    s.stopBits = 1;
    EXPECT_FALSE(ParseSettings("COM1:baud=9600,parity=EVEN,data=8,stop=3", s));
    EXPECT_EQ(s.parity, 3);
    EXPECT_EQ(s.stopBits, 1);
    EXPECT_TRUE(ParseSettings("COM1:baud=9600,parity=x,data=8,stop=1", s));
    EXPECT_EQ(s.parity, 3);
    EXPECT_EQ(s.stopBits, 0);
    // Data bits outside 5 to 8 are refused, not cut to their low byte (261 would read as 5).
    EXPECT_FALSE(ParseSettings("COM1:baud=9600,parity=E,data=261,stop=1", s));
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_FALSE(ParseSettings("COM1:baud=9600,parity=E,data=7,stop=nan", s));
    EXPECT_EQ(s.stopBits, 0);
}

TEST(PortSettings, PortNameIsFourCharactersOrADevicePath) {
    EXPECT_EQ(Parse("COM12:baud=9600,parity=E,data=8,stop=1").portName, "COM1");
    PortSettings s = Parse("/dev/ttyUSB0:baud=4800,parity=O,data=7,stop=2");
    EXPECT_EQ(s.portName, "/dev/ttyUSB0");
    EXPECT_EQ(s.baud, 4800u);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(Parse("/dev/pts/3").portName, "/dev/pts/3");
}

TEST(PortSettings, MissingOrNonNumericBaudIsZeroAndNeverDivides) {
    EXPECT_EQ(Parse("COM3").baud, 0u);
    EXPECT_EQ(Parse("COM1:baud=fast,parity=E,data=8,stop=1").baud, 0u);
    EXPECT_EQ(qarn::WriteMultiplier(0), 0u);
    EXPECT_EQ(qarn::WriteMultiplier(9600), 2u);
    EXPECT_EQ(qarn::WriteMultiplier(38400), 0u);
}

TEST(PortSettings, Rs485KeyAfterTheFourValuesChoosesWhoSwitchesRts) {
    using qarn::RtsControl;
    PortSettings s = Parse("/dev/ttyUSB0:baud=19200,parity=O,data=7,stop=2,rs485=kernel");
    EXPECT_EQ(s.rtsControl, RtsControl::Kernel);
    EXPECT_EQ(s.portName, "/dev/ttyUSB0");
    EXPECT_EQ(s.baud, 19200u);
    EXPECT_EQ(s.parity, 1);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.stopBits, 2); // the key's value is not taken for the stop bits
    EXPECT_EQ(Parse("COM1:baud=9600,parity=E,data=8,stop=1,rs485=off").rtsControl,
              RtsControl::Software);
    // Without the key a text means software RTS, whatever an earlier text chose.
    ParseSettings("COM1:baud=9600,parity=E,data=8,stop=1", s);
    EXPECT_EQ(s.rtsControl, RtsControl::Software);
    EXPECT_EQ(s.stopBits, 0);
    for (const char* text :
         {"COM1:baud=9600,parity=E,data=8,stop=1,rs485=on",
          "COM1:baud=9600,parity=E,data=8,stop=1,rs485=", "COM1:,rs485=Kernel"}) {
        PortSettings refused;
        EXPECT_FALSE(ParseSettings(text, refused)) << text;
        EXPECT_EQ(refused.rtsControl, RtsControl::Unknown) << text;
    }
}
