#include "link/connection_settings.h"

#include <gtest/gtest.h>

using kt::parseLink;

TEST(ParseLink, AcceptsTheTwoForms) {
    struct Case {
        const char* text;
        int linkType;
        const char* host;
        uint16_t port;
        const char* device;
    } cases[] = {
        {"tcp://192.168.1.20", kt::LinkModbusTcp, "192.168.1.20", 502, ""},
        {"tcp://127.0.0.1:15020", kt::LinkModbusTcp, "127.0.0.1", 15020, ""},
        {"tcp://relay.local:502", kt::LinkModbusTcp, "relay.local", 502, ""},
        {"serial:/dev/ttyUSB0", kt::LinkSerialRtu, "", 502, "/dev/ttyUSB0"},
        {"serial:COM3", kt::LinkSerialRtu, "", 502, "COM3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto s = parseLink(c.text);
        ASSERT_TRUE(s);
        EXPECT_EQ(s->linkType, c.linkType);
        EXPECT_EQ(s->ipAddress, c.host);
        EXPECT_EQ(s->tcpPort, c.port);
        EXPECT_EQ(s->portName, c.device);
        EXPECT_EQ(s->slaveAddress, 254);
        EXPECT_EQ(s->baudRate, 115200);
    }
}

TEST(ParseLink, RefusesMalformedLinks) {
    for (const char* text : {"", "tcp://", "tcp://host:", "tcp://host:0", "tcp://host:70000", "tcp://host:5x",
                             "serial:", "udp://host", "/dev/ttyUSB0"}) {
        SCOPED_TRACE(text);
        std::string why;
        EXPECT_FALSE(parseLink(text, &why));
        EXPECT_FALSE(why.empty());
    }
}
