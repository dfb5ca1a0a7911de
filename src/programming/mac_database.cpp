#include "programming/mac_database.h"

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#if defined(__x86_64__)
#include <immintrin.h>
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

#if defined(__x86_64__)
// From the group at `group` on, 32 places at a time while a whole group of 32 fits below limit:
// the first group with places where the first two digits fit (their bits in *places), or the
// first group not looked at (*places 0). Only where the processor has AVX2 (checked before use).
__attribute__((target("avx2"))) size_t NextFit32(const char* data, size_t group, size_t limit,
                                                 char d0, char d1, uint32_t* places) {
  const __m256i want_first = _mm256_set1_epi8(d0);
  const __m256i want_second = _mm256_set1_epi8(d1);
  for (; group + 32 <= limit; group += 32) {
    const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + group + 5));
    const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + group + 7));
    const __m256i fit = _mm256_and_si256(_mm256_cmpeq_epi8(first, want_first),
                                         _mm256_cmpeq_epi8(second, want_second));
    const auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(fit));
    if (mask != 0) {
      *places = mask;
      return group;
    }
  }
  *places = 0;
  return group;
}
#endif

// Finds the first read of the file that holds a record with the wanted six MAC digits, where a
// read is what an 80-byte line buffer takes: at most 79 characters, up to and including a
// newline (a NUL does not end one). Reads therefore start right after each newline and every 79
// characters along a longer line; a record must also have 23 characters before its read's
// newline. Rather than splitting every read, the file is read in blocks and scanned for places
// where the first two digits fit, 16 places at a time; only those few are checked for being a
// read start. One search covers the places of one range of the file, so that two can share a
// large file; memory stays one block whatever the file's size.
class RecordSearch {
 public:
  // Places from begin up to end; line_start is where the line holding begin starts.
  RecordSearch(int fd, const std::array<char, 6>& digits, uint64_t begin, uint64_t end,
               uint64_t line_start, const std::atomic<bool>* stop = nullptr)
      : fd_(fd),
        digits_(digits),
        buffer_(kBlockSize + kMacRecordLength),
        end_(end),
        stop_(stop),
        base_(begin),
        line_start_(line_start) {}

  // The first matching read's record characters and their file offset, or nothing.
  std::optional<std::pair<uint64_t, std::string>> Run() {
    size_t carry = 0;
    uint64_t offset = base_;
    for (bool at_end = false; !at_end && base_ < end_;) {
      if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) return std::nullopt;
      const size_t got = ReadAt(buffer_.data() + carry, kBlockSize, offset);
      offset += got;
      at_end = got < kBlockSize;
      const size_t available = carry + got;
      // Places with a whole record after them; the last 22 bytes wait for the next block.
      size_t limit = available >= kMacRecordLength ? available - (kMacRecordLength - 1) : 0;
      if (base_ + limit > end_) limit = static_cast<size_t>(end_ - base_);
      scanned_ = 0;
      size_t group = 0;
#if defined(__x86_64__)
      if (wide_) {
        // Whole groups of 32 only: their loads end 7 bytes past the group, within the data.
        for (;;) {
          uint32_t places = 0;
          group = NextFit32(buffer_.data(), group, limit, digits_[0], digits_[1], &places);
          if (places == 0) break;
          if (auto found = Check(group, places)) return found;
          group += 32;
        }
      }
#endif
      for (; group < limit; group += 16) {
        uint32_t places = FirstDigitsFit(group);
        if (limit - group < 16) places &= (uint32_t{1} << (limit - group)) - 1;
        if (places == 0) continue;
        if (auto found = Check(group, places)) return found;
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

  // The places of a group (bit i: the group's place i) that are read starts holding the record.
  std::optional<std::pair<uint64_t, std::string>> Check(size_t group, uint32_t places) {
    for (; places != 0; places &= places - 1) {
      const size_t place = group + static_cast<size_t>(__builtin_ctz(places));
      // The digits first: a place that fits them all is rare, and only then is it placed.
      if (IsMatch(buffer_.data() + place) && IsReadStart(place)) {
        return std::make_pair(base_ + place, std::string(buffer_.data() + place, kMacRecordLength));
      }
    }
    return std::nullopt;
  }

  // Fills up to size bytes from the file offset; fewer only at the end of the file (or on an
  // error, which ends the search as the end of the file would).
  size_t ReadAt(char* into, size_t size, uint64_t offset) const {
    size_t done = 0;
    while (done < size) {
      const ssize_t got = ::pread(fd_, into + done, size - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) break;
      done += static_cast<size_t>(got);
    }
    return done;
  }

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

  int fd_;
  std::array<char, 6> digits_;
  std::vector<char> buffer_;
#if defined(__x86_64__)
  bool wide_ = __builtin_cpu_supports("avx2");
#endif
  uint64_t end_;                    // first place not to look at
  const std::atomic<bool>* stop_;   // set when an earlier range has found its record
  uint64_t base_;                   // file offset of the buffer's first byte
  uint64_t line_start_;             // file offset where the line holding position scanned_ begins
  size_t scanned_ = 0;              // buffer position up to which newlines are accounted for
};

// Where the line holding the byte at offset begins: just after the last newline before it.
uint64_t LineStartBefore(int fd, uint64_t offset) {
  std::vector<char> block(kMacDatabaseBlockSize);
  while (offset > 0) {
    const uint64_t from = offset > block.size() ? offset - block.size() : 0;
    const auto size = static_cast<size_t>(offset - from);
    ssize_t got;
    do {
      got = ::pread(fd, block.data(), size, static_cast<off_t>(from));
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(size)) return from;  // cannot happen on a regular file
    if (const void* newline = ::memrchr(block.data(), '\n', size)) {
      return from + static_cast<uint64_t>(static_cast<const char*>(newline) - block.data()) + 1;
    }
    offset = from;
  }
  return 0;
}

// The first matching record in the whole file. A file of at least split_from bytes is searched
// as two halves at once: the first half's record wins; the second's counts only without one.
std::optional<std::string> SearchFile(int fd, const std::array<char, 6>& digits,
                                      size_t split_from) {
  struct stat status {};
  if (::fstat(fd, &status) != 0) return std::nullopt;
  const auto size = static_cast<uint64_t>(status.st_size);
  // The last place with 23 bytes after it; a read that is cut by the end of the file is shorter.
  const uint64_t places = size >= kMacRecordLength ? size - (kMacRecordLength - 1) : 0;
  if (size < split_from || places < 2) {
    auto found = RecordSearch(fd, digits, 0, places, 0).Run();
    if (!found) return std::nullopt;
    return std::move(found->second);
  }
  const uint64_t middle = places / 2;
  std::atomic<bool> first_found{false};
  std::optional<std::pair<uint64_t, std::string>> second;
  std::thread second_half([&] {
    second = RecordSearch(fd, digits, middle, places, LineStartBefore(fd, middle), &first_found).Run();
  });
  auto first = RecordSearch(fd, digits, 0, middle, 0).Run();
  if (first) first_found.store(true, std::memory_order_relaxed);
  second_half.join();
  if (first) return std::move(first->second);
  if (second) return std::move(second->second);
  return std::nullopt;
}

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
    if (std::optional<std::string> record =
            SearchFile(::fileno(file.get()), wanted, options.split_from_bytes)) {
      return {MacSearchStatus::kFound,
              MacRecord{MacText(prefix, record->data()), GroupedPassword(record->data())}};
    }
  }
  return {MacSearchStatus::kNoRecord, {}};
}

}  // namespace stampwright
