#pragma once
// The voice driver, Board::kVoice: it answers the channels available per codec family
// and its version record.
//
// Requests, logged by these names and fields (decimal):
//   ioctl capacity mask=<m> result=<n>    a mask other than 1, 2, 4, 8 or 65: EINVAL
//   ioctl version words=<w0>,<w1>,<w2>,<w3>,<w4>
// Both carry a record: given a value they are EFAULT; any other request ENOTTY.
// Counts by mask, until set: 4 (g729) 12, 2 (g723) 10, 1 (g711) 30, 8 (g711mcc) 0,
// 65 (universal) 24. The version words are 0 until set.
//
// Control socket:
//   set voice <mask> <count>            the count that mask answers
//   set voice version <w0> ... <w4>     the version record
//   state voice                         "capacity 4=12 2=10 1=30 8=0 65=24", then
//                                       "version <w0>,<w1>,<w2>,<w3>,<w4>"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "boardsim/model.h"

namespace BoardSim {

class Voice : public Model {
public:
  Voice();

protected:
  char const* request_name(unsigned long request) const override;
  std::string decode(unsigned long request, void const* arg) const override;
  std::string decode_reply(unsigned long request, void const* arg) const override;
  int ioctl(Open& open, unsigned long request, void* arg) override;
  int ioctl_value(Open& open, unsigned long request, unsigned long value) override;
  Answer command(std::string_view verb, std::vector<std::string> const& args) override;

private:
  std::map<std::uint32_t, std::uint32_t> m_counts;  // by mask
  std::array<std::uint32_t, 5> m_version{};
};

}  // namespace BoardSim
