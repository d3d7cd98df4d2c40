// Reads a capture file in the classic pcap format (what `tcpdump -w` writes): the IPv4 TCP
// and UDP packets in it, with their payload. Link layers: Ethernet (the loopback interface),
// Linux cooked (v1 and v2), BSD loopback and raw IP; other packets are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace talvo::test {

struct CapturedPacket {
  bool tcp = false;  // else UDP
  std::string source, destination;  // dotted addresses
  std::uint16_t sourcePort = 0, destinationPort = 0;
  std::uint32_t sequence = 0;  // TCP
  std::string payload;
};

// False with `error` when the file cannot be read or is not a classic pcap file. A last
// record cut short (a capture stopped while writing) ends the list without an error.
bool ReadPcapFile(const std::string& path, std::vector<CapturedPacket>& packets, std::string& error);

// The TCP payload of each direction of each connection, in the order of their first
// packet; retransmitted bytes are counted once.
struct TcpStream {
  std::string source, destination;
  std::uint16_t sourcePort = 0, destinationPort = 0;
  std::string bytes;
};
std::vector<TcpStream> TcpStreams(const std::vector<CapturedPacket>& packets);

}  // namespace talvo::test
