// Saves of the frame pointer around code that moves it: PUSH R28 / PUSH R29 /
// parameters onto the Y frame / a call / POP R29 / POP R28, as the compiler
// writes a call whose parameters it passes on the Y frame. Y comes back by
// itself, or a known number of bytes is left (one ADIW, or joined with the
// release after the restore), beside the near misses where the restore is
// needed: the flags after it read, a branch or skip in the stretch, routines
// that look at their caller's bytes or move Y by different amounts, an
// indirect call, too many bytes left.
#include "verify/gen/Idioms.h"

namespace korvid::verify::gen {

namespace {

enum TSaveForm {
  kTakenOff,     // parameters the routine takes off again: the save goes
  kLeft,         // bytes left: one ADIW
  kReserved,     // SBIW in the stretch: one ADIW
  kJoined,       // bytes left joined with the release after the restore
  kPushPop,      // a PUSH/POP pair of another register inside
  kNested,       // Y borrowed as a data pointer inside, under its own save
  kFlagsRead,    // near misses from here on
  kBranch,
  kSkip,
  kOddCallee,
  kIndirect,
  kTooMany,
  kLabelBefore,
  kForms
};

void PushBytes(Builder& b, int n) {
  for (int i = 0; i < n; ++i) {
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op("ST", "-Y,R18");
  }
}

void CallAnyProcedure(Builder& b) {
  if (!b.procedures.empty()) b.Op("RCALL", b.rng.Pick(b.procedures));
}

}  // namespace

void SaveRoutines(Builder& b) {
  // Pops past its return address (three bytes on the largest devices) to the
  // caller's last pushed byte, and puts everything back. The registers that
  // held return address bytes are cleared: a program whose results depend on
  // where its code lies changes with every change of size.
  BeginRoutine(b, "peek", 0);
  for (const char* r : {"R30", "R31", "R19", "R18"}) b.Op("POP", r);
  for (const char* r : {"R18", "R19", "R31", "R30"}) b.Op("PUSH", r);
  b.Op("STS", "vol,R18");
  for (const char* r : {"R19", "R30", "R31"}) b.Op("LDI", std::string(r) + ",0");
  EndRoutine(b, "peek");
  // Leaves Y one byte lower on one path only.
  BeginRoutine(b, "ymove", 0);
  b.Op("SBRS", "R18,0");
  b.Op("SBIW", "R28,1");
  EndRoutine(b, "ymove");
}

void FrameSaves(Builder& b) {
  const int form = b.rng.Below(kForms);
  const int pushed = b.rng.Range(1, 3);
  const int reserved = form == kJoined || form == kLabelBefore ? b.rng.Range(1, 20) : form == kTooMany ? 62 : 0;
  std::string release;
  if (reserved > 0) b.Op("SBIW", "R28," + std::to_string(reserved));
  if (form == kLabelBefore) {  // the release is entered from before the save too
    release = b.NewLabel("release");
    b.Op("LDS", "R18," + b.AnyByte().name);
    b.Op("TST", "R18");
    b.Op("BREQ", release);
  }
  b.Op("PUSH", "R28");
  b.Op("PUSH", "R29");
  switch (form) {
    case kTakenOff:
      if (!b.functions.empty()) {
        const auto& f = b.rng.Pick(b.functions);
        PushBytes(b, f.params);
        b.Op("RCALL", f.name);
        b.Op("STS", b.AnyByte().name + ",R17");
      }
      break;
    case kReserved:
      b.Op("SBIW", "R28," + std::to_string(pushed + 1));
      b.Op("LDS", "R18," + b.AnyByte().name);
      b.Op("STD", "Y+" + std::to_string(pushed) + ",R18");
      CallAnyProcedure(b);
      break;
    case kPushPop:
      b.Op("PUSH", "R20");
      PushBytes(b, pushed);
      CallAnyProcedure(b);
      b.Op("POP", "R20");
      break;
    case kNested:
      PushBytes(b, pushed);
      b.Op("PUSH", "R28");
      b.Op("PUSH", "R29");
      b.Op("LDI", "R28," + Lo("buf"));
      b.Op("LDI", "R29," + Hi("buf"));
      b.Op("LD", "R17,Y");
      b.Op("POP", "R29");
      b.Op("POP", "R28");
      b.Op("STS", b.AnyByte().name + ",R17");
      break;
    case kFlagsRead: {
      const std::string skip = b.NewLabel("flags");
      PushBytes(b, pushed);
      b.Op("CPI", "R18," + b.Imm());
      b.Op("POP", "R29");
      b.Op("POP", "R28");
      b.Op("BRNE", skip);
      b.Op("STS", b.AnyByte().name + ",R18");
      b.Label(skip);
      return;
    }
    case kBranch: {  // a second restore on the other path
      const std::string other = b.NewLabel("other"), done = b.NewLabel("done");
      PushBytes(b, pushed);
      b.Op("TST", "R18");
      b.Op("BRNE", other);
      b.Op("POP", "R29");
      b.Op("POP", "R28");
      b.Op("RJMP", done);
      b.Label(other);
      b.Op("POP", "R29");
      b.Op("POP", "R28");
      b.Op("STS", b.AnyByte().name + ",R18");
      b.Label(done);
      return;
    }
    case kSkip:
      PushBytes(b, pushed);
      b.Op(b.rng.Chance(50) ? "SBRC" : "SBRS", "R18," + std::to_string(b.rng.Below(8)));
      b.Op("ST", "-Y,R18");
      break;
    case kOddCallee:
      PushBytes(b, pushed);
      b.Op("RCALL", b.rng.Chance(50) ? "peek" : "ymove");
      break;
    case kIndirect: {
      const std::string target = b.procedures.empty() ? "ymove" : b.rng.Pick(b.procedures);
      PushBytes(b, pushed);
      b.Op("LDI", "R30," + Lo(target));
      b.Op("LDI", "R31," + Hi(target));
      b.Op("ICALL");
      const auto& stores = b.routineStores[target];
      b.stored.insert(b.stored.end(), stores.begin(), stores.end());
      break;
    }
    case kTooMany:
      if (b.rng.Chance(50)) {
        b.Op("SBIW", "R28,63");
        b.Op("SBIW", "R28,1");
      } else {
        PushBytes(b, 2);
      }
      break;
    default:  // kLeft, kJoined, kLabelBefore
      PushBytes(b, pushed);
      CallAnyProcedure(b);
      break;
  }
  b.Op("POP", "R29");
  b.Op("POP", "R28");
  if (!release.empty()) b.Label(release);
  if (reserved > 0) b.Op("ADIW", "R28," + std::to_string(reserved));
}

}  // namespace korvid::verify::gen
