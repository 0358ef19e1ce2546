#pragma once
// Erlang's aligned PER codec for the oracle schema, or its BER codec for a schema given,
// as one long-lived escript process (per_codec.escript) spoken to in lines over its
// standard input and output. Its error output is the caller's.

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace oracle {

class ErlangCodec {
public:
  // Starts the escript and waits until it has compiled the schema.
  ErlangCodec();
  // The same with the rules "per" or "ber" and a schema file of one's own.
  ErlangCodec(char const* rules, std::string const& schema);
  ~ErlangCodec();
  ErlangCodec(ErlangCodec const&) = delete;
  ErlangCodec& operator=(ErlangCodec const&) = delete;

  // Empty while the codec runs; otherwise why it does not, in words for a test report.
  std::string const& failure() const { return m_failure; }

  // One request line out, one answer line back (without its line feed); an empty answer
  // and a failure when the process is gone.
  std::string ask(std::string const& request);

private:
  void fail(std::string why);

  pid_t m_pid = -1;
  std::FILE* m_requests = nullptr;
  std::FILE* m_answers = nullptr;
  std::string m_directory;
  std::string m_failure;
};

// The oracle schema's file in the source tree.
std::string oracle_schema();

// Octets as contiguous upper-case hexadecimal, as the escript reads and writes them.
std::string hex(std::vector<char> const& octets);
// False when the text is not such hexadecimal.
bool from_hex(std::string const& text, std::vector<char>& octets);

}  // namespace oracle
