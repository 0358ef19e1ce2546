#pragma once
// The entry points through which messages become octets and back, and the printing of
// any value in a log line. Every rule goes both ways: 2 aligned PER (the wire), 1 BER,
// 0 value notation.

#include <iterator>
#include <ostream>
#include <sstream>
#include <vector>

#include "asn1/abstract_data.h"
#include "asn1/avn_decoder.h"
#include "asn1/avn_encoder.h"
#include "asn1/ber_decoder.h"
#include "asn1/ber_encoder.h"
#include "asn1/per_decoder.h"
#include "asn1/per_encoder.h"

namespace ASN1 {

class CoderEnv {
public:
  enum EncodingRules : int { avn = 0, ber = 1, per = 2 };

  void set_encodingRule(EncodingRules rule) { m_rule = rule; }
  EncodingRules get_encodingRule() const { return m_rule; }

  // Appends the encoding to `out`; on failure nothing is written.
  template <class OutputIterator>
  bool encode(AbstractData const& value, OutputIterator out) const {
    switch (m_rule) {
      case per: return encodePER(value, out);
      case ber: return encodeBER(value, out);
      case avn: return encodeAVN(value, out);
      default: return false;
    }
  }

  // Fills `value` from [begin, end); the input need not be used up.
  bool decode(char const* begin, char const* end, AbstractData& value, bool withoutEnv) {
    switch (m_rule) {
      case per: {
        PERDecoder decoder(begin, end, withoutEnv ? nullptr : this, true);
        return value.accept(decoder);
      }
      case ber: {
        BERDecoder decoder(begin, end, withoutEnv ? nullptr : this);
        return value.accept(decoder);
      }
      case avn: {
        std::istringstream text(std::string(begin, end));
        AVNDecoder decoder(text, nullptr);
        return value.accept(decoder);
      }
      default: return false;
    }
  }

private:
  template <class OutputIterator>
  static bool encodePER(AbstractData const& value, OutputIterator out) {
    std::vector<char> scratch;
    PEREncoder encoder(scratch, true);
    if (!value.accept(encoder)) return false;
    std::copy(scratch.begin(), scratch.end(), out);
    return true;
  }

  template <class OutputIterator>
  static bool encodeBER(AbstractData const& value, OutputIterator out) {
    std::vector<char> scratch;
    BEREncoder encoder(scratch);
    if (!value.accept(encoder)) return false;
    std::copy(scratch.begin(), scratch.end(), out);
    return true;
  }

  template <class OutputIterator>
  static bool encodeAVN(AbstractData const& value, OutputIterator out) {
    std::ostringstream text;
    AVNEncoder encoder(text);
    if (!value.accept(encoder)) return false;
    std::string const s = text.str();
    std::copy(s.begin(), s.end(), out);
    return true;
  }

  EncodingRules m_rule = per;
};

template <class OutputIterator>
bool encode(AbstractData const& value, CoderEnv* env, OutputIterator out) {
  return env->encode(value, out);
}

template <class InputIterator>
bool decode(InputIterator begin, InputIterator end, CoderEnv* env, AbstractData& value, bool withoutEnv) {
  return env->decode(begin, end, value, withoutEnv);
}

}  // namespace ASN1
