#pragma once
// Sequence numbers modulo Max+1 with cyclic range tests: (a <= b) <= c is true when b lies
// in the range that runs forward from a to c, both ends included.

template <class T, T Max>
class Cyclic {
  static constexpr T kModulus = Max + 1;

public:
  class LessEqPair {
  public:
    LessEqPair(Cyclic lower, Cyclic middle) : m_lower(lower), m_middle(middle) {}
    bool operator<=(Cyclic upper) const { return (upper - m_lower).m_value >= (m_middle - m_lower).m_value; }

  private:
    Cyclic m_lower;
    Cyclic m_middle;
  };

  Cyclic() = default;
  Cyclic(T value) : m_value(value % kModulus) {}

  operator T() const { return m_value; }

  Cyclic operator+(Cyclic other) const { return Cyclic((m_value + other.m_value) % kModulus); }
  Cyclic operator-(Cyclic other) const { return Cyclic((m_value + kModulus - other.m_value) % kModulus); }

  Cyclic& operator++() {
    m_value = m_value == Max ? 0 : m_value + 1;
    return *this;
  }
  Cyclic operator++(int) {
    Cyclic old = *this;
    ++*this;
    return old;
  }
  Cyclic& operator--() {
    m_value = m_value == 0 ? Max : m_value - 1;
    return *this;
  }

  LessEqPair operator<=(Cyclic other) const { return LessEqPair(*this, other); }

private:
  T m_value = 0;
};
