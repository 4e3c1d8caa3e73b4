// Routines that take a pointer into buf on the Y stack, load it into Z from
// their frame and walk it with ADIW, SBIW, post-increment and pre-decrement,
// reloading it from the slots now and then; beside them the near misses a
// fold of those moves must respect: skips, branches to a read of Z, flags of
// a move read, stores to the slots, Y moved, Z moved by SUBI/SBCI, Z read or
// loaded through itself. A walk may begin by copying Z into another pair, and
// may push Z around a read through another pointer into buf. Every access
// stays inside buf.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

// The last byte a walk may touch, from a start up to buf+3.
constexpr int kBufLast = 12;

class PointerWalk {
 public:
  explicit PointerWalk(Builder& b) : b_(b) {}

  void Emit() {
    local_ = b_.rng.Chance(40);
    if (local_) {
      b_.Op("SBIW", "R28,1");
      b_.Line(".FRAME 1");
    }
    b_.Op("LDS", "R20," + b_.AnyByte().name);
    b_.Op("CLR", "R16");
    b_.Op("CLR", "R17");
    const bool copyIntoY = b_.rng.Chance(15);
    if (copyIntoY) b_.Op("MOVW", "R26,R28");
    Load();
    if (copyIntoY) {
      // Loaded into R28 itself, the second load would be through the new Y.
      b_.Op("MOVW", "R28,R30");
      b_.Op("LD", "R19,Y");
      Take("R19");
      b_.Op("MOVW", "R28,R26");
      Load();
    } else if (b_.rng.Chance(55)) {
      Copy();
    }
    for (int steps = b_.rng.Range(4, 9); steps > 0; --steps) Step();
    End();
  }

 private:
  std::string Slot(int k) const { return "Y+" + std::to_string(k + (local_ ? 1 : 0) + yShift_); }
  std::string Acc() { return b_.rng.Chance(50) ? "R16" : "R17"; }
  // A loaded byte into the result, so that reading the wrong one shows.
  void Take(const std::string& r) { b_.Op(b_.rng.Chance(50) ? "ADD" : "EOR", Acc() + "," + r); }

  void Load() {
    if (b_.rng.Chance(75)) {
      b_.Op("LDD", "R30," + Slot(0));
      b_.Op("LDD", "R31," + Slot(1));
    } else {
      b_.Op("LDD", "R31," + Slot(1));
      b_.Op("LDD", "R30," + Slot(0));
    }
    pos_ = slotPos_;
  }

