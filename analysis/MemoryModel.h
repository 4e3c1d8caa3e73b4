// Which memory variables a pointer may reach, and which one access touches.
// An address is taken when a variable's name, alone or with an offset,
// appears in any operand other than the address of an LDS or STS: "LDI
// R30,v AND 0FFh", ".ADDR v", "LDI R31,v+4 SHRB 8". A pointer made from it
// may walk on through whatever lies above v, so every byte from the lowest
// taken address up counts as reachable; when a pointer's high byte is loaded
// from a number (LDI, CLR, SER), or from a name that is no memory variable,
// every byte does. The bound only ever moves down, so a rewrite can never
// hide an address.
#pragma once

namespace korvid {

class TLineList;
struct TLine;
struct TVar;

// Notes the addresses the line's operands take.
void MarkAddressesTaken(TLineList& lines, const TLine& line);
// The same over the whole program, once every name is declared.
void MarkAddressesTaken(TLineList& lines);

// Whether an access through a pointer whose value is unknown may touch the
// variable; a register only when its address is taken.
bool PointerMayReach(const TVar& var);

// Whether the pointer access on line `index` may touch the variable: only the
// byte it reaches when the pointer's value is known (see TPointerTargets),
// otherwise whatever a pointer may reach.
bool PointerAccessMayTouch(const TLineList& lines, int index, const TVar& var);

}  // namespace korvid
