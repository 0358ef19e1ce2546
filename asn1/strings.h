#pragma once
// The string kinds. OCTET STRING and the character strings are also standard containers
// of their octets or characters; the records carry the size constraint and, for the
// character strings, the permitted set and the bits per character of each PER form.

#include <string>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

class OCTET_STRING : public ConstrainedObject, public std::vector<char> {
public:
  static ConstrainedInfo const theInfo;
  OCTET_STRING() : ConstrainedObject(&theInfo) {}
  explicit OCTET_STRING(void const* info) : ConstrainedObject(info) {}
  OCTET_STRING(size_type count, char fill, void const* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(count, fill) {}
  OCTET_STRING(std::vector<char> const& octets, void const* info = &theInfo)
      : ConstrainedObject(info), std::vector<char>(octets) {}
  OCTET_STRING(OCTET_STRING const&) = default;
  OCTET_STRING& operator=(OCTET_STRING const&) = default;
  OCTET_STRING& operator=(std::vector<char> const& octets) {
    std::vector<char>::operator=(octets);
    return *this;
  }
  operator std::string() const { return std::string(data(), size()); }

  bool isStrictlyValid() const;
  bool isValid() const;

  static AbstractData* create(void const* info) { return new OCTET_STRING(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

class BIT_STRING : public ConstrainedObject {
public:
  static ConstrainedInfo const theInfo;
  BIT_STRING() : ConstrainedObject(&theInfo) {}
  explicit BIT_STRING(void const* info) : ConstrainedObject(info) {}
  BIT_STRING(BIT_STRING const&) = default;
  BIT_STRING& operator=(BIT_STRING const&) = default;

  unsigned size() const { return m_bits; }
  // Storage and count change together; new bits are 0.
  void resize(unsigned bits);
  bool operator[](unsigned i) const { return i < m_bits && (m_octets[i >> 3] & (0x80 >> (i & 7))); }
  void set(unsigned i, bool on);
  std::vector<char>& getData() { return m_octets; }
  std::vector<char> const& getData() const { return m_octets; }

  bool isStrictlyValid() const;
  bool isValid() const;

  static AbstractData* create(void const* info) { return new BIT_STRING(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  unsigned m_bits = 0;
  std::vector<char> m_octets;
};

// NumericString, PrintableString, VisibleString, IA5String and GeneralString values.
class AbstractString : public ConstrainedObject, public std::string {
public:
  explicit AbstractString(void const* info) : ConstrainedObject(info) {}
  AbstractString(void const* info, std::string const& text) : ConstrainedObject(info), std::string(text) {}
  AbstractString(void const* info, char const* text) : ConstrainedObject(info), std::string(text) {}
  AbstractString(AbstractString const&) = default;
  AbstractString& operator=(AbstractString const&) = default;
  AbstractString& assign(std::string const& text) {
    std::string::assign(text);
    return *this;
  }

  StringInfo const& string_info() const { return record<StringInfo>(info()); }
  char const* getCharacterSet() const { return string_info().set; }
  unsigned getCharacterSetSize() const { return string_info().set_size; }
  unsigned getCanonicalSetBits() const { return string_info().canonical_bits; }
  unsigned getNumBits(bool aligned) const { return aligned ? string_info().aligned_bits : string_info().unaligned_bits; }
  // Position of the first character outside the permitted set, or -1.
  int find_first_invalid() const;
  bool isStrictlyValid() const;
  bool isValid() const;

  static AbstractData* create(void const* info) { return new AbstractString(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

// Writes the characters as they are, without quotes.
std::ostream& operator<<(std::ostream& os, AbstractString const& s);

class IA5String : public AbstractString {
public:
  static StringInfo const theInfo;
  IA5String() : AbstractString(&theInfo) {}
  explicit IA5String(void const* info) : AbstractString(info) {}
  IA5String(std::string const& text, void const* info = &theInfo) : AbstractString(info, text) {}
  IA5String(IA5String const&) = default;
  IA5String& operator=(IA5String const&) = default;
  IA5String& operator=(std::string const& text) {
    std::string::assign(text);
    return *this;
  }
  static AbstractData* create(void const* info) { return new IA5String(info); }
};

// Records of the other character strings; their values are AbstractString objects.
struct NumericString {
  static StringInfo const theInfo;
};
struct PrintableString {
  static StringInfo const theInfo;
};
struct VisibleString {
  static StringInfo const theInfo;
};
struct GeneralString {
  static StringInfo const theInfo;
};

// Permitted characters in ascending code order, each set followed by a zero octet.
extern char const* const NumericStringSet;
extern char const* const PrintableStringSet;
extern char const* const VisibleStringSet;
extern char const* const IA5StringSet;
extern char const* const GeneralStringSet;

class BMPString : public ConstrainedObject, public std::wstring {
public:
  static BMPStringInfo const theInfo;
  BMPString() : ConstrainedObject(&theInfo) {}
  explicit BMPString(void const* info) : ConstrainedObject(info) {}
  BMPString(std::wstring const& text, void const* info = &theInfo) : ConstrainedObject(info), std::wstring(text) {}
  BMPString(wchar_t const* text, void const* info) : ConstrainedObject(info), std::wstring(text) {}
  BMPString(BMPString const&) = default;
  BMPString& operator=(BMPString const&) = default;
  BMPString& assign(wchar_t const* text, size_type count) {
    std::wstring::assign(text, count);
    return *this;
  }

  BMPStringInfo const& bmp_info() const { return record<BMPStringInfo>(info()); }
  unsigned getFirstChar() const { return bmp_info().first; }
  unsigned getLastChar() const { return bmp_info().last; }
  unsigned getNumBits(bool aligned) const { return aligned ? bmp_info().aligned_bits : bmp_info().unaligned_bits; }
  bool legalCharacter(long code) const {
    return code >= static_cast<long>(getFirstChar()) && code <= static_cast<long>(getLastChar());
  }
  size_type first_illegal_at() const;
  bool isStrictlyValid() const;
  bool isValid() const;

  static AbstractData* create(void const* info) { return new BMPString(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

// True for space and line feed only.
inline bool is_space_or_newline(int c) { return c == ' ' || c == '\n'; }

}  // namespace ASN1
