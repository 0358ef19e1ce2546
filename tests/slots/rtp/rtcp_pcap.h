#pragma once
// RTCP packets as tshark dissects them: written as UDP datagrams into a capture file and
// read back with tshark's RTCP dissector.

#include <string>
#include <vector>

namespace rtcp_pcap {

// tshark's fields of one packet; fields that occur more than once are joined with "|".
struct Dissected {
  std::string pt, sc, ssrc, sdes_types, sdes_length, sdes_text, malformed, expert;
};

// Each packet becomes one datagram from 127.0.0.1:30001 to 127.0.0.1:40001. Fails the
// test (and returns what it has) when tshark is missing or fails.
std::vector<Dissected> dissect(std::vector<std::string> const& packets);

}  // namespace rtcp_pcap
