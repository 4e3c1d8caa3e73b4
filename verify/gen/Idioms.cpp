// Data idioms: arithmetic, branches, loops and pointer access.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

void Arith8(Builder& b) {
  const Variable& x = b.AnyByte();
  const Variable& y = b.AnyByte();
  const Variable& z = b.AnyByte();
  b.Op("LDS", "R16," + x.name);
  b.Op("LDS", "R17," + y.name);
  static const std::vector<std::string> rr = {"ADD", "SUB", "AND", "OR", "EOR", "ADC", "SBC", "MOV"};
  static const std::vector<std::string> rk = {"SUBI", "ANDI", "ORI", "SBCI", "SBR", "CBR"};
  static const std::vector<std::string> r1 = {"INC", "DEC", "COM", "NEG", "LSL", "LSR", "ROL", "ROR", "ASR", "SWAP"};
  for (int i = b.rng.Range(1, 4); i > 0; --i) {
    switch (b.rng.Below(3)) {
      case 0: b.Op(b.rng.Pick(rr), "R16,R17"); break;
      case 1: b.Op(b.rng.Pick(rk), "R16," + b.HexImm()); break;
      default: b.Op(b.rng.Pick(r1), "R16"); break;
    }
  }
  b.Op("STS", z.name + ",R16");
}

void Arith16(Builder& b) {
  const Variable& x = b.AnyWord();
  const Variable& y = b.AnyWord();
  std::string lo = b.rng.Chance(50) ? "R24" : "R26";
  std::string hi = lo == "R24" ? "R25" : "R27";
  b.Op("LDS", lo + "," + x.name);
  b.Op("LDS", hi + "," + x.name + "+1");
  switch (b.rng.Below(4)) {
    case 0: b.Op(b.rng.Chance(50) ? "ADIW" : "SBIW", lo + "," + std::to_string(b.rng.Range(1, 63))); break;
    case 1: {
      // The compiler adds a constant by subtracting its negation, byte by byte.
      std::string k = std::to_string(b.rng.Range(1, 3000));
      b.Op("SUBI", lo + ",-" + k + " AND 0FFh");
      b.Op("SBCI", hi + ",-" + k + " SHRB 8");
      break;
    }
    case 2:
      b.Op("LDS", "R18," + y.name);
      b.Op("LDS", "R19," + y.name + "+1");
      b.Op("ADD", lo + ",R18");
      b.Op("ADC", hi + ",R19");
      break;
    default:
      b.Op("LDS", "R18," + y.name);
      b.Op("LDS", "R19," + y.name + "+1");
      b.Op("SUB", lo + ",R18");
      b.Op("SBC", hi + ",R19");
      break;
  }
  if (b.rng.Chance(30)) b.Op("MOVW", "R16," + lo);
  const Variable& z = b.AnyWord();
  b.Op("STS", z.name + "," + lo);
  b.Op("STS", z.name + "+1," + hi);
}

void Arith32(Builder& b) {
  const Variable& x = b.rng.Pick(b.longs);
  const Variable& y = b.rng.Pick(b.longs);
  for (int i = 0; i < 4; ++i) b.Op("LDS", "R" + std::to_string(16 + i) + "," + x.name + (i ? "+" + std::to_string(i) : ""));
  if (b.rng.Chance(50)) {
    for (int i = 0; i < 4; ++i) b.Op("LDS", "R" + std::to_string(22 + i) + "," + y.name + (i ? "+" + std::to_string(i) : ""));
    bool add = b.rng.Chance(50);
    for (int i = 0; i < 4; ++i)
      b.Op(add ? (i ? "ADC" : "ADD") : (i ? "SBC" : "SUB"), "R" + std::to_string(16 + i) + ",R" + std::to_string(22 + i));
  } else {
    std::string k = std::to_string(b.rng.Range(1, 100000));
    b.Op("SUBI", "R16,-" + k + " AND 0FFh");
    b.Op("SBCI", "R17,-" + k + " SHRB 8");
    b.Op("SBCI", "R18,0FFh");
    b.Op("SBCI", "R19,0FFh");
  }
  for (int i = 0; i < 4; ++i) b.Op("STS", y.name + (i ? "+" + std::to_string(i) : "") + ",R" + std::to_string(16 + i));
}

