#include "slots/voice/voice_factory.h"

#include <algorithm>
#include <fcntl.h>
#include <iostream>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "foundation/fd.h"
#include "schemas/lgcp.h"
#include "schemas/term.h"
#include "slots/voice/voice_slot.h"

namespace {

constexpr std::uint32_t kTransparent = 2;
constexpr std::uint32_t kPacketSize = 1024;
constexpr Board::MccAllocate kPlayerChannel{kTransparent, kPacketSize, 0, 0, 5};
constexpr Board::MccAllocate kRecorderChannel{kTransparent, kPacketSize, 0, 5, 0};

// A transparent channel and its switch port; an empty Fd (the open closed) on failure.
struct Channel {
  Fd fd;
  int timeslot = -1;
};

Channel OpenChannel(VoiceFactory const& factory, int access, char const* direction,
                    Board::MccAllocate allocation) {
  Channel channel{Fd(Board::io().open(Board::kMccControl, access | O_NONBLOCK))};
  if (!channel.fd) {
    Errno const error;
    std::cerr << ext::header(&factory) << "fail to open " << Board::kMccControl << " device for " << direction
              << ": " << error << std::endl;
    return {};
  }
  if (Board::io().ioctl(channel.fd.lowlevel_fd(), Board::MCC_ALLOCATE, &allocation) < 0) {
    Errno const error;
    std::cerr << ext::header(&factory) << "MCC_ALLOCATE fail: " << error << std::endl;
    return {};
  }
  channel.timeslot = Board::io().ioctl_value(channel.fd.lowlevel_fd(), Board::MCC_TIMESLOT, 0);
  if (channel.timeslot < 0) {
    std::cerr << ext::header(&factory) << "MCC_TIMESLOT request failed." << std::endl;
    return {};
  }
  return channel;
}

template <class T>
void forget(std::vector<T*>& list, T* slot) {
  list.erase(std::remove(list.begin(), list.end(), slot), list.end());
}

}  // namespace

std::string dhost2str(TERM::HostAddress const& host) {
  return std::string(host.get_iaddr()) + ":" + std::to_string(host.get_port().getValue());
}

VoiceFactory& VoiceFactory::instance() {
  static VoiceFactory factory;
  return factory;
}

Slot* VoiceFactory::INewSlot(LGCP::CreateParams const& params) {
  if (!params.voice_isSelected()) return nullptr;
  LGCP::VoiceParams const& voice = params.get_voice();
  if (voice.record_isSelected()) return CreateRecord(dhost2str(voice.get_record()));
  if (voice.player_isSelected()) return CreatePlay(voice.get_player());
  return nullptr;
}

Slot* VoiceFactory::CreatePlay(LGCP::PlayerParams const& params) {
  Channel channel = OpenChannel(*this, O_WRONLY, "writing", kPlayerChannel);
  if (!channel.fd) return nullptr;
  PlaySlotGeneric* player = nullptr;
  if (params.network_isSelected()) {
    LGCP::PlayerParams_network const& network = params.get_network();
    player = new PlaySlotNetwork(std::move(channel.fd), dhost2str(network.get_host()),
                                 static_cast<std::uint32_t>(network.get_id().getValue()));
  } else if (params.file_isSelected()) {
    LGCP::PlayerParams_file const& file = params.get_file();
    std::vector<std::string> names;
    for (ASN1::IA5String const& name : file.get_name()) names.emplace_back(name);
    player = new PlaySlotFile(std::move(channel.fd), std::move(names), file.get_repeat().getValue());
  } else {
    return nullptr;
  }
  players.push_back(player);
  return player;
}

Slot* VoiceFactory::CreateRecord(std::string const& address) {
  Channel channel = OpenChannel(*this, O_RDONLY, "reading", kRecorderChannel);
  if (!channel.fd) return nullptr;
  auto* const recorder = new RecordSlot(address, channel.timeslot, std::move(channel.fd));
  recorders.push_back(recorder);
  return recorder;
}

void VoiceFactory::OnDestroy(RecordSlot* recorder) { forget(recorders, recorder); }

void VoiceFactory::OnDestroy(PlaySlotGeneric* player) { forget(players, player); }
