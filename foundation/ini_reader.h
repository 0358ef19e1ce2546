#pragma once
// Checks one configuration block against the keys a component declares: each key bound
// to a variable of the component, required keys present exactly once with a valid value,
// optional keys at most once. Problems are written to the reader's stream with the
// block's line numbers; unknown keys are left alone.

#include <climits>
#include <cstdlib>
#include <limits>
#include <ostream>
#include <string>
#include <type_traits>
#include <vector>

#include "foundation/ini_file.h"

namespace IniFile {

// One word of a table; a table ends with an entry whose word is null.
template <class T>
struct Symbol {
  char const* word;
  T value;
};

namespace Private {

class KeyValue {
public:
  KeyValue() = default;
  KeyValue(KeyValue const&) = delete;
  KeyValue& operator=(KeyValue const&) = delete;
  virtual ~KeyValue() = default;

  virtual char const* name() const = 0;
  // Converts the text into the bound variable; a text it refuses leaves the variable alone.
  virtual bool do_parse(char const* text) = 0;

  bool parse(std::string const& text) { return parsed = do_parse(text.c_str()); }

  bool parsed = false;
};

bool parse_bool(char const* text, bool* target);
// A whole number as strtol reads it with base 0 (decimal, 0x hexadecimal, 0 octal),
// nothing after it, within int.
bool parse_int(char const* text, int* target);

template <class T>
class TKeyValue : public KeyValue {
  static_assert(std::is_same_v<T, bool> || std::is_same_v<T, std::string> || std::is_enum_v<T>,
                "keys are read into bool, std::string or an enumeration");

public:
  TKeyValue(T* target, char const* name, Symbol<T> const* table) : m_target(target), m_name(name), m_table(table) {}

  char const* name() const override { return m_name; }

  bool do_parse(char const* text) override {
    if constexpr (std::is_same_v<T, bool>) {
      return parse_bool(text, m_target);
    } else if constexpr (std::is_same_v<T, std::string>) {
      *m_target = text;
      return true;
    } else {
      using Underlying = std::underlying_type_t<T>;
      // Storing a number the enumeration cannot hold would be undefined: only enumerations
      // with a fixed underlying type as wide as int may be bound to keys.
      static_assert(
          requires { T{Underlying{}}; }, "bind keys only to enumerations with a fixed underlying type");
      static_assert(
          std::numeric_limits<Underlying>::min() <= INT_MIN && std::numeric_limits<Underlying>::max() >= INT_MAX,
          "the enumeration must hold every int");
      for (Symbol<T> const* entry = m_table; entry && entry->word; ++entry) {
        if (std::string_view(entry->word) == text) {
          *m_target = entry->value;
          return true;
        }
      }
      int number = 0;
      if (!parse_int(text, &number)) return false;
      *m_target = static_cast<T>(number);
      return true;
    }
  }

private:
  T* m_target;
  char const* m_name;
  Symbol<T> const* m_table;
};

}  // namespace Private

class Reader {
public:
  // The declared keys of one kind, in the order added; owns them.
  class Field {
  public:
    Field() = default;
    Field(Field const&) = delete;
    Field& operator=(Field const&) = delete;
    ~Field();

    // Returns the key's flag, which tells after the check whether the key was taken.
    template <class T>
    bool& add(T* target, char const* name, Symbol<T> const* table = nullptr) {
      return add(new Private::TKeyValue<T>(target, name, table));
    }
    bool& add(Private::KeyValue* entry);

    std::vector<Private::KeyValue*> const& entries() const { return m_entries; }

  private:
    std::vector<Private::KeyValue*> m_entries;
  };

  Reader(std::string const& prefix, std::ostream& os) : m_prefix(prefix), m_os(&os) {}

  // True when every required key is there once with a valid value.
  bool parse(SubSection& block);
  bool operator()(SubSection& block) { return parse(block); }

  Field required;
  Field optional;

private:
  bool check_required(SubSection& block, Private::KeyValue& entry);
  void check_optional(SubSection& block, Private::KeyValue& entry);
  std::ostream& line();

  std::string m_prefix;
  std::ostream* m_os;
};

}  // namespace IniFile
