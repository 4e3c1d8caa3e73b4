// Random small programs: IsUsedLater and IsModifiedBetween against an
// exhaustive walk written plainly here, which enters called routines and
// returns from them. Without calls the two agree; with calls the optimised
// answer may only be the conservative one.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "analysis/CallEffects.h"
#include "analysis/PathSearch.h"
#include "tests/analysis/PathTestSupport.h"

namespace korvid {
namespace {

std::string RandomProgram(std::mt19937& rng, bool withCalls) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  auto reg = [&] { return "R" + std::to_string(16 + pick(4)); };
  auto label = [&] { return std::string(pick(2) ? "L" : "B") + std::to_string(pick(4)); };
  std::vector<std::string> body;
  std::vector<bool> placed(4, false);
  int count = 6 + pick(14);
  for (int i = 0; i < count; ++i) {
    switch (pick(withCalls ? 17 : 16)) {
      case 0: body.push_back(" LDI " + reg() + ",5"); break;
      case 1: body.push_back(" MOV " + reg() + "," + reg()); break;
      case 2: body.push_back(" ADD " + reg() + "," + reg()); break;
      case 3: body.push_back(" INC " + reg()); break;
      case 4: body.push_back(" CPI " + reg() + ",3"); break;
      case 5: body.push_back(" BREQ " + label()); break;
      case 6: body.push_back(" RJMP " + label()); break;
      case 7: body.push_back(" SBRC " + reg() + ",1"); break;
      case 8: body.push_back(" CPSE " + reg() + "," + reg()); break;
      case 9: body.push_back(" LDS " + reg() + ",0100h"); break;
      case 10: body.push_back(" STS 0101h," + reg()); break;
      case 11: {
        int b = pick(4);
        if (!placed[b]) body.push_back("B" + std::to_string(b) + ":");
        placed[b] = true;
        break;
      }
      case 12: body.push_back(pick(4) == 0 ? " RETI" : " RET"); break;
      case 13: body.push_back(" ADC " + reg() + "," + reg()); break;
      case 14: body.push_back(" CLR " + reg()); break;
      case 15: body.push_back(pick(3) == 0 ? " IJMP" : " TST " + reg()); break;
      case 16: body.push_back(" RCALL f"); break;
    }
  }
  std::string text;
  for (const std::string& line : body) text += line + "\n";
  // Every label exists somewhere; the routine is last and may loop or skip its RET.
  for (int l = 0; l < 4; ++l) {
    if (!placed[l]) text += "B" + std::to_string(l) + ":\n";
    text += "L" + std::to_string(l) + ":\n" + (pick(2) ? " RET\n" : " INC R18\n");
  }
  // Twice, so no skip can run off the routine's end.
  text += " RET\n RET\n";
  if (withCalls) text += "f: SBRS R19,0\n RET\n " + std::string(pick(2) ? "LDI R16,1" : "MOV R17,R16") + "\n RET\n";
  return text;
}

// The plain walk. A state is a line and the return addresses of the calls entered.
class TExhaustiveWalk {
 public:
  TExhaustiveWalk(const TLineList& lines, TRegFlagSet returned) : Lines(lines), Returned(returned) {}

  // Whether one of `bits` (register bits 0..31, flags 32..39) is read before written.
  bool Used(int from, TRegFlagSet bits, bool retResult, int to) {
    std::set<std::tuple<int, std::vector<int>, TRegFlagSet>> seen;
    std::vector<std::tuple<int, std::vector<int>, TRegFlagSet>> work{{from, {}, bits}};
    while (!work.empty()) {
      auto [k, stack, alive] = work.back();
      work.pop_back();
      if (k == to || alive == 0 || !seen.insert({k, stack, alive}).second) continue;
      if (k >= Lines.Count()) return true;
      const TLine& line = *Lines.Line(k);
      TRegFlagSet reads = 0, kills = 0;
      for (const TVarUsage& usage : line.Usages.Items()) {
        TRegFlagSet b = BitOf(usage.Var);
        if (usage.Usage & (uRead | uModify)) reads |= b;
        if ((usage.Usage & uWrite) && !(usage.Usage & (uRead | uModify))) kills |= b;
      }
      if (line.LineType == lt::RET) {
        if (!stack.empty()) {
          int back = stack.back();
          stack.pop_back();
          work.push_back({back, stack, alive});
          continue;
        }
        if (alive & (line.RetHasValue ? Returned : ~TRegFlagSet{0})) return true;
        if (retResult) return true;
        continue;
      }
      if (line.LineType == lt::RETI || line.LineType == lt::IJMP) return true;
      if (reads & alive) return true;
      alive &= ~kills;
      for (int next : Successors(k, line)) {
        std::vector<int> deeper = stack;
        if (line.LineType == lt::RCALL && next != k + 1) deeper.push_back(k + 1);
        if (deeper.size() > 6) return true;
        work.push_back({next, deeper, alive});
      }
    }
    return false;
  }

