#include <gtest/gtest.h>

#include "transport/port_settings.h"

using qarn::ParseSettings;
using qarn::PortSettings;
using qarn::RtsControl;

namespace {

PortSettings Parse(const char* text) {
    PortSettings settings;
    settings.portName = "unparsed";
    EXPECT_TRUE(ParseSettings(text, settings)) << (text ? text : "null");
    return settings;
}

void ExpectLine(const PortSettings& s, const char* name, uint32_t baud, int parity, int dataBits,
                int stopBits) {
    EXPECT_EQ(s.portName, name);
    EXPECT_EQ(s.baud, baud) << name;
    EXPECT_EQ(s.parity, parity) << name;
    EXPECT_EQ(s.dataBits, dataBits) << name;
    EXPECT_EQ(s.stopBits, stopBits) << name;
}

} // namespace

TEST(PortSettings, ValuesGoByKeyOrPositionAndMissingOnesTakeTheDefaults) {
    ExpectLine(Parse(""), "COM1", 9600, 2, 8, 0);
    ExpectLine(Parse(nullptr), "COM1", 9600, 2, 8, 0);
    ExpectLine(Parse("COM2:baud=19200,parity=N,data=8,stop=2"), "COM2", 19200, 0, 8, 2);
    EXPECT_EQ(qarn::WriteMultiplier(19200), 1u);
    // Keys other than the four names are not looked at: the values count by position.
    ExpectLine(Parse("COM1:a=4800,b=o,c=7,d=1.5"), "COM1", 4800, 1, 7, 1);
    ExpectLine(Parse("COM1:4800,m,5,2.0"), "COM1", 4800, 3, 5, 2);
    // A text that gives only some values: the rest are the defaults, not earlier values.
    PortSettings s = Parse("COM1:baud=4800,parity=O,data=7,stop=2");
    ASSERT_TRUE(ParseSettings("/dev/ttyUSB0:baud=19200", s));
    ExpectLine(s, "/dev/ttyUSB0", 19200, 2, 8, 0);
    ExpectLine(Parse("/dev/ttyUSB0:stop=2,BAUD=1200"), "/dev/ttyUSB0", 1200, 2, 8, 2);
    ExpectLine(Parse("COM3"), "COM3", 9600, 2, 8, 0);
    ExpectLine(Parse("/dev/pts/3:"), "/dev/pts/3", 9600, 2, 8, 0);
    ExpectLine(Parse("COM1:baud=4294967295"), "COM1", 4294967295u, 2, 8, 0);
}

TEST(PortSettings, NameRunsToTheColon) {
    EXPECT_EQ(Parse("COM12:baud=9600,parity=E,data=8,stop=1").portName, "COM12");
    EXPECT_EQ(Parse("COM256:baud=9600").portName, "COM256");
    EXPECT_EQ(Parse("com7").portName, "com7");
    EXPECT_EQ(Parse("\\\\.\\COM12:baud=9600").portName, "\\\\.\\COM12");
    ExpectLine(Parse("/dev/ttyUSB0:baud=4800,parity=O,data=7,stop=2"), "/dev/ttyUSB0", 4800, 1, 7,
               2);
}

