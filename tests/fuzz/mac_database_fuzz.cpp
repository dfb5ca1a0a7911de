// "cam.dbr" contents into LookupMacRecord, checked against a plain reference reader: the file
// read as an 80-byte line buffer reads it (at most 79 characters, up to and including a newline),
// every read decoded on its own, the first whose MAC text equals the entry winning. The lookup's
// block scan must find exactly what the reference finds. Every read also goes through
// DecodeMacRecord, against the reference decoding.
//
// Input: [mode][pick][padding] then the file's body. The mode chooses the entered MAC: raw bytes
// of the input, the prefix and six raw digits, or the MAC of one of the file's own reads (so that
// matches are common). The file is the body behind a padding of up to 255 * 521 bytes cut from
// the body itself, so records straddle the lookup's 64 KiB blocks at every alignment.

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_input.h"
#include "station/mac_lookup.h"
#include "resources/controls.h"
#include "support/recording_page.h"
#include "temp_file.h"

namespace stampwright::fuzz {
namespace {

constexpr size_t kPaddingUnit = 521;
constexpr size_t kMacPositions[] = {5, 7, 22, 10, 13, 17};
constexpr size_t kPasswordPositions[] = {4, 0, 6, 1, 2, 12, 3, 14, 15, 8, 20, 9, 11, 18, 16, 19};

// The reads an 80-byte line buffer makes of the file.
std::vector<std::string_view> Reads(std::string_view file) {
  std::vector<std::string_view> reads;
  while (!file.empty()) {
    const size_t newline = file.substr(0, kMacDatabaseReadSize).find('\n');
    const size_t length =
        newline != std::string_view::npos ? newline + 1 : std::min(file.size(), kMacDatabaseReadSize);
    reads.push_back(file.substr(0, length));
    file.remove_prefix(length);
  }
  return reads;
}

std::optional<MacRecord> ReferenceDecode(std::string_view read, std::string_view prefix) {
  const std::string_view text = read.substr(0, read.find('\n'));
  if (text.size() < kMacRecordLength) return std::nullopt;
  MacRecord record{std::string(prefix), {}};
  for (size_t position : kMacPositions) {
    if (text[position] == '\0') return std::nullopt;
    record.mac_text += text[position];
  }
  for (size_t i = 0; i < std::size(kPasswordPositions); ++i) {
    if (text[kPasswordPositions[i]] == '\0') return std::nullopt;
    if (i > 0 && i % 4 == 0) record.password_text += '-';
    record.password_text += text[kPasswordPositions[i]];
  }
  return record;
}

bool SameRecord(const std::optional<MacRecord>& a, const std::optional<MacRecord>& b) {
  if (a.has_value() != b.has_value()) return false;
  return !a || (a->mac_text == b->mac_text && a->password_text == b->password_text);
}

void Run(InputReader& in, const TempFile& database) {
  const uint8_t mode = in.Byte();
  const uint8_t pick = in.Byte();
  const size_t padding_length = in.Byte() * kPaddingUnit;
  const std::span<const uint8_t> entry_bytes = in.Take(mode % 3 == 0 ? kMacTextLength : 6);
  const std::span<const uint8_t> body = in.Rest();

  std::string file(padding_length, '\n');
  for (size_t i = 0; i < padding_length && !body.empty(); ++i) {
    file[i] = static_cast<char>(body[i % body.size()]);
  }
  file.append(AsText(body));
  database.Write({std::span(reinterpret_cast<const uint8_t*>(file.data()), file.size())});

  const std::string_view prefix = kDefaultMacPrefix;
  const std::vector<std::string_view> reads = Reads(file);
  std::string entry;
  switch (mode % 3) {
    case 0: entry = AsText(entry_bytes); break;
    case 1: entry = std::string(prefix) + std::string(AsText(entry_bytes)); break;
    default:
      for (size_t i = 0; i < reads.size(); ++i) {
        const std::optional<MacRecord> record = ReferenceDecode(reads[(pick + i) % reads.size()], prefix);
        if (record) {
          entry = record->mac_text;
          break;
        }
      }
  }

  RecordingPage page;
  page.SetText(kNewMacEdit, entry);
  const std::string typed = page.GetText(kNewMacEdit, kMacTextLength);
  std::optional<MacRecord> expected;
  for (size_t i = 0; i < reads.size(); ++i) {
    const std::optional<MacRecord> record = ReferenceDecode(reads[i], prefix);
    if (i < 256) {
      Require(SameRecord(DecodeMacRecord(reads[i], prefix), record),
              "DecodeMacRecord agrees with the reference decoding");
    }
    if (record && record->mac_text == typed) {
      expected = record;
      break;
    }
  }

  const std::string mac_before = page.GetText(kMacField, 100);
  const std::string password_before = page.GetText(kPasswordField, 100);
  page.Clear();
  MacLookupOptions options;
  options.database_path = database.path();
  const bool found = LookupMacRecord(page, options);

  Require(found == expected.has_value(), "the lookup finds what the reference finds");
  if (found) {
    Require(page.message_boxes().empty(), "a match shows no box");
    Require(page.GetText(kMacField, 100) == expected->mac_text, "the matched MAC text");
    Require(page.GetText(kPasswordField, 100) == expected->password_text,
            "the matched password text, from the first matching read");
  } else {
    Require(page.message_boxes().size() == 1 &&
                page.message_boxes()[0].text == "The input MAC is invalid.",
            "a miss shows the one warning box");
    Require(page.GetText(kMacField, 100) == mac_before &&
                page.GetText(kPasswordField, 100) == password_before,
            "a miss leaves both fields alone");
  }

  // Split in two halves searched at once, the result must be the same.
  RecordingPage halves;
  halves.SetText(kNewMacEdit, entry);
  options.split_from_bytes = 0;
  Require(LookupMacRecord(halves, options) == found, "the halves find what the whole finds");
  if (found) {
    Require(halves.GetText(kMacField, 100) == expected->mac_text &&
                halves.GetText(kPasswordField, 100) == expected->password_text,
            "the halves find the first matching read");
  }
}

}  // namespace
}  // namespace stampwright::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const stampwright::fuzz::TempFile database("cam.dbr");
  stampwright::fuzz::InputReader in(data, size);
  stampwright::fuzz::Run(in, database);
  return 0;
}