  // Whether one of `bits` is written before `to` or the outermost return.
  bool Modified(int from, TRegFlagSet bits, int to) {
    std::set<std::pair<int, std::vector<int>>> seen;
    std::vector<std::pair<int, std::vector<int>>> work{{from, {}}};
    while (!work.empty()) {
      auto [k, stack] = work.back();
      work.pop_back();
      if (k == to || !seen.insert({k, stack}).second) continue;
      if (k >= Lines.Count()) return true;
      const TLine& line = *Lines.Line(k);
      for (const TVarUsage& usage : line.Usages.Items())
        if ((usage.Usage & (uWrite | uModify)) && (BitOf(usage.Var) & bits)) return true;
      if (line.LineType == lt::IJMP) return true;
      if (line.LineType == lt::RET || line.LineType == lt::RETI) {
        if (line.LineType == lt::RET && !stack.empty()) {
          int back = stack.back();
          stack.pop_back();
          work.push_back({back, stack});
        }
        continue;
      }
      for (int next : Successors(k, line)) {
        std::vector<int> deeper = stack;
        if (line.LineType == lt::RCALL && next != k + 1) deeper.push_back(k + 1);
        if (deeper.size() > 6) return true;
        work.push_back({next, deeper});
      }
    }
    return false;
  }

 private:
  TRegFlagSet BitOf(const TVar* var) const {
    for (int r = 0; r < 32; ++r)
      if (Lines.RegisterVar[r] == var) return TRegFlagSet{1} << r;
    for (int f = 0; f < 8; ++f)
      if (Lines.FlagVar[f] == var) return TRegFlagSet{1} << (32 + f);
    return 0;
  }

  int LabelLine(const std::string& name) const {
    for (int i = 0; i < Lines.Count(); ++i)
      if (Lines.Line(i)->LineType != lt::Comment && Lines.Line(i)->LabelName == name) return i;
    return -1;
  }

  std::vector<int> Successors(int k, const TLine& line) const {
    switch (line.LineType) {
      case lt::RJMP: return {LabelLine(line.Op1)};
      case lt::BREQ: return {k + 1, LabelLine(line.Op1)};
      case lt::RCALL: return {LabelLine(line.Op1)};
      case lt::SBRC:
      case lt::SBRS:
      case lt::CPSE: {
        int skipped = k + 1;
        while (Lines.Line(skipped)->Size == 0) ++skipped;
        return {k + 1, skipped + 1};
      }
      default: return {k + 1};
    }
  }

  const TLineList& Lines;
  TRegFlagSet Returned;
};

void Compare(bool withCalls, unsigned seed) {
  std::mt19937 rng(seed);
  for (int program = 0; program < 150; ++program) {
    std::string body = RandomProgram(rng, withCalls);
    bool knownReturns = rng() % 2 == 0;
    std::string text = testing::AsCalledRoutine(body, knownReturns ? "1" : "");
    TLineList lines;
    lines.LoadFromText(text);
    // A RET whose routine's return size is unknown hands back every register,
    // and so does one of a routine that also ends in RETI (an interrupt handler).
    TRegFlagSet returned = RegisterBit(17) | RegisterBit(28) | RegisterBit(29);
    if (!knownReturns) returned = kAllRegisters;
    if (body.find("RETI") != std::string::npos) returned = kAllRegsAndFlags;
    TExhaustiveWalk walk(lines, returned);
    const int first = testing::kRoutineBodyLine;
    const int end = testing::LineOf(lines, ".ENDFUNC");
    for (int from = first; from < end; ++from) {
      int to = rng() % 3 == 0 ? first + static_cast<int>(rng() % static_cast<unsigned>(end - first)) : -1;
      for (int r = 16; r < 20; ++r) {
        std::uint8_t mask = rng() % 4 == 0 ? 0x03 : 0;  // C and Z
        bool retResult = rng() % 4 == 0;
        bool reached = false;
        bool fast = IsUsedLater(
            lines, {.Var = lines.RegisterVar[r], .From = from, .Flags = mask, .To = to, .ReturnsEverything = retResult},
            &reached);
        bool slow = walk.Used(from, RegisterBit(r) | FlagBits(mask), retResult, to);
        std::string where = text + "\nfrom " + std::to_string(from) + " to " + std::to_string(to) + " R" +
                            std::to_string(r) + " mask " + std::to_string(mask);
        if (withCalls) {
          EXPECT_TRUE(fast || !slow) << "unsound liveness\n" << where;
        } else {
          EXPECT_EQ(fast, slow) << where;
        }
        bool fastWrite = IsModifiedBetween(lines, lines.RegisterVar[r], from, to);
        bool slowWrite = walk.Modified(from, RegisterBit(r), to);
        if (withCalls) {
          EXPECT_TRUE(fastWrite || !slowWrite) << "unsound modification\n" << where;
        } else {
          EXPECT_EQ(fastWrite, slowWrite) << "modified\n" << where;
        }
        if (::testing::Test::HasFailure()) return;
      }
    }
  }
}

TEST(PathSearchDifferential, AgreesWithExhaustiveWalkWithoutCalls) { Compare(false, 1234); }

TEST(PathSearchDifferential, NeverLessConservativeThanExhaustiveWalkWithCalls) { Compare(true, 99); }

}  // namespace
}  // namespace korvid
