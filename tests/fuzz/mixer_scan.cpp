// The mixer factory's scan against a mixer driver that answers every request from the
// input (units, their counts, timeslots, results and errors), in scans between creates,
// ioctls and destroys of mixer slots. A scan makes at most 100 unit requests, a unit's
// reset clears at most 1024 channels, the counts stay within their bounds, and once every
// slot has gone and the driver reports no unit, no unit object is left.
//
// Input: operations, each a byte and what it takes; every answer of the driver takes the
// bytes that follow. An input that runs out answers "no unit" and "no device".

#include <fcntl.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "server/slot.h"
#include "slots/mixer/mixer.h"
#include "slots/mixer/mixer_factory.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

// The board as the input has it: the mixer and the voice driver's version answer from
// it; every other device (switch, tone, DSP) takes every request. Each open is one of
// /dev/null, closed by the daemon's code as a device descriptor is.
class ScriptIo : public Board::Io {
public:
  FuzzedDataProvider* input = nullptr;
  // What the current scan asked.
  int unit_requests = 0;
  std::int32_t highest_clear = -1;

  int open(char const* path, int) override {
    bool const mixer = std::strcmp(path, Board::kMixer) == 0;
    bool const voice = std::strcmp(path, Board::kVoice) == 0;
    if ((mixer || voice) && input->ConsumeIntegralInRange<int>(0, 15) == 0) {
      errno = ENOENT;
      return -1;
    }
    int const fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    // A number the daemon closed may come back for another device.
    m_mixer = mixer ? fd : m_mixer == fd ? -1 : m_mixer;
    m_voice = voice ? fd : m_voice == fd ? -1 : m_voice;
    return fd;
  }

  int ioctl(int fd, unsigned long request, void* arg) override {
    if (fd == m_voice && request == Board::VOICE_VERSION) {
      if (input->ConsumeBool()) return fail(EIO);
      Board::VoiceVersion version{};
      for (auto& word : version.words) word = input->ConsumeIntegral<std::uint32_t>();
      std::memcpy(arg, &version, sizeof version);
      return 0;
    }
    if (fd != m_mixer) return 0;
    switch (request) {
      case Board::MIX_UNIT_INFO: return unit_info(arg);
      case Board::MIX_TDM: {
        if (input->ConsumeIntegralInRange<int>(0, 7) == 0) return fail(EIO);
        return input->ConsumeBool() ? input->ConsumeIntegralInRange<int>(0, 4095) : input->ConsumeIntegralInRange<int>(0, INT_MAX);
      }
      case Board::MIX_RX_CLEAR: {
        Board::mix_slot slot;
        std::memcpy(&slot, arg, sizeof slot);
        if (slot.number > highest_clear) highest_clear = slot.number;
        break;
      }
      case Board::MIX_RX_ADD:
      case Board::MIX_RX_REMOVE: break;
      default: check(false);  // no other request is the mixer's
    }
    return input->ConsumeIntegralInRange<int>(0, 5) == 0 ? fail(EINVAL) : 0;
  }

  int ioctl_value(int, unsigned long, unsigned long) override { return 0; }
  ssize_t read(int, void*, std::size_t) override { return fail(EAGAIN); }
  ssize_t write(int, void const*, std::size_t len) override { return static_cast<ssize_t>(len); }

private:
  static int fail(int error) {
    errno = error;
    return -1;
  }

  // Mostly small numbers, now and then any.
  std::int32_t word(std::int32_t low, std::int32_t high) {
    return input->ConsumeIntegralInRange<int>(0, 7) == 0 ? input->ConsumeIntegral<std::int32_t>()
                                                         : input->ConsumeIntegralInRange<std::int32_t>(low, high);
  }

  int unit_info(void* arg) {
    ++unit_requests;
    if (input->ConsumeIntegralInRange<int>(0, 9) == 0) return fail(ENODEV);
    Board::mix_unit_info info{word(-1, 12), word(0, 40), input->ConsumeIntegral<std::int32_t>(), word(0, 8)};
    std::memcpy(arg, &info, sizeof info);
    return 0;
  }

  int m_mixer = -1;
  int m_voice = -1;
};

struct NullStreams {
  fuzz::NullBuffer null;
  NullStreams() {
    std::cout.rdbuf(&null);
    std::cerr.rdbuf(&null);
    std::clog.rdbuf(&null);
  }
};

