#pragma once
// Voice players and recorders: raw voice between a timeslot of the board and a byte
// stream outside it, through one transparent channel of the board's HDLC controller
// (Board::kMccControl). A player writes into its channel, which the switch carries to
// whatever the player is connected to; a recorder reads what the switch brings into its
// channel. The network player plays what a TCP host sends after it was sent a 4-byte
// stream identifier; the file player plays a list of phrase files from kVoiceFolder;
// the recorder sends a TCP host what its channel receives. The bytes go unchanged both
// ways.

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "foundation/async.h"
#include "foundation/dpc.h"
#include "foundation/fd.h"
#include "server/slot.h"

class VoiceSlot : public Slot {};

class PlaySlotGeneric : public VoiceSlot {
public:
  // Takes the allocated channel, opened for writing, and asks it for its switch port.
  explicit PlaySlotGeneric(Fd channel);

  bool IBeforeDestroy() override;
  int IGetTransmitChannel() override { return timeslot; }
  std::string GetName() const override { return "player"; }

  bool IsTimeSlotValid() const { return timeslot >= 0; }
  Fd& RefDeviceFd() { return device; }
  void PutHeader(std::ostream& os) const;

protected:
  int timeslot;
  Fd device;
};

class PlaySlotNetwork : public PlaySlotGeneric {
public:
  PlaySlotNetwork(Fd channel, std::string address, std::uint32_t id);

  bool IOnOutputStream() override;

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  void PutAddr(std::ostream& os) const { os << address; }

private:
  enum State { kIdle = 0, kConnecting = 1, kPlaying = 2, kReleased = 3 };

  std::string address;
  std::uint32_t id;
  int state = kIdle;
  std::unique_ptr<ASync::Copy> copy;
  std::unique_ptr<ASync::Connect> connect;
};

class PlaySlotFile : public PlaySlotGeneric {
public:
  static constexpr char kVoiceFolder[] = "/usr/local/voice/";

  PlaySlotFile(Fd channel, std::vector<std::string> names, int repeat);

  bool IOnOutputStream() override;

  void OnPlayComplete(ASync::Copy::Status::Type status);
  void Release();
  // From the first phrase on; false when none can be played now.
  bool restart();
  // Starts the next phrase that opens; false when none is left in this pass.
  bool next_phrase();
  void delayed_abort();

  // The phrase file `name` names, open for reading: a non-empty regular file in the
  // voice folder, else an empty Fd.
  static Fd OpenPhrase(std::string const& name);

private:
  std::unique_ptr<ASync::Copy> copy;
  Fd file;
  int repeat;  // passes of the list still to play; 0 or below: without end
  bool started = false;
  Dpc abort_call;
  std::vector<std::string> phrases;
  std::vector<std::string>::const_iterator current;
};

class RecordSlot : public VoiceSlot {
public:
  // Takes the allocated channel, opened for reading, and its switch port.
  RecordSlot(std::string address, int timeslot, Fd channel);

  void IAfterCreate() override;
  bool IBeforeDestroy() override;
  bool IOnInputStream() override;
  int IGetReceiveChannel() override { return timeslot; }
  std::string GetName() const override { return "recorder"; }

  void OnConnect(ASync::Connect::Status::Type status, Fd socket);
  void OnRecordComplete(ASync::Copy::Status::Type status);
  void StopRecording(LGCP::StopRecordingCause::NamedNumber cause);
  void PutAddr(std::ostream& os) const { os << address; }
  void PutHeader(std::ostream& os) const;

private:
  // Whether the host's end of the stream came: a copy failure after it is its close.
  bool HostClosed() const;

  int timeslot;
  Fd device;
  std::string address;
  std::unique_ptr<ASync::Copy> copy;
  std::unique_ptr<ASync::Connect> connect;
  Fd socket;  // the copier's destination, kept to look at after the copier failed
};
