#include "tests/asn1/oracle/cross_check.h"

#include <iostream>
#include <iterator>
#include <memory>
#include <vector>

namespace oracle {

void Findings::add(std::string const& kind, std::string const& detail) {
  if (m_count[kind]++ >= 3) return;
  // Values can print to megabytes: the start says enough.
  std::size_t const shown = 6000;
  m_details << "\n[" << kind << "]\n" << detail.substr(0, shown);
  if (detail.size() > shown) m_details << "\n... " << detail.size() - shown << " characters more";
  m_details << '\n';
}

std::string Findings::report() const {
  std::ostringstream text;
  for (auto const& [kind, count] : m_count) text << count << " x " << kind << '\n';
  return text.str() + m_details.str();
}

namespace {

std::vector<char> encode(ASN1::CoderEnv::EncodingRules rule, ASN1::AbstractData const& value, bool& ok) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  std::vector<char> out;
  ok = ASN1::encode(value, &env, std::back_inserter(out));
  return out;
}

bool decode(ASN1::CoderEnv::EncodingRules rule, std::vector<char> const& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

}  // namespace

CrossCheck per_check(RecordNames names) {
  return {ASN1::CoderEnv::per, [names](ASN1::AbstractData const& value) { return erlang_term(value, names); }, true};
}

Tally cross_check(ErlangCodec& erlang, CrossCheck const& check, RandomValues& random, void const* info,
                  std::string const& type, unsigned count, Findings& findings) {
  Tally tally;
  if (!erlang.failure().empty()) {
    findings.add("Erlang's codec is missing", erlang.failure());
    return tally;
  }
  for (unsigned n = 0; n < count; ++n) {
    auto made = random.make(info);
    if (!made.value) {
      findings.add("the generator cannot fill the type", type);
      return tally;
    }
    ASN1::AbstractData const& value = *made.value;
    bool encoded = false;
    std::vector<char> const ours = encode(check.rule, value, encoded);
    std::string const term = check.term(value);
    // Printed only for a finding: the values can be large.
    auto case_text = [&] {
      return "type " + type + "\nvalue " + value.asValueNotation() + "\nterm " + term + "\nours   " + hex(ours);
    };
    if (!encoded || term.empty()) {
      findings.add("a generated value does not encode here", case_text());
      continue;
    }
    if (ours.empty()) {
      ++tally.zero_bits;
      continue;
    }

    std::string const answer = erlang.ask("check " + type + " " + hex(ours) + " " + term);
    if (!erlang.failure().empty()) {
      findings.add("Erlang's codec failed", erlang.failure() + "\n" + case_text());
      return tally;
    }
    std::istringstream fields(answer);
    std::string status, theirs_hex, verdict;
    fields >> status >> theirs_hex >> verdict;
    std::vector<char> theirs;
    if (status != "ok" || !from_hex(theirs_hex, theirs)) {
      findings.add("Erlang refuses the value", case_text() + "\nErlang: " + answer);
      continue;
    }
    ++tally.values;
    auto both = [&] { return case_text() + "\nErlang " + theirs_hex; };
    // Erlang's PER decoder misreads a range of one value (see the header).
    if (verdict == "unreadable" && check.rule == ASN1::CoderEnv::per && ours == theirs)
      ++tally.unreadable;
    else if (verdict != "same")
      findings.add("Erlang decodes our octets to another value", both() + "\nErlang: " + answer);

    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(info));
    if (!decode(check.rule, theirs, *back)) {
      findings.add("Erlang's octets do not decode here", both());
    } else if (*back != value) {
      findings.add("Erlang's octets decode here to another value", both() + "\ndecoded " + back->asValueNotation());
    } else {
      bool reencoded = false;
      std::vector<char> const again = encode(check.rule, *back, reencoded);
      if (!reencoded || again != theirs)
        findings.add("the value decoded from Erlang's octets encodes to other octets", both() + "\nagain  " + hex(again));
    }

    if (made.octets_comparable || !check.maps_change_octets) {
      ++tally.octets_compared;
      if (ours != theirs) findings.add("our octets differ from Erlang's", both());
    }
  }
  return tally;
}

}  // namespace oracle
