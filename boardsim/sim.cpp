#include "boardsim/sim.h"

#include <cerrno>
#include <cstdio>
#include <optional>
#include <fcntl.h>
#include <sstream>
#include <poll.h>
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
std::string data_text(std::string_view data) {
  constexpr std::size_t kShown = 64;
  if (data.size() <= kShown) return "data=" + c_literal(data);
  return "data=" + c_literal(data.substr(0, kShown)) + "... len=" + std::to_string(data.size());
}

Request received(Model::Open const& open, std::string name, std::string fields = {}) {
  return {open.model().path(), std::move(name), std::move(fields), 0, now_ms()};
}

}  // namespace

void Sim::adopt(std::unique_ptr<Model> model) {
  std::lock_guard const held(m_mutex);
  if (m_models.count(model->path())) throw std::logic_error("boardsim: two models for " + model->path());
  model->m_sim = this;
  std::string path = model->path();
  m_models.emplace(std::move(path), std::move(model));
}

std::unique_lock<std::mutex> Sim::enter() {
  std::unique_lock held(m_mutex);
  reap();
  return held;
}

// When every descriptor of an open is closed the stand-in's end sees POLLHUP. Reaping
// before each lookup also keeps a dead open's inode from matching a new socket.
void Sim::reap() {
  if (m_opens.empty()) return;
  std::vector<pollfd> ends;
  ends.reserve(m_opens.size());
  for (auto const& [ino, open] : m_opens) ends.push_back({open->m_end.lowlevel_fd(), 0, 0});
  if (::poll(ends.data(), ends.size(), 0) <= 0) return;
  auto next = m_opens.begin();
  for (pollfd const& end : ends) {
    auto const current = next++;
    if (!(end.revents & POLLHUP)) continue;
    Model::Open& open = *current->second;
    open.model().close(open);
    m_log.add(received(open, "close"));
    m_opens.erase(current);
  }
}

Model::Open* Sim::find(int fd) {
  struct stat st;
  if (m_opens.empty() || ::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode)) return nullptr;
  auto const found = m_opens.find(st.st_ino);
  return found == m_opens.end() ? nullptr : found->second.get();
}

int Sim::take_fault(Request const& request) {
  for (auto fault = m_faults.begin(); fault != m_faults.end(); ++fault) {
    if (fault->device != request.device || fault->request != request.name) continue;
    int const error = fault->error;
    if (fault->repeat == Repeat::once) m_faults.erase(fault);
    return error;
  }
  return 0;
}

int Sim::finish(Request request, int error, bool refusal) {
  request.error = error;
  if (error && refusal) {
    std::ostringstream line;
    line << "boardsim: " << request;
    diag(line.str());
  }
  m_log.add(std::move(request));
  if (!error) return 0;
  errno = error;
  return -1;
}

int Sim::open(char const* path, int flags) {
  auto held = enter();
  Request request{path, "open", flags_text(flags), 0, now_ms()};
  if (int const error = take_fault(request)) return finish(std::move(request), error, false);
  auto const found = m_models.find(std::string_view(path));
  if (found == m_models.end()) {
    held.unlock();
    return m_system.open(path, flags);
  }
  Model& model = *found->second;

  // The stand-in's end never blocks: a daemon that stops reading loses events, not the board.
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, ends) != 0) {
    return finish(std::move(request), errno, true);
  }
  std::unique_ptr<Model::Open> open = model.make_open();
  open->m_model = &model;
  open->m_end = Fd(ends[0]);
  open->m_flags = flags;
  open->m_serial = ++m_opened;
  int const daemon_end = ends[1];
  int error = 0;
  struct stat st;
  if (((flags & O_NONBLOCK) == 0 && !BlockMode(daemon_end)) || ::fstat(daemon_end, &st) != 0) {
    error = errno;
  } else {
    error = model.open(*open, flags);
  }
  if (error) {
    ::close(daemon_end);
    return finish(std::move(request), error, true);
  }
  m_opens.emplace(st.st_ino, std::move(open));
  finish(std::move(request), 0, true);
  return daemon_end;
}

template <class Hook>
int Sim::answer_ioctl(Model::Open& open, unsigned long code, std::string fields, Hook hook) {
  char const* name = open.model().request_name(code);
  Request request = received(open, "ioctl " + (name ? std::string(name) : hex(code)), std::move(fields));
  if (!name) return finish(std::move(request), ENOTTY, true);
  if (int const error = take_fault(request)) return finish(std::move(request), error, false);
  Model& model = open.model();
  model.m_result.reset();
  int const error = hook(request.fields);
  std::optional<long> const result = std::exchange(model.m_result, std::nullopt);
  if (error || !result) return finish(std::move(request), error, true);
  append(request.fields, "result=" + std::to_string(*result));
  finish(std::move(request), 0, true);
  return static_cast<int>(*result);
}

int Sim::ioctl(int fd, unsigned long code, void* arg) {
  auto held = enter();
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.ioctl(fd, code, arg);
  }
  Model& model = open->model();
  std::string fields = arg && model.request_name(code) ? model.decode(code, arg) : std::string();
  return answer_ioctl(*open, code, std::move(fields), [&](std::string& logged) {
    // A driver given no record for a record request fails to copy it in.
    if (!arg) return EFAULT;
    int const error = model.ioctl(*open, code, arg);
    if (!error) append(logged, model.decode_reply(code, arg));
    return error;
  });
}

int Sim::ioctl_value(int fd, unsigned long code, unsigned long value) {
  auto held = enter();
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.ioctl_value(fd, code, value);
  }
  return answer_ioctl(*open, code, "value=" + hex(value),
                      [&](std::string&) { return open->model().ioctl_value(*open, code, value); });
}

ssize_t Sim::write(int fd, void const* buf, std::size_t len) {
  auto held = enter();
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.write(fd, buf, len);
  }
  std::string_view const data(static_cast<char const*>(buf), len);
  Request request = received(*open, "write", data_text(data));
  // The system refuses a write on a read-only open before any driver sees it.
  if ((open->flags() & O_ACCMODE) == O_RDONLY) return finish(std::move(request), EBADF, true);
  if (int const error = take_fault(request)) return finish(std::move(request), error, false);
  if (finish(std::move(request), open->model().write(*open, data), true) != 0) return -1;
  return static_cast<ssize_t>(len);
}

ssize_t Sim::read(int fd, void* buf, std::size_t len) {
  auto held = enter();
  Model::Open* open = find(fd);
  if (!open) {
    held.unlock();
    return m_system.read(fd, buf, len);
  }
  Request request = received(*open, "read", "len=" + std::to_string(len));
  if ((open->flags() & O_ACCMODE) == O_WRONLY) return finish(std::move(request), EBADF, true);
  if (int const error = take_fault(request)) return finish(std::move(request), error, false);
  if (int const error = open->model().read(*open, len)) return finish(std::move(request), error, true);

  // A blocking read waits for an event, which the stand-in can deliver only unlocked.
  held.unlock();
  ssize_t const got = ::read(fd, buf, len);
  int const error = got < 0 ? errno : 0;
  held.lock();
  if (got >= 0) request.fields += " got=" + std::to_string(got);
  finish(std::move(request), error, false);
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
