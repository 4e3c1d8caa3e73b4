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
class TLocalAnalysisList;
struct TVar;

// Pointer pairs a pointer read may be assumed not to reach `var` through.
namespace ptrexempt {
inline constexpr int R24 = 16, X = 32, Y = 64, Z = 128;
}  // namespace ptrexempt

// True when the value `var` holds before line `from` may be read on a path from
// `from`; with a flagMask (status-register bit order), also when one of those
// flags as they are before `from` may be read; stopAtConditional asks the same
// for every flag. At a RET the caller's reads count: the return registers and
// the frame pointer, every register when the return size is unknown, and with
// retResult everything. A path ends without a read at line `to` (-1: none).
// reachedReturn: some path may reach a RET with `var` untouched; it is true
// whenever the answer is true. clearMarks is accepted for callers and has no effect:
// answers are never kept past an edit.
bool IsUsedLater(TLineList& lines, TVar* var, int from, bool clearMarks, int ptrExempt, std::uint8_t flagMask,
                 bool stopAtConditional, bool retResult, int to, bool& reachedReturn);
bool IsUsedLater(TLineList& lines, TVar* var, int from);

// True when `var` may be written on a path from line `from` (that line
// included) before line `to`, or, for `to` -1, before the path returns.
// viaCall: a call lies on those paths, so the answer may rest on a called routine.
bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to, bool& viaCall);
bool IsModifiedBetween(TLineList& lines, TVar* var, int from, int to = -1);

// Whether the flags as they are before line `from` may still be read, by a
// conditional branch or anything else. True for a variable that is always live.
bool FlagsReachConditional(TLineList& lines, TVar* var, int from, bool retResult, int to, bool& reachedReturn);

// Whether one of the flags in flagMask, as they are before line `from`, may be read.
bool FlagsUsedLater(TLineList& lines, int from, std::uint8_t flagMask);

// The plain liveness question: `defaultResult` is the answer for a negative
// `from` and at a RET (with a known return size) that does not return `var`;
// retUsed makes every RET a read. Volatile variables are always used. The memo
// is accepted for callers; answers are shared through the line list instead.
bool IsUsedOnPath(TLineList& lines, TVar* var, int from, bool retUsed, TLocalAnalysisList* memo, bool defaultResult,
                  int to, bool& reachedReturn);

}  // namespace korvid
