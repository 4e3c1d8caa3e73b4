#include "verify/Simulator.h"

#include <cstdarg>
#include <functional>
#include <memory>

#include "verify/Toolchain.h"

#if KORVID_HAVE_SIMAVR
// simavr's headers are C and not written for -Wpedantic in C++; they come in as system headers.
#include <simavr/sim_avr.h>
#include <simavr/sim_interrupts.h>
#include <simavr/sim_io.h>

// simavr keeps some of a core's allocations after avr_terminate; they are its own,
// not ours, so the leak checker of sanitised builds is told to pass over them.
extern "C" const char* __lsan_default_suppressions() { return "leak:libsimavr\n"; }

namespace korvid::verify {
namespace {

void Quiet(avr_t*, const int, const char*, va_list) {}

constexpr std::uint16_t kSpl = 0x5D, kSph = 0x5E, kSreg = 0x5F;

struct Machine {
  avr_t* avr = nullptr;
  Observation* observation = nullptr;
  avr_int_vector_t wired[kWiredInterrupts] = {};
  ~Machine() {
    if (avr) avr_terminate(avr);
  }
};

// The program's own write raises a wired interrupt, so an optimised program that takes fewer
// cycles still sees it at the same point of what it does. Pending while I is clear.
void RaiseWiredInterrupts(Machine& m, std::uint8_t before, std::uint8_t after) {
  const std::uint8_t rising = static_cast<std::uint8_t>(after & ~before);
  for (int k = 0; k < kWiredInterrupts; ++k)
    if ((rising >> k) & 1 && (m.avr->data[kInterruptMaskData] >> k) & 1) avr_raise_interrupt(m.avr, &m.wired[k]);
}

// Every I/O write lands here. Peripherals are left out on purpose: a program's I/O is
// observed as plain stores, so two programs compare by what they write, not by timers.
void OnIoWrite(avr_t* avr, avr_io_addr_t addr, std::uint8_t value, void* param) {
  auto* m = static_cast<Machine*>(param);
  const std::uint8_t before = avr->data[addr];
  avr->data[addr] = value;
  if (addr == kWiredPortData) RaiseWiredInterrupts(*m, before, value);
  if (addr == kSpl || addr == kSph || addr == kSreg) return;
  m->observation->writes.push_back({avr->cycle, avr->pc, static_cast<std::uint16_t>(addr), value});
}

std::unique_ptr<Machine> Start(const Image& image, const Mcu& mcu, Observation& obs) {
  avr_global_logger_set(Quiet);
  auto m = std::make_unique<Machine>();
  m->observation = &obs;
  m->avr = avr_make_mcu_by_name(mcu.name.c_str());
  if (!m->avr) throw std::runtime_error("the simulator does not know " + mcu.name);
  avr_init(m->avr);
  m->avr->log = LOG_NONE;
  if (image.flash.size() > m->avr->flashend + 1u) throw std::runtime_error("the program does not fit in flash");
  avr_loadcode(m->avr, const_cast<std::uint8_t*>(image.flash.data()), static_cast<std::uint32_t>(image.flash.size()), 0);
  for (int i = 0; i < MAX_IOs; ++i) {
    m->avr->io[i].w.c = OnIoWrite;
    m->avr->io[i].w.param = m.get();
    m->avr->io[i].r.c = nullptr;
  }
  // Vectors of our own replace the core's external interrupt ones: its peripheral never sees a write.
  for (int k = 0; k < kWiredInterrupts; ++k) {
    m->wired[k].vector = static_cast<std::uint8_t>(k + 1);
    m->wired[k].enable = {kInterruptMaskData, static_cast<std::uint32_t>(k), 1};
    avr_register_vector(m->avr, &m->wired[k]);
  }
  return m;
}

// Steps until the program ends or the budget is spent; `afterStep` sees every instruction.
void Drive(Machine& m, Observation& obs, std::uint64_t budget, const std::function<void(std::uint32_t)>& afterStep) {
  avr_t* avr = m.avr;
  for (;;) {
    std::uint32_t pc = avr->pc;
    int state = avr_run(avr);
    if (afterStep) afterStep(pc);
    if (state == cpu_Done) {
      obs.end = Observation::End::Finished;
      break;
    }
    if (state == cpu_Crashed) {
      obs.end = Observation::End::Crashed;
      break;
    }
    if (avr->cycle > budget) {
      obs.end = Observation::End::BudgetExceeded;
      break;
    }
  }
  obs.cycles = avr->cycle;
  obs.pc = avr->pc;
}

}  // namespace

Observation Simulate(const Image& image, const Mcu& mcu, std::uint64_t budget) {
  Observation obs;
  auto m = Start(image, mcu, obs);
  Drive(*m, obs, budget, nullptr);
  obs.data.assign(m->avr->data, m->avr->data + m->avr->ramend + 1);
  return obs;
}

LastChange FindLastChange(const Image& image, const Mcu& mcu, std::uint64_t budget, unsigned address) {
  Observation obs;
  auto m = Start(image, mcu, obs);
  LastChange last;
  std::uint8_t before = m->avr->data[address];
  Drive(*m, obs, budget, [&](std::uint32_t pc) {
    std::uint8_t now = m->avr->data[address];
    if (now != before) last = {true, pc, m->avr->cycle};
    before = now;
  });
  return last;
}

}  // namespace korvid::verify

#else

namespace korvid::verify {

[[noreturn]] static void NoSimulator() {
  throw MissingToolError("the AVR simulator is not installed: install the packages libsimavr-dev and libelf-dev");
}
Observation Simulate(const Image&, const Mcu&, std::uint64_t) { NoSimulator(); }
LastChange FindLastChange(const Image&, const Mcu&, std::uint64_t, unsigned) { NoSimulator(); }

}  // namespace korvid::verify
#endif