void BranchChain(Builder& b) {
  // case x of k1: r := a; k2: r := b; else r := c
  std::string done = b.NewLabel("chain");
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("ANDI", "R16,3");
  static const std::vector<std::string> jumps = {"BREQ", "BRNE", "BRLO", "BRSH", "BRLT", "BRGE"};
  int arms = b.rng.Range(1, 3);
  std::vector<std::string> labels;
  for (int i = 0; i < arms; ++i) {
    labels.push_back(b.NewLabel("arm"));
    b.Op("CPI", "R16," + std::to_string(b.rng.Below(4)));
    b.Op(b.rng.Pick(jumps), labels.back());
  }
  b.Op("LDI", "R17," + b.Imm());
  b.Op("RJMP", done);
  for (const std::string& l : labels) {
    b.Label(l);
    if (b.rng.Chance(30)) b.Op("CLR", "R17");
    else b.Op("LDI", "R17," + b.Imm());
    b.Op("RJMP", done);
  }
  b.Label(done);
  // if r <> 0 then flag := true (boolean test)
  std::string skip = b.NewLabel("bool");
  b.Op("CLR", "R18");
  b.Op("TST", "R17");
  b.Op("BREQ", skip);
  b.Op("SER", "R18");
  b.Label(skip);
  const Variable& result = b.AnyByte();
  b.Op("STS", result.name + ",R17");
  b.Op("STS", b.OtherByte(result).name + ",R18");
}

void CountedLoop(Builder& b) {
  std::string head = b.NewLabel("loop");
  b.Op("LDI", "R22," + std::to_string(b.rng.Range(1, 12)));
  b.Op("LDS", "R16," + b.AnyByte().name);
  b.Op("CLR", "R17");
  b.Line(".LOOP");
  b.Label(head);
  b.Op(b.rng.Chance(50) ? "ADD" : "EOR", "R17,R16");
  b.Op("INC", "R16");
  if (b.rng.Chance(30)) b.Op("LSR", "R16");
  b.Op("DEC", "R22");
  b.Op("BRNE", head);
  b.Line(".ENDLOOP");
  b.Op("STS", b.AnyByte().name + ",R17");
}

void FrameLoop(Builder& b) {
  // for i := n downto 1 do s := s + i, with i and s in two frame bytes reached through
  // the frame copy in Z that the compiler pushes at a loop head, Y+k with a step of k.
  // Beside it a byte pushed in the body, a copy of Y with a displacement, and the near
  // misses: the copy read by MOVW, released after the loop, read by a routine.
  std::string head = b.NewLabel("floop");
  const int k = b.rng.Chance(30) ? b.rng.Range(1, 2) : 0;
  const int form = b.rng.Below(8);
  const int base = k > 0 ? 2 : 0;  // i in Y+base, s in Y+base+1
  auto z = [k, base](int q) { return "Z+" + std::to_string(base + q - k); };
  b.Op("LDI", "R16," + std::to_string(b.rng.Range(1, 9)));
  b.Op("STD", "Y+" + std::to_string(base) + ",R16");
  b.Op("CLR", "R16");
  b.Op("STD", "Y+" + std::to_string(base + 1) + ",R16");
  b.Line(".LOOP");
  b.Op("MOVW", "R30,R28");
  if (k > 0) b.Op("ADIW", "R30," + std::to_string(k));
  b.Op("ST", "-Y,R31");
  b.Op("ST", "-Y,R30");
  b.Label(head);
  b.Op("LDD", "R16," + z(1));
  b.Op("LDD", "R17," + z(0));
  if (form == 1) {  // a byte pushed in the loop below the copy
    b.Op("ST", "-Y,R17");
    b.Op("LDD", "R19,Y+4");  // frame byte 1 past the copy and the pushed byte
    b.Op("LD", "R17,Y+");
    b.Op("ADD", "R17,R19");
    b.Op("SUB", "R17,R19");
  }
  if (form == 2) {  // &s as a copy of Y with a displacement past the copy
    b.Op("MOVW", "R26,R28");
    b.Op("ADIW", "R26,3");
    b.Op("LD", "R18,X");
    b.Op("STS", b.AnyByte().name + ",R18");
  }
  if (form == 3) {  // the copy read as a value: the loop stays
    b.Op("MOVW", "R26,R30");
    b.Op("LD", "R18,X");
    b.Op("STS", b.AnyByte().name + ",R18");
  }
  b.Op("ADD", "R16,R17");
  b.Op("STD", z(1) + ",R16");
  if (!b.procedures.empty() && b.rng.Chance(40)) {
    b.Op("RCALL", b.rng.Pick(b.procedures));
    b.Op("LDD", "R30,Y+0");  // the callee may change Z: reload the copy
    b.Op("LDD", "R31,Y+1");
  }
  b.Op("LDD", "R17," + z(0));
  b.Op("DEC", "R17");
  b.Op("STD", z(0) + ",R17");
  b.Op("BRNE", head);
  // The copy released inside the loop's markers, or after them as a near miss.
  const bool inside = form != 4;
  if (inside) b.Op("ADIW", "R28,2");
  b.Line(".ENDLOOP");
  if (!inside) b.Op("ADIW", "R28,2");
  if (form == 5) {  // Z read after the loop: it still holds the copy
    b.Op("LD", "R18,Z");
    b.Op("STS", b.AnyByte().name + ",R18");
  }
  b.Op("LDD", "R16,Y+" + std::to_string(base + 1));
  b.Op("STS", b.AnyByte().name + ",R16");
}

