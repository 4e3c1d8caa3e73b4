// Whether a register, flag or variable may still be read, or may be written,
// on some path from a line: through branches, jumps, skips, calls and returns.
// These answers decide whether a rewrite is safe, so whenever a path cannot be
// followed (indirect jumps and calls, unknown targets or instructions, data,
// the end of the program, a RET whose return size is unknown) the answer is
// "used" and "modified".
//
// Answers come from a line graph and a backward dataflow shared by all
// questions and rebuilt when the line list's Generation changes; questions
// with an end line or a pointer exemption search forward from there with an
// explicit work list. No search recurses per line, and loops end.
#pragma once
#include <cstdint>

namespace korvid {

class TLineList;
struct TVar;

// Pointer pairs a pointer read may be assumed not to reach `var` through.
namespace ptrexempt {
inline constexpr int R24 = 16, X = 32, Y = 64, Z = 128;
}  // namespace ptrexempt

// Is the value `Var` holds before line `From` read on some path from there?
// At a RET the caller's reads count: the return registers and the frame
// pointer, every register when the return size is unknown.
struct TUseQuery {
  TVar* Var = nullptr;
  int From = 0;
  // Flags (status-register bit order) asked about together with Var.
  std::uint8_t Flags = 0;
  // A path ends without a read at this line; -1: none.
  int To = -1;
  // Pointer pairs a pointer read may be assumed not to reach Var through (ptrexempt bits).
  int ExemptPointers = 0;
  // Every flag counts as read at a conditional branch.
  bool FlagsAtConditional = false;
  // Every RET counts as reading everything.
  bool ReturnsEverything = false;
};

// reachedReturn, when given: some path may reach a RET with Var untouched; it
// is set whenever the answer is true.
bool IsUsedLater(TLineList& lines, const TUseQuery& query, bool* reachedReturn = nullptr);
bool IsUsedLater(TLineList& lines, TVar* var, int from);

// True when `var` may be written on a path from line `from` (that line
// included) before line `to`, or, for `to` -1, before the path returns.
// viaCall: a call lies on those paths, so the answer may rest on a called routine.
bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to, bool& viaCall);
bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to = -1);

// Whether one of the flags in flagMask, as they are before line `from`, may be read.
bool FlagsUsedLater(TLineList& lines, int from, std::uint8_t flagMask);

}  // namespace korvid
