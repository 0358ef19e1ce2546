#include "boardsim/sim.h"

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <fcntl.h>
#include <sstream>
#include <iterator>
#include <sys/epoll.h>
#include <system_error>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <time.h>
#include <utility>
#include <unistd.h>

#include "boardsim/diag.h"
#include "foundation/clock.h"

namespace BoardSim {

namespace {

thread_local bool t_own_thread = false;

// Mux::milliseconds() on the daemon's thread; on the stand-in's own thread the same
// clock unlatched, read without touching the loop's state.
unsigned now_ms() {
  if (!t_own_thread) return Mux::milliseconds();
  timespec ts;
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<unsigned>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                               static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

void append(std::string& fields, std::string const& more) {
  if (more.empty()) return;
  if (!fields.empty()) fields += ' ';
  fields += more;
}

std::string hex(unsigned long value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%lx", value);
  return text;
}

std::string flags_text(int flags) {
  std::string text = "flags=";
  switch (flags & O_ACCMODE) {
    case O_RDONLY: text += "O_RDONLY"; break;
    case O_WRONLY: text += "O_WRONLY"; break;
    case O_RDWR: text += "O_RDWR"; break;
    default: text += hex(static_cast<unsigned>(flags & O_ACCMODE)); break;
  }
  if (flags & O_NONBLOCK) text += "|O_NONBLOCK";
  // Close-on-exec is the stand-in's choice for every open, not news.
  if (int const rest = flags & ~(O_ACCMODE | O_NONBLOCK | O_CLOEXEC)) {
    text += '|';
    text += hex(static_cast<unsigned>(rest));
  }
  return text;
}

// Writes can carry voice frames; the log keeps their head.
std::string data_text(unsigned char const* head, std::size_t kept, std::size_t length) {
  std::string text = "data=" + c_literal({reinterpret_cast<char const*>(head), kept});
  if (length > kept) text += "... len=" + std::to_string(length);
  return text;
}

Received received(Model::Open const& open, Received::Kind kind) {
  Received entry;
  entry.kind = kind;
  entry.model = &open.model();
  entry.ms = now_ms();
  return entry;
}

}  // namespace

void Sim::adopt(std::unique_ptr<Model> model) {
  std::lock_guard const held(m_mutex);
  if (m_models.count(model->path())) throw std::logic_error("boardsim: two models for " + model->path());
  model->m_sim = this;
  std::string path = model->path();
  m_models.emplace(std::move(path), std::move(model));
}

Sim::Sim(std::size_t log_capacity)
    : m_hangups(::epoll_create1(EPOLL_CLOEXEC)),
      m_log(log_capacity, [this](Received const& entry) { return describe(entry); }) {
  if (!m_hangups) throw std::system_error(errno, std::generic_category(), "boardsim: epoll_create1");
}

std::unique_lock<std::mutex> Sim::enter() {
  std::unique_lock held(m_mutex);
  reap();
  return held;
}

void Sim::retire_closed() { enter(); }

// When every descriptor of an open is closed, the stand-in's end hangs up. Reaping before
// an inode lookup also keeps a dead open's inode from matching a new socket.
void Sim::reap() {
  epoll_event hung[32];
  for (;;) {
    int const count = ::epoll_wait(m_hangups.lowlevel_fd(), hung, std::size(hung), 0);
    for (int i = 0; i < count; ++i) retire(*static_cast<Model::Open*>(hung[i].data.ptr));
    if (count < static_cast<int>(std::size(hung))) return;
  }
}

void Sim::retire(Model::Open& open) {
  open.model().close(open);
  m_log.add(received(open, Received::Kind::close));
  if (open.m_number >= 0) m_numbers[static_cast<std::size_t>(open.m_number)] = nullptr;
  // Out of the epoll set before the end closes: a child the daemon forked holds a copy
  // of the end until it execs, and that copy would keep the entry, and this open, in it.
  ::epoll_ctl(m_hangups.lowlevel_fd(), EPOLL_CTL_DEL, open.m_end.lowlevel_fd(), nullptr);
  m_opens.erase(open.m_inode);
}

Model::Open* Sim::find(int fd) {
  if (fd >= kFirstNumber && static_cast<std::size_t>(fd) < m_numbers.size()) {
    if (Model::Open* const open = m_numbers[static_cast<std::size_t>(fd)]) {
      // Only the stand-in hands out numbers this high: still open, it is still this open.
      return ::fcntl(fd, F_GETFD) >= 0 ? open : nullptr;
    }
  }
  if (m_opens.empty()) return nullptr;
  reap();
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  auto const found = m_opens.find(st.st_ino);
  return found == m_opens.end() ? nullptr : found->second.get();
}

Request Sim::describe(Received const& entry) const {
  if (entry.kind == Received::Kind::text) return entry.text;
  Model const& model = *static_cast<Model const*>(entry.model);
  Request request{model.path(), {}, entry.text.fields, entry.error, entry.ms};
  switch (entry.kind) {
    case Received::Kind::text: break;
    case Received::Kind::open:
      request.name = "open";
      request.fields = flags_text(static_cast<int>(entry.code));
      break;
    case Received::Kind::close: request.name = "close"; break;
    case Received::Kind::read:
      request.name = "read";
      request.fields = "len=" + std::to_string(entry.code);
      if (entry.value) request.fields += " got=" + std::to_string(entry.value - 1);
      break;
    case Received::Kind::write:
      request.name = "write";
      request.fields = data_text(entry.in, entry.kept, entry.code);
      break;
    case Received::Kind::ioctl:
    case Received::Kind::ioctl_value: {
      char const* const name = model.request_name(entry.code);
      request.name = "ioctl " + (name ? std::string(name) : hex(entry.code));
      if (entry.kind == Received::Kind::ioctl_value) {
        request.fields = "value=" + hex(entry.value);
      } else if (entry.kept) {
        request.fields = model.decode(entry.code, entry.in);
        if (!entry.error) append(request.fields, model.decode_reply(entry.code, entry.out));
      }
      if (entry.has_result) append(request.fields, "result=" + std::to_string(entry.result));
      break;
    }
  }
  return request;
}

int Sim::take_fault(Received const& entry) {
  // Most runs arm no fault: the entry's names are made only when one is armed.
  if (m_faults.empty()) return 0;
  Request const request = describe(entry);
  for (auto fault = m_faults.begin(); fault != m_faults.end(); ++fault) {
    if (fault->device != request.device || fault->request != request.name) continue;
    int const error = fault->error;
    if (fault->repeat == Repeat::once) m_faults.erase(fault);
    return error;
  }
  return 0;
}

int Sim::finish(Received& entry, int error, bool refusal) {
  entry.error = error;
  // An entry made as text is read as it is.
  if (entry.kind == Received::Kind::text) entry.text.error = error;
  if (error && refusal) {
    std::ostringstream line;
    line << "boardsim: " << describe(entry);
    diag(line.str());
  }
  m_log.add(std::move(entry));
  if (!error) return 0;
  errno = error;
  return -1;
}

int Sim::open(char const* path, int flags) {
  auto held = enter();
  auto const found = m_models.find(std::string_view(path));
  Received request;
  if (found == m_models.end()) {
    // Faults reach every path; what the stand-in does not model is logged only when one hits.
    request.text = {path, "open", flags_text(flags), 0, now_ms()};
  } else {
    request.kind = Received::Kind::open;
    request.model = found->second.get();
    request.code = static_cast<unsigned long>(flags);
    request.ms = now_ms();
  }
  if (int const error = take_fault(request)) return finish(request, error, false);
  if (found == m_models.end()) {
    held.unlock();
    return m_system.open(path, flags);
  }
  Model& model = *found->second;

  // The stand-in's end never blocks: a daemon that stops reading loses events, not the board.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
    return finish(request, errno, true);
  }
  std::unique_ptr<Model::Open> open = model.make_open();
  open->m_model = &model;
  open->m_end = Fd(ends[0]);
  open->m_flags = flags;
  open->m_serial = ++m_opened;
  int daemon_end = ends[1];
  int error = 0;
  struct stat st;
  if (((flags & O_NONBLOCK) == 0 && !BlockMode(daemon_end)) || ::fstat(daemon_end, &st) != 0) {
    error = errno;
  } else {
    epoll_event watch{};
    watch.events = EPOLLRDHUP;
    watch.data.ptr = open.get();
    if (::epoll_ctl(m_hangups.lowlevel_fd(), EPOLL_CTL_ADD, open->m_end.lowlevel_fd(), &watch) != 0) {
      error = errno;
    } else {
      error = model.open(*open, flags);
    }
  }
  if (error) {
    ::close(daemon_end);
    return finish(request, error, true);
  }
  // Moved above the numbers the daemon's own descriptors take, when the process may have
  // that many; else it stays where it is and is identified by its inode.
  int const high = ::fcntl(daemon_end, F_DUPFD_CLOEXEC, kFirstNumber);
  if (high >= 0) {
    ::close(daemon_end);
    daemon_end = high;
    auto const number = static_cast<std::size_t>(high);
    if (m_numbers.size() <= number) m_numbers.resize(number + 1, nullptr);
    m_numbers[number] = open.get();
    open->m_number = high;
  }
  open->m_inode = st.st_ino;
  m_opens.emplace(st.st_ino, std::move(open));
  finish(request, 0, true);
  return daemon_end;
}

template <class Hook>
int Sim::answer_ioctl(Model::Open& open, Received& request, Hook hook) {
  Model& model = open.model();
  if (!model.request_name(request.code)) return finish(request, ENOTTY, true);
  if (int const error = take_fault(request)) return finish(request, error, false);
  model.m_result.reset();
  int const error = hook();
  std::optional<long> const result = std::exchange(model.m_result, std::nullopt);
  if (error || !result) return finish(request, error, true);
  request.has_result = true;
  request.result = *result;
  finish(request, 0, true);
  return static_cast<int>(*result);
}

int Sim::ioctl(int fd, unsigned long code, void* arg) {
  std::unique_lock held(m_mutex);
  Model::Open* open = find(fd);
  if (!open) {
    Received request;
    for (auto const& [path, model] : m_models)
      if (model->foreign_request(code, arg, request.text)) return foreign_ioctl(*model, fd, code, arg, request);
    held.unlock();
    return m_system.ioctl(fd, code, arg);
  }
  Model& model = open->model();
  Received request = received(*open, Received::Kind::ioctl);
  request.code = code;
  std::size_t const size = arg && model.request_name(code) ? model.record_size(code) : 0;
  bool const kept = size > 0 && size <= Received::kKept;
  if (kept) {
    request.kept = static_cast<std::uint8_t>(size);
    std::memcpy(request.in, arg, size);
  } else if (arg && model.request_name(code)) {
    request.text.fields = model.decode(code, arg);
  }
  return answer_ioctl(*open, request, [&] {
    // A driver given no record for a record request fails to copy it in.
    if (!arg) return EFAULT;
    int const error = model.ioctl(*open, code, arg);
    if (error) return error;
    if (kept) {
      std::memcpy(request.out, arg, size);
    } else {
      append(request.text.fields, model.decode_reply(code, arg));
    }
    return 0;
  });
}

int Sim::foreign_ioctl(Model& model, int fd, unsigned long code, void* arg, Received& request) {
  request.text.device = model.path();
  request.text.ms = now_ms();
  if (int const error = take_fault(request)) return finish(request, error, false);
  int const answer = model.foreign_ioctl(code, arg);
  if (answer != Model::kSystem) return finish(request, answer, true);
  int const result = m_system.ioctl(fd, code, arg);
  // The system's refusal is no verdict of the stand-in's.
  if (result < 0) return finish(request, errno, false);
  finish(request, 0, false);
  return result;
}

int Sim::ioctl_value(int fd, unsigned long code, unsigned long value) {
  std::unique_lock held(m_mutex);
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.ioctl_value(fd, code, value);
  }
  Received request = received(*open, Received::Kind::ioctl_value);
  request.code = code;
  request.value = value;
  return answer_ioctl(*open, request, [&] { return open->model().ioctl_value(*open, code, value); });
}

