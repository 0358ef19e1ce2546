#include "tests/schemas/oracle/wire_oracle.h"

#include <unordered_map>

#include "schemas/wire_types.h"
#include "tests/asn1/oracle/erlang_terms.h"

namespace wire_oracle {

std::unique_ptr<oracle::ErlangCodec> start_codec() {
  // Where the build put the translation and, when erlc was there, its compiled module.
  return std::make_unique<oracle::ErlangCodec>(GW_ERLANG_TRANSLATION, GW_ERLANG_COMPILED_DIR);
}

char const* record_name(ASN1::SequenceInfo const& info) {
  static std::unordered_map<void const*, char const*> const names = [] {
    std::unordered_map<void const*, char const*> map;
    for (Schemas::WireType const& t : Schemas::wire_types()) map.emplace(t.info, t.erlang);
    return map;
  }();
  auto const found = names.find(&info);
  return found == names.end() ? nullptr : found->second;
}

std::string term(ASN1::AbstractData const& value) { return oracle::erlang_term(value, record_name); }

}  // namespace wire_oracle
