#include "tests/e2e/erlang_check.h"

#include "asn1/coder_env.h"
#include "schemas/lgcp.h"
#include "tests/schemas/oracle/wire_oracle.h"

namespace e2e {

std::string erlang_reads_alike(oracle::ErlangCodec& erlang, std::vector<std::string> const& bodies,
                               std::string const& direction, std::string const& undecodable) {
  std::string failures;
  for (std::string const& body : bodies) {
    std::string const hex = oracle::hex(std::vector<char>(body.begin(), body.end()));
    ASN1::CoderEnv env;
    env.set_encodingRule(ASN1::CoderEnv::per);
    LGCP::Message ours;
    bool const decoded = ASN1::decode(body.data(), body.data() + body.size(), &env, ours, true);
    // Appended step by step: g++ 12 sees a false overlap (-Wrestrict) in the one-line form.
    std::string request = "decode LGCP-Message " + hex;
    if (decoded) {
      request += ' ';
      request += wire_oracle::term(ours);
    }
    std::string const answer = erlang.ask(request);
    if (!undecodable.empty() && body == undecodable) {
      if (decoded || answer.rfind("error", 0) != 0)
        failures += direction + " " + hex + ": neither decoder should read it; Erlang: " + answer + "\n";
      continue;
    }
    if (!decoded) failures += direction + " " + hex + " does not decode here\n";
    if (answer != "ok same") failures += direction + " " + hex + " as Erlang decodes it: " + answer + "\n";
  }
  return failures;
}

}  // namespace e2e
