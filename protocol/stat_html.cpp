#include "protocol/stat_html.h"

namespace Stat::Html {

namespace {

// Stands for every object of an ignored section: it knows nothing, so whatever is nested
// inside is ignored too.
class UnknownObject : public Object {
public:
  Value statistics_value(std::string const&) const override { return {}; }
  Object const* statistics_object(std::string const&) const override { return nullptr; }
  std::unique_ptr<IteratorBase> statistics_iterator(std::string const&) const override { return nullptr; }
};

}  // namespace

bool generateV1(Object const& root, std::ostream& out, std::istream& tmpl) {
  GeneratorV1 generator(root, out, tmpl);
  return generator.generate();
}

GeneratorV1::GeneratorV1(Object const& root, std::ostream& out, std::istream& tmpl)
    : m_root(root), m_out(out), m_tmpl(tmpl), m_stack{&m_root}, m_current(&m_root) {}

bool GeneratorV1::generate() {
  m_ignore = 0;
  return generate_body();
}

bool GeneratorV1::generate_body() {
  for (;;) {
    Token const token = parse();
    if (token.type == Token::end) return true;
    if (token.type == Token::value) {
      bool known = false;
      for (auto at = m_stack.rbegin(); at != m_stack.rend() && !known; ++at) {
        if (Value const value = (*at)->statistics_value(token.name)) {
          put(value.text());
          known = true;
        }
      }
      if (!known) put(m_captured);
      continue;
    }
    if (token.name == "end") return true;
    std::unique_ptr<IteratorBase> const list = m_current->statistics_iterator(token.name);
    if (!list) {
      sub_object(token.name);
    } else if (!list->valid()) {
      ignore_object();
    } else {
      // A list repeats its section per element. When the section ran into the end of the
      // template the stream has failed, the rewind does nothing and later elements write
      // nothing.
      std::istream::pos_type const start = m_tmpl.tellg();
      sub_object(list->object());
      if (list->next()) {
        while (list->valid()) {
          m_tmpl.seekg(start);
          sub_object(list->object());
          list->next();
        }
      }
    }
  }
}

GeneratorV1::Token GeneratorV1::parse() {
  m_input = &GeneratorV1::pinput_initial;
  m_output = &GeneratorV1::poutput_pass;
  m_token = Token();
  m_ready = false;
  m_captured.clear();
  char c;
  while (m_tmpl.get(c)) {
    (this->*m_input)(c);
    (this->*m_output)(c);
    if (m_ready) return m_token;
  }
  return Token();
}

void GeneratorV1::sub_object(std::string const& name) {
  if (Object const* object = m_current->statistics_object(name))
    sub_object(object);
  else
    ignore_object();
}

void GeneratorV1::sub_object(Object const* object) {
  m_stack.push_back(object);
  m_current = object;
  generate_body();
  m_stack.pop_back();
  m_current = m_stack.back();
}

void GeneratorV1::ignore_object() {
  UnknownObject unknown;
  ++m_ignore;
  sub_object(&unknown);
  --m_ignore;
}

void GeneratorV1::put(char c) {
  if (m_ignore == 0) m_out.put(c);
}

void GeneratorV1::put(std::string const& text) {
  if (m_ignore == 0) m_out << text;
}

void GeneratorV1::next_input(State state) {
  if (state == m_input) return;
  m_input = state;
  on_change_input_state();
}

void GeneratorV1::next_output(State state) {
  if (state == m_output) return;
  m_output = state;
  on_change_output_state();
}

void GeneratorV1::next_state(State input, State output) {
  next_input(input);
  next_output(output);
}

void GeneratorV1::on_change_output_state() {
  if (m_output == &GeneratorV1::poutput_capture) m_captured.clear();
}

// Not a directive after all: what was held back goes out, and so does the rest of the
// tag, "%" included.
void GeneratorV1::give_up() {
  put(m_captured);
  next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::poutput_pass(char c) { put(c); }
void GeneratorV1::poutput_capture(char c) { m_captured += c; }
void GeneratorV1::poutput_ignore(char) {}

void GeneratorV1::pinput_initial(char c) {
  if (c == '<')
    next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
  else if (c == '%')
    next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::pinput_section_open(char c) {
  if (c == '!')
    next_input(&GeneratorV1::pinput_section_comment1);
  else
    give_up();
}

void GeneratorV1::pinput_section_body(char c) {
  if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_comment2);
  else
    give_up();
}

void GeneratorV1::pinput_section_comment2(char c) {
  if (c != '-') return give_up();
  m_token.name.clear();
  m_token.type = Token::section;
  next_input(&GeneratorV1::pinput_section_obj_begin1);
}

void GeneratorV1::pinput_section_obj_begin1(char c) {
  if (c == 'G')
    next_input(&GeneratorV1::pinput_section_obj_begin2);
  else
    give_up();
}

void GeneratorV1::pinput_section_obj_begin2(char c) {
  if (c == 'E')
    next_input(&GeneratorV1::pinput_section_obj_begin3);
  else
    give_up();
}

void GeneratorV1::pinput_section_obj_begin3(char c) {
  if (c == 'N')
    next_input(&GeneratorV1::pinput_section_obj_begin4);
  else
    give_up();
}

void GeneratorV1::pinput_section_obj_begin4(char c) {
  if (c == '.')
    next_input(&GeneratorV1::pinput_section_obj_name);
  else
    give_up();
}

void GeneratorV1::pinput_section_obj_name(char c) {
  if (c == '-')
    next_input(&GeneratorV1::pinput_section_obj_name_end1);
  else
    m_token.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c) {
  if (c == '-') {
    next_input(&GeneratorV1::pinput_section_obj_name_end2);
    return;
  }
  m_token.name += '-';
  m_token.name += c;
  next_input(&GeneratorV1::pinput_section_obj_name);
}

void GeneratorV1::pinput_section_obj_name_end2(char c) {
  if (c != '>') return;
  m_ready = true;
  next_input(&GeneratorV1::pinput_delayed_initial);
}

void GeneratorV1::pinput_value_open(char c) {
  if (c == '%') {
    put('%');
    next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
    return;
  }
  m_token.name.assign(1, c);
  m_token.type = Token::value;
  next_input(&GeneratorV1::pinput_value_body);
}

void GeneratorV1::pinput_value_body(char c) {
  if (c == '%') {
    m_ready = true;
    next_input(&GeneratorV1::pinput_delayed_initial);
  } else {
    m_token.name += c;
  }
}

void GeneratorV1::pinput_delayed_initial(char c) {
  next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
  pinput_initial(c);
}

}  // namespace Stat::Html
