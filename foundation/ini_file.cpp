#include "foundation/ini_file.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace IniFile {

namespace {

// Looks a name up in the map beside an owning list; appends a new element when missing.
template <class T>
T& find_or_append(std::map<std::string, T*>& map, F_dual_list<T>& list, std::string const& name) {
  auto const found = map.find(name);
  if (found != map.end()) return *found->second;
  T* const element = list.insert_to_tail(new T(name));
  map.emplace(name, element);
  return *element;
}

}  // namespace

// --- SubKey ---------------------------------------------------------------------------

bool SubKey::GetBool(bool def) const {
  if (mValue == "true" || mValue == "yes" || mValue == "1" || mValue == "on") return true;
  if (mValue == "false" || mValue == "no" || mValue == "0" || mValue == "off") return false;
  return def;
}

void SubKey::SetBool(bool value) { mValue = value ? "yes" : "no"; }

int SubKey::GetInt(int def) const {
  char const* const text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  long const value = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || value < INT_MIN || value > INT_MAX) return def;
  return static_cast<int>(value);
}

void SubKey::SetInt(int value) { mValue = std::to_string(value); }

float SubKey::GetFloat(float def) const {
  char const* const text = mValue.c_str();
  char* end = nullptr;
  errno = 0;
  float const value = std::strtof(text, &end);
  if (end == text) return def;
  // Too large for a float; a result too small to keep its precision is still a float.
  if (errno == ERANGE && std::isinf(value)) return def;
  return value;
}

void SubKey::SetFloat(float value) {
  std::ostringstream text;
  text << value;
  mValue = text.str();
}

void SubKey::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubKey\n"
     << "mValue=\"" << mValue << "\"\n"
     << "mLineNo=" << mLineNo << '\n';
}

// --- Key ------------------------------------------------------------------------------

SubKey* Key::NewSubKey(std::string const& value, int line) { return m_subkeys.insert_to_tail(new SubKey(value, line)); }

void Key::CheckEmpty() {
  if (m_subkeys.empty()) NewSubKey("", -1);
}

SubKey* Key::GetFirstSubKey() {
  CheckEmpty();
  return m_subkeys.head();
}

SubKey* Key::GetLastSubKey() {
  CheckEmpty();
  return m_subkeys.tail();
}

void Key::Dump(std::ostream& os) const {
  os << "dumping IniFile::Key\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubKeyCount=" << m_subkeys.count() << '\n';
  for (SubKey const& subkey : *this) subkey.Dump(os);
}

// --- SubSection -----------------------------------------------------------------------

Key& SubSection::operator[](std::string const& name) { return find_or_append(m_map, m_keys, name); }

Key* SubSection::NewKey(std::string const& name) {
  Key* const key = m_keys.insert_to_tail(new Key(name));
  m_map.emplace(name, key);
  return key;
}

SubKey* SubSection::NewSubKey(std::string const& name, std::string const& value, int line) {
  return (*this)[name].NewSubKey(value, line);
}

void SubSection::CleanKeys() {
  m_map.clear();
  delete_all(m_keys);
}

void SubSection::Dump(std::ostream& os) const {
  os << "dumping IniFile::SubSection\n"
     << "mLineNo=\"" << mLineNo << "\"\n"
     << "mKeyCount=" << m_keys.count() << '\n';
  for (Key const& key : *this) key.Dump(os);
}

// --- Section --------------------------------------------------------------------------

SubSection* Section::NewSubSection(int line) { return m_subsections.insert_to_tail(new SubSection(line)); }

void Section::CheckEmpty() {
  if (m_subsections.empty()) NewSubSection(-1);
}

void Section::Dump(std::ostream& os) const {
  os << "dumping IniFile::Section\n"
     << "mName=\"" << mName << "\"\n"
     << "mSubSectionCount=" << m_subsections.count() << '\n';
  for (SubSection const& subsection : *this) subsection.Dump(os);
}

// --- File -----------------------------------------------------------------------------

