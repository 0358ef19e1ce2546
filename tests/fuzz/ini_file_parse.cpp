// Arbitrary bytes as a configuration file. The parser must never crash, must keep what
// the format promises (no line ends or CR in names and values, no blank at either end of
// a value, line numbers that exist), and writing the tree back as plain lines and parsing
// that again must give the same tree. Every value also goes through the typed accessors
// and the reader's conversions, whose number handling must stay defined for any text.

#include <cstdint>
#include <cstdlib>
#include <sstream>
#include <string>

#include "foundation/ini_file.h"
#include "foundation/ini_reader.h"
#include "tests/fuzz/support.h"

namespace {

using fuzz::check;

enum class Kind : int { zero = 0, one = 1 };
IniFile::Symbol<Kind> const kKinds[] = {{"zero", Kind::zero}, {"one", Kind::one}, {nullptr, Kind::zero}};

bool clean(std::string const& text) {
  return text.find('\n') == std::string::npos && text.find('\r') == std::string::npos;
}

// Blocks grouped by section, keys in block order: the canonical text of a tree.
std::string canonical(IniFile::File const& file, int lines) {
  std::string text;
  for (IniFile::Section const& section : file) {
    check(clean(section.GetName()) && section.GetName().find(']') == std::string::npos);
    for (IniFile::SubSection const& block : section) {
      check(block.GetLineNo() >= 1 && block.GetLineNo() <= lines);
      text += "[" + section.GetName() + "]\n";
      for (IniFile::Key& key : block) {
        std::string const& name = key.GetName();
        check(!name.empty() && clean(name) && name.find('=', 1) == std::string::npos);
        check(name.front() != ' ' && name.front() != '\t' && name.front() != '#' && name.front() != '[');
        check(name.back() != ' ');
        for (IniFile::SubKey& subkey : key) {
          std::string const& value = subkey.GetStr();
          check(clean(value));
          check(value.empty() || (value.front() != ' ' && value.front() != '#' && value.back() != ' '));
          check(value.find(" #") == std::string::npos);
          check(subkey.GetLineNo() >= block.GetLineNo() && subkey.GetLineNo() <= lines);
          text += name + "=" + value + "\n";
        }
      }
    }
  }
  return text;
}

void convert_everything(IniFile::File& file) {
  for (IniFile::Section& section : file) {
    for (IniFile::SubSection& block : section) {
      for (IniFile::Key& key : block) {
        for (IniFile::SubKey& subkey : key) {
          subkey.GetBool(false);
          subkey.GetInt(0);
          subkey.GetFloat(0);
        }
      }
      std::ostringstream messages;
      IniFile::Reader reader("fuzz: ", messages);
      bool flag = false;
      std::string text;
      Kind kind = Kind::zero;
      for (IniFile::Key& key : block) {
        reader.optional.add(&flag, key.GetName().c_str());
        reader.optional.add(&text, key.GetName().c_str());
        reader.optional.add(&kind, key.GetName().c_str(), kKinds);
      }
      reader(block);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string const input(reinterpret_cast<char const*>(data), size);
  int lines = 1;
  for (char c : input) lines += c == '\n';

  IniFile::File file;
  std::istringstream in(input);
  in >> file;
  std::string const text = canonical(file, lines);

  IniFile::File again;
  std::istringstream reread(text);
  reread >> again;
  int relines = 1;
  for (char c : text) relines += c == '\n';
  check(canonical(again, relines) == text);

  std::ostringstream dump;
  file.Dump(dump);
  convert_everything(file);
  return 0;
}