  void Step() {
    switch (b_.rng.Below(19)) {
      case 0: case 1:
        if (pos_ + 3 <= kBufLast) Move(b_.rng.Range(1, 3));
        break;
      case 2:
        if (pos_ >= 2) Move(-b_.rng.Range(1, 2));
        break;
      case 3: case 4: {
        if (pos_ > kBufLast - 1) break;
        b_.Op("LD", "R18,Z+");
        ++pos_;
        Take("R18");
        break;
      }
      case 5: {
        const int q = b_.rng.Range(0, kBufLast - pos_);
        b_.Op("LDD", "R18,Z+" + std::to_string(q));
        Take("R18");
        break;
      }
      case 6:
        if (pos_ < 1) break;
        b_.Op("LD", "R19,-Z");
        --pos_;
        Take("R19");
        break;
      case 7:
        if (pos_ > kBufLast - 2) break;
        b_.Op("MOV", "R18," + Acc());
        b_.Op("ST", "Z+,R18");
        b_.Op("STD", "Z+1,R18");
        ++pos_;
        break;
      case 8:
        Load();  // a reload from the same slots
        break;
      case 9: {  // a skip: the line after it runs on one path only
        b_.Op(b_.rng.Chance(50) ? "SBRC" : "SBRS", "R20," + std::to_string(b_.rng.Below(8)));
        if (pos_ + 1 <= kBufLast && b_.rng.Chance(60)) {
          b_.Op("ADIW", "R30,1");
          Load();  // Z differs by path: back to the slots
        } else {
          b_.Op("INC", "R16");
        }
        break;
      }
      case 10: {  // a branch: Z read at its target, or not
        const std::string on = b_.NewLabel("ptr");
        if (pos_ + 2 <= kBufLast && b_.rng.Chance(45)) {
          // Z moved before the branch, and not moved on the way to its target.
          Move(1);
          b_.Op("TST", "R20");
          b_.Op(b_.rng.Chance(50) ? "BREQ" : "BRNE", on);
          b_.Op("LDD", "R18,Z+1");
          Take("R18");
          b_.Label(on);
          b_.Op("LD", "R19,Z");
          Take("R19");
          Load();
          break;
        }
        b_.Op("TST", "R20");
        b_.Op(b_.rng.Chance(50) ? "BREQ" : "BRNE", on);
        if (pos_ <= kBufLast - 1) b_.Op("LD", "R18,Z+");
        b_.Label(on);
        if (pos_ <= kBufLast - 1 && b_.rng.Chance(50)) {
          b_.Op("LD", "R19,Z");
          Take("R19");
        }
        Load();
        break;
      }
      case 11: {  // the flags of a move read, or a compare before Z is read
        if (pos_ + 1 > kBufLast) break;
        const std::string done = b_.NewLabel("ptr");
        if (b_.rng.Chance(50)) {
          b_.Op("CP", "R16,R20");
          b_.Op("ADIW", "R30,1");
          ++pos_;
          b_.Op("LD", "R18,Z");
        } else {
          b_.Op("LD", "R18,Z");
          b_.Op("CP", "R18,R20");
          b_.Op("MOV", "R19,R30");
        }
        b_.Op("BRNE", done);
        b_.Op("INC", "R17");
        b_.Label(done);
        break;
      }
      case 12: {  // Z moved by SUBI/SBCI
        if (pos_ < 1) break;
        b_.Op("SUBI", "R30,1");
        b_.Op("SBCI", "R31,0");
        --pos_;
        break;
      }
      case 13:  // a slot stored: the reload after it gets Z as moved
        b_.Op("STD", Slot(0) + ",R30");
        slotPos_ = pos_;
        break;
      case 14: {  // Y a byte up past the local: the slots one displacement lower
        if (!local_) break;
        b_.Op("LD", "R19,Y+");
        yShift_ = -1;
        if (b_.rng.Chance(60)) Load();
        b_.Op("LD", "R18,Z");
        Take("R18");
        b_.Op("ST", "-Y,R19");
        yShift_ = 0;
        break;
      }
      case 16: case 17:
        Pushed();
        break;
      default:
        if (pos_ + 1 > kBufLast) break;
        b_.Op("ADIW", "R28,1");  // Y moved while Z is followed
        b_.Op("ADIW", "R30,1");
        ++pos_;
        b_.Op("LD", "R18,Z");
        Take("R18");
        b_.Op("SBIW", "R28,1");
        break;
    }
  }

  // Z copied into another pair right after its load, maybe moved first, and
  // read through the copy; Z is loaded again after.
  void Copy() {
    const std::string pair = b_.rng.Pick(std::vector<std::string>{"R24", "R26", "R18"});
    const bool readFirst = b_.rng.Chance(20);
    if (readFirst) {
      b_.Op("LD", "R19,Z");
      Take("R19");
    }
    if (b_.rng.Chance(60)) b_.Op("ADIW", "R30," + std::to_string(b_.rng.Range(1, 3)));
    b_.Op("MOVW", pair + ",R30");
    if (pair != "R26") b_.Op("MOVW", "R26," + pair);
    b_.Op("LD", "R18,X");
    Take("R18");
    Load();
  }

