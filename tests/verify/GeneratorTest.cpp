#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <set>

#include "ToolchainTest.h"
#include "source/LineList.h"
#include "tests/verify/LinePattern.h"
#include "verify/Dialect.h"
#include "verify/Lowering.h"
#include "verify/Text.h"
#include "verify/Toolchain.h"
#include "verify/gen/Generator.h"

namespace korvid::verify {
namespace {

TEST(Generator, DeterministicAndLowerable) {
  EXPECT_EQ(gen::GenerateProgram(42), gen::GenerateProgram(42));
  EXPECT_NE(gen::GenerateProgram(42), gen::GenerateProgram(43));
  const Mcu& mcu = *FindMcu("atmega2560");
  for (std::uint64_t seed = 1; seed <= 60; ++seed)
    EXPECT_NO_THROW(Lower(gen::GenerateProgram(seed), mcu)) << "seed " << seed;
}

struct Shape {
  const char* what;
  const char* pattern;  // '*': any text within a line
};

// What a redundant-load or dead-code pass can get wrong, and what it may rightly simplify.
const std::vector<Shape>& Shapes() {
  static const std::vector<Shape> shapes = {
      {"early return after a bit skip", "        SBR*    R16,*\n        RET\n"},
      {"early return after CPSE", "        CPSE    R16,R17\n        RET\n"},
      {"early return after an I/O skip", "    GPIOR0,*\n        RET\n"},
      {"skipped call to a routine writing R16 first", "        SBR*    R20,*\n        RCALL   proc"},
      {"dead load before an unskipped call", "        LDI     R16,*\n        RCALL   proc"},
      {"sleep wait", "        RJMP    test.*\nwait.*:\n        SLEEP\ntest.*:\n        LDS     R16,ready\n"
                     "        TST     R16\n        BREQ    wait."},
      {"flag work under a far forward branch", "        CPI     R16,*\n        *\n        BR*far."},
      {"flag work under a far backward branch", "        DEC     R22\n        *\n        BRNE    far."},
      {".DEB between a skip and its instruction", "R21*\n.DEB\n"},
      {".LINE between a skip and its instruction", "R21*\n.LINE "},
      {".OPTI between a skip and its instruction", "R21*\n.OPTI "},
      {"function reading parameters at Y+q", "        LDD     R17,Y+*\n        LDD     R18,Y+"},
      {"parameters released before RET", "        ADIW    R28,*\n        RET\n.ENDFUNC"},
      {"Y local across a call", "        LDD     R18,Y+3\n        SUB     R17,R18\n"},
      {"R20 and R21 saved across a call", "        POP     R21\n        POP     R20\n"},
      {"slot reloaded after a call that changes it", "        RCALL   slotwrite\n        LDD     R17,Y+2\n"},
      {"same register reloaded from the slot", "        RCALL   slotwrite\n        LDD     R16,Y+2\n"},
      {"frame slot across a call that stores nothing", "        RCALL   pure\n        STS     *\n        LDD     R16,Y+1\n"},
      {"store, write through Z in the callee, load", "        STS     b*,R16\n        LDI     R30,b*\n"
                                                     "        LDI     R31,b*\n        RCALL   ptrwrite\n"},
      {"write through a pointer parameter, load", "        RCALL   paramwrite\n        LDS     R17,b"},
      {"loop head entered by an RJMP", "        RJMP    head."},
      {"carry of SUB through CLR into ROL", "        SUB     R24,R22\n        CLR     R24\n        ROL     R24\n"},
      {"carry of ADD through MOV into ADC", "        MOV     R16,R22\n        ADC     R16,R24\n"},
      {"Z of SBIW past a skip", "        SBIW    R24,1\n        SBRC    R21,0\n        INC     R22\n        BRNE"},
      {"flags of SUBI read as SREG", "        SUBI    R24,*\n        IN      R16,SREG\n"},
      {"Z of a second CLR", "        CPI     R24,*\n        CLR     R16\n        BREQ    cpi."},
      {"IJMP over RJMP rows", "        IJMP\njtab.*:\n        RJMP    case."},
      {"EIJMP over JMP rows", "        EIJMP\njtab.*:\n        JMP     case."},
      {"INC R31 between ST Z and LD Z", "        ST      Z,R16\n        INC     R31\n        LD      R16,Z\n"},
      {"LDI R31 between ST Z and LD Z", "        ST      Z,R16\n        LDI     R31,*\n        LD      R16,Z\n"},
      {"POP R31 between ST Z and LD Z", "        ST      Z,R16\n        POP     R31\n        LD      R16,Z\n"},
      {"chained skips over an overwritten store",
       "        SBRS    R21,*\n        SBRC    R20,*\n        STS     b*,R16\n        STS     b*,R17\n"},
      {"label on an instruction line", ": STS     b"},
      {"load through a pointer between two stores", ",R16\n        LD      R17,*\n        LDI     R18,*\n        STS     "},
      {"store through Z between a store and a load", "        ST      Z,R17\n        LDS     R16,"},
      {"variable reloaded after a store through X", "        INC     R17\n        ST      X,R17\n        LDS     R16,"},
      {"word stored, its byte name loaded", "        STS     w1,R16\n        LDS     R17,w1lo\n"},
      {"word stored, buf+2 loaded", "        STS     cell,R16\n        LDS     R17,buf+2\n"},
      {"word reloaded after a store to buf+2", "        STS     buf+2,R17\n        LDS     R16,cell\n"},
      {"RJMP to the next instruction", "        RJMP    next."},
      {"JMP to the next instruction", "        JMP     next."},
      {"RJMP rows after a label never loaded", "\nrows.*:\n        RJMP    case."},
      {"loop only its own branch enters", "*JMP*after.*\nisland.*:\n        LDS     R18,"},
      {"address adjusted by ADIW or SBIW", "        LDI     R*,buf* SHRB 8\n        *IW    R*,"},
      {"address adjusted by SUBI/SBCI", "        SUBI    R*,* AND 0FFh\n        SBCI    R*,* SHRB 8\n"},
      {"copy of a computed value", "        MOV     R*,R*\n        STS     *,R*\n"},
      {"copy after a label", "\ncopy.*:\n        MOV     R"},
      {"two byte copies into MOVW", "        MOV     R25,R17\n        MOVW    R20,R24\n"},
      {"two loads into MOVW", "        LDS     R2*\n        MOVW    R*,R24\n"},
      {"two ADIWs on a pair", "        ADIW    R*,*\n        ADIW    R*,"},
      {"compare with the constant just loaded", "        LDI     R19,1\n        *    R1*\n        CPI     R1"},
      {"skip over a jump over a jump", "        SBRC    R16,*\n        RJMP    over.*\n        RJMP    hop."},
      {"skipped jump to a jump", "        SBRS    R16,*\n        RJMP    hop."},
      {"byte bounced on the frame stack", "        ST      -Y,R*\n        LD      R*,Y+\n"},
      {"address adjustment after a label", "\nfold.*:\n        *I*    R*,"},
      {"pointer stepped by ADIW between a store and a load", "        ST      *,R17\n        ADIW    R*,*\n        LD      R16,"},
      {"pointer read after its accesses",
       "        MOV     R18,R*\n        STS     *,R18\n        STS     *,R16\n        LDI     R*,*\n        LDI     R*,*\n"},
      {"loop a live branch enters too", "        BREQ    island.*\n        *JMP*after."},
      {"store back with Z untouched", "        LD      R16,Z\n        LDS     R17,*\n        INC     R17\n        ST      Z,R16\n"},
      {"store back after a store through X", "        ST      X,R17\n        ST      Z,R16\n"},
      {"store back after a store by name", "        STS     buf+*,R17\n        ST      Z,R16\n"},
      {"CLR whose flags CPI sets again", "        CLR     R16\n        CPI     R24,*\n        BR*clr."},
      {"repeated LDI R16,0", "        LDI     R16,0\n        LDI     R17,*\n        LDI     R16,0\n"},
      {"dead load before a loop with one entry", "        LDI     R22,*\n.LOOP\nonce."},
      {"LDI R16 / SBRC / LDI R16 / LDI R16",
       "        LDI     R16,*\n        SBRC    R20,*\n        LDI     R16,*\n        LDI     R16,*\n"},
      {"frame copy in Z at a loop head", ".LOOP\n        MOVW    R30,R28\n        ST      -Y,R31"},
      {"volatile variable", "        STS     vol,"},
      {"pointer stepped past another byte of buf, then a reload",
       "Z,R17\n        LDS     R18,buf+"},
      {"store through a displaced Z beside a stored byte", "        STD     Z+*,R17\n"},
      {"pointer moved by ADIW or SBIW, then a load", "IW    R*,*\n        LD      R17,"},
      {"pointer copied by MOVW, then an access", "        MOVW    R*,R*\n        *      *R17"},
      // Programs that start themselves: vector rows, marked or not, then start-up code.
      {"marked vector table", ".VECTTAB\n        *JMP*start\n"},
      {"unmarked vector table", ".pas\n\n        *JMP*start\n"},
      {"RJMP row padded to four bytes", "        RJMP    isr*\n        NOP\n"},
      {"row of an unused interrupt", "        RETI\n        NOP\n"},
      {"start-up code hands R24/R25 to main and stores its result",
       "        LDI     R24,*\n        LDI     R25,*\n        CALL    main\n        STS     result,R16\n"},
      {"end of an own start", "halt:\n        CLI\n        SLEEP\n"},
      {"main uses the registers the start-up code handed it", "R16,R24\n        STS     b*,R16\n        STS     w*+1,R25\n"},
      // Interrupt routines that run, with the program's vector table and with the harness's.
      {"interrupt routine saves SREG", ".RETURNS -1\nisr*:\n.LINE *\n        PUSH    R16\n        IN      R16,SREG\n"},
      {"interrupt routine restores SREG", "        OUT     SREG,R16\n        POP     R16\n        RETI\n"},
      {"interrupt routines in the program's vector table", "        JMP     isr1\n"},
      {"interrupt routines in the harness's vector table", ".pas\n\n.FUNC isr0\n"},
      {"main enables INT0/INT1", "        OUT     EIMSK,R16\n        SEI\n"},
      {"compare, SBI trigger, branch", "        CPI     R1*,*\n        SBI     PORTD,*\n        BR"},
      {"compare, OUT trigger, branch", "        CPI     R1*,*\n        OUT     PORTD,R16\n        BR"},
      {"trigger by STS to PORTD's data address", "        STS     02Bh,R16\n"},
      {"SREG read after a trigger", "PORTD*\n        IN      R21,SREG\n"},
      {"interrupt count read around a trigger", "        LDS     R21,ticks\n        SUB     R21,R20\n"},
      // Labels without a colon where two paths meet.
      {"label without colon at a join", "        BR*hand.*\n        LDI     R17,*\nhand.*  "},
      {"load at a join without colon, as the fall-through's", "        STS     b*,R17\nhand.*  LDI     R17,"},
      {"label without colon at a loop head", "\nhand.*  ADD     R17,R16\n        DEC     R22\n        BRNE    hand."},
      // What a call leaves to its caller.
      {"branch on the flags a routine returns", "        RCALL   cmp*\n        BR"},
      {"routine returning a compare", "        CPI     R16,*\n        RET\n.ENDFUNC"},
      {"routine returning the carry", "        SEC\n        RET\n.ENDFUNC"},
      {"address of R23 in Z for a call", "        LDI     R30,rvar AND 0FFh\n        LDI     R31,rvar SHRB 8\n        RCALL   "},
      {"address of R5 in Z for a call", "        MOV     R5,R16\n        LDI     R30,rlow AND 0FFh\n"},
      {"address of a register variable as a Y-stack parameter",
       "        LDI     R18,r* AND 0FFh\n        ST      -Y,R18\n        RCALL   paramwrite\n"},
      {"register variable reloaded after the call", "        RCALL   ptrwrite\n        LDI     R23,"},
      {"register variable compared after the call", "        RCALL   ptrwrite\n        LDI     R17,*\n        CP*R*"},
      // Transfers across a data block beyond RCALL/RJMP reach, and near ones.
      {"data block", "fartab:\n        .BYTE   "},
      {"CALL across the data block", "        CALL    far0\n"},
      {"tail JMP across the data block", "        JMP     far0\n.ENDFUNC"},
      {"near JMP under a skip", "        SBR*    R16,*\n        JMP     near."},
      {"near CALL", "        CALL    proc"},
      // Bits tested by the run-time routine, and by masks before a branch.
      {"TestBit8 of the program's own", "SYSTEM.TestBit8:\n.LINE *\n        LD      _ACCB,X\n"},
      {"bit number, X, TestBit8, answer stored",
       "        LDI     _ACCA,*\n        LDI     R26,*\n        LDI     R27,*\n        RCALL   SYSTEM.TestBit8\n"
       "        STS     b*,_ACCA\n"},
      {"bit 0 by CLR _ACCA", "        CLR     _ACCA\n        LDI     R26,"},
      {"TestBit8 by CALL", "        CALL    SYSTEM.TestBit8\n"},
      {"label between the bit number and TestBit8", "\ntb.join.*:\n        LDI     R26,"},
      {"bit number past the byte", "        LDI     _ACCA,00*h\n"},
      {"call between the bit number and TestBit8", "        LDI     R27,*\n        RCALL   proc*\n        *CALL*SYSTEM.TestBit8"},
      {"_ACCA changed before TestBit8", "        INC     _ACCA\n        *CALL*SYSTEM.TestBit8"},
      {"skipped bit number load", "        SBR*    R18,*\n        LDI     _ACCA,*\n        *CALL*SYSTEM.TestBit8"},
      {"skipped TestBit8 call", "        SBR*    R18,*\n        *CALL*SYSTEM.TestBit8"},
      {"_ACCB read after TestBit8", "SYSTEM.TestBit8\n        STS     b*,_ACCA\n        STS     b*,_ACCB\n"},
      {"ANDI 0, flags read", "        ANDI    R*,0\n        IN      R19,SREG\n"},
      {"ANDI 0FFh after a logic instruction", "        OR*    R*,*\n        ANDI    R*,0FFh\n"},
      {"ANDI 0FFh after ADD", "        ADD     R*,R19\n        ANDI    R*,0FFh\n"},
      {"ANDI 0FFh after a label", "\nandi.*:\n        ANDI    R*,0FFh\n"},
      {"mask, branch over one instruction", "        ANDI    R*,*\n        BR*    bit.*\n        INC     R17\nbit.*:\n"},
      {"mask, LDI, branch", "        ANDI    R*,*\n        LDI     R19,*\n        BR*    bit."},
      {"mask, compare, branch", "        CPI     R*,*\n        BR*    bit.*\n        INC     R17\nbit.*:\n"},
      {"mask, CLR, branch", "        CLR     R19\n        BR*    bit."},
      {"mask, branch over two instructions", "        INC     R17\n        INC     R17\nbit."},
      {"masked register read after", "bit.*:\n        STS     b*,R17\n        STS     b*,R"},
      {"flags read after the masked branch", "bit.*:\n        STS     b*,R17\n        IN      R19,SREG\n"},
      // Booleans decided by a test, the tests around them, and their near misses.
      {"boolean of CP, LDI 0 and a branch", "        CP      R22,R23\n        LDI     R*,0\n        BR*    bool."},
      {"boolean of LDI 0FFh and a branch", "        LDI     R*,0FFh\n        BR*    bool."},
      {"boolean setter and its label", "        SER     R*\nbool.*:\n"},
      {"COM setter", "        COM     R*\nbool.*:\n"},
      {"boolean decided over the exit jump", "        TST     R*\n        BR*    then.*\n        *JMP    else.*\nthen.*:\n"},
      {"boolean by a skip", "        CLR     R*\n        SBR*    R22,*\n        SER     R"},
      {"boolean by a skip on I/O", "        SBI*    GPIOR0,*\n"},
      {"boolean by CPSE", "        CPSE    R22,R23\n"},
      {"boolean into T", "        CLT\n        TST     R*\n        BREQ    then.*\n        SET\nthen.*:\n"},
      {"boolean complemented into T", "        COM     R*\n        CLT\n        TST     R*\n        BREQ    then."},
      {"boolean copied by a compare", "        CPI     R1*,0*\n        LDI     R*,0*\n        BR*    copy.*\n        LDI     R*\ncopy.*:\n"},
      {"boolean: two head targets", "\nbool.*:\nbool.*:\n"},
      {"boolean: a label of another name", "\nother.*:\nbool.*:\n"},
      {"boolean: skip not right after the start", "        MOV     R24,R22\n        SBR*    R24,"},
      {"boolean: two BREQs", "        BREQ    bool.*\n        CPI     R23,*\n        BREQ    bool."},
      {"boolean: a back edge into its label", "        DEC     R24\n        BRNE    bool."},
      {"boolean: decided elsewhere", "        BR*    other.*\n        *JMP    else."},
      {"boolean: COM of another register", "        COM     R24\nbool.*:\n"},
      {"boolean: T line and an exit jump", "        *JMP    else.*\nthen.*:\n        *T\n"},
      {"boolean: read after the decision", "        ADD     R17,R1*\n        STS"},
      {"boolean: compare of another register", "        CPI     R23,0*\n        LDI     R*,0*\n        BR*    copy."},
      {"constant test", "        TST     R*\n        BR*    known.*\n        LDI     R17,"},
      {"constant test: start after a skip", "        SBR*    R22,*\n        *\n        TST     R*\n        BR*    known."},
      {"constant test: flags read by the next branch", "        BR*    known.*\n        BR*    known."},
      {"constant test: flags read by IN", "        BR*    known.*\n        IN      R17,SREG\n"},
      {"ORI 0FFh", "        ORI     R*,0FFh\n        STS"},
      {"ORI 0FFh, flags read", "        ORI     R*,0FFh\n        IN      R17,SREG\n"},
      {"ORI 0 after a logic instruction", "        *R*,R17\n        ORI     R*,0\n        BR"},
      {"COM of a boolean", "        SER     R1*\n        COM     R1*\n"},
      {"COM of any byte", "        MOV     R1*,R17\n        COM     R1"},
      {"AND/OR of two booleans", "        POP     R24\n        *R16,R24\n        TST     R16\n"},
      {"AND/OR whose right operand stores", "        PUSH    R16\n        STS     "},
      // Routines nothing calls, labels nothing names, and what still enters them.
      {"routine nothing calls, a marker before its entry", ".FUNC Blink*\n.*\nMAIN.Blink"},
      {"routine nothing calls after .VALID", ".VALID\nMAIN.Kept:"},
      {"routine between two .FILE lines naming one file", ".ENDFUNC\n\n.FILE "},
      {"bit mask table nothing reads", "        RET\nSYSTEM.BitMaskTab:\n        .BYTE   1\n"},
      {"bit mask table read by LPM", "        LPM\n"},
      {"routine called through its address", "        ICALL\n"},
      {"routine a vector row names", "JMP*MAIN.Vector\n"},
      {"inner label called", "        RCALL   MAIN.Inner.in\n"},
      {"branch on the interrupt flag into another routine", "        BRI*MAIN.Target.in\n"},
      {"routine running on into the next", "R16\n.ENDFUNC\n\n.FUNC Follow\n"},
      {"generated label", "\n_CSE0*:\n"},
      {"label in a skip's shadow", "\nshadow.*:\n"},
      {"label after .VALID", ".VALID\nvalid."},
      {"label with a one-letter last part", "\nx.y.*:\n"},
      // Frame slots stored and loaded back, stored over, reached through a copy of Y.
      {"frame store loaded back", "        STD     Y+*,R*\n        LDD     R*,Y+"},
      {"frame store, ALU and other slots, load", "        STD     Y+*\n        LDI     R1*\n        STD     Y+"},
      {"frame store and load with Y one byte lower", "        ST      -Y,R*\n        LDD     R*,Y+*\n        LD      R*,Y+\n"},
      {"frame load with Y moved as for a large frame", "        SBCI    R29,*\n        *D     *Y+*\n        SUBI    R28"},
      {"frame load with Y saved and restored", "        PUSH    R29\n        *D     *Y+"},
      {"frame slot written through a copy of Y", "        MOV     R31,R29\n        LDI     R19,*\n        STD     Z+"},
      {"frame load at a loop head", "\nagain.*:\n        *D     *Y+"},
      {"LD at the frame byte 0", "        STD     Y+0,R*\n        LD      R*,Y\n"},
      {"skipped frame store", "        SBR*    R18,*\n        STD     Y+"},
      {"frame store overwritten on both paths", "\nboth.*:\n        LDD     R19,Y+"},
      {"frame store, branch into a tight loop", "        BREQ    over.*\n        LDI     R19,3\nspin.*:\n"},
      {"frame store read on one path", "        LDD     R18,Y+*\n        STS     b*,R18\nread."},
      {"second frame store skipped", "        SBR*    R17,*\n        STD     Y+*,R17\n"},
      {"far frame slots reached by moving Y", "        SUBI    R28,0C0h\n        SBCI    R29,0FFh\n"},
      {"pointer copy of Y with a step", "        MOVW    R*,R28\n        ADIW    R*\n        LD"},
      {"pointer copy pushed", "        MOVW    R*,R28\n        PUSH    R"},
      {"pointer copy stepped first", "        LD      R19,*\n        LD*    R17,"},
      {"Y moved after the copy", "        SBIW    R28,1\n        LD*    R17,"},
      {"skipped pointer copy", "        SBR*    R18,*\n        MOVW    R*,R28\n"},
      {"pointer copy read after", "        STS     b*,R30\n"},
      {"displacement past 63 through a copy", "        ADIW    R30,60\n        LDD     R18,Z+6\n"},
      // Boolean compares with 0 or 255 and the carry branches after them.
      {"CPI 0 and a carry branch", "        CPI     R16,0\n        BR*    yes."},
      {"CPI 255, BREQ or BRNE, a carry branch", "        CPI     R16,0FFh\n        BR*    no.*\n        BR*    yes."},
      {"compare chain", "        CPI     R17,0*\nchain.*:\n"},
      {"compare chain label entered from elsewhere", "        BRLO    chain."},
      {"skipped boolean compare", "        SBR*    R17,*\n        CPI     R16,"},
      {"flags set again before the carry branch", "        CPI     R16,0*\n        *R17*\n        BR*"},
      {"flags kept before the carry branch", "        CPI     R16,0*\n        LDI     R18,*\n        BR*"},
      {"boolean compare with another value", "        CPI     R16,*\n        BR*    yes.*\n        LDI     R19,2\n"},
      // Paths and routines that end alike, and PUSH/POP pairs.
      {"tails alike, the last falling in", "        INC     R19\n        RJMP    exit.*\nthree."},
      {".LINE inside a tail", "        LDI     R16,1\n.LINE *\n        STS"},
      {"tails first differing at a skip", "        SBRS    R18,1\n        INC     R19\nexit."},
      {"tails of LDI 0 and CLR", "        CLR     R17\nexit."},
      {"tails differing in a data word", ".WORD   9403h\nexit."},
      {"PUSH and POP in a tail", "        PUSH    R16\n        INC     R19\n        POP     R16\n"},
      {"tail ending in a skipped jump", "        SBR*    R19,1\n        RJMP    exit."},
      {"routines that end alike", "        RJMP    tailsB.exit\n"},
      {"PUSH and POP around a join", "\njoin.*:\n        POP"},
      {"PUSH and POP around a read of SP", "        IN      R26,3Dh\n"},
      {"POP R17 closing PUSH R16", "        POP     R17\n        STS     b*,R16\n"},
      // Calls of routines smaller than a call, and their near misses.
      {"routine that only returns", "\ninl.empty:\n.LINE *\n        RET\n"},
      {"call with its note", ".BRANCH 18, inl.*\n        *CALL*inl."},
      {"call after a skip", "        SBR*    R16,*\n        *CALL*inl."},
      {"call after NO_ALLOW_INLINE", ".OPTI NO_ALLOW_INLINE\n        *CALL*inl."},
      {"routine that jumps away", "\ninl.jump:\n.LINE *\n        *JMP    proc"},
      {"routine that jumps across the data block", "\ninl.far:\n.LINE *\n        JMP     far0\n"},
      {"parameter pushed, called, released", "        ST      -Y,*\n        *CALL*inl.param\n        ADIW    R28,"},
      {"parameter in _ACCA", "        ST      -Y,_ACCA\n        *CALL*inl.param\n"},
      {"three parameter bytes released", "inl.param\n        ADIW    R28,3\n"},
      {"release whose flags are read", "        ADIW    R28,*\n        BRNE    rel."},
      {"delay routine called far", "        CALL    SYSTEM.UDELAY\n"},
      {"entry label called", "        *CALL*inl.entry\n"},
      // Handlers marked REGS behind the library's save-everything stub.
      {"stub saving every register", "        PUSH    R16\n        IN      R16,SREG\n        PUSH    R16\n"
                                     "        CALL    SYSTEM.SaveAllRegs\n        CALL    UNIT.h"},
      {"stub restoring R16 and SREG", "        OUT     SREG,R16\n        POP     R16\n        RETI\n"},
      {"vector row to a stub", "*JMP*SYSTEM.$h"},
      {"stub saving the registers its handler writes", "        PUSH    R19\n        CALL    UNIT.h"},
      {"stub writing a port after its call", "        CALL    UNIT.h*\n        LDS     R16,ticks\n        OUT     PORTB,R16\n"},
      // Interrupt routines that save more than they write, and their near misses.
      {"interrupt routine saving a register it leaves alone", "        PUSH    R1*\n        PUSH    R2*\n"},
      {"interrupt routine returning at two places", "        RETI\nisr.*:\n"},
      {"interrupt routine reading SREG for itself", "        CLI\n        OUT     SREG,R1*\n"},
      {"interrupt routine calling a label of its own", "        RCALL   isr*.sub\n"},
      {"interrupt routine leaving by a jump", "        RJMP    isr*.done\n"},
      {"REGS right after the handler's label", "\nUNIT.h*:\n.LINE *\n.OPTI REGS\n"},
      // Z walked from a frame load, and what stops a fold of its moves.
      {"a skip before a move of Z", "        SBR*    R20,*\n        ADIW    R30,1\n"},
      {"a branch past a post-increment to a read of Z", "        LD      R18,Z+\nptr.*:\n        LD      R19,Z\n"},
      {"the flags of a move of Z read", "        ADIW    R30,1\n        LD      R18,Z\n        BRNE"},
      {"a compare before Z is read", "        CP      R18,R20\n        MOV     R19,R30\n"},
      {"Z moved by SUBI and SBCI", "        SUBI    R30,1\n        SBCI    R31,0\n"},
      {"a slot of Z stored", "        STD     Y+*,R30\n"},
      {"Z loaded through itself", "        LDD     R31,Z+1\n        MOV     R30,R0\n"},
      {"Z moved, then copied into R24 or R26", "IW    R30,*\n        MOVW    R2*,R30\n"},
      {"Z moved, then copied into R18", "IW    R30,*\n        MOVW    R18,R30\n"},
      {"Z copied right after its load", "        LDD     R3*,Y+*\n        MOVW    R*,R30\n"},
      {"Z read, then copied", "        LD      R19,Z\n*\n        MOVW    R*,R30\n"},
      {"a branch past a plain access to a read of Z",
       "        ADIW    R30,1\n        TST     R20\n        BR*    ptr*\n        LDD     R18,Z+1\n"},
      {"Z copied into Y", "        MOVW    R28,R30\n"},
      {"Z pushed around a reload", "        PUSH    R3*\n        LDD     R3*,Y+*\n        LDD     R3*,Y+*\n        LDD     R18,Z+"},
      {"Z pushed around another pointer", "        PUSH    R3*\n        LDI     R30,buf*\n"},
      {"Z pushed high byte first", "        PUSH    R31\n        PUSH    R30\n"},
      {"another push inside pushed Z", "        PUSH    R3*\n        PUSH    R16\n        LD"},
      {"Y moved while Z is pushed", "        PUSH    R3*\n        LD      R19,Y+\n"},
      {"a slot stored while Z is pushed", "        STD     Y+*,R19\n        POP     R3*\n"},
      {"pushed Z popped at two sites", "        POP     R3*\n        INC     R16\n        RJMP    ptr*\nptr*:\n        POP     R3"},
  };
  return shapes;
}

// The soak checks seeds 1..200: every shape must be in several of them, so that a run
// of 200 never misses one.
TEST(Generator, EveryShapeInEverySoakRun) {
  std::vector<int> seen(Shapes().size(), 0);
  for (std::uint64_t seed = 1; seed <= 200; ++seed) {
    const std::string program = gen::GenerateProgram(seed);
    for (size_t i = 0; i < Shapes().size(); ++i)
      seen[i] += FindPattern(program, Shapes()[i].pattern) != std::string::npos;
  }
  for (size_t i = 0; i < Shapes().size(); ++i)
    EXPECT_GE(seen[i], 8) << Shapes()[i].what << ": in " << seen[i] << " of 200 programs";
}

// A far branch out of reach does not assemble; one well inside it tests nothing.
TEST(Generator, FarBranchesStayJustWithinReach) {
  int branches = 0;
  // Far branches are one idiom of many: 60 seeds hold enough of them.
  for (std::uint64_t seed = 1; seed <= 60; ++seed) {
    const std::string program = gen::GenerateProgram(seed);
    TLineList lines;
    lines.LoadFromText(program);
    const std::vector<std::string> text = SplitLines(program);
    std::vector<int> address(text.size() + 1, 0);  // bytes, at the start of each line
    std::map<std::string, size_t> labels;
    for (size_t i = 0; i < text.size(); ++i) {
      address[i + 1] = address[i] + lines.Line(static_cast<int>(i))->Size;
      DialectLine l = ParseDialectLine(text[i]);
      if (!l.label.empty() && l.word.empty()) labels[l.label] = i;
    }
    for (size_t i = 0; i < text.size(); ++i) {
      DialectLine l = ParseDialectLine(text[i]);
      if (!l.IsInstruction() || !l.word.starts_with("BR") || !l.operands.starts_with("far.")) continue;
      ASSERT_TRUE(labels.count(l.operands)) << l.operands;
      int words = (address[labels[l.operands]] - address[i + 1]) / 2;
      EXPECT_TRUE(words >= -64 && words <= 63) << "seed " << seed << ": " << text[i] << " reaches " << words;
      EXPECT_GE(std::abs(words), 55) << "seed " << seed << ": " << text[i] << " reaches " << words;
      ++branches;
    }
  }
  EXPECT_GT(branches, 5);
}

// Byte addresses of a program's lines as the optimiser sizes them, and its labels.
struct Layout {
  std::vector<std::string> text;
  std::vector<int> address;  // at the start of each line, one more at the end
  std::map<std::string, int> labels;
};

Layout LayOut(const std::string& program) {
  Layout layout;
  TLineList lines;
  lines.LoadFromText(program);
  layout.text = SplitLines(program);
  layout.address.assign(layout.text.size() + 1, 0);
  for (size_t i = 0; i < layout.text.size(); ++i) {
    layout.address[i + 1] = layout.address[i] + lines.Line(static_cast<int>(i))->Size;
    DialectLine l = ParseDialectLine(layout.text[i]);
    if (!l.label.empty() && l.word != ".EQU") layout.labels[l.label] = layout.address[i];
  }
  return layout;
}

// Relative transfers must reach, or the program does not assemble; the ones to a far
// routine must not, so that shortening them without a reach check fails; vector rows
// must stay four bytes apart.
TEST(Generator, TransfersReachAsIntendedAndVectorRowsStayApart) {
  int farTransfers = 0, tables = 0;
  for (std::uint64_t seed = 1; seed <= 100; ++seed) {
    const Layout layout = LayOut(gen::GenerateProgram(seed));
    const bool far = layout.labels.count("far0") > 0;
    for (size_t i = 0; i < layout.text.size(); ++i) {
      DialectLine l = ParseDialectLine(layout.text[i]);
      if (!l.IsInstruction() || !layout.labels.count(l.operands)) continue;
      const int words = (layout.labels.at(l.operands) - layout.address[i + 1]) / 2;
      const std::string where = "seed " + std::to_string(seed) + ": " + layout.text[i];
      if (l.word == "RJMP" || l.word == "RCALL") {
        EXPECT_TRUE(words >= -2048 && words <= 2047) << where;
      }
      if ((l.word == "JMP" || l.word == "CALL") && (l.operands == "far0" || (far && l.operands == "main"))) {
        EXPECT_FALSE(words >= -2048 && words <= 2047) << where << " reaches " << words;
        ++farTransfers;
      }
    }
    if (!layout.labels.count("start")) continue;
    ++tables;
    EXPECT_EQ(layout.labels.at("start"), 12) << "seed " << seed;
    for (size_t i = 0; i < layout.text.size() && layout.address[i] < 12; ++i) {
      DialectLine l = ParseDialectLine(layout.text[i]);
      if (l.word == "JMP" || l.word == "RETI" || (l.word == "RJMP" && l.operands != "halt")) {
        EXPECT_EQ(layout.address[i] % 4, 0) << "seed " << seed << ": " << layout.text[i];
      }
    }
  }
  EXPECT_GT(farTransfers, 20);
  EXPECT_GT(tables, 10);
}

// Interrupt routines run wherever main writes PORTD: one that changes a register or SREG
// for main would make a correct optimisation look like a fault.
TEST(Generator, InterruptRoutinesRestoreWhatTheyChange) {
  static const std::set<std::string> keep = {"PUSH", "POP", "STS", "OUT", "CPI", "CP", "TST", "RETI"};
  int routines = 0;
  for (std::uint64_t seed = 1; seed <= 100; ++seed) {
    const std::vector<std::string> text = SplitLines(gen::GenerateProgram(seed));
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] != ".RETURNS -1") continue;
      ++routines;
      std::vector<std::string> pushed, popped;
      std::vector<DialectLine> body;
      for (size_t k = i + 1; k < text.size() && text[k] != ".ENDFUNC"; ++k) {
        DialectLine l = ParseDialectLine(text[k]);
        if (!l.IsInstruction()) continue;
        body.push_back(l);
        if (l.word == "PUSH") pushed.push_back(l.operands);
        if (l.word == "POP") popped.insert(popped.begin(), l.operands);
        if (l.word == "RETI") {
          EXPECT_EQ(pushed, popped) << "seed " << seed;
          popped.clear();
        }
        const std::string dest = SplitCommas(l.operands).empty() ? "" : SplitCommas(l.operands)[0];
        if (!keep.count(l.word) && dest.starts_with("R")) {
          EXPECT_TRUE(std::find(pushed.begin(), pushed.end(), dest) != pushed.end())
              << "seed " << seed << ": " << text[k];
        }
      }
      // The library's stub: the library saves and restores the rest.
      if (body.size() > 3 && body[3].word + " " + body[3].operands == "CALL SYSTEM.SaveAllRegs") continue;
      ASSERT_GE(body.size(), 6u);
      EXPECT_EQ(body[1].word + " " + body[1].operands, "IN R16,SREG") << "seed " << seed;
      // Every RETI restores SREG; a routine leaving by a jump restores it there.
      for (size_t k = 0; k < body.size(); ++k)
        if (body[k].word == "RETI") {
          EXPECT_EQ(body[k - 2].word + " " + body[k - 2].operands, "OUT SREG,R16") << "seed " << seed;
          EXPECT_EQ(body[k - 1].word + " " + body[k - 1].operands, "POP R16") << "seed " << seed;
        }
    }
  }
  EXPECT_GT(routines, 20);
}

// Long programs call and jump with CALL and JMP where RCALL and RJMP no longer reach.
class GeneratorAssembly : public korvid::testing::TToolchainTest {};

TEST_F(GeneratorAssembly, ProgramsOfEverySizeAssemble) {
  const Mcu& mcu = *FindMcu("atmega2560");
  for (std::uint64_t seed : {3u, 5u}) {
    gen::GenOptions options;
    options.lines = 8000;
    EXPECT_NO_THROW(Assemble(Lower(gen::GenerateProgram(seed, options), mcu), mcu)) << "seed " << seed;
  }
}

}  // namespace
}  // namespace korvid::verify
