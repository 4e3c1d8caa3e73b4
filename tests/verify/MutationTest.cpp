// The checker must catch real faults: generated programs with one deliberate corruption
// each are checked against their originals. Corruptions that change behaviour must be
// reported as different (nearly all of them: some hit a value that is overwritten before
// it is read, or a branch whose two paths compute the same);
// a dead store must be reported as the same behaviour.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "ToolchainTest.h"
#include "passes/Driver.h"
#include "source/LineList.h"
#include "verify/Dialect.h"
#include "verify/Text.h"
#include "verify/Verify.h"
#include "verify/gen/Builder.h"
#include "verify/gen/Generator.h"

namespace korvid::verify {
namespace {

using Lines = std::vector<std::string>;

struct Site {
  size_t index;
  DialectLine line;
};

std::vector<Site> Instructions(const Lines& lines) {
  std::vector<Site> sites;
  for (size_t i = 0; i < lines.size(); ++i) {
    DialectLine l = ParseDialectLine(lines[i]);
    if (l.IsInstruction() && l.label.empty()) sites.push_back({i, l});
  }
  return sites;
}

bool IsSkip(const DialectLine& l) {
  for (const char* s : {"SBRC", "SBRS", "SBIC", "SBIS", "CPSE"})
    if (EqualsNoCase(l.word, s)) return true;
  return false;
}

bool Follows(const Lines& lines, size_t index, const std::function<bool(const DialectLine&)>& test) {
  for (size_t i = index; i-- > 0;) {
    DialectLine l = ParseDialectLine(lines[i]);
    if (l.IsInstruction()) return test(l);
  }
  return false;
}

std::string Line(const std::string& word, const std::string& operands) { return "        " + word + " " + operands; }

// Where a line stands: start-up code before the first routine, or inside an interrupt routine.
enum class Region { StartUp, Interrupt, Other };

std::vector<Region> Regions(const Lines& lines) {
  std::vector<Region> regions(lines.size(), Region::Other);
  size_t routine = lines.size();  // the open routine's .FUNC line
  bool interrupt = false, beforeRoutines = true;
  for (size_t i = 0; i < lines.size(); ++i) {
    const std::string word = Upper(ParseDialectLine(lines[i]).word);
    if (word == ".FUNC") beforeRoutines = false, routine = i, interrupt = false;
    if (word == ".RETURNS" && routine < lines.size() && Trim(ParseDialectLine(lines[i]).operands) == "-1") {
      interrupt = true;
      for (size_t k = routine; k < i; ++k) regions[k] = Region::Interrupt;
    }
    if (beforeRoutines) regions[i] = Region::StartUp;
    if (interrupt) regions[i] = Region::Interrupt;
    if (word == ".ENDFUNC") routine = lines.size(), interrupt = false;
  }
  return regions;
}

// A routine may save more than it changes, and dropping such a save changes
// nothing: only the saves of SREG, of a register the routine names besides
// its pushes and pops, or of any register where it calls, are corrupted.
bool SaveMatters(const Lines& lines, size_t push) {
  const std::string reg = Trim(ParseDialectLine(lines[push]).operands);
  if (push > 0 && EqualsNoCase(ParseDialectLine(lines[push - 1]).word, "IN")) return true;
  size_t first = push, last = push;
  while (first > 0 && !EqualsNoCase(ParseDialectLine(lines[first]).word, ".FUNC")) --first;
  while (last + 1 < lines.size() && !EqualsNoCase(ParseDialectLine(lines[last]).word, ".ENDFUNC")) ++last;
  for (size_t i = first; i <= last; ++i) {
    const DialectLine l = ParseDialectLine(lines[i]);
    const std::string word = Upper(l.word);
    if (word == "CALL" || word == "RCALL") return true;
    if (word == "PUSH" || word == "POP" || !l.IsInstruction()) continue;
    for (const std::string& op : SplitCommas(l.operands))
      if (EqualsNoCase(Trim(op), reg)) return true;
  }
  return false;
}

// An interrupt routine that no longer saves a register (or SREG) it changes: the PUSH,
// the matching POP and, for SREG, the IN and OUT around them go.
bool DropInterruptSave(Lines& lines, gen::Rng& rng) {
  const std::vector<Region> regions = Regions(lines);
  std::vector<size_t> pushes;
  for (size_t i = 0; i < lines.size(); ++i)
    if (regions[i] == Region::Interrupt && EqualsNoCase(ParseDialectLine(lines[i]).word, "PUSH") &&
        SaveMatters(lines, i))
      pushes.push_back(i);
  if (pushes.empty()) return false;
  size_t push = rng.Pick(pushes);
  const bool sreg = push > 0 && EqualsNoCase(ParseDialectLine(lines[push - 1]).word, "IN");
  size_t pop = push;
  for (int depth = 0; ++pop < lines.size() && regions[pop] == Region::Interrupt;) {
    const std::string word = Upper(ParseDialectLine(lines[pop]).word);
    if (word == "PUSH") ++depth;
    if (word == "POP" && depth-- == 0) break;
  }
  if (pop >= lines.size() || regions[pop] != Region::Interrupt) return false;
  const bool out = sreg && pop + 1 < lines.size() && EqualsNoCase(ParseDialectLine(lines[pop + 1]).word, "OUT");
  // From the back, so the indices still hold.
  if (out) lines.erase(lines.begin() + static_cast<long>(pop + 1));
  lines.erase(lines.begin() + static_cast<long>(pop));
  lines.erase(lines.begin() + static_cast<long>(push));
  if (sreg) lines.erase(lines.begin() + static_cast<long>(push - 1));
  return true;
}

// The start-up code hands main another value.
bool ChangeStartUpValue(Lines& lines, gen::Rng& rng) {
  const std::vector<Region> regions = Regions(lines);
  std::vector<size_t> loads;
  for (size_t i = 0; i < lines.size(); ++i) {
    DialectLine l = ParseDialectLine(lines[i]);
    auto ops = SplitCommas(l.operands);
    // Not the stack pointer's or Y's set-up: a start-up that crashes shows nothing new.
    const bool handedToMain = ops.size() == 2 && !EqualsNoCase(ops[0], "R16") && !EqualsNoCase(ops[0], "R28") &&
                              !EqualsNoCase(ops[0], "R29");
    if (regions[i] == Region::StartUp && EqualsNoCase(l.word, "LDI") && handedToMain &&
        ops[1].find_first_not_of("0123456789") == std::string::npos)
      loads.push_back(i);
  }
  if (loads.empty()) return false;
  size_t i = rng.Pick(loads);
  auto ops = SplitCommas(ParseDialectLine(lines[i]).operands);
  lines[i] = Line("LDI", ops[0] + "," + std::to_string((std::stoi(ops[1]) + 1) % 256));
  return true;
}

// Each corruption picks one site and rewrites the program; false when no site fits.
using Corruption = std::function<bool(Lines&, gen::Rng&)>;

bool Apply(Lines& lines, gen::Rng& rng, const std::function<bool(const Site&)>& fits,
           const std::function<void(Lines&, const Site&)>& change) {
  std::vector<Site> sites;
  for (const Site& s : Instructions(lines))
    if (fits(s) && !Follows(lines, s.index, IsSkip)) sites.push_back(s);
  if (sites.empty()) return false;
  change(lines, rng.Pick(sites));
  return true;
}

const std::map<std::string, Corruption>& Corruptions() {
  static const std::map<std::string, Corruption> c = {
      {"interrupt save", DropInterruptSave},
      {"start-up value", ChangeStartUpValue},
      {"swap operands", [](Lines& lines, gen::Rng& rng) {
         return Apply(lines, rng, [](const Site& s) {
           auto ops = SplitCommas(s.line.operands);
           return (EqualsNoCase(s.line.word, "SUB") || EqualsNoCase(s.line.word, "SBC") ||
                   EqualsNoCase(s.line.word, "MOV")) && ops.size() == 2 && !EqualsNoCase(ops[0], ops[1]);
         }, [](Lines& l, const Site& s) {
           auto ops = SplitCommas(s.line.operands);
           l[s.index] = Line(s.line.word, ops[1] + "," + ops[0]);
         });
       }},
      {"drop a store", [](Lines& lines, gen::Rng& rng) {
         return Apply(lines, rng, [](const Site& s) { return EqualsNoCase(s.line.word, "STS"); },
                      [](Lines& l, const Site& s) { l.erase(l.begin() + static_cast<long>(s.index)); });
       }},
      {"branch condition", [](Lines& lines, gen::Rng& rng) {
         static const std::map<std::string, std::string> opposite = {
             {"BREQ", "BRNE"}, {"BRNE", "BREQ"}, {"BRLO", "BRSH"}, {"BRSH", "BRLO"}, {"BRLT", "BRGE"},
             {"BRGE", "BRLT"}, {"BRCS", "BRCC"}, {"BRCC", "BRCS"}, {"BRMI", "BRPL"}, {"BRPL", "BRMI"}};
         return Apply(lines, rng, [](const Site& s) { return opposite.count(Upper(s.line.word)) > 0; },
                      [](Lines& l, const Site& s) {
                        l[s.index] = Line(opposite.at(Upper(s.line.word)), s.line.operands);
                      });
       }},
      {"constant", [](Lines& lines, gen::Rng& rng) {
         return Apply(lines, rng, [](const Site& s) {
           auto ops = SplitCommas(s.line.operands);
           return (EqualsNoCase(s.line.word, "LDI") || EqualsNoCase(s.line.word, "SUBI")) && ops.size() == 2 &&
                  ops[1].find_first_not_of("0123456789") == std::string::npos;
         }, [](Lines& l, const Site& s) {
           auto ops = SplitCommas(s.line.operands);
           l[s.index] = Line(s.line.word, ops[0] + "," + std::to_string((std::stoi(ops[1]) + 1) % 256));
         });
       }},
  };
  return c;
}

// A store of another value right before a store to the same variable is dead.
bool AddDeadStore(Lines& lines, gen::Rng& rng) {
  return Apply(lines, rng, [](const Site& s) {
    auto ops = SplitCommas(s.line.operands);
    return EqualsNoCase(s.line.word, "STS") && ops.size() == 2 && !EqualsNoCase(ops[0], "vol");
  }, [](Lines& l, const Site& s) {
    auto ops = SplitCommas(s.line.operands);
    l.insert(l.begin() + static_cast<long>(s.index), Line("STS", ops[0] + ",R0"));
  });
}

std::string Join(const Lines& lines) {
  std::string text;
  for (const std::string& l : lines) text += l + "\n";
  return text;
}

// Skipped where the assembler or the simulator is missing.
class MutationTest : public korvid::testing::TToolchainTest {};

TEST_F(MutationTest, CorruptionsAreFoundAndDeadStoresAreNot) {
  constexpr int kSeeds = 40;
  VerifyOptions options;
  options.budget = 1'000'000;
  std::map<std::string, std::pair<int, int>> found;  // detected, tried
  int deadSame = 0, deadTried = 0, total = 0, detected = 0;
  for (int seed = 1; seed <= kSeeds; ++seed) {
    const std::string original = gen::GenerateProgram(static_cast<std::uint64_t>(seed));
    const Lines lines = SplitLines(original);
    gen::Rng rng(static_cast<std::uint64_t>(seed) * 7919);
    for (const auto& [name, corrupt] : Corruptions()) {
      Lines mutated = lines;
      if (!corrupt(mutated, rng)) continue;
      VerifyResult r = VerifyPrograms(original, Join(mutated), options);
      EXPECT_NE(r.verdict, VerifyResult::Verdict::CouldNotCheck) << name << " seed " << seed << ": " << r.message;
      bool hit = r.verdict == VerifyResult::Verdict::Different;
      if (!hit) {  // listed so that a reader can see it is an equivalent program
        size_t i = 0;
        while (i < lines.size() && i < mutated.size() && mutated[i] == lines[i]) ++i;
        std::printf("mutation test: not found: %s, seed %d, line %zu: %s\n", name.c_str(), seed, i + 1,
                    Trim(i < lines.size() ? lines[i] : "").c_str());
      }
      found[name].first += hit;
      found[name].second += 1;
      detected += hit;
      ++total;
    }
    Lines dead = lines;
    if (AddDeadStore(dead, rng)) {
      VerifyResult r = VerifyPrograms(original, Join(dead), options);
      EXPECT_EQ(r.verdict, VerifyResult::Verdict::Same) << "dead store, seed " << seed << ": " << r.message;
      deadSame += r.verdict == VerifyResult::Verdict::Same;
      ++deadTried;
    }
  }
  for (const auto& [name, counts] : found)
    std::printf("mutation test: %-16s %2d of %2d reported as different\n", name.c_str(), counts.first, counts.second);
  std::printf("mutation test: detection rate %d of %d (%d%%); dead stores reported as same %d of %d\n", detected,
              total, total ? 100 * detected / total : 0, deadSame, deadTried);
  ASSERT_GT(total, 0);
  // The rest land in arms this run does not take, or in near misses whose
  // values are dead by design (a pointer loaded afresh only to end its life).
  EXPECT_GE(100 * detected, 75 * total);
  EXPECT_EQ(deadSame, deadTried);
}

using TFaults = TRun::TInjectedFaults;

std::string OptimiseWith(const std::string& program, const TFaults& faults) {
  TLineList lines;
  lines.Run.InjectedFaults = faults;
  lines.LoadFromText(program, "gen.asm");
  Optimise(lines, "");
  return lines.SaveToText();
}

// The program without its comments: the summary lines carry run times.
std::string Code(const std::string& text) {
  std::string code;
  for (const std::string& line : SplitLines(text))
    if (Trim(line).rfind(';', 0) != 0) code += line + "\n";
  return code;
}

// Faults put into the optimiser's analysis on purpose: some random program must turn
// each of them into a program that behaves differently or no longer assembles. A fault
// no rewrite depends on yet changes no program; once one does, it must be caught too.
TEST_F(MutationTest, InjectedOptimiserFaultsAreCaught) {
  struct Injected {
    const char* name;
    TFaults fault;
    bool changesProgramsToday;
  };
  const std::vector<Injected> faults = {
      {"call keeps the flags", {.CallsKeepFlags = true}, false},  // no rewrite reads a call's flags yet
      {"call keeps address-taken registers", {.CallsKeepAddressTaken = true}, true},
      {"JMP to RJMP out of reach", {.LongBranchesAlwaysReach = true}, true},
  };
  VerifyOptions options;
  options.budget = 1'000'000;
  for (const auto& [name, fault, changesProgramsToday] : faults) {
    int affected = 0, caught = 0;
    for (int seed = 1; seed <= 200 && caught < 2; ++seed) {
      const std::string original = gen::GenerateProgram(static_cast<std::uint64_t>(seed));
      const std::string faulty = OptimiseWith(original, fault);
      if (Code(faulty) == Code(OptimiseWith(original, {}))) continue;
      ++affected;
      caught += VerifyPrograms(original, faulty, options).verdict != VerifyResult::Verdict::Same;
    }
    std::printf("mutation test: %-36s changed %d programs, %d caught\n", name, affected, caught);
    if (changesProgramsToday) {
      EXPECT_GT(affected, 0) << name;
    }
    // A fault no rewrite depends on only makes the analysis more careful: the
    // programs it changes keep their behaviour.
    if (changesProgramsToday && affected > 0) {
      EXPECT_GE(caught, 1) << name;
    }
  }
}

}  // namespace
}  // namespace korvid::verify
