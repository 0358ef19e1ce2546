#pragma once
// The two ways of walking a value: Visitor fills one (the decoders), ConstVisitor reads
// one (the encoders, printers and checkers). Every kind dispatches to the operation for
// exactly its own kind; a SEQUENCE is walked by a fixed traversal here that calls the
// sequence hooks, so that a coder only says what happens around and at each field.

namespace ASN1 {

class AbstractData;
class Null;
class BOOLEAN;
class INTEGER;
class IntegerWithNamedNumber;
class ENUMERATED;
class OBJECT_IDENTIFIER;
class OCTET_STRING;
class BIT_STRING;
class AbstractString;
class BMPString;
class CHOICE;
class SEQUENCE;
class SEQUENCE_OF_Base;
class OpenData;
class TypeConstrainedOpenData;
class GeneralizedTime;
class CoderEnv;

class Visitor {
public:
  // Results of the sequence hooks.
  enum Result { Fail = 0, Stop = 1, Continue = 2, ContinueWithExtensions = 3 };

  explicit Visitor(CoderEnv* env = nullptr) : m_env(env) {}
  virtual ~Visitor() = default;

  CoderEnv* get_env() const { return m_env; }

  bool visit(Null& v) { return do_visit(v); }
  bool visit(BOOLEAN& v) { return do_visit(v); }
  bool visit(INTEGER& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber& v) { return do_visit(v); }
  bool visit(ENUMERATED& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER& v) { return do_visit(v); }
  bool visit(OCTET_STRING& v) { return do_visit(v); }
  bool visit(BIT_STRING& v) { return do_visit(v); }
  bool visit(AbstractString& v) { return do_visit(v); }
  bool visit(BMPString& v) { return do_visit(v); }
  bool visit(CHOICE& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base& v) { return do_visit(v); }
  bool visit(OpenData& v) { return do_visit(v); }
  bool revisit(OpenData& v) { return do_revisit(v); }
  bool visit(TypeConstrainedOpenData& v) { return do_visit(v); }
  bool visit(GeneralizedTime& v) { return do_visit(v); }
  bool visit(SEQUENCE& s);

protected:
  virtual bool do_visit(Null&) = 0;
  virtual bool do_visit(BOOLEAN&) = 0;
  virtual bool do_visit(INTEGER&) = 0;
  virtual bool do_visit(IntegerWithNamedNumber& v);
  virtual bool do_visit(ENUMERATED&) = 0;
  virtual bool do_visit(OBJECT_IDENTIFIER&) = 0;
  virtual bool do_visit(OCTET_STRING&) = 0;
  virtual bool do_visit(BIT_STRING&) = 0;
  virtual bool do_visit(AbstractString&) = 0;
  virtual bool do_visit(BMPString&) = 0;
  virtual bool do_visit(CHOICE&) = 0;
  virtual bool do_visit(SEQUENCE_OF_Base&) = 0;
  virtual bool do_visit(OpenData&) = 0;
  virtual bool do_revisit(OpenData&) = 0;
  virtual bool do_visit(TypeConstrainedOpenData&) = 0;
  virtual bool do_visit(GeneralizedTime&) = 0;
  virtual int preVisitExtensionRoots(SEQUENCE&) { return ContinueWithExtensions; }
  virtual int visitExtensionRoot(SEQUENCE&, int /*index*/, int /*optionalId*/) { return Fail; }
  virtual int preVisitExtensions(SEQUENCE&) { return ContinueWithExtensions; }
  virtual int visitKnownExtension(SEQUENCE&, int /*index*/, int /*optionalId*/) { return Fail; }
  virtual int visitUnknownExtensions(SEQUENCE&) { return Stop; }

private:
  CoderEnv* m_env;
};

class ConstVisitor {
public:
  virtual ~ConstVisitor() = default;

  bool visit(Null const& v) { return do_visit(v); }
  bool visit(BOOLEAN const& v) { return do_visit(v); }
  bool visit(INTEGER const& v) { return do_visit(v); }
  bool visit(IntegerWithNamedNumber const& v) { return do_visit(v); }
  bool visit(ENUMERATED const& v) { return do_visit(v); }
  bool visit(OBJECT_IDENTIFIER const& v) { return do_visit(v); }
  bool visit(BIT_STRING const& v) { return do_visit(v); }
  bool visit(OCTET_STRING const& v) { return do_visit(v); }
  bool visit(AbstractString const& v) { return do_visit(v); }
  bool visit(BMPString const& v) { return do_visit(v); }
  bool visit(CHOICE const& v) { return do_visit(v); }
  bool visit(OpenData const& v) { return do_visit(v); }
  bool visit(GeneralizedTime const& v) { return do_visit(v); }
  bool visit(SEQUENCE_OF_Base const& v) { return do_visit(v); }
  bool visit(SEQUENCE const& s);

protected:
  virtual bool do_visit(AbstractData const&) { return true; }
  virtual bool do_visit(Null const& v);
  virtual bool do_visit(BOOLEAN const& v);
  virtual bool do_visit(INTEGER const& v);
  virtual bool do_visit(IntegerWithNamedNumber const& v);
  virtual bool do_visit(ENUMERATED const& v);
  virtual bool do_visit(OBJECT_IDENTIFIER const& v);
  virtual bool do_visit(BIT_STRING const& v);
  virtual bool do_visit(OCTET_STRING const& v);
  virtual bool do_visit(AbstractString const& v);
  virtual bool do_visit(BMPString const& v);
  virtual bool do_visit(CHOICE const& v);
  virtual bool do_visit(OpenData const& v);
  virtual bool do_visit(GeneralizedTime const& v);
  virtual bool do_visit(SEQUENCE_OF_Base const& v);
  virtual bool preVisitExtensionRoots(SEQUENCE const& s);
  virtual bool visitExtensionRoot(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool preVisitExtensions(SEQUENCE const&) { return true; }
  virtual bool visitKnownExtension(SEQUENCE const&, int /*index*/) { return false; }
  virtual bool afterVisitSequence(SEQUENCE const&) { return true; }
};

}  // namespace ASN1
