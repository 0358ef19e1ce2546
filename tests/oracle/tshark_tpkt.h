#pragma once
// TPKT on the wire as tshark dissects it: a capture on loopback of one TCP port, read
// back with tshark's TPKT dissector into the frames and bodies of each direction. The
// tests that use it run in a private network namespace (unshare --net, loopback up), so
// the capture holds their session alone and nothing can reach another machine.

#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace oracle {

std::string frame_of(std::string const& body);
// Bytes that differ from one message to the next, so that a swapped or shifted body shows.
std::string pattern(std::size_t size, unsigned seed);

// The capture must hold this session alone: fails unless loopback is the only interface.
void expect_private_network();

// A fresh folder for the capture; a failed run keeps it for a look with tshark or wireshark.
class TempDir {
public:
  TempDir();
  ~TempDir();
  std::string const& path() const { return m_path; }

private:
  std::string m_path;
};

// tshark capturing one TCP port on loopback into a file; a capture filter given replaces
// "tcp port <port>".
class Capture {
public:
  Capture(std::string const& folder, int port, std::string filter = {});
  ~Capture();
  // Returns once tshark says its capture runs.
  void start();
  // Waits until the file has not grown for a second, then stops tshark as a user would.
  void stop();
  std::string const& file() const { return m_file; }

private:
  int m_port;
  std::string m_filter;
  std::string m_file;
  std::string m_err;
  std::unique_ptr<test::ChildProcess> m_tshark;  // killed and reaped with the capture
};

// One captured packet of the session as tshark's fields give it. Fields that occur once
// per TPKT frame (or per body) list every occurrence in the packet, in order.
struct Row {
  std::string frame;
  int source_port = 0;
  int tcp_length = 0;
  std::vector<std::string> version, reserved, length, data_length, data, continuation, malformed, severity;
  std::string expert;  // the expert messages, for the failure text only
};

// Runs tshark's TPKT dissector over the capture (COTP off: the bodies are not COTP).
void dissect(std::string const& folder, std::string const& file, int port, std::vector<Row>& rows);

// What the capture says about one direction of the session.
struct Direction {
  std::vector<std::string> bodies;
  int segments = 0;             // packets carrying payload
  int segments_no_frame = 0;    // payload, but no frame ends in it (a piece of a split frame)
  std::size_t most_frames = 0;  // most frames ending in one packet
};

struct Wire {
  Direction to_server, to_client;
  std::vector<std::string> complaints;
};

// Pairs each frame header with its body, per direction; `server_port` tells the two apart.
Wire read_wire(std::vector<Row> const& rows, int server_port);
std::string show(std::vector<std::string> const& bodies);

// A blocking client socket with no-delay (each write its own segment) and a 10 s read limit.
int connect_to(int port);
// Each returns "" or what went wrong.
std::string write_all(int fd, char const* data, std::size_t size);
std::string read_exactly(int fd, std::size_t size, std::string& into);

}  // namespace oracle
