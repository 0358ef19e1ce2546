#include "boardsim/voice.h"

#include <cerrno>
#include <cstring>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"

namespace BoardSim {

namespace {

// The masks in the order the driver's families are reported.
constexpr std::uint32_t kMasks[] = {4, 2, 1, 8, 65};

std::string words_text(std::uint32_t const (&words)[5]) {
  std::string text = "words=";
  for (std::size_t i = 0; i < 5; ++i) {
    if (i) text += ',';
    text += std::to_string(words[i]);
  }
  return text;
}

}  // namespace

Voice::Voice() : Model(Board::kVoice), m_counts{{4, 12}, {2, 10}, {1, 30}, {8, 0}, {65, 24}} {}

char const* Voice::request_name(unsigned long request) const {
  switch (request) {
    case Board::VOICE_CODEC_CAPACITY: return "capacity";
    case Board::VOICE_VERSION: return "version";
    default: return nullptr;
  }
}

std::string Voice::decode(unsigned long request, void const* arg) const {
  if (request != Board::VOICE_CODEC_CAPACITY) return {};
  Board::VoiceCodecMask mask;
  std::memcpy(&mask, arg, sizeof mask);
  return "mask=" + std::to_string(mask.mask);
}

std::string Voice::decode_reply(unsigned long request, void const* arg) const {
  if (request != Board::VOICE_VERSION) return {};
  Board::VoiceVersion version;
  std::memcpy(&version, arg, sizeof version);
  return words_text(version.words);
}

int Voice::ioctl(Open&, unsigned long request, void* arg) {
  if (request == Board::VOICE_VERSION) {
    Board::VoiceVersion version;
    std::memcpy(version.words, m_version.data(), sizeof version.words);
    std::memcpy(arg, &version, sizeof version);
    return 0;
  }
  Board::VoiceCodecMask mask;
  std::memcpy(&mask, arg, sizeof mask);
  auto const found = m_counts.find(mask.mask);
  if (found == m_counts.end()) return EINVAL;
  set_result(found->second);
  return 0;
}

// Both requests carry a record: a bare value is no address of one.
int Voice::ioctl_value(Open&, unsigned long, unsigned long) { return EFAULT; }

Model::Answer Voice::command(std::string_view verb, std::vector<std::string> const& args) {
  if (verb == "state") {
    if (!args.empty()) return {{}, "usage: state voice"};
    std::string capacity = "capacity";
    for (std::uint32_t const mask : kMasks) capacity += ' ' + std::to_string(mask) + '=' + std::to_string(m_counts[mask]);
    std::uint32_t words[5];
    std::memcpy(words, m_version.data(), sizeof words);
    std::string version = words_text(words);
    return {{capacity, "version " + version.substr(version.find('=') + 1)}, {}};
  }
  if (verb == "set") {
    if (!args.empty() && args[0] == "version") {
      if (args.size() != 6) return {{}, "usage: set voice version <w0> <w1> <w2> <w3> <w4>"};
      std::array<std::uint32_t, 5> words{};
      for (std::size_t i = 0; i < 5; ++i) {
        auto const word = number(args[i + 1]);
        if (!word) return {{}, "usage: set voice version <w0> <w1> <w2> <w3> <w4>"};
        words[i] = *word;
      }
      m_version = words;
      return {};
    }
    std::string const usage = "usage: set voice <mask 1|2|4|8|65> <count>";
    if (args.size() != 2) return {{}, usage};
    std::uint32_t const mask = number(args[0]).value_or(0);
    auto const count = number(args[1], INT32_MAX);
    auto const found = m_counts.find(mask);
    if (found == m_counts.end() || !count) return {{}, usage};
    found->second = *count;
    return {};
  }
  return Model::command(verb, args);
}

}  // namespace BoardSim
