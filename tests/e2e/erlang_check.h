#pragma once
// The controller's bodies read by Erlang's codec, compiled from the same module text, and
// by the project's decoder: both must read the same value.

#include <string>
#include <vector>

#include "tests/asn1/oracle/erlang_codec.h"

namespace e2e {

// One line per body that the two decoders do not read alike ("ok same" from Erlang);
// a body equal to `undecodable` must decode in neither. "" when all agree.
std::string erlang_reads_alike(oracle::ErlangCodec& erlang, std::vector<std::string> const& bodies,
                               std::string const& direction, std::string const& undecodable = {});

}  // namespace e2e
