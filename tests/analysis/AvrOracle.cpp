#include "tests/analysis/AvrOracle.h"

#ifndef KORVID_HAVE_SIMAVR
namespace korvid::test {
}  // namespace korvid::test

// simavr's own leaks are passed over by the suppressions the simulation check links in.

namespace korvid::test {

TAvrOracle* TAvrOracle::Get() { return nullptr; }
}  // namespace korvid::test
#else

#include <sim_avr.h>
#include <sim_core.h>

#include <algorithm>
#include <array>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

namespace korvid::test {
namespace {

// Data space kept per run: registers, I/O, extended I/O, and the SRAM window that
// pointers and the stack are confined to.
constexpr int kSreg = 0x5F, kIoBase = 0x20, kMemFrom = 0x200, kSpan = 0x600;
constexpr int kGpior0 = 0x1E, kRampz = 0x3B, kEind = 0x3C, kSpl = 0x3D, kSph = 0x3E;

// Inputs flipped to find reads: registers, flags, a few I/O locations, memory.
enum class Input { Reg, Flag, Io, Memory };
struct TInput {
  Input Kind;
  int Index;
};

struct TState {
  std::array<std::uint8_t, kSpan> Data{};
  std::uint32_t Pc = 0;
  std::uint8_t& Sreg() { return Data[kSreg]; }
  std::uint8_t Sreg() const { return Data[kSreg]; }
};

void Quiet(avr_t*, int, const char*, va_list) {}

class TSimavrOracle final : public TAvrOracle {
 public:
  explicit TSimavrOracle(avr_t* avr) : avr_(avr) {
    std::mt19937 rng(1);
    for (std::uint32_t i = 0; i <= avr_->flashend; ++i) avr_->flash[i] = static_cast<std::uint8_t>(rng());
    std::copy_n(avr_->data, kSpan, reset_.Data.begin());
    for (int r = 0; r < 32; ++r) inputs_.push_back({Input::Reg, r});
    for (int f = 0; f < 8; ++f) inputs_.push_back({Input::Flag, f});
    for (int a : {kGpior0, kRampz, kEind, kSpl, kSph}) inputs_.push_back({Input::Io, a});
    inputs_.push_back({Input::Memory, 0});
  }
  ~TSimavrOracle() override {
    avr_terminate(avr_);
    std::free(avr_);
  }
  TSimavrOracle(const TSimavrOracle&) = delete;
  TSimavrOracle& operator=(const TSimavrOracle&) = delete;

  TObservation Observe(std::span<const std::uint8_t> code, int trials, unsigned seed) override {
    std::copy(code.begin(), code.end(), avr_->flash);
    avr_->flash[code.size()] = avr_->flash[code.size() + 1] = 0;  // NOP, the line a skip passes
    rng_.seed(seed);
    std::vector<TState> in, out;
    TObservation o;
    for (int t = 0; t < trials; ++t) {
      in.push_back(RandomState());
      out.push_back(Run(in.back()));
      NoteWrites(in.back(), out.back(), o);
      const std::uint32_t pc = out.back().Pc;
      (pc == code.size() ? o.FellThrough : pc == code.size() + 2 ? o.Skipped : o.Transferred) = true;
    }
    for (int t = 0; t < trials; ++t)
      for (const TInput& x : inputs_) {
        TState flipped = in[t];
        Flip(flipped, x);
        if (Differs(in[t], flipped, out[t], Run(flipped), x, o)) MarkRead(x, o);
      }
    return o;
  }

 private:
  std::uint8_t Byte() {
    // Edge values often, so that carries, zero results and equal operands occur.
    static constexpr std::uint8_t kEdges[] = {0x00, 0x01, 0x7F, 0x80, 0xFF};
    return rng_() % 2 ? kEdges[rng_() % 5] : static_cast<std::uint8_t>(rng_());
  }
  // Pointer high bytes and the stack stay inside the SRAM window; RAMPZ and EIND inside flash.
  std::uint8_t Value(Input kind, int index) {
    if ((kind == Input::Reg && (index == 27 || index == 29 || index == 31)) || (kind == Input::Io && index == kSph))
      return static_cast<std::uint8_t>(3 + rng_() % 2);
    if (kind == Input::Io && index == kRampz) return static_cast<std::uint8_t>(rng_() % 4);
    if (kind == Input::Io && index == kEind) return static_cast<std::uint8_t>(rng_() % 2);
    return Byte();
  }
  static std::uint8_t& Cell(TState& s, const TInput& x) {
    return x.Kind == Input::Reg ? s.Data[x.Index] : s.Data[kIoBase + x.Index];
  }

  TState RandomState() {
    TState s = reset_;
    for (const TInput& x : inputs_)
      if (x.Kind == Input::Reg || x.Kind == Input::Io) Cell(s, x) = Value(x.Kind, x.Index);
    s.Sreg() = Byte();
    for (int a = kMemFrom; a < kSpan; ++a) s.Data[a] = static_cast<std::uint8_t>(rng_());
    return s;
  }

