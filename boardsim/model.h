#pragma once
// A device the board stand-in models. A model registers under its path with the
// stand-in (Sim::add) and answers the requests made on that path's opens; the stand-in
// does the socket pairs, the request log, the fault injection and the locking.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

#include "foundation/fd.h"

namespace BoardSim {

class Sim;
struct Request;

class Model {
public:
  // One open of the device, shared by every dup of its descriptor. Models keeping state
  // per open derive from it and create theirs in make_open().
  class Open {
  public:
    virtual ~Open() = default;
    Model& model() const { return *m_model; }
    int flags() const { return m_flags; }
    // Writes one event record into the stand-in's end, for the daemon to read whole.
    // False (and a line on std::cerr) when it could not be queued.
    bool deliver(void const* record, std::size_t len);

  private:
    friend class Sim;
    Model* m_model = nullptr;
    Fd m_end;
    int m_flags = 0;
    std::uint64_t m_serial = 0;  // order of the opens, oldest first
    ino_t m_inode = 0;
    int m_number = -1;  // the daemon's descriptor from the open, when it is a trusted one
  };

  explicit Model(std::string path) : m_path(std::move(path)) {}
  virtual ~Model() = default;
  Model(Model const&) = delete;
  Model& operator=(Model const&) = delete;

  std::string const& path() const { return m_path; }

  // A control command's lines to answer with, or why it failed.
  struct Answer {
    std::vector<std::string> lines;
    std::string error;  // empty when the command is done
  };

protected:
  // Hooks, called with the stand-in's lock held; they must not call lock(). Each returns
  // the errno the daemon gets, 0 when the request is done.
  virtual std::unique_ptr<Open> make_open() { return std::make_unique<Open>(); }
  virtual int open(Open&, int /*flags*/) { return 0; }
  // The daemon has closed every descriptor of the open.
  virtual void close(Open&) {}
  // The request's name for the log; null for a request the device does not know, which
  // the stand-in refuses with ENOTTY before any ioctl hook sees it.
  virtual char const* request_name(unsigned long /*request*/) const { return nullptr; }
  // The record behind a pointer request, as log fields. Kept apart from ioctl() so that
  // a request failed by an injected fault is logged decoded all the same. The log keeps
  // a copy of the record's record_size() bytes and decodes that copy when it is read:
  // decode and decode_reply read the record, never the model's state.
  virtual std::string decode(unsigned long /*request*/, void const* /*arg*/) const { return {}; }
  // What a request that succeeded hands back in its record, as fields the log appends
  // to the decoded request; empty for requests that return nothing.
  virtual std::string decode_reply(unsigned long /*request*/, void const* /*arg*/) const { return {}; }
  // The size of a pointer request's record: by default the size the board's encoding
  // puts in bits 16-28 of the code. A request whose code carries no size (0) is decoded
  // when it is made.
  virtual std::size_t record_size(unsigned long request) const { return (request >> 16) & 0x1FFF; }
  virtual int ioctl(Open&, unsigned long /*request*/, void* /*arg*/) { return ENOTTY; }
  virtual int ioctl_value(Open&, unsigned long /*request*/, unsigned long /*value*/) { return ENOTTY; }
  virtual int write(Open&, std::string_view /*data*/) { return EINVAL; }
  // Called before the daemon reads its end; accepting lets the read take the next event.
  virtual int read(Open&, std::size_t /*len*/) { return 0; }
  // A device whose reads never wait, whatever the open's mode: an empty queue is EAGAIN.
  virtual bool nonblocking_reads() const { return false; }

  // Requests on a descriptor no open of the stand-in's is behind (a socket of the
  // daemon's): a model that plays what such requests reach names those it takes, with
  // their log entry (name and fields; the stand-in adds the rest), and answers them in
  // foreign_ioctl: an errno, 0, or kSystem to let the system answer.
  static constexpr int kSystem = -1;
  virtual bool foreign_request(unsigned long /*request*/, void const* /*arg*/, Request& /*entry*/) const {
    return false;
  }
  virtual int foreign_ioctl(unsigned long /*request*/, void* /*arg*/) { return kSystem; }

  // The control socket's "state <device> ..." and "set <device> ..." (verb "state" or
  // "set", then the words after the device).
  virtual Answer command(std::string_view verb, std::vector<std::string> const& args);

  // A number word of a command: decimal or 0x-prefixed hexadecimal, at most max.
  static std::optional<std::uint32_t> number(std::string_view word, std::uint32_t max = UINT32_MAX);

  // Holds the stand-in's lock, for model state read from outside a hook.
  std::unique_lock<std::mutex> lock() const;

  // Only inside an ioctl or ioctl_value hook: when the hook then returns 0, the daemon's
  // call returns `value` (0 or more) instead of 0, and the request's log entry ends with
  // " result=<value>" after its decoded and reply fields. A hook that does not call it
  // answers 0 and logs no result.
  void set_result(long value) { m_result = value; }

private:
  friend class Sim;
  std::string m_path;
  Sim* m_sim = nullptr;
  std::optional<long> m_result;  // set_result() of the hook running now
};

}  // namespace BoardSim
