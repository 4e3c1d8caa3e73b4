// The checker must catch real faults: generated programs with one deliberate corruption
// each are checked against their originals. Corruptions that change behaviour must be
// reported as different (nearly all of them: some hit a value that is overwritten before
// it is read, or a branch whose two paths compute the same);
// a dead store must be reported as the same behaviour.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>

#include "verify/Dialect.h"
#include "verify/Text.h"
#include "verify/Toolchain.h"
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

TEST(MutationTest, CorruptionsAreFoundAndDeadStoresAreNot) {
  try {
    RequireToolchain();
  } catch (const MissingToolError& e) {
    GTEST_SKIP() << e.what();
  }
  constexpr int kSeeds = 30;
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
  EXPECT_GE(100 * detected, 80 * total);
  EXPECT_EQ(deadSame, deadTried);
}

}  // namespace
}  // namespace korvid::verify
