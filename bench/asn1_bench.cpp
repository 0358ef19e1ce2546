// Aligned PER encode and decode of a message-sized value (OracleTest's Message: ten
// fields, a CHOICE, an IA5String, a SEQUENCE OF four elements) beside Erlang's compiled
// codec timing the same value in the same run. Each decode fills a fresh value and
// destroys it, as the server does per frame; its heap allocations are counted against
// the number of objects in the value. Two more entries split that decode in its parts:
// decoding into one reused value (the coder alone), and the heap blocks of a fresh
// value's objects taken and given back (the allocator alone).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bench/allocation_count.h"
#include "bench/erlang_timing.h"
#include "tests/asn1/oracle/erlang_codec.h"
#include "tests/asn1/oracle/erlang_terms.h"
#include "tests/asn1/oracle/oracle_types.h"

namespace {

using namespace oracle_types;

template <class T>
T& field(SEQUENCE& s, unsigned i) {
  return static_cast<T&>(*s.getField(i));
}

void fill_port(SEQUENCE& port, unsigned number, int mode, bool active) {
  field<Int0_65535>(port, 0) = number;
  field<ENUMERATED>(port, 1).setFromInt(mode);
  field<BOOLEAN>(port, 2) = active;
}

SEQUENCE const& message() {
  static SEQUENCE const built = [] {
    SEQUENCE m(&kMessage);
    field<IntAll>(m, 0) = 305419896u;
    field<Int0_1023>(m, 1) = 17u;
    field<IntAll>(m, 2) = 1718000000u;
    field<ENUMERATED>(m, 3).setFromInt(2);
    m.includeOptionalField(0, 4);
    field<ENUMERATED>(m, 4).setFromInt(9);
    field<BOOLEAN>(m, 5) = true;
    field<IA5String>(m, 6) = std::string("mgw-17.example.net");
    CHOICE& payload = field<CHOICE>(m, 7);
    payload.select(3);
    SEQUENCE& item = static_cast<SEQUENCE&>(*payload.getSelection());
    field<Int0_65535>(item, 0) = 4711u;
    item.includeOptionalField(0, 1);
    field<IA5String>(item, 1) = std::string("trunk-7");
    SEQUENCE_OF_Base& ports = field<SEQUENCE_OF_Base>(m, 8);
    for (unsigned i = 0; i < 4; ++i) {
      ports.push_back(ports.createElement());
      fill_port(static_cast<SEQUENCE&>(*ports.begin()[i]), 5004 + 2 * i, static_cast<int>(i), i % 2 == 0);
    }
    field<IntSigned>(m, 9) = static_cast<unsigned>(-6);
    return m;
  }();
  return built;
}

// The heap blocks a decoded value is made of: one per object below the value itself,
// and the characters of strings too long to be kept inside the string object.
class HeapBlocks : public ConstVisitor {
public:
  std::vector<std::size_t> sizes;
  unsigned objects = 0;

protected:
  bool do_visit(AbstractData const&) override { return false; }
  bool do_visit(Null const&) override { return object(sizeof(Null)); }
  bool do_visit(BOOLEAN const&) override { return object(sizeof(BOOLEAN)); }
  bool do_visit(INTEGER const&) override { return object(sizeof(INTEGER)); }
  bool do_visit(ENUMERATED const&) override { return object(sizeof(ENUMERATED)); }
  bool do_visit(AbstractString const& v) override {
    if (v.capacity() > std::string().capacity()) sizes.push_back(v.capacity() + 1);
    return object(sizeof(IA5String));
  }
  bool do_visit(CHOICE const& v) override {
    return object(sizeof(CHOICE)) && (!v.getSelection() || v.getSelection()->accept(*this));
  }
  bool do_visit(SEQUENCE_OF_Base const& v) override {
    if (!object(sizeof(SEQUENCE_OF_Base))) return false;
    for (AbstractData const* element : v)
      if (!element->accept(*this)) return false;
    return true;
  }
  bool preVisitExtensionRoots(SEQUENCE const&) override { return object(sizeof(SEQUENCE)); }
  bool visitExtensionRoot(SEQUENCE const& s, int index) override { return s.getField(index)->accept(*this); }
  bool visitKnownExtension(SEQUENCE const& s, int index) override { return s.getField(index)->accept(*this); }

private:
  bool object(std::size_t size) {
    // The value itself is the caller's (on the stack in the decode benchmark).
    if (objects++ > 0) sizes.push_back(size);
    return true;
  }
};

HeapBlocks const& heap_blocks() {
  static HeapBlocks const blocks = [] {
    HeapBlocks b;
    message().accept(b);
    return b;
  }();
  return blocks;
}

ErlangValue const& erlang() {
  static oracle::ErlangCodec codec;
  static ErlangValue const value{&codec, "Message", oracle::erlang_term(message())};
  return value;
}

void BM_Asn1MessageEncode(benchmark::State& state) { encode_bench(state, message(), erlang()); }
BENCHMARK(BM_Asn1MessageEncode);

void BM_Asn1MessageDecode(benchmark::State& state) {
  decode_bench(state, message(), erlang(), [] { return SEQUENCE(&kMessage); });
  state.counters["objects"] = heap_blocks().objects;
}
BENCHMARK(BM_Asn1MessageDecode);

void BM_Asn1MessageDecodeReused(benchmark::State& state) {
  std::vector<char> const octets = per_octets(message());
  SEQUENCE value(&kMessage);
  CoderEnv env;
  env.set_encodingRule(CoderEnv::per);
  long allocations_before = 0;
  bool first = true;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ASN1::decode(octets.data(), octets.data() + octets.size(), &env, value, true));
    if (first) allocations_before = allocation_count();  // the first pass makes the objects
    first = false;
  }
  state.counters["allocs"] =
      static_cast<double>(allocation_count() - allocations_before) / std::max<double>(1, state.iterations() - 1);
}
BENCHMARK(BM_Asn1MessageDecodeReused);

void BM_Asn1MessageHeapBlocks(benchmark::State& state) {
  std::vector<std::size_t> const& sizes = heap_blocks().sizes;
  std::vector<void*> blocks(sizes.size());
  long const allocations_before = allocation_count();
  for (auto _ : state) {
    for (std::size_t i = 0; i < sizes.size(); ++i) blocks[i] = ::operator new(sizes[i]);
    benchmark::DoNotOptimize(blocks.data());
    for (void* block : blocks) ::operator delete(block);
  }
  state.counters["allocs"] = static_cast<double>(allocation_count() - allocations_before) / state.iterations();
}
BENCHMARK(BM_Asn1MessageHeapBlocks);

// Erlang's figures as entries of their own.
void BM_ErlangMessageEncode(benchmark::State& state) { erlang_entry(state, erlang(), &ErlangFigures::encode_ns); }
BENCHMARK(BM_ErlangMessageEncode)->UseManualTime()->Iterations(1);

void BM_ErlangMessageDecode(benchmark::State& state) { erlang_entry(state, erlang(), &ErlangFigures::decode_ns); }
BENCHMARK(BM_ErlangMessageDecode)->UseManualTime()->Iterations(1);

}  // namespace
