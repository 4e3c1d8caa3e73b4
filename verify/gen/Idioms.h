// The compiler's idioms as program fragments. Each idiom leaves what it computed in
// memory or on an I/O port, ends, and keeps Y where it found it. To give a new pass's
// patterns to the soak, write an idiom and list it in Idioms().
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "verify/gen/Builder.h"

namespace korvid::verify::gen {

struct Idiom {
  const char* name;
  int weight;
  std::function<void(Builder&)> emit;
  bool (*fits)(const Builder&) = nullptr;  // null: fits every program
};

const std::vector<Idiom>& Idioms();
// Helper routines the idioms call; emitted before main.
void EmitRoutines(Builder& b);
// ".FUNC", ".RETURNS", the entry label; then ".ENDFUNC" after `ret` (none when empty).
void BeginRoutine(Builder& b, const std::string& name, int returns);
void EndRoutine(Builder& b, const std::string& name, const std::string& ret = "RET");

// Fragments of Idioms.cpp, IdiomsFlow.cpp, IdiomsFlags.cpp, IdiomsNearMiss.cpp and IdiomsJoins.cpp.
void Arith8(Builder& b);
void Arith16(Builder& b);
void Arith32(Builder& b);
void BranchChain(Builder& b);
void CountedLoop(Builder& b);
void FrameLoop(Builder& b);
void PointerAccess(Builder& b);
void WordBytewise(Builder& b);
void YPointer(Builder& b);
void CallFunction(Builder& b);
void CallProcedure(Builder& b);
void PointerWriterCall(Builder& b);
void SlotWriterCall(Builder& b);
void IoAccess(Builder& b);
void Skips(Builder& b);
void FlagsAfterKill(Builder& b);
void SleepWait(Builder& b);
void FlagOps(Builder& b);
void JumpTable(Builder& b);
void PointerReload(Builder& b);
void DuplicateLoads(Builder& b);
void LabelledInstructions(Builder& b);
void LoopTwoEntries(Builder& b);
void UnreachableRows(Builder& b);
void FarFlagBranch(Builder& b);
void RedundantClear(Builder& b);
void JumpToNext(Builder& b);
void CodeIsland(Builder& b);
void AddressAdjustment(Builder& b);
void PointerThenReload(Builder& b);
void SaveMatch(Builder& b);
void DeadLoadBeforeLoop(Builder& b);
void PointerBesideVariable(Builder& b);
// IdiomsMoves.cpp: register copies.
void CopyOfResult(Builder& b);
void CopyThenUse(Builder& b);
void PairCopy(Builder& b);
// IdiomsShortcuts.cpp: small patterns the peephole pass shortens.
// R16 := 1 or 2 by the flag `branch` tests, stored.
void StoreBranchOutcome(Builder& b, const std::string& branch);
void AdiwPair(Builder& b);
void MaskPair(Builder& b);
void KnownCompare(Builder& b);
void JumpChains(Builder& b);
void FrameStackBounce(Builder& b);
void PointerLastStep(Builder& b);
void StoreThenReload(Builder& b);
// IdiomsFrames.cpp: frame slots stored and loaded back, copies of Y, a frame past Y+63.
void FrameStores(Builder& b);
void FrameDeadStores(Builder& b);
void PointerCopies(Builder& b);
void BigFrameRoutine(Builder& b);  // emitted with the helper routines
void BigFrameCall(Builder& b);
// IdiomsClosing.cpp: shifts by four, the T flag set twice, tests of a result, pair moves.
void NibbleShift(Builder& b);
void TFlagTwice(Builder& b);
void TestOfResult(Builder& b);
void PairMoves(Builder& b);
void PairCopiedBack(Builder& b);
// IdiomsTails.cpp: boolean compare chains, paths and routines that end alike.
void BoolChains(Builder& b);
void CommonTails(Builder& b);
void SharedTailRoutines(Builder& b);  // emitted with the helper routines
void SharedTailCall(Builder& b);
void PushPopPairs(Builder& b);
// IdiomsSaves.cpp: PUSH R28 / PUSH R29 ... POP R29 / POP R28 around code that moves Y.
void SaveRoutines(Builder& b);  // emitted with the helper routines
void FrameSaves(Builder& b);
// IdiomsPointers.cpp: routines that walk a pointer parameter through Z.
void PointerWalkRoutines(Builder& b);  // emitted with the helper routines
void PointerWalkCall(Builder& b);
void CallPointerWalker(Builder& b, const std::string& name);
// Calls every helper routine that no idiom called, so that none is dead code.
void CallRemaining(Builder& b);

// IdiomsCalls.cpp: flags and register variables a call leaves to its caller.
void FlagRoutine(Builder& b, const std::string& name);
void CallFlagRoutine(Builder& b, const Builder::FlagRoutine& f);
void FlagsAfterCall(Builder& b);
void RegisterThroughPointer(Builder& b);

// IdiomsBitTest.cpp: bits tested by SYSTEM.TestBit8 and by ANDI masks.
void TestBit8Routine(Builder& b);  // emitted with the helper routines
void TestBit8Call(Builder& b);
void CallTestBit8IfUncalled(Builder& b);
void AndiMasks(Builder& b);

// IdiomsBooleans.cpp: booleans in a register decided by a test, and the tests around them.
void BooleanConstantTest(Builder& b);
void BooleanDecision(Builder& b);
void OriComTests(Builder& b);
void ShortCircuitAndOr(Builder& b);

// IdiomsStart.cpp: vector table and start-up code; routines out of RCALL reach.
void EmitStart(Builder& b);
void MainArguments(Builder& b);  // main's use of what the start-up code hands it
void EmitFarRoutines(Builder& b);
void FarTail(Builder& b, const std::string& name);
void FarCall(Builder& b);

// IdiomsInterrupts.cpp: interrupt routines, their enabling and raising.
void PlanInterruptEntries(Builder& b);  // before the vector table names them
void EmitInterruptRoutines(Builder& b);
void EnableInterrupts(Builder& b);
void InterruptTrigger(Builder& b);
void RaiseRemaining(Builder& b);  // raises every interrupt no idiom raised

// IdiomsInline.cpp: calls of routines smaller than a call, and the near misses.
void InlineRoutines(Builder& b);  // emitted with the helper routines
void InlineCall(Builder& b);
void CallInlineRoutines(Builder& b);  // calls every one no idiom called

// IdiomsRoutines.cpp: routines nothing calls and the near misses that something enters.
void EmitPhase3Routines(Builder& b);
void CallPhase3Routines(Builder& b);  // the near misses, from main
void UnnamedLabels(Builder& b);

}  // namespace korvid::verify::gen
