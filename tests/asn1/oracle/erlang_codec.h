#pragma once
// Erlang's aligned PER codec (or its BER codec) for a schema (the oracle schema unless told
// otherwise), as one long-lived escript process (per_codec.escript) spoken to in lines over
// its standard input and output. Its error output is the caller's.

#include <sys/types.h>

#include <cstdio>
#include <string>
#include <vector>

namespace oracle {

class ErlangCodec {
public:
  // Starts the escript on the oracle schema and waits until it has compiled it.
  ErlangCodec();
  // The same for the schema at `schema` (a file named after its ASN.1 module); when
  // `compiled` is a directory that holds the module compiled from it already, the escript
  // loads that instead of compiling the schema again.
  explicit ErlangCodec(std::string const& schema, std::string const& compiled = {});
  enum class Rules { per, ber };
  // The codec of `rules` for the schema at `schema`, compiled here.
  ErlangCodec(Rules rules, std::string const& schema);
  ~ErlangCodec();
  ErlangCodec(ErlangCodec const&) = delete;
  ErlangCodec& operator=(ErlangCodec const&) = delete;

  // Empty while the codec runs; otherwise why it does not, in words for a test report.
  std::string const& failure() const { return m_failure; }

  // One request line out, one answer line back (without its line feed); an empty answer
  // and a failure when the process is gone.
  std::string ask(std::string const& request);

private:
  void start(Rules rules, std::string const& schema, std::string const& compiled);
  void fail(std::string why);

  pid_t m_pid = -1;
  std::FILE* m_requests = nullptr;
  std::FILE* m_answers = nullptr;
  std::string m_directory;
  std::string m_failure;
};

// The path of the oracle schema.
std::string oracle_schema();

// Octets as contiguous upper-case hexadecimal, as the escript reads and writes them.
std::string hex(std::vector<char> const& octets);
// False when the text is not such hexadecimal.
bool from_hex(std::string const& text, std::vector<char>& octets);

}  // namespace oracle
