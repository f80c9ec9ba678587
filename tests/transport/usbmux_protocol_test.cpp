// The service's wire format: header packing and bounds, the two request texts, and the two
// reply readers on real, malformed, random and truncated text.
#include "transport/usbmux_protocol.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

using transport::parseDeviceIds;
using transport::plistInteger;
using Ids = std::vector<std::uint32_t>;

std::array<std::uint8_t, 16> headerWithTotal(std::uint32_t total) {
  std::array<std::uint8_t, 16> h{};
  for (int i = 0; i < 4; ++i) h[i] = std::uint8_t(total >> (8 * i));
  for (int i = 4; i < 16; ++i) h[i] = 0xEE;  // version, type and tag are never read
  return h;
}

// What the service answers for one phone: every identifier twice, in the entry and in its
// properties, next to other integers.
const char kOnePhone[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\">\n<dict>\n"
    "<key>DeviceList</key><array><dict>"
    "<key>DeviceID</key><integer>37</integer><key>MessageType</key><string>Attached</string>"
    "<key>Properties</key><dict><key>ConnectionType</key><string>USB</string>"
    "<key>DeviceID</key><integer>37</integer><key>LocationID</key><integer>336592896</integer>"
    "<key>ProductID</key><integer>4776</integer></dict></dict></array></dict></plist>";

TEST(UsbMuxPacket, HeaderIsLittleEndianAndBoundsTheReplyLength) {
  std::array<std::uint8_t, 16> h = transport::packMuxHeader(0x01020304, transport::kMuxTagConnect);
  EXPECT_EQ(h, (std::array<std::uint8_t, 16>{0x14, 0x03, 0x02, 0x01, 1, 0, 0, 0, 8, 0, 0, 0, 2, 0, 0, 0}));

  EXPECT_FALSE(transport::muxPayloadLength(headerWithTotal(0)));
  EXPECT_FALSE(transport::muxPayloadLength(headerWithTotal(15)));
  EXPECT_EQ(transport::muxPayloadLength(headerWithTotal(16)), 0u);
  EXPECT_EQ(transport::muxPayloadLength(headerWithTotal(17)), 1u);
  EXPECT_EQ(transport::muxPayloadLength(headerWithTotal(16777216)), 16777200u);
  EXPECT_FALSE(transport::muxPayloadLength(headerWithTotal(16777217)));
  EXPECT_FALSE(transport::muxPayloadLength(headerWithTotal(0xFFFFFFFF)));
}

TEST(UsbMuxPacket, RequestTextsLineByLine) {
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\">\n"
      "<dict>\n";
  const std::string tail =
      "<key>ProgName</key><string>brindle-video</string>\n"
      "<key>ClientVersionString</key><string>1.0</string>\n"
      "</dict>\n"
      "</plist>";
  EXPECT_EQ(transport::listDevicesRequest(), head + "<key>MessageType</key><string>ListDevices</string>\n" + tail);
  EXPECT_EQ(transport::connectRequest(4294967295u, 5555),
            head +
                "<key>MessageType</key><string>Connect</string>\n"
                "<key>DeviceID</key><integer>4294967295</integer>\n"
                "<key>PortNumber</key><integer>45845</integer>\n" +
                tail);
  EXPECT_EQ(transport::swapPortBytes(0x0102), 0x0201);
  EXPECT_EQ(transport::swapPortBytes(27015), 34665);
  // Our own readers find what we send.
  EXPECT_EQ(parseDeviceIds(transport::connectRequest(12, 1)), Ids{12});
  EXPECT_EQ(plistInteger(transport::connectRequest(12, 1), "PortNumber"), 256);
}

TEST(UsbMuxReplies, DeviceIdsInTextOrderWithDuplicates) {
  EXPECT_EQ(parseDeviceIds(kOnePhone), (Ids{37, 37}));
  std::string two = std::string(kOnePhone) + "<key>DeviceID</key><integer>9</integer>";
  EXPECT_EQ(parseDeviceIds(two), (Ids{37, 37, 9}));
  EXPECT_EQ(parseDeviceIds("<plist><dict><key>DeviceList</key><array/></dict></plist>"), Ids{});
  EXPECT_EQ(parseDeviceIds(""), Ids{});
}

TEST(UsbMuxReplies, BadIdentifiersAreSkippedAndMissingTagsEndTheScan) {
  auto one = [](const std::string& value) { return "<key>DeviceID</key><integer>" + value + "</integer>"; };
  EXPECT_EQ(parseDeviceIds(one("x1") + one("5")), Ids{5}) << "no digits";
  EXPECT_EQ(parseDeviceIds(one("") + one("5")), Ids{5});
  EXPECT_EQ(parseDeviceIds(one("4294967296") + one("4294967295")), Ids{4294967295u}) << "above 32 bits";
  EXPECT_EQ(parseDeviceIds(one("99999999999999999999999") + one("0")), Ids{0});
  EXPECT_EQ(parseDeviceIds(one("-1") + one("+2") + one("3")), Ids{3}) << "a sign is not a digit";
  EXPECT_EQ(parseDeviceIds(one(" \t\n42abc")), Ids{42}) << "white space skipped, digits up to the first other";
  EXPECT_EQ(parseDeviceIds(one("0007")), Ids{7});

  EXPECT_EQ(parseDeviceIds(one("5") + "<key>DeviceID</key><integer>6"), Ids{5}) << "no closing tag";
  EXPECT_EQ(parseDeviceIds(one("5") + "<key>DeviceID</key><string>6</string>"), Ids{5}) << "no integer after";
  EXPECT_EQ(parseDeviceIds("<key>DeviceID</key>" + one("5")), Ids{5}) << "the scan goes on after the integer it took";
}

TEST(UsbMuxReplies, NumberOfAConnectResult) {
  auto result = [](const std::string& value) {
    return "<plist><dict><key>MessageType</key><string>Result</string><key>Number</key><integer>" + value +
           "</integer></dict></plist>";
  };
  EXPECT_EQ(plistInteger(result("0"), "Number"), 0);
  EXPECT_EQ(plistInteger(result("3"), "Number"), 3);
  EXPECT_EQ(plistInteger(result("4294967295"), "Number"), -1);
  EXPECT_FALSE(plistInteger(result("4294967296"), "Number"));
  EXPECT_FALSE(plistInteger(result("-0"), "Number")) << "negative text is not a number here";
  EXPECT_FALSE(plistInteger(result("ok"), "Number"));
  EXPECT_FALSE(plistInteger("<key>MessageType</key><string>Result</string>", "Number"));
  EXPECT_FALSE(plistInteger("<key>Number</key><integer>0", "Number"));
  EXPECT_FALSE(plistInteger("<key>Number</key>", "Number"));
  EXPECT_FALSE(plistInteger(result("0"), "Numb")) << "the key matches whole";
}

// Under the sanitizers: no read outside the text, whatever it holds. Every identifier found in a
// prefix of a reply is also found, in the same place, in the whole reply.
TEST(UsbMuxReplies, RandomAndTruncatedTextIsReadSafely) {
  std::string many;
  for (std::uint32_t i = 0; i < 40; ++i) many += std::string(kOnePhone) + "<key>DeviceID</key><integer>" + std::to_string(i * 104729u) + "</integer>";
  Ids all = parseDeviceIds(many);
  ASSERT_EQ(all.size(), 120u);
  for (std::size_t cut = 0; cut <= many.size(); cut += 7) {
    std::string prefix = many.substr(0, cut);  // its own allocation, so ASan sees the end
    Ids some = parseDeviceIds(prefix);
    ASSERT_LE(some.size(), all.size());
    ASSERT_TRUE(std::equal(some.begin(), some.end(), all.begin())) << "cut at " << cut;
    (void)plistInteger(prefix, "DeviceID");
  }

  std::mt19937 random(20240611);
  const std::string pieces[] = {"<key>", "</key>", "DeviceID", "Number", "<integer>", "</integer>", "4294967295",
                                "4294967296", "-", " ", "7", "<", ">", std::string(1, '\0'), "x"};
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int count = int(random() % 40);
    for (int i = 0; i < count; ++i) {
      if (random() % 4 == 0) {
        text.push_back(char(random() % 256));
      } else {
        text += pieces[random() % std::size(pieces)];
      }
    }
    std::vector<char> exact(text.begin(), text.end());  // no terminator after the last byte
    std::string_view view(exact.data(), exact.size());
    for (std::uint32_t id : parseDeviceIds(view)) {
      EXPECT_NE(text.find(std::to_string(id)), std::string::npos) << "an identifier that is not in the text";
    }
    (void)plistInteger(view, "Number");
    (void)plistInteger(view, "DeviceID");
  }
}

}  // namespace
