#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "comms/serialinput.h"

namespace {

struct TDecoded {
  std::string Data;
  TDecodedInput Info;
};

TDecoded DecodeChunks(TSerialInputDecoder& decoder, const std::vector<std::string>& chunks,
                      const TInputFilter& filter = {}) {
  TDecoded all;
  for (const std::string& chunk : chunks) {
    std::string out(chunk.size(), '\0');
    const TDecodedInput info = decoder.Decode(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size(),
                                              reinterpret_cast<std::uint8_t*>(out.data()), filter);
    all.Data += out.substr(0, info.Count);
    all.Info.Count += info.Count;
    all.Info.EventChar |= info.EventChar;
    all.Info.Breaks += info.Breaks;
    all.Info.BadBytes += info.BadBytes;
  }
  return all;
}

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values) s += static_cast<char>(v);
  return s;
}

}  // namespace

TEST(SerialInputDecoder, UndoesTheMarksOfTheTtyLayer) {
  TSerialInputDecoder decoder;
  // 377 377 is a data byte 377; 377 0 0 a break; 377 0 'x' a bad 'x'.
  const TDecoded d = DecodeChunks(decoder, {Bytes({'a', 0377, 0377, 'b', 0377, 0, 0, 'c', 0377, 0, 'x', 0})});
  EXPECT_EQ(d.Data, Bytes({'a', 0377, 'b', 'c', 'x', 0}));
  EXPECT_EQ(d.Info.Breaks, 1u);
  EXPECT_EQ(d.Info.BadBytes, 1u);
}

TEST(SerialInputDecoder, CompletesAMarkSplitAcrossChunks) {
  TSerialInputDecoder decoder;
  const TDecoded d = DecodeChunks(decoder, {Bytes({'a', 0377}), Bytes({0377}), Bytes({0377}), Bytes({0}),
                                            Bytes({0}), Bytes({0377, 0}), Bytes({'q', 'z'})});
  EXPECT_EQ(d.Data, Bytes({'a', 0377, 'q', 'z'}));
  EXPECT_EQ(d.Info.Breaks, 1u);
  EXPECT_EQ(d.Info.BadBytes, 1u);
}

TEST(SerialInputDecoder, ResetForgetsAHalfMarkAndAnUnknownMarkKeepsBothBytes) {
  TSerialInputDecoder decoder;
  DecodeChunks(decoder, {Bytes({0377})});
  decoder.Reset();
  EXPECT_EQ(DecodeChunks(decoder, {Bytes({0377, 0377})}).Data, Bytes({0377}));
  EXPECT_EQ(DecodeChunks(decoder, {Bytes({0377, 'A'})}).Data, Bytes({0377, 'A'}));
}

TEST(SerialInputDecoder, FiltersNulsErrorsAndSpotsTheEventChar) {
  TInputFilter filter;
  filter.NullStrip = true;
  filter.ReplaceErrors = true;
  filter.ErrorChar = '?';
  filter.EventChar = '\r';
  TSerialInputDecoder decoder;
  const TDecoded d = DecodeChunks(decoder, {Bytes({0, 'a', 0, 0377, 0, 'b', '\r'})}, filter);
  EXPECT_EQ(d.Data, "a?\r");
  EXPECT_TRUE(d.Info.EventChar);

  // A NUL that is stripped does not count as the event character 0.
  TInputFilter nulEvent;
  nulEvent.NullStrip = true;
  nulEvent.EventChar = 0;
  TSerialInputDecoder second;
  const TDecoded e = DecodeChunks(second, {Bytes({0, 'x'})}, nulEvent);
  EXPECT_EQ(e.Data, "x");
  EXPECT_FALSE(e.Info.EventChar);
}

TEST(ByteRing, WrapsAroundAndNeverTakesMoreThanItsRoom) {
  TByteRing ring(5);
  const std::string in = "abcdefg";
  auto data = [&](std::size_t at) { return reinterpret_cast<const std::uint8_t*>(in.data() + at); };
  EXPECT_EQ(ring.Push(data(0), 3), 3u);  // abc
  std::uint8_t out[8] = {};
  EXPECT_EQ(ring.Take(out, 2), 2u);      // ab out, c left
  EXPECT_EQ(ring.Push(data(3), 4), 4u);  // c defg, wrapping
  EXPECT_EQ(ring.Room(), 0u);
  EXPECT_EQ(ring.Push(data(0), 1), 0u);
  EXPECT_EQ(ring.Take(out, 8), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "cdefg");
  EXPECT_EQ(ring.Size(), 0u);
  EXPECT_EQ(ring.Take(out, 1), 0u);
}
