// The lenient readers of the orientation and audio format messages: what phones send must keep
// reading the same way, and no payload may make a reader look outside its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "media/stream_metadata.h"
#include "support/exact_bytes.h"

namespace {

// The payload in a heap block of exactly its size, so a read past the end trips ASan.
using testsupport::ExactBytes;

struct Orientation {
  int rotation = -1;
  bool mirror = true;
};

Orientation orientation(std::string_view text) {
  ExactBytes bytes(text);
  Orientation o;
  media::parseOrientation(bytes.view(), o.rotation, o.mirror);
  return o;
}

media::AudioFormat audioFormat(std::string_view text) {
  ExactBytes bytes(text);
  return media::parseAudioFormat(bytes.view());
}

// Every field: rate, channels, bits, float, non-interleaved, big-endian, bytes per frame.
void expectFormat(const media::AudioFormat& f, std::int32_t rate, std::int32_t channels, std::int32_t bits, bool isFloat,
                  bool nonInterleaved, bool bigEndian, std::int32_t bytesPerFrame) {
  EXPECT_EQ(f.sampleRate, rate);
  EXPECT_EQ(f.channels, channels);
  EXPECT_EQ(f.bitsPerSample, bits);
  EXPECT_EQ(f.isFloat, isFloat);
  EXPECT_EQ(f.nonInterleaved, nonInterleaved);
  EXPECT_EQ(f.bigEndian, bigEndian);
  EXPECT_EQ(f.bytesPerFrame, bytesPerFrame);
}

void expectDefaults(const media::AudioFormat& f) { expectFormat(f, 48000, 2, 32, true, false, false, 8); }

TEST(Orientation, ReadsDigitsAfterTheColonAndSpaces) {
  Orientation o = orientation(R"({"rotation":90,"mirror":true})");
  EXPECT_EQ(o.rotation, 90);
  EXPECT_TRUE(o.mirror);

  o = orientation(R"({"rotation" : 270})");
  EXPECT_EQ(o.rotation, 270);
  EXPECT_FALSE(o.mirror);

  // Every isspace byte is skipped, line feeds and vertical tabs included.
  o = orientation("{\"rotation\":\n\t\v\f\r 180,\"mirror\":\n true}");
  EXPECT_EQ(o.rotation, 180);
  EXPECT_TRUE(o.mirror);

  // The order of the keys does not matter.
  o = orientation(R"({"mirror":true,"rotation":90})");
  EXPECT_EQ(o.rotation, 90);
  EXPECT_TRUE(o.mirror);
}

TEST(Orientation, NoSignNoQuotesAndOnlyFourBytesOfTrue) {
  EXPECT_EQ(orientation(R"({"rotation":-90})").rotation, 0);
  EXPECT_EQ(orientation(R"({"rotation":"90"})").rotation, 0);
  EXPECT_EQ(orientation(R"({"rotation":90.5})").rotation, 90);
  EXPECT_EQ(orientation(R"({"rotation":0090x})").rotation, 90);

  EXPECT_TRUE(orientation(R"({"mirror":truex})").mirror);
  EXPECT_FALSE(orientation(R"({"mirror":"true"})").mirror);
  EXPECT_FALSE(orientation(R"({"mirror":tru})").mirror);
  EXPECT_FALSE(orientation(R"({"mirror":TRUE})").mirror);
  EXPECT_FALSE(orientation(R"({"mirror":false})").mirror);
  // "true" exactly at the end of the payload, with nothing after it.
  EXPECT_TRUE(orientation(R"({"mirror":true)").mirror);
}

TEST(Orientation, MissingPiecesGiveTheDefaultsEveryTime) {
  // Both values are delivered for every message, whatever the previous call produced.
  for (std::string_view text : {"", "{}", "not json at all", R"({"rotation"})", R"({"rotation" 90})",
                                R"({"mirror" true})", R"({"rotation":})", R"({"mirror":)", "\"rotation\":"}) {
    Orientation o = orientation(text);
    EXPECT_EQ(o.rotation, 0) << text;
    EXPECT_FALSE(o.mirror) << text;
  }
  // Digits accumulate in 32 bits and wrap instead of misbehaving.
  EXPECT_EQ(orientation(R"({"rotation":4294967386})").rotation, 90);
}

TEST(AudioFormatReader, FieldsAndDefaults) {
  expectDefaults(audioFormat(""));
  expectDefaults(audioFormat("{}"));
  expectDefaults(audioFormat("\x01\xff garbage \"\"::,,"));

  media::AudioFormat f = audioFormat(
      R"({"sr":44100,"ch":1,"bits":16,"float":false,"noninterleaved":true,"bigendian":true,"bytesPerFrame":2})");
  expectFormat(f, 44100, 1, 16, false, true, true, 2);

  f = audioFormat(R"({"float":false,"bigendian":true})");
  EXPECT_FALSE(f.isFloat);
  EXPECT_TRUE(f.bigEndian);
  EXPECT_TRUE(audioFormat(R"({"float":0})").isFloat);
}

TEST(AudioFormatReader, FrameSizeIsComputedOnlyWhenPresentAndBelowOne) {
  media::AudioFormat f = audioFormat(R"({"ch":1,"bits":16})");
  EXPECT_EQ(f.sampleRate, 48000);
  EXPECT_EQ(f.channels, 1);
  EXPECT_EQ(f.bitsPerSample, 16);
  EXPECT_TRUE(f.isFloat);
  EXPECT_EQ(f.bytesPerFrame, 8);

  EXPECT_EQ(audioFormat(R"({"ch":1,"bits":16,"bytesPerFrame":0})").bytesPerFrame, 2);
  EXPECT_EQ(audioFormat(R"({"ch":6,"bits":24,"bytesPerFrame":-3})").bytesPerFrame, 18);
  // Truncates toward zero, negative products included.
  EXPECT_EQ(audioFormat(R"({"ch":1,"bits":12,"bytesPerFrame":0})").bytesPerFrame, 1);
  EXPECT_EQ(audioFormat(R"({"ch":-1,"bits":12,"bytesPerFrame":0})").bytesPerFrame, -1);
  // A product past 32 bits wraps as the phones' own arithmetic does, without undefined behaviour.
  EXPECT_EQ(audioFormat(R"({"ch":65536,"bits":65536,"bytesPerFrame":0})").bytesPerFrame, 0);
}

TEST(AudioFormatReader, IntegersSkipOnlyBlanksAndTabsAndTakeASign) {
  EXPECT_EQ(audioFormat("{\"sr\":\n44100}").sampleRate, 48000);
  EXPECT_EQ(audioFormat("{\"sr\": \t 44100}").sampleRate, 44100);
  EXPECT_EQ(audioFormat(R"({"sr":-1})").sampleRate, -1);
  EXPECT_EQ(audioFormat(R"({"sr":-})").sampleRate, 48000);
  EXPECT_EQ(audioFormat(R"({"sr":"44100"})").sampleRate, 48000);
  EXPECT_EQ(audioFormat(R"({"sr":--5})").sampleRate, 48000);
  EXPECT_EQ(audioFormat(R"({"sr":-2147483648})").sampleRate, INT32_MIN);
  // A quoted key is found anywhere, also as a value, and the next colon decides.
  EXPECT_EQ(audioFormat(R"({"kind":"sr","x":5})").sampleRate, 5);
  // The first occurrence of the needle is the one read.
  EXPECT_EQ(audioFormat(R"({"sr":8000,"sr":16000})").sampleRate, 8000);
}

TEST(JsonFind, IntLeavesTheTargetAloneWhenNothingIsRead) {
  ExactBytes text(R"({"a":12,"b":x,"c": -7})");
  int value = 99;
  EXPECT_TRUE(media::jsonFindInt(text.view(), "a", value));
  EXPECT_EQ(value, 12);
  value = 99;
  EXPECT_FALSE(media::jsonFindInt(text.view(), "b", value));
  EXPECT_EQ(value, 99);
  EXPECT_FALSE(media::jsonFindInt(text.view(), "missing", value));
  EXPECT_EQ(value, 99);
  EXPECT_TRUE(media::jsonFindInt(text.view(), "c", value));
  EXPECT_EQ(value, -7);
  // The needle is quote-key-quote: a key that is a prefix of another is not confused with it.
  ExactBytes longer(R"({"srate":1,"sr":2})");
  EXPECT_TRUE(media::jsonFindInt(longer.view(), "sr", value));
  EXPECT_EQ(value, 2);
}

TEST(JsonFind, BoolLooksForTrueThenFalseBeforeTheNextComma) {
  auto find = [](std::string_view text, bool start, bool& out) {
    ExactBytes bytes(text);
    out = start;
    return media::jsonFindBool(bytes.view(), "k", out);
  };
  bool out = false;
  EXPECT_TRUE(find(R"({"k":true})", false, out));
  EXPECT_TRUE(out);
  EXPECT_TRUE(find(R"({"k":false})", true, out));
  EXPECT_FALSE(out);
  // Any "true" before the comma counts, even inside another token or a string.
  EXPECT_TRUE(find(R"({"k":"untrue","x":1})", false, out));
  EXPECT_TRUE(out);
  // "true" wins over an earlier "false" when both come before the comma.
  EXPECT_TRUE(find(R"({"k":false true,"x":1})", false, out));
  EXPECT_TRUE(out);
  // A "true" after the next comma does not belong to this key; no comma at all means any later one.
  EXPECT_FALSE(find(R"({"k":0,"x":true})", false, out));
  EXPECT_FALSE(out);
  EXPECT_FALSE(find(R"({"k":0,"x":false})", true, out));
  EXPECT_TRUE(out);
  EXPECT_TRUE(find(R"({"k":0} trailing true)", false, out));
  EXPECT_TRUE(out);
  EXPECT_FALSE(find(R"({"k":1,"x":true})", true, out));
  EXPECT_TRUE(out);
  EXPECT_FALSE(find(R"({"k":tru)", false, out));
  EXPECT_FALSE(out);
  EXPECT_FALSE(find(R"({"j":true})", false, out));
  EXPECT_FALSE(out);
}

// Every prefix of real messages, and random bytes biased towards the characters the readers
// look for, run through all readers on exactly-sized buffers.
TEST(MetadataBounds, TruncatedAndRandomPayloadsStayInsideTheirBytes) {
  const std::string messages[] = {
      R"({"rotation":90,"mirror":true})",
      "{\"rotation\" :\n 270 , \"mirror\" : false}",
      R"({"sr":44100,"ch":1,"bits":16,"float":false,"noninterleaved":true,"bigendian":true,"bytesPerFrame":2})",
      R"({"sr":-1,"float":tr)",
  };
  for (const std::string& message : messages) {
    for (std::size_t n = 0; n <= message.size(); n++) {
      std::string_view prefix(message.data(), n);
      Orientation o = orientation(prefix);
      EXPECT_GE(o.rotation, 0);
      media::AudioFormat f = audioFormat(prefix);
      // A cut message reads the same as the whole up to the cut: never a value from beyond it.
      if (prefix.find("\"sr\"") == std::string_view::npos) {
        EXPECT_EQ(f.sampleRate, 48000);
      }
    }
  }

  const char alphabet[] = "\"\":::,,{}trueflsaeomirnchbitsp-0123456789 \t\n\r\v\f\x00\xff";
  const char* keys[] = {"rotation", "mirror", "sr", "ch", "bits", "float", "bytesPerFrame", "", "\""};
  std::mt19937 random(20240611);
  for (int round = 0; round < 20000; round++) {
    std::string text(random() % 48, '\0');
    for (char& c : text) c = alphabet[random() % (sizeof(alphabet) - 1)];
    // Plant whole needles now and then so the value paths run, not only the searches.
    if (round % 3 == 0 && !text.empty()) {
      std::string key = std::string("\"") + keys[random() % 7] + "\":";
      text.insert(random() % text.size(), key);
    }
    Orientation o = orientation(text);
    (void)o;
    audioFormat(text);
    ExactBytes bytes(text);
    for (const char* key : keys) {
      int i = 7;
      bool b = false;
      if (!media::jsonFindInt(bytes.view(), key, i)) {
        EXPECT_EQ(i, 7);
      }
      media::jsonFindBool(bytes.view(), key, b);
    }
  }
}

}  // namespace
