#pragma once
// What the generated accessors use to reach a field or alternative: an absent optional
// field or an unselected alternative is never reinterpreted or dereferenced. In test
// builds such an access is a programming error that stops the run; in release builds it
// is logged once per access and answered with a default value of the field's class.

namespace ASN1 {

class AbstractData;

namespace detail {

// True (the default in builds without NDEBUG): abort on an absent access.
extern bool abort_on_absent_access;

// Logs "asn1: access to absent field <type>.<field>", or aborts.
void absent_access(char const* type, char const* field);

// What an absent access hands out lives to the end of the process: a holder's reference
// never dangles and never changes under it. A reading access shares one immutable default
// per class, built once.
template <class T>
T const& shared_default() {
  static T const* const value = new T;
  return *value;
}

// A writing access gets an object of its own, so that callers who write to it never see
// each other's writes; it is kept, like the shared default, for the life of the process.
AbstractData& keep(AbstractData* value);

template <class T>
T& own_default() {
  return static_cast<T&>(keep(new T));
}

template <class T>
T const& checked(AbstractData const* field, bool present, char const* type, char const* name) {
  if (present && field) return static_cast<T const&>(*field);
  absent_access(type, name);
  return shared_default<T>();
}

template <class T>
T& checked(AbstractData* field, bool present, char const* type, char const* name) {
  if (present && field) return static_cast<T&>(*field);
  absent_access(type, name);
  return own_default<T>();
}

}  // namespace detail
}  // namespace ASN1
