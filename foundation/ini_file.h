#pragma once
// The configuration file in memory: sections, one subsection per occurrence of a header,
// keys in each subsection, and every value of a key with its line. Nothing is written
// back. Lookups by name create what is missing (with line -1), so reading changes the
// tree and later dumps show what was looked up.

#include <istream>
#include <map>
#include <ostream>
#include <string>

#include "foundation/dual_list.h"

namespace IniFile {

// Walks the elements of one container in file order; a null element is the end.
template <class T>
class GenericIterator {
public:
  GenericIterator() = default;
  explicit GenericIterator(T* element) : m_element(element) {}
  GenericIterator& operator++() {
    if (m_element) m_element = m_element->get_next();
    return *this;
  }
  GenericIterator operator++(int) {
    GenericIterator const old = *this;
    ++*this;
    return old;
  }
  T& operator*() const { return *m_element; }
  T* operator->() const { return m_element; }
  bool operator!=(GenericIterator const& other) const { return m_element != other.m_element; }
  bool operator==(GenericIterator const& other) const { return m_element == other.m_element; }

private:
  T* m_element = nullptr;
};

// Deletes every element of an owning list.
template <class T>
void delete_all(F_dual_list<T>& list) {
  while (T* element = list.remove_from_head()) delete element;
}

// One occurrence of a key.
class SubKey : public F_dual_list_item<SubKey> {
public:
  SubKey(std::string const& value, int line) : mValue(value), mLineNo(line) {}
  SubKey(SubKey const&) = delete;
  SubKey& operator=(SubKey const&) = delete;

  std::string& GetStr() { return mValue; }
  int GetLineNo() const { return mLineNo; }

  // "true", "yes", "1", "on" / "false", "no", "0", "off", exact case; else the default.
  bool GetBool(bool def) const;
  void SetBool(bool value);
  // A leading decimal number (white space before it skipped, text after it ignored);
  // the default when there is none or it does not fit.
  int GetInt(int def) const;
  void SetInt(int value);
  float GetFloat(float def) const;
  void SetFloat(float value);

  void Dump(std::ostream& os) const;

private:
  std::string mValue;
  int mLineNo;
};

// One key name within a block, with all its occurrences.
class Key : public F_dual_list_item<Key> {
public:
  using iterator = GenericIterator<SubKey>;

  explicit Key(std::string const& name) : mName(name) {}
  ~Key() { CleanSubKeys(); }
  Key(Key const&) = delete;
  Key& operator=(Key const&) = delete;

  std::string const& GetName() const { return mName; }
  SubKey* NewSubKey(std::string const& value, int line);
  void CleanSubKeys() { delete_all(m_subkeys); }
  int GetCount() const { return static_cast<int>(m_subkeys.count()); }
  // Never null: a key without occurrences gets an empty one with line -1 first.
  SubKey* GetFirstSubKey();
  SubKey* GetLastSubKey();
  std::string& GetStr() { return GetFirstSubKey()->GetStr(); }
  void CheckEmpty();

  iterator begin() const { return iterator(m_subkeys.head()); }
  iterator end() const { return iterator(); }
  void Dump(std::ostream& os) const;

private:
  std::string mName;
  F_dual_list<SubKey> m_subkeys;
};

// One block: from a header to the next header.
class SubSection : public F_dual_list_item<SubSection> {
public:
  using iterator = GenericIterator<Key>;

  explicit SubSection(int line) : mLineNo(line) {}
  ~SubSection() { CleanKeys(); }
  SubSection(SubSection const&) = delete;
  SubSection& operator=(SubSection const&) = delete;

  int GetLineNo() const { return mLineNo; }
  // The key of that name, appended empty when missing.
  Key& operator[](std::string const& name);
  Key* NewKey(std::string const& name);
  SubKey* NewSubKey(std::string const& name, std::string const& value, int line);
  void CleanKeys();

  iterator begin() const { return iterator(m_keys.head()); }
  iterator end() const { return iterator(); }
  void Dump(std::ostream& os) const;

private:
  int mLineNo;
  F_dual_list<Key> m_keys;
  std::map<std::string, Key*> m_map;
};

// All blocks that share one header name.
class Section : public F_dual_list_item<Section> {
public:
  using iterator = GenericIterator<SubSection>;

  explicit Section(std::string const& name) : mName(name) {}
  ~Section() { CleanSubSections(); }
  Section(Section const&) = delete;
  Section& operator=(Section const&) = delete;

  std::string const& GetName() const { return mName; }
  SubSection* NewSubSection(int line);
  void CleanSubSections() { delete_all(m_subsections); }
  int GetCount() const { return static_cast<int>(m_subsections.count()); }
  // A section without blocks gets an empty one with line -1.
  void CheckEmpty();

  iterator begin() const { return iterator(m_subsections.head()); }
  iterator end() const { return iterator(); }
  void Dump(std::ostream& os) const;

private:
  std::string mName;
  F_dual_list<SubSection> m_subsections;
};

class File {
public:
  using iterator = GenericIterator<Section>;

  File() = default;
  explicit File(std::string const& path) { Open(path); }
  ~File() { clear(); }
  File(File const&) = delete;
  File& operator=(File const&) = delete;

  // False when the file cannot be opened (the tree then stays empty); any text is accepted.
  bool Open(std::string const& path);
  void Close();
  void Sync() {}
  bool IsOpened() const { return m_opened; }

  // The section of that name, appended empty when missing.
  Section& operator[](std::string const& name);
  Section* NewSection(std::string const& name);
  SubSection* NewSubSection(std::string const& name, int line);

  iterator begin() const { return iterator(m_sections.head()); }
  iterator end() const { return iterator(); }
  void Dump(std::ostream& os) const;

private:
  friend std::istream& operator>>(std::istream& is, File& file);
  void IntOpenStream(std::istream& is);
  void clear();

  std::string mFileName;
  bool m_opened = false;
  F_dual_list<Section> m_sections;
  std::map<std::string, Section*> m_map;
};

// Replaces the file's contents with the text of the stream.
std::istream& operator>>(std::istream& is, File& file);

}  // namespace IniFile
