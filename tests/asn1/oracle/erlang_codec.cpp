#include "tests/asn1/oracle/erlang_codec.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>

extern char** environ;

namespace oracle {

namespace {

// The escript and the schema, from the source tree (set by CMake).
char const kScript[] = GW_ORACLE_DIR "/per_codec.escript";
char const kSchema[] = GW_ORACLE_DIR "/OracleTest.asn";

std::string find_on_path(char const* program) {
  char const* const path = std::getenv("PATH");
  std::istringstream directories(path ? path : "");
  std::string directory;
  while (std::getline(directories, directory, ':')) {
    std::string const candidate = (directory.empty() ? std::string(".") : directory) + "/" + program;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

}  // namespace

std::string oracle_schema() { return kSchema; }

ErlangCodec::ErlangCodec() { start(Rules::per, kSchema, {}); }

ErlangCodec::ErlangCodec(std::string const& schema, std::string const& compiled) {
  start(Rules::per, schema, compiled);
}

ErlangCodec::ErlangCodec(Rules rules, std::string const& schema) { start(rules, schema, {}); }

// A module compiled beside its schema is used only when it is up to date; otherwise the
// escript compiles into a directory of this process's own, so that codecs starting at
// the same time never write into one directory.
void ErlangCodec::start(Rules rules, std::string const& schema, std::string const& compiled) {
  // A write to an escript that died fails with EPIPE and is reported, not fatal.
  std::signal(SIGPIPE, SIG_IGN);
  std::string const escript = find_on_path("escript");
  if (escript.empty()) {
    fail("escript is not on PATH: Erlang's codec is the oracle of this test; install Debian's erlang-base and "
         "erlang-asn1 (tools/packages lists them, `make test` installs them)");
    return;
  }
  std::string out_dir;
  if (!compiled.empty()) {
    namespace fs = std::filesystem;
    std::error_code schema_error, beam_error;
    fs::path const beam = fs::path(compiled) / (fs::path(schema).stem().string() + ".beam");
    auto const schema_time = fs::last_write_time(schema, schema_error);
    auto const beam_time = fs::last_write_time(beam, beam_error);
    if (!schema_error && !beam_error && beam_time >= schema_time) out_dir = compiled;
  }
  if (out_dir.empty()) {
    char directory[] = "/tmp/gw-per-oracle-XXXXXX";
    if (!::mkdtemp(directory)) {
      fail(std::string("mkdtemp: ") + std::strerror(errno));
      return;
    }
    m_directory = out_dir = directory;
  }

  int to_child[2], from_child[2];
  if (::pipe2(to_child, O_CLOEXEC) != 0 || ::pipe2(from_child, O_CLOEXEC) != 0) {
    fail(std::string("pipe: ") + std::strerror(errno));
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, to_child[0], 0);
  posix_spawn_file_actions_adddup2(&actions, from_child[1], 1);
  char const* const argv[] = {escript.c_str(),  kScript, schema.c_str(), out_dir.c_str(),
                              rules == Rules::ber ? "ber" : "per", nullptr};
  int const spawned =
      ::posix_spawn(&m_pid, escript.c_str(), &actions, nullptr, const_cast<char* const*>(argv), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(to_child[0]);
  ::close(from_child[1]);
  m_requests = ::fdopen(to_child[1], "w");
  m_answers = ::fdopen(from_child[0], "r");
  if (spawned != 0) {
    m_pid = -1;
    fail(escript + ": " + std::strerror(spawned));
    return;
  }
  char buffer[256];
  if (!std::fgets(buffer, sizeof buffer, m_answers) || std::string(buffer) != "ready\n")
    fail("Erlang's codec did not start (its error output is above); is erlang-asn1 installed?");
}

ErlangCodec::~ErlangCodec() {
  // End of input ends the escript.
  if (m_requests) std::fclose(m_requests);
  if (m_answers) std::fclose(m_answers);
  if (m_pid > 0) ::waitpid(m_pid, nullptr, 0);
  if (!m_directory.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
  }
}

void ErlangCodec::fail(std::string why) {
  if (m_failure.empty()) m_failure = std::move(why);
}

std::string ErlangCodec::ask(std::string const& request) {
  if (!m_failure.empty()) return {};
  if (std::fputs(request.c_str(), m_requests) < 0 || std::fputc('\n', m_requests) < 0 || std::fflush(m_requests) != 0) {
    fail("Erlang's codec stopped reading (its error output is above)");
    return {};
  }
  std::string answer;
  char buffer[4096];
  while (std::fgets(buffer, sizeof buffer, m_answers)) {
    answer += buffer;
    if (answer.back() == '\n') {
      answer.pop_back();
      return answer;
    }
  }
  fail("Erlang's codec ended without an answer (its error output is above)");
  return {};
}

std::string hex(std::vector<char> const& octets) {
  static char const digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * octets.size());
  for (char c : octets) {
    auto const octet = static_cast<unsigned char>(c);
    text += digits[octet >> 4];
    text += digits[octet & 15];
  }
  return text;
}

bool from_hex(std::string const& text, std::vector<char>& octets) {
  auto nibble = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  if (text.size() % 2) return false;
  octets.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int const high = nibble(text[i]), low = nibble(text[i + 1]);
    if (high < 0 || low < 0) return false;
    octets.push_back(static_cast<char>(high << 4 | low));
  }
  return true;
}

}  // namespace oracle