void PointerAccess(Builder& b) {
  const Variable& v = b.AnyWord();
  std::string ptr = b.rng.Pick(std::vector<std::string>{"X", "Z"});
  std::string lo = ptr == "X" ? "R26" : "R30", hi = ptr == "X" ? "R27" : "R31";
  std::string target;
  switch (b.rng.Below(3)) {
    case 0: target = v.name; break;
    case 1: target = b.AnyByte().name; break;
    default: target = "buf+" + std::to_string(b.rng.Below(8)); break;
  }
  b.Op("LDI", lo + "," + Lo(target));
  b.Op("LDI", hi + "," + Hi(target));
  switch (b.rng.Below(4)) {
    case 0: {  // store of another value through the pointer between a store and a load of the variable
      int value = b.rng.Below(256);
      b.Op("LDI", "R16," + std::to_string(value));
      b.Op("STS", target + ",R16");
      b.Op("LDI", "R17," + std::to_string(b.OtherValue(value)));
      b.Op("ST", ptr + ",R17");
      b.Op("LDS", "R16," + target);
      b.Op("STS", b.AnyByte().name + ",R16");
      break;
    }
    case 1:  // load through the pointer between two stores of the variable
      b.Op("LDI", "R16," + b.Imm());
      b.Op("STS", target + ",R16");
      b.Op("LD", "R17," + ptr);
      b.Op("LDI", "R18," + b.Imm());
      b.Op("STS", target + ",R18");
      b.Op("STS", b.AnyByte().name + ",R17");
      break;
    case 2:  // post-increment copy of two bytes, then pre-decrement back
      b.Op("LD", "R16," + ptr + "+");
      b.Op("LD", "R17," + ptr + "+");
      b.Op("INC", "R16");
      b.Op("ST", "-" + ptr + ",R17");
      b.Op("ST", "-" + ptr + ",R16");
      break;
    default:
      if (ptr == "X") {  // X has no displacement: the variable reloaded after a store of another value
        b.Op("LDS", "R16," + target);
        b.Op("MOV", "R17,R16");
        b.Op("INC", "R17");
        b.Op("ST", "X,R17");
        b.Op("LDS", "R16," + target);
        b.Op("STS", b.AnyByte().name + ",R16");
      } else {
        b.Op("LDD", "R16,Z+1");
        b.Op("SUBI", "R16," + b.HexImm());
        b.Op("STD", "Z+" + std::to_string(b.rng.Range(0, 3)) + ",R16");
        b.Op("LDS", "R17," + target + "+1");
        b.Op("STS", b.AnyByte().name + ",R17");
      }
      break;
  }
}

void WordBytewise(Builder& b) {
  // A word and a byte name declared at one address: stores to one, loads of the other.
  struct Alias { const char* word; const char* byte; };
  static const std::vector<Alias> aliases = {{"w1", "w1lo"}, {"cell", "buf+2"}};
  const Alias& a = b.rng.Pick(aliases);
  const std::string word = a.word, byte = a.byte;
  if (b.rng.Chance(50)) {
    b.Op("LDI", "R16," + b.Imm());
    b.Op("STS", word + ",R16");
    b.Op("LDS", "R17," + byte);
    b.Op("INC", "R17");
    b.Op("STS", byte + ",R17");
    b.Op("LDS", "R18," + word);
    b.Op("STS", b.AnyByte().name + ",R18");
    b.Op("LDS", "R19," + word + "+1");
    b.Op("STS", word + "+1,R19");
  } else {  // the word reloaded after a store of another value to its byte name
    b.Op("LDS", "R16," + word);
    b.Op("MOV", "R17,R16");
    b.Op("INC", "R17");
    b.Op("STS", byte + ",R17");
    b.Op("LDS", "R16," + word);
    b.Op("STS", b.AnyByte().name + ",R16");
  }
}

void YPointer(Builder& b) {
  // Y borrowed as a data pointer: the frame pointer is saved on the hardware stack.
  const Variable& v = b.AnyWord();
  b.Op("PUSH", "R28");
  b.Op("PUSH", "R29");
  b.Op("LDI", "R28," + Lo(v.name));
  b.Op("LDI", "R29," + Hi(v.name));
  b.Op("LDD", "R16,Y+1");
  b.Op("LD", "R17,Y");
  b.Op("ADD", "R16,R17");
  b.Op("STD", "Y+1,R16");
  b.Op("POP", "R29");
  b.Op("POP", "R28");
  b.Op("LDS", "R18," + v.name + "+1");
  b.Op("STS", b.AnyByte().name + ",R18");
}

}  // namespace korvid::verify::gen
