#include "programming/mac_database.h"

#include <string.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/regular_file.h"

namespace stampwright {
namespace {


// Where the six MAC digits and the sixteen password characters sit in a record, in the order
// in which they are shown.
constexpr std::array<size_t, 6> kMacDigitPositions = {5, 7, 22, 10, 13, 17};
constexpr std::array<size_t, kPasswordLength> kPasswordPositions = {
    4, 0, 6, 1, 2, 12, 3, 14, 15, 8, 20, 9, 11, 18, 16, 19};
constexpr size_t kRecordPositions = kMacDigitPositions.size() + kPasswordPositions.size() + 1;
static_assert(kRecordPositions == kMacRecordLength, "every position but 21 carries a character");

// A directory, a FIFO or a device is not a database: treat it as not openable rather than block
// the page or read without end.
FileHandle OpenDatabase(const std::string& path) { return OpenRegularFile(path, "r"); }

// A NUL among the record's characters would end its MAC or password text early as a C string
// sees it (a shorter entry would then match, a burn would use a cut password): such a record is
// damaged and never matches. Position 21 is not a record character.
bool HasNul(const char* record) {
  for (size_t position : kMacDigitPositions) {
    if (record[position] == '\0') return true;
  }
  for (size_t position : kPasswordPositions) {
    if (record[position] == '\0') return true;
  }
  return false;
}

std::string GroupedPassword(const char* record) {
  std::string text;
  text.reserve(kGroupedPasswordLength);
  for (size_t i = 0; i < kPasswordPositions.size(); ++i) {
    if (i > 0 && i % 4 == 0) text += '-';
    text += record[kPasswordPositions[i]];
  }
  return text;
}

std::string MacText(std::string_view prefix, const char* record) {
  std::string text(prefix);
  for (size_t position : kMacDigitPositions) text += record[position];
  return text;
}

// Finds the first read of the file that holds a record with the wanted six MAC digits, where a
// read is what an 80-byte line buffer takes: at most 79 characters, up to and including a
// newline (a NUL does not end one). Reads therefore start right after each newline and every 79
// characters along a longer line; a record must also have 23 characters before its read's
// newline. Rather than splitting every read, the file is read in blocks and scanned for places
// where the first two digits fit, 16 places at a time; only those few are checked for being a
// read start. Memory stays one block whatever the file's size.
class RecordSearch {
 public:
  RecordSearch(std::FILE* file, const std::array<char, 6>& digits)
      : file_(file), digits_(digits), buffer_(kBlockSize + kMacRecordLength) {}

  // The first matching read's record characters, or nothing.
  std::optional<std::string> Run() {
    size_t carry = 0;
    for (bool at_end = false; !at_end;) {
      const size_t got = std::fread(buffer_.data() + carry, 1, kBlockSize, file_);
      at_end = got < kBlockSize;
      const size_t available = carry + got;
      // Places with a whole record after them; the last 22 bytes wait for the next block.
      const size_t limit = available >= kMacRecordLength ? available - (kMacRecordLength - 1) : 0;
      scanned_ = 0;
      for (size_t group = 0; group < limit; group += 16) {
        uint32_t places = FirstDigitsFit(group);
        if (limit - group < 16) places &= (uint32_t{1} << (limit - group)) - 1;
        for (; places != 0; places &= places - 1) {
          const size_t place = group + static_cast<size_t>(__builtin_ctz(places));
          if (IsReadStart(place) && IsMatch(buffer_.data() + place)) {
            return std::string(buffer_.data() + place, kMacRecordLength);
          }
        }
      }
      TrackLineStart(limit);
      carry = available - limit;
      std::memmove(buffer_.data(), buffer_.data() + limit, carry);
      base_ += limit;
    }
    return std::nullopt;
  }

 private:
  static constexpr size_t kBlockSize = kMacDatabaseBlockSize;

