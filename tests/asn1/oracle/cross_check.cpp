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

std::vector<char> encode(ASN1::AbstractData const& value, bool& ok) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  std::vector<char> out;
  ok = ASN1::encode(value, &env, std::back_inserter(out));
  return out;
}

bool decode(std::vector<char> const& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(ASN1::CoderEnv::per);
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

}  // namespace

Tally cross_check(ErlangCodec& erlang, RandomValues& random, void const* info, std::string const& type,
                  unsigned count, RecordNames const& names, Findings& findings) {
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
    std::vector<char> const ours = encode(value, encoded);
    std::string const term = erlang_term(value, names);
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
    if (verdict == "unreadable" && ours == theirs)
      ++tally.unreadable;
    else if (verdict != "same")
      findings.add("Erlang decodes our octets to another value", both() + "\nErlang: " + answer);

    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(info));
    if (!decode(theirs, *back)) {
      findings.add("Erlang's octets do not decode here", both());
    } else if (*back != value) {
      findings.add("Erlang's octets decode here to another value", both() + "\ndecoded " + back->asValueNotation());
    } else {
      bool reencoded = false;
      std::vector<char> const again = encode(*back, reencoded);
      if (!reencoded || again != theirs)
        findings.add("the value decoded from Erlang's octets encodes to other octets", both() + "\nagain  " + hex(again));
    }

    if (made.octets_comparable) {
      ++tally.octets_compared;
      if (ours != theirs) findings.add("our octets differ from Erlang's", both());
    }
  }
  return tally;
}

// Either rule.
namespace {

std::vector<char> encode_with(ASN1::CoderEnv::EncodingRules rule, ASN1::AbstractData const& value, bool& ok) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  std::vector<char> out;
  ok = ASN1::encode(value, &env, std::back_inserter(out));
  return out;
}

bool decode_with(ASN1::CoderEnv::EncodingRules rule, std::vector<char> const& octets, ASN1::AbstractData& value) {
  ASN1::CoderEnv env;
  env.set_encodingRule(rule);
  return ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true);
}

}  // namespace

Tally compare_with_erlang(ErlangCodec& erlang, CrossCheck const& check, void const* info, char const* type,
                          unsigned count, std::uint32_t seed, Findings& findings) {
  Tally tally;
  if (!erlang.failure().empty()) {
    findings.add("Erlang's codec is missing", erlang.failure());
    return tally;
  }
  RandomValues random(seed, check.every_extension);
  for (unsigned n = 0; n < count; ++n) {
    auto made = random.make(info);
    if (!made.value) {
      findings.add("the generator cannot fill the type", type);
      return tally;
    }
    ASN1::AbstractData const& value = *made.value;
    std::string const notation = value.asValueNotation();
    bool encoded = false;
    std::vector<char> const ours = encode_with(check.rule, value, encoded);
    std::string const term = check.term(value);
    std::string const case_text = "value " + notation + "\nterm " + term + "\nours   " + hex(ours);
    if (!encoded || term.empty()) {
      findings.add("a generated value does not encode here", case_text);
      continue;
    }

    std::string const answer = erlang.ask(std::string("check ") + type + " " + hex(ours) + " " + term);
    if (!erlang.failure().empty()) {
      findings.add("Erlang's codec failed", erlang.failure() + "\n" + case_text);
      return tally;
    }
    std::istringstream fields(answer);
    std::string status, theirs_hex, verdict;
    fields >> status >> theirs_hex >> verdict;
    std::vector<char> theirs;
    if (status != "ok" || !from_hex(theirs_hex, theirs)) {
      findings.add("Erlang refuses the value", case_text + "\nErlang: " + answer);
      continue;
    }
    ++tally.values;
    std::string const both = case_text + "\nErlang " + theirs_hex;
    if (verdict != "same") findings.add("Erlang decodes our octets to another value", both + "\nErlang: " + answer);

    std::unique_ptr<ASN1::AbstractData> back(ASN1::AbstractData::create(info));
    if (!decode_with(check.rule, theirs, *back)) {
      findings.add("Erlang's octets do not decode here", both);
    } else if (*back != value) {
      findings.add("Erlang's octets decode here to another value", both + "\ndecoded " + back->asValueNotation());
    } else {
      bool reencoded = false;
      std::vector<char> const again = encode_with(check.rule, *back, reencoded);
      if (!reencoded || again != theirs)
        findings.add("the value decoded from Erlang's octets encodes to other octets", both + "\nagain  " + hex(again));
    }

    if (made.octets_comparable || !check.maps_change_octets) {
      ++tally.octets_compared;
      if (ours != theirs) findings.add("our octets differ from Erlang's", both);
    }
  }
  std::cout << type << ": " << tally.values << " values both ways, " << tally.octets_compared
            << " of them also octet for octet\n";
  return tally;
}

}  // namespace oracle
