#pragma once
// The board stand-in: plays the board's drivers behind Board::Io. Each open of a
// modelled device hands the daemon one end of an AF_UNIX SOCK_SEQPACKET pair, so poll,
// dup, close and non-blocking reads behave as on a character device; the stand-in keeps
// the other end to deliver event records and knows an open by its socket's inode, which
// every dup shares. Paths and descriptors it does not model go to the system calls.
//
// Requests are cheap on the descriptor an open returned: it is moved to a number at or
// above kFirstNumber, which the daemon's own descriptors (the lowest free number) never
// reach, so that number names the open until the stand-in retires it; a request on it
// costs one fcntl to see that it is still open. Any other descriptor (a dup, a number
// the system chose) is identified by its inode. The stand-in learns of an open that the
// daemon has closed whole from its own end's hang-up: its thread (boardsim/server.h)
// retires such opens as they happen, and every entry but a request does too.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "boardsim/model.h"
#include "boardsim/request_log.h"
#include "foundation/board_io.h"

namespace BoardSim {

enum class Repeat { once, always };

class Sim : public Board::Io {
public:
  explicit Sim(std::size_t log_capacity = 4096);
  Sim(Sim const&) = delete;
  Sim& operator=(Sim const&) = delete;

  // Registers a model under its path; the stand-in owns it.
  template <class M, class... Args>
  M& add(Args&&... args) {
    auto model = std::make_unique<M>(std::forward<Args>(args)...);
    M& added = *model;
    adopt(std::move(model));
    return added;
  }

  int open(char const* path, int flags) override;
  int ioctl(int fd, unsigned long request, void* arg) override;
  int ioctl_value(int fd, unsigned long request, unsigned long value) override;
  ssize_t read(int fd, void* buf, std::size_t len) override;
  ssize_t write(int fd, void const* buf, std::size_t len) override;

  // Delivers an event record to the open behind the daemon's descriptor fd.
  bool deliver(int fd, void const* record, std::size_t len);
  // Delivers it to the oldest open of the device still held; false when there is none.
  bool deliver(std::string_view device, void const* record, std::size_t len);

  // The next request (Repeat::once) or every request (Repeat::always) named `request`
  // ("open", "write", "ioctl <NAME>", ...) on `device` fails with `error`.
  void fail(std::string device, std::string request, int error, Repeat repeat);
  void clear_faults();

  // An empty device or name matches every entry.
  std::vector<Request> requests(std::string_view device = {}, std::string_view name = {});
  std::uint64_t dropped_requests();
  // The entries and the dropped count of one moment, for a reader on another thread.
  struct LogView {
    std::vector<Request> entries;
    std::uint64_t dropped = 0;
  };
  LogView log(std::string_view device = {}, std::string_view name = {});
  void clear_requests();

  // Hands "state" or "set" with its words to the model of the device.
  Model::Answer command(std::string_view device, std::string_view verb, std::vector<std::string> const& args);

  // A descriptor that becomes readable when an open has been closed whole, and the call
  // that then retires such opens: for the stand-in's own thread.
  int hangups() const { return m_hangups.lowlevel_fd(); }
  void retire_closed();

  // Descriptors handed out start here when the process may have them.
  static constexpr int kFirstNumber = 512;

  // Marks the calling thread as the stand-in's own. The loop's clock and its latch
  // belong to the daemon's thread, so what this thread records (a close it notices) is
  // stamped from the monotonic clock the loop's clock reads instead.
  static void mark_own_thread();

private:
  friend class Model;

  struct Fault {
    std::string device;
    std::string request;
    int error;
    Repeat repeat;
  };

  void adopt(std::unique_ptr<Model> model);
  // Takes the lock and first retires the opens the daemon has closed.
  std::unique_lock<std::mutex> enter();
  void reap();
  void retire(Model::Open& open);
  // The open behind a descriptor the daemon passes, or null; with the lock held.
  Model::Open* find(int fd);
  int take_fault(Received const& request);
  // A request on a descriptor the stand-in does not model that `model` takes; with the
  // lock held.
  int foreign_ioctl(Model& model, int fd, unsigned long request, void* arg, Received& entry);
  // An ioctl the device does not know is refused with ENOTTY before faults and hooks.
  // Returns what the daemon's call returns: -1 with errno, 0, or the hook's set_result().
  template <class Hook>
  int answer_ioctl(Model::Open& open, Received& request, Hook hook);
  // Logs the request with its outcome; a refusal (the stand-in's or a model's own
  // verdict, not an injected fault) also goes to the stand-in's lines. Returns -1 with
  // errno set on error, else 0.
  int finish(Received& request, int error, bool refusal);
  // The log's text of a request.
  Request describe(Received const& request) const;

  std::mutex m_mutex;
  // Declared before m_opens: every open refers to its model.
  std::map<std::string, std::unique_ptr<Model>, std::less<>> m_models;
  std::map<ino_t, std::unique_ptr<Model::Open>> m_opens;
  // Trusted descriptor numbers (at or above kFirstNumber) to their opens.
  std::vector<Model::Open*> m_numbers;
  Fd m_hangups;  // epoll set of the stand-in's ends, ready when one hangs up
  std::vector<Fault> m_faults;
  std::uint64_t m_opened = 0;
  RequestLog m_log;
  Board::SystemIo m_system;
};

}  // namespace BoardSim
