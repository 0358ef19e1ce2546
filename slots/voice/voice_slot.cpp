#include "slots/voice/voice_slot.h"

#include <algorithm>
#include <fcntl.h>
#include <iostream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/board_io.h"
#include "foundation/board_requests.h"
#include "foundation/ext.h"
#include "schemas/lgcp.h"
#include "slots/voice/voice_factory.h"

namespace {

constexpr unsigned kConnectTimeoutMs = 5000;
constexpr unsigned kFileBufferSize = 8192;
// The flush mask waits until the channel takes writes again: the last bytes are out.
constexpr ASync::Copy::EventsParams kPlayerEvents{POLLIN, POLLOUT, POLLWRNORM};
constexpr ASync::Copy::EventsParams kRecorderEvents{POLLIN, POLLOUT, 0};

// A name that could leave the voice folder, or that the C library would cut short.
bool IsSafePhraseName(std::string const& name) {
  if (name.find('\0') != std::string::npos) return false;
  for (std::size_t begin = 0; begin <= name.size();) {
    std::size_t const end = std::min(name.find('/', begin), name.size());
    if (name.compare(begin, end - begin, "..") == 0) return false;
    begin = end + 1;
  }
  return true;
}

}  // namespace

PlaySlotGeneric::PlaySlotGeneric(Fd channel)
    : timeslot(Board::io().ioctl_value(channel.lowlevel_fd(), Board::MCC_TIMESLOT, 0)), device(std::move(channel)) {}

bool PlaySlotGeneric::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

void PlaySlotGeneric::PutHeader(std::ostream& os) const { os << GetName() << "[" << std::dec << timeslot << "]: "; }

PlaySlotNetwork::PlaySlotNetwork(Fd channel, std::string address, std::uint32_t id)
    : PlaySlotGeneric(std::move(channel)), address(std::move(address)), id(id) {}

bool PlaySlotNetwork::IOnOutputStream() {
  if (state == kIdle) {
    state = kConnecting;
    connect = std::make_unique<ASync::Connect>();
    connect->Bind(&PlaySlotNetwork::OnConnect, this);
    // A text that is no address fails inside Start: the player is released before it returns.
    connect->Start(address, kConnectTimeoutMs);
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

void PlaySlotNetwork::OnConnect(ASync::Connect::Status::Type status, Fd socket) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << address << " fail." << std::endl;
    return Release();
  }
  std::clog << ext::header(this) << "connected to " << address << "." << std::endl;
  LGCP::IoctlResponse response;
  response.select_startPlaying();
  OnIoctlResponse(response);
  state = kPlaying;
  connect.reset();  // the connector is still inside this call: nothing of it is used after

  copy = std::make_unique<ASync::Copy>();
  copy->set_events(kPlayerEvents);
  copy->Bind(&PlaySlotNetwork::OnPlayComplete, this);
  unsigned char const stream_id[4] = {static_cast<unsigned char>(id >> 24), static_cast<unsigned char>(id >> 16),
                                      static_cast<unsigned char>(id >> 8), static_cast<unsigned char>(id)};
  // A host that is gone already shows in the copy.
  [[maybe_unused]] ssize_t const sent = ::send(socket.lowlevel_fd(), stream_id, sizeof stream_id, MSG_NOSIGNAL);
  // The copier holds the only socket: the host sees the close when the copy ends.
  copy->Start(std::move(socket), device);
}

void PlaySlotNetwork::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::Completed)
    std::clog << ext::header(this) << "connection to " << address << " closed." << std::endl;
  else
    std::cerr << ext::header(this) << "play failed" << std::endl;
  Release();
}

void PlaySlotNetwork::Release() {
  state = kReleased;
  OnChangeOutputStream(false);
  copy.reset();
  connect.reset();
  OnAbort(0);
}

PlaySlotFile::PlaySlotFile(Fd channel, std::vector<std::string> names, int repeat)
    : PlaySlotGeneric(std::move(channel)), repeat(repeat), phrases(std::move(names)), current(phrases.begin()) {
  abort_call.Bind(this, &PlaySlotFile::delayed_abort);
}

bool PlaySlotFile::IOnOutputStream() {
  if (!started) {
    if (!restart()) {
      abort_call.Activate();
      return false;
    }
    started = true;
  }
  OnChangeOutputStream(true);
  return IsTimeSlotValid();
}

void PlaySlotFile::delayed_abort() {
  abort_call.Deactivate();
  OnAbort(0);
}