LGCP::MixerChannel channel_from(FuzzedDataProvider& input) {
  LGCP::MixerChannel channel;
  int const number = input.ConsumeIntegralInRange<int>(0, 7) == 0 ? input.ConsumeIntegral<int>()
                                                                   : input.ConsumeIntegralInRange<int>(-1, 40);
  if (input.ConsumeIntegralInRange<int>(0, 7) == 0)
    channel.select_rtp(number);
  else
    channel.select_tdm(number);
  return channel;
}

LGCP::CreateParams create_from(FuzzedDataProvider& input) {
  LGCP::CreateParams params;
  int const unit = input.ConsumeIntegralInRange<int>(-1, 12);
  if (input.ConsumeBool()) {
    LGCP::MixerOutParams& out = params.select_mixerOut();
    out.set_unit(unit);
    out.set_channel(channel_from(input));
    for (int n = input.ConsumeIntegralInRange<int>(0, 5); n > 0; --n) {
      LGCP::MixerInput in;
      in.set_channel(channel_from(input));
      in.set_gain(input.ConsumeIntegral<int>());
      out.set_inputs().push_back(in);
    }
  } else {
    LGCP::MixerInParams& in = params.select_mixerIn();
    in.set_unit(unit);
    in.set_channel(channel_from(input));
    if (input.ConsumeBool()) in.set_summator(channel_from(input));
    if (input.ConsumeBool()) {
      LGCP::EchoCancelMode ecm;
      ecm.set_ec(input.ConsumeBool());
      ecm.set_es(input.ConsumeBool());
      in.set_ecm(ecm);
    }
  }
  return params;
}

LGCP::IoctlParams ioctl_from(FuzzedDataProvider& input) {
  LGCP::IoctlParams params;
  switch (input.ConsumeIntegralInRange<int>(0, 4)) {
    case 0: {
      LGCP::ToneGenerator& tone = params.select_tone_gen_enable();
      tone.set_freq(input.ConsumeIntegral<int>());
      tone.set_amp(input.ConsumeIntegral<int>());
      break;
    }
    case 1: params.select_tone_gen_disable(); break;
    case 2: params.select_translateDTMF(); break;
    case 3: params.select_echoSuppressor(input.ConsumeBool()); break;
    default: params.select_dtmf_enable(input.ConsumeBool()); break;
  }
  return params;
}

void destroy(Slot* slot) {
  check(slot->BeforeDestroy());
  delete slot;
}

void scan(ScriptIo& io, Mixer::MixerFactory& factory) {
  io.unit_requests = 0;
  io.highest_clear = -1;
  LGCP::Resources resources;
  factory.Query(resources);
  check(io.unit_requests <= Mixer::MixerFactory::kMaxUnitRequests);
  check(io.highest_clear < Mixer::MixerFactory::kMaxTdmChannels);
  check(factory.units().size() <= static_cast<std::size_t>(Mixer::MixerFactory::kMaxUnitRequests));
  check(factory.tdm_channels() <= Mixer::MixerFactory::kMaxTdmChannels);
  check(resources.get_mixer().size() == factory.units().size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(std::uint8_t const* data, std::size_t size) {
  static NullStreams streams;
  static ScriptIo io;
  static Board::Io* const installed = (Board::install(&io), &io);
  (void)installed;
  FuzzedDataProvider input(data, size);
  io.input = &input;
  Mixer::MixerFactory& factory = Mixer::MixerFactory::instance();

  std::vector<Slot*> slots;
  while (input.remaining_bytes() > 0) {
    switch (input.ConsumeIntegralInRange<int>(0, 3)) {
      case 0: scan(io, factory); break;
      case 1:
        if (Slot* const slot = factory.NewSlot(create_from(input))) slots.push_back(slot);
        break;
      case 2:
        if (!slots.empty()) {
          std::size_t const at = input.ConsumeIntegralInRange<std::size_t>(0, slots.size() - 1);
          destroy(slots[at]);
          slots.erase(slots.begin() + static_cast<std::ptrdiff_t>(at));
        }
        break;
      default:
        if (!slots.empty()) slots[input.ConsumeIntegralInRange<std::size_t>(0, slots.size() - 1)]->Ioctl(ioctl_from(input));
        break;
    }
  }
  for (Slot* slot : slots) destroy(slot);
  check(factory.slots().empty());
  // The input is spent: the driver no longer opens, so the scan finds no unit and every
  // unit object goes.
  scan(io, factory);
  check(factory.units().empty());
  check(Mixer::Mixer::instances() == 0);
  return 0;
}
