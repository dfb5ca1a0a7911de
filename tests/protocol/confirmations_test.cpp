#include "protocol/confirmations.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace stampwright {
namespace {

// Golden frames, written out byte by byte as a unit sends them: 20 header bytes, then the payload.
std::vector<uint8_t> Frame(uint8_t mmtype_low, std::vector<uint8_t> payload) {
  std::vector<uint8_t> frame = {
      0x02, 0xAA, 0x00, 0x00, 0x00, 0x10,  // destination
      0x02, 0xA0, 0xC5, 0x00, 0x00, 0x01,  // source
      0x88, 0xE1,                          // ethertype
      0x00,                                // MMV
      mmtype_low, 0xA0,                    // MMTYPE, little-endian
      0x00, 0xB0, 0x52,                    // OUI
  };
  for (const uint8_t byte : payload) frame.push_back(byte);
  return frame;
}

FrameReader Reader(const std::vector<uint8_t>& frame) { return {frame.data(), frame.size()}; }

TEST(ConfirmationParsers, VersionTakesChipTypeAndTextUpToItsNul) {
  const auto frame = Frame(0x01, {0x00, 0x02, 0x04, 'v', '1', '.', '2', 0x00, 'x', 'x'});
  const auto parsed = ParseVersionConfirmation(Reader(frame));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->chip_type, 2);
  EXPECT_EQ(parsed->text, "v1.2");

  // No NUL before the frame ends: the text stops there. Over 79 characters: cut at 79.
  const auto unterminated = Frame(0x01, {0x00, 0x01, 0x03, 'a', 'b', 'c'});
  EXPECT_EQ(ParseVersionConfirmation(Reader(unterminated))->text, "abc");
  auto long_text = Frame(0x01, {0x00, 0x01, 0x64});
  long_text.resize(long_text.size() + 100, 'y');
  EXPECT_EQ(ParseVersionConfirmation(Reader(long_text))->text, std::string(79, 'y'));

  // Ends before the first text byte: nothing to take.
  EXPECT_FALSE(ParseVersionConfirmation(Reader(Frame(0x01, {0x00, 0x02, 0x04}))));
}

TEST(ConfirmationParsers, WriteReadsStatusLengthAndOffsetLittleEndian) {
  const auto frame = Frame(0x21, {0x07, 0x00, 0x00,        // status, two unread bytes
                                  0xB8, 0x02,              // length 696
                                  0x00, 0x1C, 0x00, 0x00});  // offset 7168
  const auto parsed = ParseWriteConfirmation(Reader(frame));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->status, 7);
  EXPECT_EQ(parsed->length, 696);
  EXPECT_EQ(parsed->offset, 7168u);

  auto cut = frame;
  cut.pop_back();  // the offset's last byte missing
  EXPECT_FALSE(ParseWriteConfirmation(Reader(cut)));
}

TEST(ConfirmationParsers, ReadReadsItsFieldsAndDataOnlyFromInsideTheFrame) {
  const auto frame = Frame(0x25, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // status, unread
                                  0x04, 0x00,                          // length 4
                                  0x00, 0x04, 0x00, 0x00,              // offset 1024
                                  0xDE, 0xAD, 0xBE, 0xEF,              // checksum, unread
                                  0x11, 0x22, 0x33, 0x44, 0x55});      // data, one byte more
  const auto parsed = ParseReadConfirmation(Reader(frame));
  ASSERT_TRUE(parsed);
  EXPECT_EQ(parsed->status, 0);
  EXPECT_EQ(parsed->length, 4);
  EXPECT_EQ(parsed->offset, 1024u);
  ASSERT_TRUE(parsed->data_complete);
  EXPECT_EQ(std::vector<uint8_t>(parsed->data.begin(), parsed->data.end()),
            (std::vector<uint8_t>{0x11, 0x22, 0x33, 0x44}));

  auto claims_more = frame;
  claims_more[26] = 0x06;  // six bytes claimed, five there
  const auto short_data = ParseReadConfirmation(Reader(claims_more));
  ASSERT_TRUE(short_data);
  EXPECT_FALSE(short_data->data_complete);
  EXPECT_TRUE(short_data->data.empty());

  const auto no_offset = Frame(0x25, {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00});
  EXPECT_FALSE(ParseReadConfirmation(Reader(no_offset)));
}

TEST(ConfirmationParsers, CommitAcceptsStatusZeroAnd46) {
  EXPECT_TRUE(ParseCommitConfirmation(Reader(Frame(0x29, {0x00})))->accepted());
  EXPECT_TRUE(ParseCommitConfirmation(Reader(Frame(0x29, {0x46})))->accepted());
  EXPECT_FALSE(ParseCommitConfirmation(Reader(Frame(0x29, {0x01})))->accepted());
  EXPECT_FALSE(ParseCommitConfirmation(Reader(Frame(0x29, {}))));
}

}  // namespace
}  // namespace stampwright