bool PlaySlotFile::restart() {
  current = phrases.begin();
  return next_phrase();
}

Fd PlaySlotFile::OpenPhrase(std::string const& name) {
  if (!IsSafePhraseName(name)) return {};
  Fd file;
  if (!file.open((kVoiceFolder + name).c_str(), O_RDONLY | O_NONBLOCK)) return {};
  // A folder would fail the copy at its first read; an empty file would end a pass that
  // plays nothing, and a list of them played without end would never let the loop wait.
  struct stat st;
  if (::fstat(file.lowlevel_fd(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0) return {};
  return file;
}

bool PlaySlotFile::next_phrase() {
  for (; current != phrases.end(); ++current) {
    Fd opened = OpenPhrase(*current);
    if (!opened) continue;
    ::lseek(opened.lowlevel_fd(), 0, SEEK_SET);
    file = std::move(opened);
    ++current;
    // Replacing the copier may delete the one whose completion called here.
    copy = std::make_unique<ASync::Copy>();
    copy->set_events(kPlayerEvents);
    copy->set_bufsize(kFileBufferSize);
    copy->Bind(&PlaySlotFile::OnPlayComplete, this);
    copy->Start(file, device);
    return true;
  }
  return false;
}

void PlaySlotFile::OnPlayComplete(ASync::Copy::Status::Type status) {
  if (status != ASync::Copy::Status::Completed) return Release();
  if (next_phrase()) return;
  // A repeat below 0 plays without end, as 0 does, and is never counted down.
  if (repeat > 0 && --repeat == 0) return Release();
  // The output stays reported open.
  if (!restart()) OnAbort(0);
}

void PlaySlotFile::Release() {
  OnChangeOutputStream(false);
  copy.reset();
  OnAbort(0);
}

RecordSlot::RecordSlot(std::string address, int timeslot, Fd channel)
    : timeslot(timeslot), device(std::move(channel)), address(std::move(address)) {}

void RecordSlot::IAfterCreate() { OnChangeInputStream(true); }

bool RecordSlot::IBeforeDestroy() {
  VoiceFactory::instance().OnDestroy(this);
  return true;
}

bool RecordSlot::IOnInputStream() {
  // A new connection each time; the copy running meanwhile goes on until it is up.
  connect = std::make_unique<ASync::Connect>();
  connect->Bind(&RecordSlot::OnConnect, this);
  connect->Start(address, kConnectTimeoutMs);
  return true;
}

void RecordSlot::OnConnect(ASync::Connect::Status::Type status, Fd connected) {
  if (status != ASync::Connect::Status::Connected) {
    std::clog << ext::header(this) << "connection to " << address << " fail." << std::endl;
    return StopRecording(LGCP::StopRecordingCause::connectionFail);
  }
  std::clog << ext::header(this) << "connected to " << address << "." << std::endl;
  connect.reset();
  // The previous stream's copier and socket go: its host sees the end.
  socket = connected;
  copy = std::make_unique<ASync::Copy>();
  copy->set_events(kRecorderEvents);
  copy->Bind(&RecordSlot::OnRecordComplete, this);
  copy->Start(device, std::move(connected));
}

// The copier sees a host's close only as a failed write (EPIPE, or the reset that answers
// the bytes written after the close); the host's FIN, still readable on the recorder's own
// copy of the socket, tells that close from a broken connection.
bool RecordSlot::HostClosed() const {
  char byte;
  return socket && ::recv(socket.lowlevel_fd(), &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0;
}

void RecordSlot::OnRecordComplete(ASync::Copy::Status::Type status) {
  if (status == ASync::Copy::Status::Completed || HostClosed()) {
    std::clog << ext::header(this) << "connection to " << address << " closed." << std::endl;
    StopRecording(LGCP::StopRecordingCause::userRequest);
  } else {
    std::cerr << ext::header(this) << "record aborted" << std::endl;
    StopRecording(LGCP::StopRecordingCause::connectionAborted);
  }
}

void RecordSlot::StopRecording(LGCP::StopRecordingCause::NamedNumber cause) {
  copy.reset();
  connect.reset();
  socket.close();
  LGCP::IoctlResponse response;
  response.select_stopRecording(cause);
  OnIoctlResponse(response);
}

void RecordSlot::PutHeader(std::ostream& os) const { os << "recorder[" << std::dec << timeslot << "]: "; }