ssize_t Sim::write(int fd, void const* buf, std::size_t len) {
  std::unique_lock held(m_mutex);
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.write(fd, buf, len);
  }
  Received request = received(*open, Received::Kind::write);
  request.code = len;
  request.kept = static_cast<std::uint8_t>(std::min(len, Received::kKept));
  // A write of nothing may come from no buffer at all (an empty vector's data()).
  if (request.kept) std::memcpy(request.in, buf, request.kept);
  // The system refuses a write on a read-only open before any driver sees it.
  if ((open->flags() & O_ACCMODE) == O_RDONLY) return finish(request, EBADF, true);
  if (int const error = take_fault(request)) return finish(request, error, false);
  std::string_view const data(static_cast<char const*>(buf), len);
  if (finish(request, open->model().write(*open, data), true) != 0) return -1;
  return static_cast<ssize_t>(len);
}

ssize_t Sim::read(int fd, void* buf, std::size_t len) {
  std::unique_lock held(m_mutex);
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.read(fd, buf, len);
  }
  Received request = received(*open, Received::Kind::read);
  request.code = len;
  if ((open->flags() & O_ACCMODE) == O_WRONLY) return finish(request, EBADF, true);
  if (int const error = take_fault(request)) return finish(request, error, false);
  if (int const error = open->model().read(*open, len)) return finish(request, error, true);

  // A blocking read waits for an event, which the stand-in can deliver only unlocked.
  int const flags = open->model().nonblocking_reads() ? MSG_DONTWAIT : 0;
  held.unlock();
  ssize_t const got = ::recv(fd, buf, len, flags);
  int const error = got < 0 ? errno : 0;
  held.lock();
  if (got >= 0) request.value = static_cast<unsigned long>(got) + 1;
  finish(request, error, false);
  return got;
}

