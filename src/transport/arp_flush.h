#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace stampwright {

// Empties the host's ARP cache before a burn, so that the PC learns the unit's new MAC afresh:
// deletes every IPv4 neighbour entry that is neither permanent nor a no-ARP entry. Done in this
// process over rtnetlink (a child tool would not inherit the capabilities the station may run
// with); never starts a process and gives up after about two seconds. The Burn command does not
// look at the result; it is the number of entries deleted, or -1 when the table could not be read.
int FlushArpCache();

// The flush as the Burn command sees it, passed in like the Clock: the program flushes the host's
// table, tests record that a flush was asked for and touch nothing.
class ArpFlush {
 public:
  virtual ~ArpFlush() = default;
  // The number of entries deleted, or -1; the Burn command ignores it.
  virtual int Flush() = 0;
};

class RtnetlinkArpFlush final : public ArpFlush {
 public:
  int Flush() override { return FlushArpCache(); }
};

// One neighbour entry the flush deletes.
struct ArpEntry {
  int interface_index = 0;
  std::array<uint8_t, 4> address{};  // IPv4, network order
  friend bool operator==(const ArpEntry&, const ArpEntry&) = default;
};

enum class DumpProgress { kMore, kDone, kFailed };

// Reads one datagram of the answer to a neighbour dump with sequence number `sequence` and adds
// the entries to delete to `entries`. Every length in the datagram is checked before it is used;
// a message that does not fit ends the datagram. kDone once the dump's end arrives, kFailed on an
// error answer.
DumpProgress ParseNeighbourDump(const uint8_t* data, size_t size, uint32_t sequence,
                                std::vector<ArpEntry>& entries);

}  // namespace stampwright
