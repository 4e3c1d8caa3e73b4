#include "verify/Verify.h"

#include <fstream>
#include <iostream>
#include <sstream>

#include "app/Arguments.h"
#include "verify/Expression.h"
#include "verify/Lowering.h"
#include "verify/Simulator.h"
#include "verify/Text.h"
#include "verify/Toolchain.h"

namespace korvid::verify {
namespace {

using Verdict = VerifyResult::Verdict;

struct Program {
  const char* role;  // "original" or "optimised"
  LoweredProgram lowered;
  Image image;
  Observation run;
};

std::string Where(const Program& p, std::uint32_t pc) {
  return DescribeLine(p.lowered, p.image.LineAt(pc));
}

VerifyResult Result(Verdict verdict, std::string message) {
  VerifyResult r;
  r.verdict = verdict;
  r.message = std::move(message);
  return r;
}

std::string EndText(const Program& p, const VerifyOptions& options) {
  switch (p.run.end) {
    case Observation::End::Finished: return "ended";
    case Observation::End::BudgetExceeded:
      return "did not end within " + std::to_string(options.budget) + " cycles (last at " + Where(p, p.run.pc) + ")";
    case Observation::End::Crashed: return "crashed at " + Where(p, p.run.pc);
  }
  return "?";
}

std::string DescribeWrite(const Program& p, const IoWrite& w) {
  return std::string(p.role) + ": cycle " + std::to_string(w.cycle) + ", I/O " + Hex(w.address - 0x20) +
         " (data " + Hex(w.address, 4) + ") := " + Hex(w.value) + ", at " + Where(p, w.pc);
}

std::string CompareWrites(const Program& a, const Program& b) {
  size_t n = std::min(a.run.writes.size(), b.run.writes.size());
  for (size_t i = 0; i < n; ++i) {
    const IoWrite& x = a.run.writes[i];
    const IoWrite& y = b.run.writes[i];
    if (x.address != y.address || x.value != y.value)
      return "I/O write " + std::to_string(i + 1) + " differs\n  " + DescribeWrite(a, x) + "\n  " + DescribeWrite(b, y);
  }
  if (a.run.writes.size() == b.run.writes.size()) return {};
  const Program& longer = a.run.writes.size() > n ? a : b;
  const Program& shorter = a.run.writes.size() > n ? b : a;
  return "the " + std::string(shorter.role) + " program makes only " + std::to_string(n) + " I/O writes\n  " +
         DescribeWrite(longer, longer.run.writes[n]);
}

std::string DescribeChange(const Program& p, const Mcu& mcu, const VerifyOptions& options, unsigned address) {
  std::string s = std::string(p.role) + ": " + Hex(p.run.data[address]);
  LastChange c = FindLastChange(p.image, mcu, options.budget, address);
  if (c.found) s += ", last written at cycle " + std::to_string(c.cycle) + " by " + Where(p, c.pc);
  else s += ", never written";
  return s;
}

std::string CompareState(const Program& a, const Program& b, const Mcu& mcu, const VerifyOptions& options) {
  for (unsigned addr = mcu.ramStart; addr < mcu.RuntimeAreaStart(); ++addr) {
    if (a.run.data[addr] == b.run.data[addr]) continue;
    return "RAM " + Hex(addr, 4) + " differs at the end\n  " + DescribeChange(a, mcu, options, addr) + "\n  " +
           DescribeChange(b, mcu, options, addr);
  }
  // A program with its own start hands its registers to nobody.
  if (a.lowered.ownStart) return {};
  std::vector<int> regs = a.lowered.returnRegisters;
  if (!a.lowered.returnKnown)
    for (int r = 0; r < 32; ++r) regs.push_back(r);  // an undeclared return size may hand back any register
  for (int r : regs) {
    if (a.run.data[r] == b.run.data[r]) continue;
    return "return register R" + std::to_string(r) + " differs at the end\n  " + DescribeChange(a, mcu, options, r) +
           "\n  " + DescribeChange(b, mcu, options, r);
  }
  return {};
}

bool ReadWholeFile(const std::string& name, std::string& text) {
  std::ifstream in(name, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  text = ss.str();
  return true;
}

// Writes the avr-as source the check would assemble, so the assembler can be timed on its own.
int LowerFile(const std::string& name, const VerifyOptions& options) {
  const Mcu* mcu = FindMcu(options.mcu);
  std::string text;
  if (!mcu) {
    std::cerr << "unknown MCU " << options.mcu << " (known: " << McuNames() << ")\n";
    return 2;
  }
  if (!ReadWholeFile(name, text)) {
    std::cerr << "cannot read " << name << "\n";
    return 2;
  }
  try {
    std::cout << Lower(text, *mcu).assembly;
  } catch (const LoweringError& e) {
    std::cerr << "cannot lower " << name << ": " << e.what() << "\n";
    return 2;
  }
  return 0;
}

}  // namespace

int ExitCode(const VerifyResult& result) {
  switch (result.verdict) {
    case Verdict::Same: return 0;
    case Verdict::Different: return 1;
    case Verdict::CouldNotCheck: return 2;
  }
  return 2;
}

VerifyResult VerifyPrograms(const std::string& originalText, const std::string& optimisedText,
                            const VerifyOptions& options) {
  const Mcu* mcu = FindMcu(options.mcu);
  if (!mcu) return Result(Verdict::CouldNotCheck, "unknown MCU " + options.mcu + " (known: " + McuNames() + ")");
  Program a{"original", {}, {}, {}}, b{"optimised", {}, {}, {}};
  try {
    RequireToolchain();
    for (Program* p : {&a, &b}) {
      try {
        p->lowered = Lower(p == &a ? originalText : optimisedText, *mcu);
        p->image = Assemble(p->lowered, *mcu);
      } catch (const LoweringError& e) {
        return Result(Verdict::CouldNotCheck, std::string("the ") + p->role + " program cannot be assembled: " + e.what());
      }
      p->run = Simulate(p->image, *mcu, options.budget);
    }
  } catch (const MissingToolError& e) {
    return Result(Verdict::CouldNotCheck, e.what());
  } catch (const std::exception& e) {
    return Result(Verdict::CouldNotCheck, e.what());
  }
  VerifyResult r;
  r.originalCycles = a.run.cycles;
  r.optimisedCycles = b.run.cycles;
  if (a.run.end != Observation::End::Finished) {
    r.verdict = Verdict::CouldNotCheck;
    r.message = "the original program " + EndText(a, options);
    return r;
  }
  std::string difference;
  if (b.run.end != Observation::End::Finished) difference = "the optimised program " + EndText(b, options);
  if (difference.empty()) difference = CompareWrites(a, b);
  if (difference.empty()) difference = CompareState(a, b, *mcu, options);
  r.verdict = difference.empty() ? Verdict::Same : Verdict::Different;
  r.message = difference.empty() ? "same behaviour (" + std::to_string(a.run.writes.size()) + " I/O writes, " +
                                       std::to_string(a.run.cycles) + " and " + std::to_string(b.run.cycles) +
                                       " cycles)"
                                 : difference;
  return r;
}

VerifyResult VerifyProgramFiles(const std::string& originalFile, const std::string& optimisedFile,
                                const VerifyOptions& options) {
  std::string texts[2];
  const std::string* names[2] = {&originalFile, &optimisedFile};
  for (int i = 0; i < 2; ++i)
    if (!ReadWholeFile(*names[i], texts[i])) return Result(Verdict::CouldNotCheck, "cannot read " + *names[i]);
  return VerifyPrograms(texts[0], texts[1], options);
}

bool ReadSimulationOption(TArgumentReader& words, VerifyOptions& options, std::string& problem) {
  const std::string& word = words.Word();
  if (word != "--mcu" && word != "--budget") return false;
  std::optional<std::string> value = words.Value();
  if (!value) {
    problem = word + " needs a value";
  } else if (word == "--mcu") {
    options.mcu = *value;
  } else {
    problem = ReadWholeNumber(word, *value, 1, kMaxBudget, options.budget);
  }
  return true;
}

int RunVerifyCommand(int argc, char** argv) {
  const std::string usage =
      "Usage: korvid verify ORIGINAL OPTIMISED [--mcu NAME] [--budget CYCLES]\n"
      "       korvid verify --lower PROGRAM [--mcu NAME]   (writes the avr-as source)\n"
      "Checks by simulation that OPTIMISED behaves like ORIGINAL.\n"
      "  --mcu NAME        the device simulated: " + McuNames() + " (default atmega2560)\n"
      "  --budget CYCLES   the cycles each program may run, 1 to " + std::to_string(kMaxBudget) +
      " (default 20000000)\n"
      "Exit status: 0 same, 1 different, 2 could not check or a command line not understood.\n";
  auto refuse = [](const std::string& problem) {
    std::cerr << "korvid verify: " << problem << " (try korvid verify --help)\n";
    return 2;
  };
  VerifyOptions options;
  bool lowerOnly = false;
  std::vector<std::string> files;
  TArgumentReader words(argc, argv);
  while (words.Next()) {
    const std::string& word = words.Word();
    if (!words.IsOption()) {
      files.push_back(word);
      continue;
    }
    if (std::string problem; ReadSimulationOption(words, options, problem)) {
      if (!problem.empty()) return refuse(problem);
      continue;
    }
    if (word == "--lower") {
      lowerOnly = true;
    } else if (word == "-h" || word == "--help") {
      std::cout << usage;
      return 0;
    } else {
      return refuse("unknown option \"" + word + "\"");
    }
    if (words.HasInlineValue()) return refuse(word + " takes no value");
  }
  if (lowerOnly && files.size() == 1) return LowerFile(files[0], options);
  if (lowerOnly) return refuse("--lower takes one PROGRAM, not " + std::to_string(files.size()));
  if (files.size() != 2) return refuse("two files are needed, ORIGINAL and OPTIMISED, not " + std::to_string(files.size()));
  VerifyResult r = VerifyProgramFiles(files[0], files[1], options);
  const char* verdict = r.verdict == Verdict::Same ? "same" : r.verdict == Verdict::Different ? "different" : "could not check";
  (r.verdict == Verdict::CouldNotCheck ? std::cerr : std::cout) << verdict << ": " << r.message << "\n";
  return ExitCode(r);
}

}  // namespace korvid::verify
