// Memory variables: compared by the bytes they occupy, reachable through
// pointers and calls, and alive past every return.
#include <gtest/gtest.h>

#include "analysis/PathSearch.h"
#include "tests/analysis/PathTestSupport.h"

namespace korvid {
namespace {

constexpr const char* kDeclarations =
    "v .EQU 0100h ; var data byte\n"
    "w .EQU 0100h ; var data word\n"
    "u .EQU 0104h ; var data byte\n";

struct TMemoryCase {
  const char* Name;
  const char* Code;  // the line after ";a" is asked about
  bool Used;
};

TEST(PathSearchMemory, StoresStayWhileAnythingMayReadTheBytes) {
  const TMemoryCase cases[] = {
      {"overwritten", " STS v,R16 ;a\n STS v,R18\n RET\n", false},
      {"read through a pointer", " LDI R30,v AND 0FFh\n STS v,R16 ;a\n LD R17,Z\n STS v,R18\n RET\n", true},
      {"no pointer is made from its address", " STS v,R16 ;a\n LD R17,Z\n STS v,R18\n RET\n", false},
      {"the pointer holds another address",
       " LDI R30,u AND 0FFh\n LDI R31,u SHRB 8\n LDI R26,v AND 0FFh\n STS v,R16 ;a\n LD R17,Z\n STS v,R18\n RET\n",
       false},
      {"the pointer steps back onto it",
       " LDI R30,v+1 AND 0FFh\n LDI R31,v+1 SHRB 8\n STS v,R16 ;a\n LD R17,-Z\n STS v,R18\n RET\n",
       true},
      {"read under another name", " STS v,R16 ;a\n LDS R17,w\n STS v,R18\n RET\n", true},
      {"other bytes read", " STS v,R16 ;a\n LDS R17,u\n STS v,R18\n RET\n", false},
      {"a call may read it", " STS v,R16 ;a\n RCALL f\n STS v,R18\nf: RET\n", true},
      {"alive after the return", " STS v,R16 ;a\n RET\n", true},
      {"overwritten on one path only", " STS v,R16 ;a\n SBRC R20,0\n STS v,R18\n RET\n", true},
  };
  for (const TMemoryCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(std::string(kDeclarations) + testing::AsCalledRoutine(c.Code, "0"));
    TVar* v = lines.Vars.Find("v");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(IsUsedLater(lines, v, testing::LineOf(lines, ";a") + 1), c.Used) << c.Name;
  }
}

TEST(PathSearchMemory, WritesThroughPointersCallsAndAliasesModify) {
  const TMemoryCase cases[] = {
      {"untouched", " LDS R16,v ;a\n INC R16\n LDS R16,v\n RET\n", false},
      {"pointer store", " LDI R26,v AND 0FFh\n LDS R16,v ;a\n ST X,R17\n LDS R16,v\n RET\n", true},
      {"pointer store, no address taken", " LDS R16,v ;a\n ST X,R17\n LDS R16,v\n RET\n", false},
      {"pointer from a cleared high byte, moved on",
       " CLR R27\n LDS R26,u\n ADIW R26,32\n LDS R16,v ;a\n ST X,R17\n LDS R16,v\n RET\n", true},
      {"pointer store to another address",
       " LDI R26,u AND 0FFh\n LDI R27,u SHRB 8\n LDI R30,v AND 0FFh\n LDS R16,v ;a\n ST X,R17\n LDS R16,v\n RET\n",
       false},
      {"pointer store into the word", " LDI R26,w+1 AND 0FFh\n LDI R27,w+1 SHRB 8\n LDS R16,v ;a\n ST X,R17\n RET\n",
       false},
      {"word alias", " LDS R16,v ;a\n STS w,R17\n LDS R16,v\n RET\n", true},
      {"other bytes", " LDS R16,v ;a\n STS u,R17\n LDS R16,v\n RET\n", false},
      {"call", " LDS R16,v ;a\n RCALL f\n LDS R16,v\nf: RET\n", true},
  };
  for (const TMemoryCase& c : cases) {
    TLineList lines;
    lines.LoadFromText(std::string(kDeclarations) + c.Code);
    int from = testing::LineOf(lines, ";a") + 1;
    EXPECT_EQ(IsModifiedBetween(lines, lines.Vars.Find("v"), from, from + 1), c.Used) << c.Name;
  }
}

TEST(PathSearchMemory, AddressTakenRegistersAreReadThroughPointers) {
  TLineList lines;
  lines.LoadFromText(testing::AsCalledRoutine(
      " LDI R30,R5\n"   // +0: takes the address of R5
      " LDI R5,1\n"     // +1
      " LD R16,Y\n"     // +2
      " CLR R5\n"       // +3
      " RET\n"));       // +4
  const int b = testing::kRoutineBodyLine;
  EXPECT_TRUE(IsUsedLater(lines, lines.RegisterVar[5], b + 2));
  EXPECT_FALSE(IsUsedLater(lines, {.Var = lines.RegisterVar[5], .From = b + 2, .ExemptPointers = ptrexempt::Y}));
}

}  // namespace
}  // namespace korvid
