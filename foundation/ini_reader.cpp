#include "foundation/ini_reader.h"

#include <cerrno>
#include <cstring>

namespace IniFile {

namespace Private {

// Not the words of SubKey::GetBool: "on" and "off" are unknown here.
bool parse_bool(char const* text, bool* target) {
  static constexpr Symbol<bool> kWords[] = {
      {"true", true},   {"yes", true}, {"enabled", true},   {"enable", true},   {"1", true},
      {"false", false}, {"no", false}, {"disabled", false}, {"disable", false}, {"0", false},
  };
  for (Symbol<bool> const& word : kWords) {
    if (std::strcmp(word.word, text) == 0) {
      *target = word.value;
      return true;
    }
  }
  return false;
}

bool parse_int(char const* text, int* target) {
  if (*text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  long const value = std::strtol(text, &end, 0);
  if (end == text || *end != '\0' || errno == ERANGE || value < INT_MIN || value > INT_MAX) return false;
  *target = static_cast<int>(value);
  return true;
}

}  // namespace Private

Reader::Field::~Field() {
  for (Private::KeyValue* entry : m_entries) delete entry;
}

bool& Reader::Field::add(Private::KeyValue* entry) {
  m_entries.push_back(entry);
  return entry->parsed;
}

std::ostream& Reader::line() { return *m_os << m_prefix; }

namespace {

struct Occurrences {
  int count;
  SubKey* first;  // null when count is 0
  SubKey* last;
};

Occurrences occurrences(Key& key) {
  int const count = key.GetCount();
  if (count == 0) return {0, nullptr, nullptr};
  return {count, key.GetFirstSubKey(), key.GetLastSubKey()};
}

void list_lines(std::ostream& os, Key const& key) {
  for (SubKey const& subkey : key) os << ' ' << subkey.GetLineNo();
}

}  // namespace

bool Reader::check_required(SubSection& block, Private::KeyValue& entry) {
  char const* const name = entry.name();
  Key& key = block[name];
  Occurrences const found = occurrences(key);
  switch (found.count) {
    case 0:
      line() << "required key \"" << name << "\" not present, line " << block.GetLineNo() << std::endl;
      return false;
    case 1:
      if (entry.parse(found.first->GetStr())) return true;
      line() << "required key \"" << name << "\" has invalid value=\"" << found.first->GetStr() << "\","
             << " line " << found.first->GetLineNo() << std::endl;
      return false;
    case 2:
      line() << "required key \"" << name << "\" is duplicated!" << std::endl;
      line() << " first occurence at " << found.first->GetLineNo() << " line." << std::endl;
      line() << " second occurence at " << found.last->GetLineNo() << " line." << std::endl;
      return false;
    default:
      line() << "required key \"" << name << "\" specified more than once:";
      list_lines(*m_os, key);
      *m_os << " lines" << std::endl;
      return false;
  }
}

void Reader::check_optional(SubSection& block, Private::KeyValue& entry) {
  char const* const name = entry.name();
  Key& key = block[name];
  entry.parsed = false;
  Occurrences const found = occurrences(key);
  switch (found.count) {
    case 0:
      return;
    case 1:
      if (entry.parse(found.first->GetStr())) return;
      line() << "optional key \"" << name << "\" has invalid value=\"" << found.first->GetStr() << "\","
             << " line " << found.first->GetLineNo() << ". Key will be ignored." << std::endl;
      return;
    case 2:
      line() << "optional key \"" << name << "\" is duplicated!" << std::endl;
      line() << " first occurence at " << found.first->GetLineNo() << " line." << std::endl;
      line() << " second occurence at " << found.last->GetLineNo() << " line. Both keys will be ignored." << std::endl;
      return;
    default:
      line() << "optional key \"" << name << "\" specified more than once:";
      list_lines(*m_os, key);
      *m_os << " lines."
            << " All keys will be ignored." << std::endl;
      return;
  }
}

bool Reader::parse(SubSection& block) {
  for (Private::KeyValue* entry : required.entries()) {
    if (!check_required(block, *entry)) return false;
  }
  for (Private::KeyValue* entry : optional.entries()) check_optional(block, *entry);
  return true;
}

}  // namespace IniFile
