#pragma once
// Statistics pages from HTML templates. A template is plain HTML with value references
// ("%name%", replaced by the text of the first object on the section stack that knows
// the name, or left as written) and sections ("<!--GEN.name-->" up to
// "<!--GEN.end-->"), which bind their stretch to a named sub-object or repeat it once
// per element of a named list. Unknown or empty sections disappear.

#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace Stat {

class Value {
public:
  Value() = default;
  explicit Value(std::string text) : m_found(true), m_text(std::move(text)) {}

  using bool_type = void (Value::*)() const;
  operator bool_type() const { return m_found ? &Value::true_helper_func : nullptr; }

  bool found() const { return m_found; }
  std::string const& text() const { return m_text; }

private:
  void true_helper_func() const {}

  bool m_found = false;
  std::string m_text;
};

class IteratorBase;

class Object {
public:
  virtual ~Object() = default;
  virtual Value statistics_value(std::string const& name) const = 0;
  virtual Object const* statistics_object(std::string const& name) const = 0;
  virtual std::unique_ptr<IteratorBase> statistics_iterator(std::string const& name) const = 0;
};

class IteratorBase {
public:
  virtual ~IteratorBase() = default;
  // Back to the first element; the page generator does not use it.
  virtual void first() = 0;
  virtual bool valid() const = 0;
  // Moves on; true when an element follows.
  virtual bool next() = 0;
  virtual Object const* object() const = 0;
};

namespace Html {

bool generateV1(Object const& root, std::ostream& out, std::istream& tmpl);

class GeneratorV1 {
public:
  struct Token {
    enum Type { section = 0, value = 1, end = 2 };
    int type = end;
    std::string name;
  };

  GeneratorV1(Object const& root, std::ostream& out, std::istream& tmpl);
  GeneratorV1(GeneratorV1 const&) = delete;
  GeneratorV1& operator=(GeneratorV1 const&) = delete;

  bool generate();

private:
  using State = void (GeneratorV1::*)(char);

  bool generate_body();
  Token parse();
  void sub_object(std::string const& name);
  void sub_object(Object const* object);
  void ignore_object();
  void put(char c);
  void put(std::string const& text);

  void next_input(State state);
  void next_output(State state);
  void next_state(State input, State output);
  void on_change_input_state() {}
  void on_change_output_state();
  void give_up();

  void poutput_pass(char c);
  void poutput_capture(char c);
  void poutput_ignore(char c);

  void pinput_initial(char c);
  void pinput_section_open(char c);
  void pinput_section_body(char c);
  void pinput_section_comment1(char c);
  void pinput_section_comment2(char c);
  void pinput_section_obj_begin1(char c);
  void pinput_section_obj_begin2(char c);
  void pinput_section_obj_begin3(char c);
  void pinput_section_obj_begin4(char c);
  void pinput_section_obj_name(char c);
  void pinput_section_obj_name_end1(char c);
  void pinput_section_obj_name_end2(char c);
  void pinput_value_open(char c);
  void pinput_value_body(char c);
  void pinput_delayed_initial(char c);

  Object const& m_root;
  std::ostream& m_out;
  std::istream& m_tmpl;
  std::vector<Object const*> m_stack;
  Object const* m_current;
  int m_ignore = 0;
  State m_input = &GeneratorV1::pinput_initial;
  State m_output = &GeneratorV1::poutput_pass;
  Token m_token;
  bool m_ready = false;
  std::string m_captured;
};

}  // namespace Html
}  // namespace Stat