  // Bit i set when the bytes at the group's place i + 5 and i + 7 are the first two digits.
  // Every byte looked at lies before place + 23, within the data.
  uint32_t FirstDigitsFit(size_t group) const {
    const char* bytes = buffer_.data() + group;
#if defined(__SSE2__)
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 5));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + 7));
    const __m128i fit = _mm_and_si128(_mm_cmpeq_epi8(first, _mm_set1_epi8(digits_[0])),
                                      _mm_cmpeq_epi8(second, _mm_set1_epi8(digits_[1])));
    return static_cast<uint32_t>(_mm_movemask_epi8(fit));
#else
    uint32_t places = 0;
    for (int i = 0; i < 16; ++i) {
      if (bytes[i + 5] == digits_[0] && bytes[i + 7] == digits_[1]) places |= uint32_t{1} << i;
    }
    return places;
#endif
  }

  // Moves the scan for newlines up to the buffer position `until` (never backwards), so that
  // line_start_ is where the line holding that position begins, as a file offset.
  void TrackLineStart(size_t until) {
    if (until <= scanned_) return;
    const auto* newline = static_cast<const char*>(
        ::memrchr(buffer_.data() + scanned_, '\n', until - scanned_));
    if (newline != nullptr) line_start_ = base_ + static_cast<size_t>(newline - buffer_.data()) + 1;
    scanned_ = until;
  }

  bool IsReadStart(size_t place) {
    TrackLineStart(place);
    return (base_ + place - line_start_) % kMacDatabaseReadSize == 0;
  }

  // The remaining digits, then the read's length and the record's NULs.
  bool IsMatch(const char* record) const {
    for (size_t i = 2; i < digits_.size(); ++i) {
      if (record[kMacDigitPositions[i]] != digits_[i]) return false;
    }
    return std::memchr(record, '\n', kMacRecordLength) == nullptr && !HasNul(record);
  }

  std::FILE* file_;
  std::array<char, 6> digits_;
  std::vector<char> buffer_;
  uint64_t base_ = 0;        // file offset of the buffer's first byte
  uint64_t line_start_ = 0;  // file offset where the line holding position scanned_ begins
  size_t scanned_ = 0;       // buffer position up to which newlines are accounted for
};

}  // namespace

std::optional<MacRecord> DecodeMacRecord(std::string_view line, std::string_view mac_prefix) {
  const size_t text_length = std::min(line.find('\n'), line.size());
  if (text_length < kMacRecordLength || HasNul(line.data())) return std::nullopt;
  return MacRecord{MacText(mac_prefix, line.data()), GroupedPassword(line.data())};
}

std::string EncodeMacRecord(std::string_view mac12, std::string_view password16) {
  if (mac12.size() != kMacTextLength || password16.size() != kPasswordLength) return {};
  std::string line(kMacRecordLength, kMacRecordFiller);
  const std::string_view digits = mac12.substr(kMacTextLength - kMacDigitPositions.size());
  for (size_t i = 0; i < kMacDigitPositions.size(); ++i) line[kMacDigitPositions[i]] = digits[i];
  for (size_t i = 0; i < kPasswordPositions.size(); ++i) {
    line[kPasswordPositions[i]] = password16[i];
  }
  return line;
}

MacSearchResult SearchMacDatabase(std::string_view entry, const MacLookupOptions& options) {
  FileHandle file = OpenDatabase(options.database_path);
  if (!file) return {MacSearchStatus::kCannotOpen, {}};

  // A record's MAC text is always the prefix plus six characters, so any other entry can only
  // miss; the scan is then skipped, with the same outcome as reading every line.
  const std::string_view prefix = options.mac_prefix;
  if (entry.size() == prefix.size() + kMacDigitPositions.size() &&
      entry.substr(0, prefix.size()) == prefix) {
    std::array<char, 6> wanted{};
    std::memcpy(wanted.data(), entry.data() + prefix.size(), wanted.size());
    if (std::optional<std::string> record = RecordSearch(file.get(), wanted).Run()) {
      return {MacSearchStatus::kFound,
              MacRecord{MacText(prefix, record->data()), GroupedPassword(record->data())}};
    }
  }
  return {MacSearchStatus::kNoRecord, {}};
}

}  // namespace stampwright
