#pragma once
// The program's build stamp; its tag is the version the program shows.

#include <ostream>

class Version {
public:
  enum Type : int { snapshot = 0, test = 1, release = 2, unit_test = 3 };

  constexpr Version(Type type, int number, char const* text, char const* user, char const* date, char const* tag,
                    char const* arch)
      : m_type(type), m_number(number), m_text(text), m_user(user), m_date(date), m_tag(tag), m_arch(arch) {
    update();
  }

  Type type() const { return m_type; }
  int number() const { return m_number; }
  char const* text() const { return m_text; }
  char const* user() const { return m_user; }
  char const* date() const { return m_date; }
  char const* tag() const { return m_tag; }
  char const* arch() const { return m_arch; }
  void put(std::ostream& os) const;

  // This build's stamp, constant-initialised so that it is usable before main.
  static Version const current;

private:
  constexpr void update() {}

  Type m_type;
  int m_number;
  char const* m_text;
  char const* m_user;
  char const* m_date;  // "YYYY-MM-DD HH:MM"
  char const* m_tag;   // "T" YYMMDD "-" HHMM
  char const* m_arch;
};

char const* version_string(Version::Type type);
char const* version_suffix(Version::Type type);

std::ostream& operator<<(std::ostream& os, Version const& v);
std::ostream& operator<<(std::ostream& os, Version::Type type);

// Written into the build tree when the program is built.
namespace VersionStamp {
extern char const build_user[];
extern char const build_date[];
extern char const build_tag[];
}  // namespace VersionStamp
