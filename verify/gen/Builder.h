// What the generator's idioms write programs with: a seeded random source, the
// program's variables and the emitted lines.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace korvid::verify::gen {

// splitmix64: the same program for the same seed on every platform.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t Next();
  int Below(int n) { return static_cast<int>(Next() % static_cast<std::uint64_t>(n)); }
  int Range(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(int percent) { return Below(100) < percent; }
  template <class T>
  const T& Pick(const std::vector<T>& v) { return v[static_cast<size_t>(Below(static_cast<int>(v.size())))]; }

 private:
  std::uint64_t state_;
};

struct Variable {
  std::string name;
  unsigned address;
  int size;
};

class Builder {
 public:
  explicit Builder(std::uint64_t seed) : rng(seed) {}
  Rng rng;
  std::vector<std::string> lines;
  std::vector<Variable> bytes, words, longs;
  Variable buffer{"buf", 0, 16};
  std::vector<std::string> procedures;      // callable with no parameters, frame effect 0
  struct FrameFunction { std::string name; int params; int returns; };
  std::vector<FrameFunction> functions;     // parameters on the Y stack, result in R16/R17
  std::vector<std::string> pointerWriters;  // write the byte Z points at
  std::vector<std::string> slotWriters;     // change the caller's frame slot Y+2
  std::vector<std::string> paramWriters;    // write the byte whose address is their Y-stack parameter
  std::vector<std::string> pureRoutines;    // store nothing: R17 from R18, result in R17
  std::vector<std::string> farRoutines;     // across the data block from main: CALL only
  std::vector<std::string> farTails;        // near main, end in a JMP to a far routine
  std::vector<std::string> bigFrames;       // an 80-byte frame: R16 and R17 in, R17 out
  std::vector<std::string> pointerWalkers;  // walk their pointer parameter on the Y stack through Z
  std::vector<std::string> tailRoutines;    // procedures that end alike, one jumping into the other
  struct FlagRoutine { std::string name; std::vector<std::string> branches; };
  std::vector<FlagRoutine> flagRoutines;    // leave flags for the caller: the branches that read them
  int sourceLine = 1;
  int mainLocals = 4;                       // bytes of main's frame: Y+0 .. Y+3

  // What kind of program: own vector table and start-up code before the routines, how
  // many interrupt routines (INT0, INT1), and a data block that puts routines out of reach.
  bool ownStart = false;
  int interrupts = 0;
  bool far = false;
  int triggered = 0;                        // bit k: main raised INTk
  // What vector row k names: "isrk", or the library stub "SYSTEM.$hk" that saves every
  // register around a call of a handler marked REGS.
  std::vector<std::string> interruptEntries;
  std::vector<std::string> handlersCalledFromMain;

  std::vector<std::string> stored;           // STS targets since the last Observe()
  std::vector<std::string> called;           // RCALL and CALL targets so far
  std::map<std::string, std::vector<std::string>> routineStores;  // what each helper stores
  std::string vectorRoutine;                 // a routine only a vector row names, if any
  std::vector<std::string> phase3Calls;      // routines whose inner labels or address main calls

  void Line(const std::string& text) { lines.push_back(text); }
  // Sends every variable stored since the last call out of PORTD, so that each block's
  // effect reaches I/O even when a later block overwrites the variable.
  void Observe();
  void Op(const std::string& mnemonic, const std::string& operands = "");
  void Label(const std::string& name) { lines.push_back(name + ":"); }
  std::string NewLabel(const std::string& stem);
  void Marker();  // a ".LINE" marker for the next source line
  // An optimiser directive that changes no behaviour.
  void Directive();
  const Variable& AnyByte() { return rng.Pick(bytes); }
  const Variable& AnyWord() { return rng.Pick(words); }
  // A byte other than v: two results stored to one variable would hide the first.
  const Variable& OtherByte(const Variable& v);
  std::string Imm() { return std::to_string(rng.Below(256)); }
  // A byte other than `value`, so that reading the wrong one of the two shows.
  int OtherValue(int value) { return (value + rng.Range(1, 255)) % 256; }
  std::string HexImm();
  // Scratch registers of the idioms; R20/R21 are the ones kept across calls.
  std::string Scratch() { return "R" + std::to_string(rng.Range(16, 19)); }

 private:
  int labelCounter_ = 0;
};

std::string Lo(const std::string& symbol);  // "sym AND 0FFh"
std::string Hi(const std::string& symbol);  // "sym SHRB 8"

}  // namespace korvid::verify::gen