TEST(PortSettings, TextsThatCannotBeUsedAreRefusedAndChangeNothing) {
    for (const char* text : {"COM0",
                             "COM257",
                             "COM012",
                             "COM",
                             "COMx:baud=9600",
                             "ttyUSB0:baud=9600",
                             ":baud=9600",
                             "\\\\.\\:baud=9600",
                             "/:baud=9600", // names
                             "COM1:baud=0",
                             "COM1:baud=fast",
                             "COM1:baud=4294967296",
                             "COM1:baud=-9600", // baud
                             "COM1:9600,EVEN",
                             "COM1:9600,x",
                             "COM1:parity=", // parity
                             "COM1:9600,E,261",
                             "COM1:9600,E,4",
                             "COM1:data=7.5", // data
                             "COM1:9600,E,8,nan",
                             "COM1:9600,E,8,3",
                             "COM1:9600,E,8,",
                             "COM1:stop=1.25", // stop
                             "COM1:baud=9600,parity=E,data=8,stop=1,x=5",
                             "COM1:baud=9600,baud=4800",
                             "COM1:stop=1,9600,E,8,2",
                             "COM1:9600,,8,1",
                             "COM1:baud=9600,parity=E,data=8,stop=1,rs485=on",
                             "COM1:rs485=",
                             "COM1:,rs485=Kernel"}) {
        PortSettings s;
        s.portName = "before";
        s.baud = 1234;
        s.parity = 3;
        s.rtsControl = RtsControl::Kernel;
        EXPECT_FALSE(ParseSettings(text, s)) << text;
        EXPECT_EQ(s.portName, "before") << text;
        EXPECT_EQ(s.baud, 1234u) << text;
        EXPECT_EQ(s.parity, 3) << text;
        EXPECT_EQ(s.rtsControl, RtsControl::Kernel) << text;
    }
    EXPECT_EQ(qarn::WriteMultiplier(0), 0u);
    EXPECT_EQ(qarn::WriteMultiplier(9600), 2u);
    EXPECT_EQ(qarn::WriteMultiplier(38400), 0u);
}

TEST(PortSettings, Rs485KeyChoosesWhoSwitchesRts) {
    PortSettings s = Parse("/dev/ttyUSB0:baud=19200,parity=O,data=7,stop=2,rs485=kernel");
    EXPECT_EQ(s.rtsControl, RtsControl::Kernel);
    ExpectLine(s, "/dev/ttyUSB0", 19200, 1, 7, 2); // the key's value is not taken for a field
    EXPECT_EQ(Parse("COM1:baud=9600,parity=E,data=8,stop=1,rs485=off").rtsControl,
              RtsControl::Software);
    // Without the key a text means software RTS, whatever an earlier text chose.
    ASSERT_TRUE(ParseSettings("COM1:baud=9600,parity=E,data=8,stop=1", s));
    EXPECT_EQ(s.rtsControl, RtsControl::Software);
}

TEST(PortSettings, NetworkLinesNameServerAndPortBeforeTheValues) {
    const struct {
        const char* text;
        qarn::LineKind kind;
        const char* host;
        uint16_t port;
        const char* name;
        uint32_t baud;
        int parity;
    } cases[] = {
        {"tcp://127.0.0.1:4001", qarn::LineKind::RawTcp, "127.0.0.1", 4001, "tcp://127.0.0.1:4001",
         9600, 2},
        {"RFC2217://[::1]:65535:baud=19200,parity=N", qarn::LineKind::Rfc2217, "::1", 65535,
         "RFC2217://[::1]:65535", 19200, 0},
        {"tcp://cabinet-7.site:23:115200,O", qarn::LineKind::RawTcp, "cabinet-7.site", 23,
         "tcp://cabinet-7.site:23", 115200, 1},
    };
    for (const auto& c : cases) {
        PortSettings s = Parse(c.text);
        EXPECT_EQ(s.kind, c.kind) << c.text;
        EXPECT_EQ(s.host, c.host) << c.text;
        EXPECT_EQ(s.tcpPort, c.port) << c.text;
        ExpectLine(s, c.name, c.baud, c.parity, 8, 0);
    }
    EXPECT_EQ(Parse("COM2").kind, qarn::LineKind::Serial);
    for (const char* text : {"tcp://host", "tcp://host:", "tcp://host:0", "tcp://host:65536",
                             "tcp://:4001", "tcp://[::1:4001", "tcp://[]:4001", "tcp://[::1]4001",
                             "tcp://a/b:4001", "udp://host:4001", "rfc2217://host:4001x",
                             "tcp://host:4001:baud=0", "socket://host:4001"}) {
        PortSettings s;
        EXPECT_FALSE(ParseSettings(text, s)) << text;
        EXPECT_EQ(s.kind, qarn::LineKind::Serial) << text;
    }
}
