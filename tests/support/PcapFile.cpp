#include "tests/support/PcapFile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <tuple>

namespace talvo::test {

namespace {

constexpr std::uint32_t kMagicMicro = 0xA1B2C3D4, kMagicNano = 0xA1B23C4D;
constexpr std::size_t kFileHeader = 24, kRecordHeader = 16;
// Link-layer types (LINKTYPE_*).
constexpr std::uint32_t kNull = 0, kEthernet = 1, kRaw = 101, kLinuxSll = 113, kLinuxSll2 = 276;
constexpr std::uint16_t kEtherIpv4 = 0x0800;
constexpr std::uint8_t kTcp = 6, kUdp = 17;

std::uint32_t Read32(const unsigned char* p, bool swapped) {
  const std::uint32_t little = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
  return swapped ? __builtin_bswap32(little) : little;
}
std::uint16_t Big16(const unsigned char* p) { return static_cast<std::uint16_t>((p[0] << 8) | p[1]); }
std::uint32_t Big32(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
}

std::string Dotted(const unsigned char* p) {
  return std::to_string(p[0]) + "." + std::to_string(p[1]) + "." + std::to_string(p[2]) + "." + std::to_string(p[3]);
}

// The IPv4 packet inside one frame, or null (another protocol, a short frame).
const unsigned char* Ipv4Start(std::uint32_t linkType, const unsigned char* frame, std::size_t& length) {
  std::size_t header = 0;
  bool ipv4 = false;
  switch (linkType) {
    case kEthernet:
      header = 14;
      ipv4 = length >= header && Big16(frame + 12) == kEtherIpv4;
      break;
    case kLinuxSll:
      header = 16;
      ipv4 = length >= header && Big16(frame + 14) == kEtherIpv4;
      break;
    case kLinuxSll2:
      header = 20;
      ipv4 = length >= header && Big16(frame) == kEtherIpv4;
      break;
    case kNull:
      header = 4;  // the address family, in the capturing host's order: 2 is AF_INET
      ipv4 = length >= header && (frame[0] == 2 || frame[3] == 2);
      break;
    case kRaw:
      ipv4 = length >= 1 && (frame[0] >> 4) == 4;
      break;
    default: return nullptr;
  }
  if (!ipv4) return nullptr;
  length -= header;
  return frame + header;
}

bool ParseIpv4(const unsigned char* ip, std::size_t length, CapturedPacket& packet) {
  if (length < 20 || (ip[0] >> 4) != 4) return false;
  const std::size_t ipHeader = (ip[0] & 0x0F) * 4u;
  // The IP length, not the frame's: Ethernet pads short frames.
  const std::size_t total = std::min<std::size_t>(Big16(ip + 2), length);
  if (ipHeader < 20 || total < ipHeader) return false;
  const std::uint8_t protocol = ip[9];
  const unsigned char* transport = ip + ipHeader;
  const std::size_t transportLength = total - ipHeader;
  std::size_t headerLength = 0;
  if (protocol == kTcp && transportLength >= 20) {
    headerLength = (transport[12] >> 4) * 4u;
    packet.tcp = true;
    packet.sequence = Big32(transport + 4);
  } else if (protocol == kUdp && transportLength >= 8) {
    headerLength = 8;
  } else {
    return false;
  }
  if (headerLength > transportLength) return false;
  packet.source = Dotted(ip + 12);
  packet.destination = Dotted(ip + 16);
  packet.sourcePort = Big16(transport);
  packet.destinationPort = Big16(transport + 2);
  packet.payload.assign(reinterpret_cast<const char*>(transport + headerLength), transportLength - headerLength);
  return true;
}

}  // namespace

bool ReadPcapFile(const std::string& path, std::vector<CapturedPacket>& packets, std::string& error) {
  packets.clear();
  std::ifstream file(path, std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file.good() && !file.eof()) {
    error = "cannot read " + path;
    return false;
  }
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  if (data.size() < kFileHeader) {
    error = path + " is too short for a pcap file (" + std::to_string(data.size()) + " bytes)";
    return false;
  }
  const std::uint32_t magic = Read32(bytes, false);
  const bool swapped = magic == __builtin_bswap32(kMagicMicro) || magic == __builtin_bswap32(kMagicNano);
  if (!swapped && magic != kMagicMicro && magic != kMagicNano) {
    error = path + " is not a classic pcap file";
    return false;
  }
  const std::uint32_t linkType = Read32(bytes + 20, swapped) & 0x0FFFFFFF;
  for (std::size_t at = kFileHeader; at + kRecordHeader <= data.size();) {
    const std::uint32_t captured = Read32(bytes + at + 8, swapped);
    at += kRecordHeader;
    if (captured > data.size() - at) break;
    std::size_t length = captured;
    CapturedPacket packet;
    if (const unsigned char* ip = Ipv4Start(linkType, bytes + at, length); ip != nullptr && ParseIpv4(ip, length, packet)) {
      packets.push_back(std::move(packet));
    }
    at += captured;
  }
  return true;
}

std::vector<TcpStream> TcpStreams(const std::vector<CapturedPacket>& packets) {
  std::vector<TcpStream> streams;
  using Key = std::tuple<std::string, std::uint16_t, std::string, std::uint16_t>;
  std::map<Key, std::pair<std::size_t, std::uint32_t>> known;  // stream index, next sequence number
  for (const auto& packet : packets) {
    if (!packet.tcp || packet.payload.empty()) continue;
    const Key key{packet.source, packet.sourcePort, packet.destination, packet.destinationPort};
    auto found = known.find(key);
    if (found == known.end()) {
      streams.push_back({packet.source, packet.destination, packet.sourcePort, packet.destinationPort, {}});
      found = known.emplace(key, std::make_pair(streams.size() - 1, packet.sequence)).first;
    }
    auto& [index, next] = found->second;
    // Sequence numbers wrap: compare by difference.
    const auto behind = static_cast<std::int32_t>(next - packet.sequence);
    if (behind < 0) {
      next = packet.sequence;  // bytes the capture missed: go on from here
    } else if (static_cast<std::size_t>(behind) >= packet.payload.size()) {
      continue;  // a retransmission of bytes already there
    }
    const std::size_t skip = behind > 0 ? static_cast<std::size_t>(behind) : 0;
    streams[index].bytes.append(packet.payload, skip);
    next += static_cast<std::uint32_t>(packet.payload.size() - skip);
  }
  return streams;
}

}  // namespace talvo::test