bool File::Open(std::string const& path) {
  Close();
  mFileName = path;
  std::ifstream in(path, std::ios::in | std::ios::binary);
  if (in.is_open()) IntOpenStream(in);
  return m_opened;
}

void File::Close() {
  if (!m_opened) return;
  clear();
  m_opened = false;
}

void File::clear() {
  m_map.clear();
  delete_all(m_sections);
}

Section& File::operator[](std::string const& name) { return find_or_append(m_map, m_sections, name); }

Section* File::NewSection(std::string const& name) {
  Section* const section = m_sections.insert_to_tail(new Section(name));
  m_map.emplace(name, section);
  return section;
}

SubSection* File::NewSubSection(std::string const& name, int line) { return (*this)[name].NewSubSection(line); }

void File::Dump(std::ostream& os) const {
  os << "dumping IniFile::File\n"
     << "mFileName=\"" << mFileName << "\"\n"
     << '\n'
     << "mSectionCount=" << m_sections.count() << '\n';
  for (Section const& section : *this) section.Dump(os);
}

// Byte by byte; the states are those of a line: 0 before any header, 1 in a header's
// name, 2 after its "]", 3 at the start of a line in a block, 4 in a key name, 5 right
// after "=", 6 in a value. Only the space is a blank inside names and values.
void File::IntOpenStream(std::istream& is) {
  m_opened = true;
  std::streambuf* const in = is.rdbuf();
  if (!in) return;

  int state = 0;
  int line = 1;
  SubSection* current = nullptr;
  std::string section, key, value;
  std::size_t spaces = 0;
  bool comment = false;

  auto store = [&] {
    if (current) current->NewSubKey(key, value, line);
    key.clear();
  };

  for (int byte; (byte = in->sbumpc()) != std::char_traits<char>::eof();) {
    char const c = static_cast<char>(byte);
    if (c == '\r') continue;
    if (comment) {
      if (c != '\n') continue;
      comment = false;
    }
    switch (state) {
      case 0:
        if (c == '#') {
          comment = true;
        } else if (c == '[') {
          section.clear();
          state = 1;
        }
        break;
      case 1:
        if (c == '\n') {
          state = 0;  // no "]": what follows up to the next "[" belongs to no block
        } else if (c == ']') {
          current = NewSubSection(section, line);
          state = 2;
        } else {
          section += c;
        }
        break;
      case 2:
        if (c == '\n')
          state = 3;
        else if (c == '#')
          comment = true;
        break;
      case 3:
        if (c == '#') {
          comment = true;
        } else if (c == '\t' || c == '\n' || c == ' ') {
          // blanks and empty lines before a key
        } else if (c == '[') {
          section.clear();
          state = 1;
        } else {
          key.assign(1, c);
          spaces = 0;
          state = 4;
        }
        break;
      case 4:
        if (c == ' ') {
          ++spaces;
        } else if (c == '=') {
          value.clear();
          state = 5;
        } else if (c == '\n') {
          key.clear();
          spaces = 0;
          state = 3;
        } else {
          key.append(spaces, ' ');
          spaces = 0;
          key += c;
        }
        break;
      case 5:
        if (c == ' ') {
        } else if (c == '#') {
          comment = true;
        } else if (c == '\n') {
          store();
          state = 3;
        } else {
          value.assign(1, c);
          spaces = 0;
          state = 6;
        }
        break;
      case 6:
        if (c == ' ') {
          ++spaces;
        } else if (c == '#' && spaces > 0) {
          spaces = 0;
          comment = true;
        } else if (c == '\n') {
          store();
          state = 3;
        } else {
          value.append(spaces, ' ');
          spaces = 0;
          value += c;
        }
        break;
    }
    if (c == '\n') ++line;
  }
  // A last key line without its line feed still counts.
  if (state == 5 || state == 6) store();
}

std::istream& operator>>(std::istream& is, File& file) {
  file.Close();
  file.mFileName.clear();
  file.IntOpenStream(is);
  return is;
}

}  // namespace IniFile
