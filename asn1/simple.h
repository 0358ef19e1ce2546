#pragma once
// The simple kinds: NULL, BOOLEAN, INTEGER (plain, with named numbers, fixed-range
// instances), ENUMERATED, OBJECT IDENTIFIER and GeneralizedTime.

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "asn1/abstract_data.h"

namespace ASN1 {

class Null : public AbstractData {
public:
  static TypeInfo const theInfo;
  Null() : AbstractData(&theInfo) {}
  explicit Null(void const* info) : AbstractData(info) {}
  Null(Null const&) = default;
  Null& operator=(Null const&) = default;
  static AbstractData* create(void const* info) { return new Null(info); }

protected:
  int do_compare(AbstractData const&) const override { return 0; }
  AbstractData* do_clone() const override { return create_same<Null>(); }
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

class BOOLEAN : public AbstractData {
public:
  static TypeInfo const theInfo;
  BOOLEAN() : AbstractData(&theInfo) {}
  explicit BOOLEAN(void const* info) : AbstractData(info) {}
  BOOLEAN(bool value, void const* info = &theInfo) : AbstractData(info), m_value(value) {}
  BOOLEAN(BOOLEAN const&) = default;
  BOOLEAN& operator=(BOOLEAN const&) = default;
  BOOLEAN& operator=(bool value) {
    m_value = value;
    return *this;
  }
  operator bool() const { return m_value; }
  static AbstractData* create(void const* info) { return new BOOLEAN(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  bool m_value = false;
};

class INTEGER : public ConstrainedObject {
public:
  static ConstrainedInfo const theInfo;
  INTEGER() : ConstrainedObject(&theInfo) {}
  explicit INTEGER(void const* info) : ConstrainedObject(info) {}
  INTEGER(int value, void const* info) : ConstrainedObject(info), m_value(value) {}
  INTEGER(INTEGER const&) = default;
  INTEGER& operator=(INTEGER const&) = default;
  INTEGER& operator=(int value) {
    m_value = value;
    return *this;
  }
  bool operator==(INTEGER const& other) const { return m_value == other.m_value; }

  int getValue() const { return m_value; }
  void setValue(int value) { m_value = value; }
  bool isStrictValid() const;
  bool isValid() const { return isStrictValid() || getConstraintType() == ExtendableConstraint; }

  static AbstractData* create(void const* info) { return new INTEGER(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  int m_value = 0;
};

// INTEGER with a table of named values; no schema of the system uses it.
class IntegerWithNamedNumber : public INTEGER {
public:
  explicit IntegerWithNamedNumber(void const* info) : INTEGER(info) {}
  IntegerWithNamedNumber(int value, void const* info) : INTEGER(value, info) {}
  IntegerWithNamedNumberInfo const& named() const { return record<IntegerWithNamedNumberInfo>(info()); }
  bool getName(std::string& name) const;
  bool setFromName(std::string_view name);
  static AbstractData* create(void const* info) { return new IntegerWithNamedNumber(info); }

protected:
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

// A fixed-range INTEGER type with its own record; values are read and set unsigned.
template <ConstraintType Type, int Lower, unsigned Upper>
class Constrained_INTEGER : public INTEGER {
public:
  // Declared before the record: the record must name this class's creation function,
  // not the inherited INTEGER::create.
  static AbstractData* create(void const* info) { return new Constrained_INTEGER(FromRecord{}, info); }
  static constexpr ConstrainedInfo theInfo{{&Constrained_INTEGER::create, universal(2)}, Type, Lower, Upper};
  Constrained_INTEGER() : INTEGER(&theInfo) {}
  explicit Constrained_INTEGER(unsigned value) : INTEGER(static_cast<int>(value), &theInfo) {}
  Constrained_INTEGER& operator=(unsigned value) {
    setValue(static_cast<int>(value));
    return *this;
  }
  unsigned getValue() const { return static_cast<unsigned>(INTEGER::getValue()); }

private:
  struct FromRecord {};
  Constrained_INTEGER(FromRecord, void const* info) : INTEGER(info) {}
};

inline unsigned operator+(unsigned a, Constrained_INTEGER<FixedConstraint, 0, 127> const& b) { return a + b.getValue(); }

class ENUMERATED : public AbstractData {
public:
  explicit ENUMERATED(void const* info) : AbstractData(info) {}
  ENUMERATED(ENUMERATED const&) = default;
  // Copies the value only: the object keeps its record.
  ENUMERATED& operator=(ENUMERATED const& other) {
    m_value = other.m_value;
    return *this;
  }

  int asInt() const { return m_value; }
  void setFromInt(int value) { m_value = value; }
  int getMaximum() const { return enumerated().maximum; }
  bool extendable() const { return enumerated().extendable; }
  EnumeratedInfo const& enumerated() const { return record<EnumeratedInfo>(info()); }
  // The name of the value (the first table entry that carries it, without its "=n"
  // suffix), or an empty view when none does.
  std::string_view getName() const;
  // The value of the first entry with this name (compared without an "=n" suffix); with
  // none the value becomes the maximum + 1 and the result is false.
  bool setFromName(std::string_view name);
  // A negative value passes: values are only ever above the root.
  bool isStrictlyValid() const { return m_value <= getMaximum(); }
  bool isValid() const { return extendable() || isStrictlyValid(); }

  static AbstractData* create(void const* info) { return new ENUMERATED(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  int m_value = 0;
};

class OBJECT_IDENTIFIER : public AbstractData {
public:
  static TypeInfo const theInfo;
  OBJECT_IDENTIFIER() : AbstractData(&theInfo) {}
  explicit OBJECT_IDENTIFIER(void const* info) : AbstractData(info) {}
  OBJECT_IDENTIFIER(OBJECT_IDENTIFIER const&) = default;
  OBJECT_IDENTIFIER& operator=(OBJECT_IDENTIFIER const&) = default;

  unsigned levels() const { return static_cast<unsigned>(m_arcs.size()); }
  unsigned operator[](unsigned n) const { return m_arcs[n]; }
  void append(unsigned arc) { m_arcs.push_back(arc); }
  // Contents octets as X.690 forms them, inserted at the front of `out`.
  void encodeCommon(std::vector<char>& out) const;
  bool decodeCommon(char const* octets, unsigned count);
  bool isStrictlyValid() const { return !m_arcs.empty(); }
  bool isValid() const { return isStrictlyValid(); }

  static AbstractData* create(void const* info) { return new OBJECT_IDENTIFIER(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;

private:
  std::vector<unsigned> m_arcs;
};

class GeneralizedTime : public AbstractData {
public:
  static TypeInfo const theInfo;
  GeneralizedTime() : AbstractData(&theInfo) {}
  explicit GeneralizedTime(void const* info) : AbstractData(info) {}
  explicit GeneralizedTime(char const* text) : AbstractData(&theInfo) { set(text); }
  GeneralizedTime(int year, int month, int day, int hour, int minute, int second, int millisecond, int offset_minutes,
                  bool utc);
  GeneralizedTime(GeneralizedTime const&) = default;
  GeneralizedTime& operator=(GeneralizedTime const& other);
  void swap(GeneralizedTime& other);

  // "YYYYMMDDhhmmss" with ".mmm" when there are milliseconds, then "Z" or +hhmm/-hhmm.
  std::string get() const;
  // Reads what the text carries; fields the text does not carry keep their values.
  void set(char const* text);
  std::time_t get_time_t() const;
  void set_time_t(std::time_t t);
  bool isStrictlyValid() const;
  bool isValid() const { return isStrictlyValid(); }

  int year = 1, month = 1, day = 1, hour = 0, minute = 0, second = 0, millisecond = 0;
  int offset = 0;  // minutes from UTC
  bool utc = false;

  static AbstractData* create(void const* info) { return new GeneralizedTime(info); }

protected:
  int do_compare(AbstractData const& other) const override;
  AbstractData* do_clone() const override;
  bool do_accept(Visitor& visitor) override;
  bool do_accept(ConstVisitor& visitor) const override;
};

}  // namespace ASN1
