// The generator's idioms judge the redundant-load and dead-code passes, so each one
// must make the mistake it is there for visible to the checker: the mistake is made by
// hand in generated programs, and the checker must report a difference.
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/verify/LinePattern.h"
#include "verify/Toolchain.h"
#include "verify/Verify.h"
#include "verify/gen/Generator.h"

namespace korvid::verify {
namespace {

struct Miscompile {
  const char* what;
  const char* pattern;      // lines, '*' for any text within a line
  int line;                 // the line of the match that the mistake rewrites
  const char* replacement;  // nullptr: the line is dropped
  bool always;              // every program shows it, not only those whose values happen to
};

const std::vector<Miscompile>& Miscompiles() {
  static const std::vector<Miscompile> m = {
      {"load through Z kept after INC R31", "        ST      Z,R16\n        INC     R31\n        LD      R16,Z\n", 2,
       nullptr, true},
      {"load through Z kept after POP R31", "        ST      Z,R16\n        POP     R31\n        LD      R16,Z\n", 2,
       nullptr, true},
      {"reload dropped after a store through X", "        INC     R17\n        ST      X,R17\n        LDS     R16,", 2,
       nullptr, true},
      {"reload dropped after a store through Z", "        ST      Z,R17\n        LDS     R16,", 1, nullptr, true},
      {"word reload dropped after a store to buf+2", "        STS     buf+2,R17\n        LDS     R16,cell\n", 1,
       nullptr, true},
      {"slot reload dropped after a call that changes it", "        STS     *,R16\n        RCALL   slotwrite\n        LDD     R16,Y+2\n", 2,
       nullptr, true},
      {"variable forwarded across a pointer-parameter write",
       "        RCALL   paramwrite\n        LDS     R17,b*\n        ADD     R17,R16\n", 1, "        MOV     R17,R16",
       true},
      {"variable forwarded across a write through Z",
       "        RCALL   ptrwrite\n        LDS     R17,b*\n        ADD     R17,R16\n", 1, "        MOV     R17,R16", true},
      {"store back dropped after a store through X", "        ST      X,R17\n        ST      Z,R16\n", 1, nullptr, true},
      {"jump over COM dropped", "        RJMP    over.*\n        COM     R16\n", 0, nullptr, true},
      {"store dropped under a skip", "        SBRC    R20,*\n        STS     b*,R16\n        STS     b*,R17\n", 1,
       nullptr, false},
      {"store dropped before a load through a pointer",
       "        STS     *,R16\n        LD      R17,*\n        LDI     R18,*\n        STS     ", 0, nullptr, false},
      {"load dropped before a skipped call", "        LDI     R16,*\n        SBR*    R20,*\n        RCALL   proc", 0,
       nullptr, false},
      {"load dropped that a skip over .DEB needs", "        LDI     R17,*\n        *\n.DEB\n        LDI     R17,", 0,
       nullptr, false},
      {"skipped load dropped as overwritten",
       "        SBRC    R20,*\n        LDI     R16,*\n        LDI     R16,*\n        STS     ", 1, nullptr, false},
      {"CLR dropped before the BREQ that reads it", "        CPI     R24,*\n        CLR     R16\n        BREQ    cpi.",
       1, nullptr, false},
  };
  return m;
}

// `program` with the mistake made at its first match; empty when there is none.
std::string Apply(const std::string& program, const Miscompile& m) {
  size_t at = FindPattern(program, m.pattern);
  if (at == std::string::npos) return {};
  size_t start = program.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  for (int i = 0; i < m.line; ++i) start = program.find('\n', start) + 1;
  size_t end = program.find('\n', start) + 1;
  return program.substr(0, start) + (m.replacement ? std::string(m.replacement) + "\n" : "") + program.substr(end);
}

TEST(IdiomMiscompile, EachMistakeAnIdiomIsForIsReported) {
  try {
    RequireToolchain();
  } catch (const MissingToolError& e) {
    GTEST_SKIP() << e.what();
  }
  VerifyOptions options;
  options.budget = 1'000'000;
  for (const Miscompile& m : Miscompiles()) {
    // A mistake that shows only for some values gets more programs to show in.
    const int tries = m.always ? 3 : 12;
    int tried = 0, reported = 0;
    for (std::uint64_t seed = 1; seed <= 200 && tried < tries; ++seed) {
      const std::string original = gen::GenerateProgram(seed);
      const std::string wrong = Apply(original, m);
      if (wrong.empty()) continue;
      VerifyResult r = VerifyPrograms(original, wrong, options);
      ASSERT_NE(r.verdict, VerifyResult::Verdict::CouldNotCheck) << m.what << ", seed " << seed << ": " << r.message;
      bool different = r.verdict == VerifyResult::Verdict::Different;
      EXPECT_TRUE(different || !m.always) << m.what << ": not reported for seed " << seed;
      reported += different;
      ++tried;
    }
    EXPECT_GT(tried, 0) << m.what << ": no program has the idiom";
    EXPECT_GT(reported, 0) << m.what << ": reported in none of " << tried << " programs";
    std::printf("idiom miscompile: %-50s reported in %d of %d programs\n", m.what, reported, tried);
  }
}

}  // namespace
}  // namespace korvid::verify
