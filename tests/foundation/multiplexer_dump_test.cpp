// The loop's part of the status dump and the poll-mask names.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "foundation/event.h"
#include "foundation/multiplexer.h"
#include "foundation/profile.h"
#include "tests/support/fake_clock.h"
#include "tests/support/simulated_poll.h"
#include "tests/support/test_files.h"

namespace {

TEST(PollEventAsText, NamesTheSetBitsInOrder) {
  EXPECT_EQ(PollEventAsText(0x5), "POLLIN|POLLOUT");
  EXPECT_EQ(PollEventAsText(0), "");
  EXPECT_EQ(PollEventAsText(0x800), "") << "bits without a name are not shown";
  EXPECT_EQ(PollEventAsText(0xffff),
            "POLLIN|POLLPRI|POLLOUT|POLLERR|POLLHUP|POLLNVAL|POLLRDNORM|POLLRDBAND|POLLWRNORM|POLLWRBAND|POLLMSG");
  EXPECT_EQ(PollEventAsText(POLLHUP | POLLMSG), "POLLHUP|POLLMSG");
}

struct Pipe {
  Pipe() {
    int fds[2];
    EXPECT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    rd = Fd(fds[0]);
    wr = Fd(fds[1]);
  }
  Fd rd, wr;
};

// Reads what is ready; the first writable descriptor ends the pass.
struct Reader {
  void on_event(int fd, short revents) {
    char byte;
    if (revents & POLLIN) {
      EXPECT_EQ(::read(fd, &byte, 1), 1);
    }
    if (revents & POLLOUT) multiplexer.terminate();
  }
};

// A polled handler that is not an Event.
class Anonymous : public EventHandler {
public:
  explicit Anonymous(int fd) : m_fd(fd) { mux_attach(); }
  ~Anonymous() override { mux_detach(); }
  void shedule_event(pollfd& record) override {
    record.fd = m_fd;
    record.events = POLLIN;
  }
  void svc_event(short) override {}

private:
  int m_fd;
};

std::string golden(char const* name) { return test::golden_file(__FILE__, name); }

// The descriptors are numbers the system chose: the golden text has "@FD@" where each
// one goes, centred in its 5-character cell.
std::string with_descriptors(std::string text, std::vector<int> const& fds) {
  for (int fd : fds) {
    std::string const number = std::to_string(fd);
    std::size_t const space = 5 - number.size();
    std::size_t const at = text.find("@FD@");
    if (at == std::string::npos) break;
    text.replace(at, 4, std::string(space / 2, ' ') + number + std::string(space - space / 2, ' '));
  }
  return text;
}

TEST(MultiplexerDump, ShowsTheLoopsMeasuresProfilesAndNamedEvents) {
  test::FakeClock clock;
  test::SimulatedPoll poll(clock);
  ASSERT_TRUE(multiplexer.polled_handlers().empty());

  Reader reader;
  Pipe ready, idle, writable;
  Event bound, unbound, long_name;
  bound.Bind("Reader::on_event", &Reader::on_event, &reader);
  bound.Schedule(ready.rd, POLLIN);
  unbound.Schedule(idle.rd, POLLIN | POLLPRI);
  long_name.Bind("AVeryLongOwnerClassNameForTheDump::on_socket_event", &Reader::on_event, &reader);
  long_name.Schedule(writable.wr, POLLOUT | POLLERR | POLLHUP | POLLNVAL | POLLWRBAND);
  Anonymous anonymous(idle.rd.lowlevel_fd());
  ASSERT_EQ(::write(ready.wr.lowlevel_fd(), "x", 1), 1);
  multiplexer.run(false, true);  // one pass: every handler is now polled

  Profile::Point point("dump test point");
  point.begin();
  clock.advance_us(250);
  point.end();

  std::ostringstream os;
  multiplexer.dump(os);
  std::ostringstream profiles;
  Profile::dump(profiles);
  std::ostringstream measures;
  measures << "dpc transition measurement (min/max/cur/counter): " << multiplexer.dpc_measure() << '\n'
           << "event transition measurement (min/max/cur/counter): " << multiplexer.event_measure() << '\n'
           << "timer transition measurement (min/max/cur/counter): " << multiplexer.timer_measure() << '\n';
  std::string const expected = measures.str() + profiles.str() +
                               with_descriptors(golden("multiplexer_dump.txt"),
                                                {bound.lowlevel_fd(), unbound.lowlevel_fd(), long_name.lowlevel_fd()});
  EXPECT_NE(profiles.str().find("[dump test point]: min=250 max=250 avg=250 counter=1\n"), std::string::npos);
  EXPECT_EQ(os.str(), expected);
}

}  // namespace