bool Sim::deliver(int fd, void const* record, std::size_t len) {
  auto const held = enter();
  Model::Open* open = find(fd);
  return open && open->deliver(record, len);
}

bool Sim::deliver(std::string_view device, void const* record, std::size_t len) {
  auto const held = enter();
  Model::Open* oldest = nullptr;
  for (auto const& [ino, open] : m_opens) {
    if (open->model().path() == device && (!oldest || open->m_serial < oldest->m_serial)) oldest = open.get();
  }
  return oldest && oldest->deliver(record, len);
}

void Sim::fail(std::string device, std::string request, int error, Repeat repeat) {
  auto const held = enter();
  m_faults.push_back({std::move(device), std::move(request), error, repeat});
}

void Sim::clear_faults() {
  auto const held = enter();
  m_faults.clear();
}

std::vector<Request> Sim::requests(std::string_view device, std::string_view name) {
  auto const held = enter();
  return m_log.entries(device, name);
}

std::uint64_t Sim::dropped_requests() {
  auto const held = enter();
  return m_log.dropped();
}

Sim::LogView Sim::log(std::string_view device, std::string_view name) {
  auto const held = enter();
  return {m_log.entries(device, name), m_log.dropped()};
}

void Sim::clear_requests() {
  auto const held = enter();
  m_log.clear();
}

Model::Answer Sim::command(std::string_view device, std::string_view verb, std::vector<std::string> const& args) {
  auto const held = enter();
  auto const found = m_models.find(device);
  if (found == m_models.end()) return {{}, "no model of " + std::string(device)};
  return found->second->command(verb, args);
}

void Sim::mark_own_thread() { t_own_thread = true; }

}  // namespace BoardSim