  // Z pushed around a read through the slots' pointer or another one into buf, and popped back:
  // with nothing pending at the pushes, or a move pending; with other pushes,
  // Y moved, a slot stored, or a second path popping, between.
  void Pushed() {
    if (b_.rng.Chance(75)) Load();
    const int pushed = pos_;
    const bool lowFirst = b_.rng.Chance(75);
    const std::string first = lowFirst ? "R30" : "R31", second = lowFirst ? "R31" : "R30";
    b_.Op("PUSH", first);
    b_.Op("PUSH", second);
    const int what = b_.rng.Below(6);
    if (what == 0) b_.Op("PUSH", "R16");
    if (what == 1 && local_) {
      b_.Op("LD", "R19,Y+");
      yShift_ = -1;
    }
    if (b_.rng.Chance(70)) {
      // Z from the slots again, read at a displacement the slots' pointer allows.
      Load();
      b_.Op("LDD", "R18,Z+" + std::to_string(b_.rng.Range(0, kBufLast - slotPos_)));
    } else {
      const std::string other = "buf+" + std::to_string(b_.rng.Range(0, kBufLast));
      b_.Op("LDI", "R30," + Lo(other));
      b_.Op("LDI", "R31," + Hi(other));
      b_.Op("LD", "R18,Z");
    }
    Take("R18");
    if (what == 0) b_.Op("POP", "R16");
    if (what == 1 && local_) {
      b_.Op("ST", "-Y,R19");
      yShift_ = 0;
    }
    if (what == 2) {
      // The slot keeps its value, yet it was stored.
      b_.Op("LDD", "R19," + Slot(0));
      b_.Op("STD", Slot(0) + ",R19");
    }
    if (what == 3) {
      const std::string two = b_.NewLabel("ptr"), out = b_.NewLabel("ptr");
      b_.Op("TST", "R20");
      b_.Op("BRNE", two);
      b_.Op("POP", second);
      b_.Op("POP", first);
      b_.Op("INC", "R16");
      b_.Op("RJMP", out);
      b_.Label(two);
      b_.Op("POP", second);
      b_.Op("POP", first);
      b_.Label(out);
    } else {
      b_.Op("POP", second);
      b_.Op("POP", first);
    }
    pos_ = pushed;
  }

  void Move(int k) {
    b_.Op(k > 0 ? "ADIW" : "SBIW", "R30," + std::to_string(k > 0 ? k : -k));
    pos_ += k;
  }

  void End() {
    switch (b_.rng.Below(4)) {
      case 0:  // Z read after the walk
        b_.Op("MOV", "R18,R30");
        Take("R18");
        break;
      case 1:  // Z loaded through itself
        b_.Op("LDD", "R0,Z+0");
        b_.Op("LDD", "R31,Z+1");
        b_.Op("MOV", "R30,R0");
        b_.Op("EOR", "R16,R30");
        break;
      default:
        break;
    }
    b_.Op("ADIW", "R28," + std::to_string(local_ ? 3 : 2));
  }

  Builder& b_;
  // Where Z points, and where the slots point, from the pointer passed.
  int pos_ = 0;
  int slotPos_ = 0;
  bool local_ = false;
  int yShift_ = 0;
};

}  // namespace

void PointerWalkRoutines(Builder& b) {
  for (int i = 0; i < 2; ++i) {
    const std::string name = "ptrwalk" + std::to_string(i);
    BeginRoutine(b, name, 2);
    PointerWalk(b).Emit();
    EndRoutine(b, name);
    b.pointerWalkers.push_back(name);
  }
}

void CallPointerWalker(Builder& b, const std::string& name) {
  const std::string target = "buf+" + std::to_string(b.rng.Below(4));
  b.Op("LDI", "R24," + Lo(target));
  b.Op("LDI", "R25," + Hi(target));
  b.Op("ST", "-Y,R25");
  b.Op("ST", "-Y,R24");
  b.Op("RCALL", name);
  const Variable& low = b.AnyByte();
  b.Op("STS", low.name + ",R16");
  b.Op("STS", b.OtherByte(low).name + ",R17");
}

void PointerWalkCall(Builder& b) {
  if (!b.pointerWalkers.empty()) CallPointerWalker(b, b.rng.Pick(b.pointerWalkers));
}

}  // namespace korvid::verify::gen
