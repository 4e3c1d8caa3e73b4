// A table of programs for one pass: for each, the lines the pass must remove
// and the lines it must keep, and, where the AVR tools are installed, a
// simulation showing the program behaves as before.
#pragma once
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "../passes/RunPass.h"
#include "verify/Toolchain.h"
#include "verify/Verify.h"

namespace korvid::testing {

// Generated lines are laid out in columns: whole lines are compared without the spacing.
inline bool Contains(const std::string& text, const std::string& line) {
  auto squeeze = [](const std::string& s) {
    std::string out;
    for (char c : s)
      if (c != ' ' && c != '\t') out += c;
    return out;
  };
  return ("\n" + squeeze(text)).find("\n" + squeeze(line)) != std::string::npos;
}

inline bool ToolchainPresent() {
  try {
    verify::RequireToolchain();
  } catch (const verify::MissingToolError&) {
    return false;
  }
  return true;
}

struct TCase {
  const char* Name;
  std::string Program;
  std::vector<std::string> Gone;
  std::vector<std::string> Kept;
};

inline void ExpectCases(const TPass& pass, const std::vector<TCase>& cases, bool simulated = true,
                        const std::set<std::string, std::less<>>& enabled = {}) {
  const bool simulate = simulated && ToolchainPresent();
  for (const TCase& c : cases) {
    const std::string after = RunPass(c.Program, pass, {}, enabled);
    for (const std::string& line : c.Gone) EXPECT_FALSE(Contains(after, line + "\n")) << c.Name << ": " << line;
    for (const std::string& line : c.Kept) EXPECT_TRUE(Contains(after, line + "\n")) << c.Name << ": " << line;
    if (!simulate) continue;
    verify::VerifyOptions options;
    options.budget = 200'000;
    verify::VerifyResult result = verify::VerifyPrograms(c.Program, after, options);
    EXPECT_EQ(result.verdict, verify::VerifyResult::Verdict::Same) << c.Name << ": " << result.message;
  }
}

}  // namespace korvid::testing