  void Flip(TState& s, const TInput& x) {
    if (x.Kind == Input::Flag) {
      s.Sreg() ^= static_cast<std::uint8_t>(1u << x.Index);
    } else if (x.Kind == Input::Memory) {
      for (int a = kMemFrom; a < kSpan; ++a) s.Data[a] ^= static_cast<std::uint8_t>(1 + rng_() % 255);
    } else {
      const std::uint8_t old = Cell(s, x);
      while (Cell(s, x) == old) Cell(s, x) = Value(x.Kind, x.Index);
    }
  }

  TState Run(const TState& in) {
    std::copy(in.Data.begin(), in.Data.end(), avr_->data);
    for (int f = 0; f < 8; ++f) avr_->sreg[f] = (in.Sreg() >> f) & 1;
    avr_->pc = 0;
    avr_->state = cpu_Running;
    avr_->interrupt_state = 0;
    TState out;
    out.Pc = avr_run_one(avr_);
    std::copy_n(avr_->data, kSpan, out.Data.begin());
    out.Sreg() = 0;
    for (int f = 0; f < 8; ++f) out.Sreg() |= static_cast<std::uint8_t>((avr_->sreg[f] ? 1u : 0u) << f);
    return out;
  }

  // Registers, flags and I/O as locations of one byte or bit; memory as one location.
  template <typename F>
  static void ForEachLocation(F&& f) {
    for (int r = 0; r < 32; ++r) f(TInput{Input::Reg, r});
    for (int b = 0; b < 8; ++b) f(TInput{Input::Flag, b});
    for (int a = 0; a < 63; ++a) f(TInput{Input::Io, a});
  }
  static int Get(const TState& s, const TInput& l) {
    if (l.Kind == Input::Flag) return (s.Sreg() >> l.Index) & 1;
    return l.Kind == Input::Reg ? s.Data[l.Index] : s.Data[kIoBase + l.Index];
  }
  static bool Has(const TObservation& o, const TInput& l, bool written) {
    switch (l.Kind) {
      case Input::Reg: return ((written ? o.RegsWritten : o.RegsRead) >> l.Index) & 1;
      case Input::Flag: return ((written ? o.FlagsWritten : o.FlagsRead) >> l.Index) & 1;
      case Input::Io: return ((written ? o.IoWritten : o.IoRead) >> l.Index) & 1;
      case Input::Memory: return written ? o.MemWritten : o.MemRead;
    }
    return false;
  }
  static void Mark(TObservation& o, const TInput& l, bool written) {
    switch (l.Kind) {
      case Input::Reg: (written ? o.RegsWritten : o.RegsRead) |= 1u << l.Index; break;
      case Input::Flag: (written ? o.FlagsWritten : o.FlagsRead) |= static_cast<std::uint8_t>(1u << l.Index); break;
      case Input::Io: (written ? o.IoWritten : o.IoRead) |= std::uint64_t{1} << l.Index; break;
      case Input::Memory: (written ? o.MemWritten : o.MemRead) = true; break;
    }
  }
  static void MarkRead(const TInput& x, TObservation& o) { Mark(o, x, false); }

  static void NoteWrites(const TState& in, const TState& out, TObservation& o) {
    ForEachLocation([&](const TInput& l) {
      if (Get(in, l) != Get(out, l)) Mark(o, l, true);
    });
    if (!std::equal(in.Data.begin() + kMemFrom, in.Data.end(), out.Data.begin() + kMemFrom)) o.MemWritten = true;
  }

  // Whether flipping input x changed the outcome. The flipped location itself
  // counts only where the instruction writes it (else it just keeps its new value);
  // memory bytes count where either run wrote them.
  static bool Differs(const TState& in1, const TState& in2, const TState& out1, const TState& out2, const TInput& x,
                      const TObservation& o) {
    if (out1.Pc != out2.Pc) return true;
    bool differs = false;
    ForEachLocation([&](const TInput& l) {
      const bool self = l.Kind == x.Kind && l.Index == x.Index;
      if (Get(out1, l) != Get(out2, l) && (!self || Has(o, l, true))) differs = true;
    });
    for (int a = kMemFrom; a < kSpan && !differs; ++a) {
      const bool written = in1.Data[a] != out1.Data[a] || in2.Data[a] != out2.Data[a];
      if (out1.Data[a] != out2.Data[a] && (x.Kind != Input::Memory || written)) differs = true;
    }
    return differs;
  }

  avr_t* avr_;
  TState reset_;
  std::vector<TInput> inputs_;
  std::mt19937 rng_;
};

}  // namespace

}  // namespace korvid::test

// simavr's own leaks are passed over by the suppressions the simulation check links in.

namespace korvid::test {

TAvrOracle* TAvrOracle::Get() {
  static const std::unique_ptr<TAvrOracle> oracle = []() -> std::unique_ptr<TAvrOracle> {
    avr_global_logger_set(Quiet);
    avr_t* avr = avr_make_mcu_by_name("atmega2560");
    if (!avr || avr_init(avr) != 0) return nullptr;
    return std::make_unique<TSimavrOracle>(avr);
  }();
  return oracle.get();
}

}  // namespace korvid::test
#endif
