#include "verify/Lowering.h"

#include <map>
#include <optional>
#include <set>

#include "verify/Dialect.h"
#include "verify/Expression.h"
#include "verify/Instructions.h"
#include "verify/Text.h"

namespace korvid::verify {
namespace {

// An error that already names its line.
struct LocatedError : LoweringError {
  using LoweringError::LoweringError;
};

// Directives of the compiler that only steer the compiler's tools or the optimiser:
// they emit no code and become comments.
const std::set<std::string>& CommentDirectives() {
  static const std::set<std::string> s = {
      ".FUNC", ".ENDFUNC", ".LINE", ".XLINE", ".FILE", ".LOOP", ".ENDLOOP", ".BLOCK", ".ENDBLOCK", ".BRANCH",
      ".FRAME", ".RETURNS", ".DEB", ".OPTI", ".OPT_", ".OPTI_QUICK", ".OPT__QUICK", ".STARTCODE", ".VALID",
      ".INLINE", ".NOSINLINE", ".NOTINLINE", ".USEINLINE", ".ASM", ".ENDASM", ".UNIT", ".LARGE", ".MEDIUM",
      ".SMALL", ".OPT_RET", ".ENTRY", ".ENTRYMAIN", ".ENTRYBOOT", ".ENTRYUNIT", ".VECTTAB", ".VECTTABE",
      ".VECTTAB_B", ".VECTTABE_B", ".XDATASTART", ".END", ".ENDCODE", ".EQU"};
  return s;
}

bool IsCommentDirective(const std::string& word) {
  std::string u = Upper(word);
  if (CommentDirectives().count(u)) return true;
  // ".ANALYSIS" with any letter in its fourth place.
  return u.size() == 9 && u.substr(0, 3) == ".AN" && u.substr(4) == "LYSIS";
}

struct Routine {
  int first = 0, last = 0;
  std::string returns;  // operand of ".RETURNS", empty when none
  std::string entry;  // first label
};

bool IsDataDirective(const std::string& word) {
  return word == ".BYTE" || word == ".WORD" || word == ".WORDD" || word == ".ADDR" || word == ".ADDR32" ||
         word == ".ASCII";
}

class Lowerer {
 public:
  Lowerer(const std::string& program, const Mcu& mcu) : mcu_(mcu) {
    Load(program, false);
    Load(RuntimeSource(), true);
  }

  LoweredProgram Run() {
    Collect();
    Emit();
    return std::move(out_);
  }

 private:
  [[noreturn]] void Fail(int index, const std::string& why) const {
    const SourceLine& l = out_.lines[index];
    throw LocatedError(std::string(l.runtime ? "runtime line " : "line ") + std::to_string(l.number) + ": " + why +
                        ": " + Trim(l.text));
  }

  void Load(const std::string& text, bool runtime) {
    std::string scope, markerLine, markerFile;
    int number = 0;
    for (const std::string& raw : SplitLines(text)) {
      int index = static_cast<int>(out_.lines.size());
      out_.lines.push_back({runtime, ++number, raw, markerLine, markerFile});
      DialectLine line;
      try {
        line = ParseDialectLine(raw);
      } catch (const LoweringError& e) {
        Fail(index, e.what());
      }
      if (!scope.empty()) {
        auto rescope = [&](std::string& s) {
          for (size_t p = s.find("%."); p != std::string::npos; p = s.find("%.", p + scope.size()))
            s.replace(p, 1, scope);
        };
        rescope(line.label);
        rescope(line.operands);
      }
      std::string word = Upper(line.word);
      if (word == ".UNIT") scope = line.operands;
      if (word == ".LINE" || word == ".XLINE") markerLine = line.operands;
      if (word == ".FILE") {
        markerFile = line.operands;
        markerLine = "1";
      }
      parsed_.push_back(line);
    }
  }

  void Collect() {
    std::vector<Routine> routines;
    std::optional<Routine> current;
    bool pendingMain = false, programCodeSeen = false;
    int runtimeStartUpEnd = -1;  // the runtime's first routine: its start-up code stands before it
    std::set<std::string> programLabels;
    for (size_t i = 0; i < parsed_.size(); ++i) {
      const DialectLine& l = parsed_[i];
      int index = static_cast<int>(i);
      std::string word = Upper(l.word);
      const bool runtime = out_.lines[i].runtime;
      if (!runtime && !programCodeSeen && (l.IsInstruction() || IsDataDirective(word) || word == ".ORG")) {
        programCodeSeen = true;
        out_.ownStart = !current.has_value();
      }
      if (runtime && runtimeStartUpEnd < 0 && word == ".FUNC") runtimeStartUpEnd = index;
      if (word == ".EQU") {
        if (l.label.empty()) Fail(index, ".EQU without a name");
        if (!equs_.emplace(Upper(l.label), index).second) Fail(index, "\"" + l.label + "\" declared twice");
        continue;
      }
      if (!l.label.empty()) {
        std::string key = Upper(l.label);
        if (pendingMain) {
          out_.mainLabel = l.label;
          pendingMain = false;
        }
        if (current && current->entry.empty()) current->entry = key;
        if (!runtime) programLabels.insert(key);
        labelLine_[key].push_back(index);
      }
      if (word == ".ENTRYMAIN") {
        if (l.operands == "$")
          pendingMain = true;
        else
          out_.mainLabel = l.operands;
      } else if (word == ".FUNC") {
        current = Routine{index, index, {}, {}};
      } else if (word == ".RETURNS" && current) {
        current->returns = l.operands;
      } else if (word == ".ENDFUNC" && current) {
        current->last = index;
        routines.push_back(*current);
        current.reset();
      }
    }
    // A runtime routine whose entry the program defines itself is left out, and so is the
    // runtime's start-up when the program starts itself.
    skipped_.assign(parsed_.size(), false);
    for (const Routine& r : routines) {
      if (!out_.lines[r.first].runtime || !programLabels.count(r.entry)) continue;
      for (int i = r.first; i <= r.last; ++i) skipped_[i] = true;
    }
    for (size_t i = 0; out_.ownStart && i < parsed_.size(); ++i)
      if (out_.lines[i].runtime && static_cast<int>(i) < runtimeStartUpEnd) skipped_[i] = true;
    for (auto& [name, lines] : labelLine_) {
      std::erase_if(lines, [&](int i) { return skipped_[i]; });
      if (lines.size() > 1) Fail(lines[1], "label \"" + name + "\" defined twice");
    }
    std::erase_if(labelLine_, [](const auto& kv) { return kv.second.empty(); });
    for (const Routine& r : routines)
      if (!out_.lines[r.first].runtime && Trim(r.returns) == "-1" && !r.entry.empty())
        interruptRoutines_.push_back(r.entry);
    if (out_.ownStart) {
      out_.mainLabel.clear();
      return;
    }
    if (out_.mainLabel.empty() && labelLine_.count("MAIN")) out_.mainLabel = "main";
    if (out_.mainLabel.empty() || !labelLine_.count(Upper(out_.mainLabel)))
      throw LoweringError("no main routine: mark its label with .ENTRYMAIN or name it main");
    int mainLine = labelLine_[Upper(out_.mainLabel)].front();
    for (const Routine& r : routines)
      if (r.first <= mainLine && mainLine <= r.last && !r.returns.empty()) SetReturnRegisters(r);
  }

  void SetReturnRegisters(const Routine& r) {
    out_.returnKnown = true;
    if (EqualsNoCase(r.returns, "Z")) {
      out_.returnRegisters = {30, 31, 22, 27};
      return;
    }
    long long n = 0;
    try {
      n = EvaluateConstant(r.returns, [this](const std::string& s) { return Resolve(s); });
    } catch (const LoweringError& e) {
      Fail(r.first, std::string("bad return size: ") + e.what());
    }
    if (n == 1) out_.returnRegisters = {17};
    for (long long k = 0; n >= 2 && k < n; ++k) out_.returnRegisters.push_back(16 + static_cast<int>(k));
  }

  std::optional<SymValue> Resolve(const std::string& name) {
    std::string key = Upper(name);
    if (key == "SYSTEM.MAIN") return SymValue{0, out_.mainLabel, SymValue::Part::Whole};
    if (key == "SYSTEM.RAMEND") return SymValue{mcu_.ramEnd, {}, SymValue::Part::Whole};
    if (key == "SYSTEM.FRAMETOP") return SymValue{mcu_.FrameTop(), {}, SymValue::Part::Whole};
    if (key == "SYSTEM.SCRATCH") return SymValue{mcu_.Scratch(), {}, SymValue::Part::Whole};
    if (auto it = equs_.find(key); it != equs_.end()) {
      if (++depth_ > 50) throw LoweringError("\"" + name + "\" is defined in terms of itself");
      SymValue v;
      try {
        v = EvaluateExpression(parsed_[it->second].operands, [this](const std::string& s) { return Resolve(s); });
      } catch (const LoweringError& e) {
        --depth_;
        throw LoweringError("in the value of \"" + name + "\": " + e.what());
      }
      --depth_;
      return v;
    }
    if (labelLine_.count(key)) return SymValue{0, name, SymValue::Part::Whole};
    if (auto io = StandardIoAddress(key)) return SymValue{*io, {}, SymValue::Part::Whole};
    return std::nullopt;
  }

  void Put(const std::string& text, int index) {
    out_.assembly += text;
    out_.assembly += '\n';
    out_.loweredToDialect.push_back(index);
  }

  std::string DataItem(const std::string& op, bool word) {
    SymValue v = EvaluateExpression(op, [this](const std::string& s) { return Resolve(s); });
    if (v.IsConstant()) return std::to_string(word ? (v.constant & 0xFFFF) : (v.constant & 0xFF));
    std::string l = MangleLabel(v.label);
    if (v.constant) l += "+" + std::to_string(2 * v.constant);
    if (v.part == SymValue::Part::Whole && word) return "gs(" + l + ")";
    if (v.part == SymValue::Part::Low) return "pm_lo8(" + l + ")";
    if (v.part == SymValue::Part::High) return "pm_hi8(" + l + ")";
    throw LoweringError("a code label does not fit here: \"" + op + "\"");
  }

  void EmitData(int index, const DialectLine& l) {
    std::string word = Upper(l.word);
    if (word == ".ASCII") {
      std::string s = Trim(l.operands);
      if (s.size() < 2 || (s.front() != '\'' && s.front() != '"') || s.back() != s.front())
        Fail(index, ".ASCII needs a quoted text");
      std::string body;
      for (char c : s.substr(1, s.size() - 2)) {
        if (c == '"' || c == '\\') body += '\\';
        body += c;
      }
      Put("\t.ascii \"" + body + "\"", index);
      return;
    }
    std::string items;
    for (const std::string& op : SplitCommas(l.operands)) {
      if (!items.empty()) items += ", ";
      if (word == ".BYTE") items += DataItem(op, false);
      else if (word == ".WORD" || word == ".ADDR") items += DataItem(op, true);
      else items += DataItem(op, true) + ", 0";  // .WORDD and .ADDR32: two words, the high one 0
    }
    if (items.empty()) Fail(index, l.word + " needs a value");
    Put((word == ".BYTE" ? "\t.byte " : "\t.word ") + items, index);
  }

  // Without a start of its own the program gets the harness's vector table: reset, then the
  // wired interrupts routed to the program's interrupt routines in the order they stand.
  void EmitVectorTable() {
    if (!labelLine_.count("SYSTEM.RESET")) throw LoweringError("the runtime defines no SYSTEM.Reset");
    Put("\tjmp " + MangleLabel("SYSTEM.Reset"), -1);
    for (size_t k = 0; k < static_cast<size_t>(kWiredInterrupts); ++k)
      Put("\tjmp " + MangleLabel(k < interruptRoutines_.size() ? interruptRoutines_[k] : "SYSTEM.NoInterrupt"), -1);
  }

  long long ConstantOperand(const std::string& operands) {
    SymValue v = EvaluateExpression(operands, [this](const std::string& s) { return Resolve(s); });
    if (!v.IsConstant()) throw LoweringError("needs a constant address");
    return v.constant;
  }

  // Addresses in the dialect count words; avr-as counts bytes from the start of .text.
  void EmitAddressBlock(int index, const std::string& word, const DialectLine& l) {
    if (word == ".ORG") {
      Put("\t.org " + std::to_string(2 * ConstantOperand(l.operands)), index);
    } else if (word == ".PHASE") {
      if (phaseOrigin_) throw LoweringError(".PHASE inside another .PHASE block");
      phaseOrigin_ = 2 * ConstantOperand(l.operands);
      phaseStart_ = ".Lphase" + std::to_string(index);
      Put(phaseStart_ + ":", index);
    } else {
      if (!phaseOrigin_) throw LoweringError(".DEPHASE without .PHASE");
      phaseOrigin_.reset();
      Put("; " + Trim(out_.lines[index].text), index);
    }
  }

  // Inside a .PHASE block a label has the address the block is assembled for, not where it lies.
  void EmitLabel(int index, const std::string& label) {
    if (phaseOrigin_)
      Put("\t.set " + MangleLabel(label) + ", " + std::to_string(*phaseOrigin_) + " + (. - " + phaseStart_ + ")", index);
    else
      Put(MangleLabel(label) + ":", index);
  }

  void Emit() {
    Put("; lowered from the compiler's assembly by korvid-verify", -1);
    Put("\t.text", -1);
    if (!out_.ownStart) EmitVectorTable();
    bool afterData = false;
    for (size_t i = 0; i < parsed_.size(); ++i) {
      if (skipped_[i]) continue;
      int index = static_cast<int>(i);
      const DialectLine& l = parsed_[i];
      std::string word = Upper(l.word);
      try {
        if (!l.label.empty() && word != ".EQU") EmitLabel(index, l.label);
        if (l.word.empty()) continue;
        if (l.IsInstruction()) {
          if (afterData) Put("\t.balign 2", index);
          afterData = false;
          Put(LineSymbol(index) + ":", index);
          Put("\t" + LowerInstruction(*FindInstruction(l.word), l.operands,
                                       [this](const std::string& s) { return Resolve(s); }),
              index);
        } else if (IsDataDirective(word)) {
          EmitData(index, l);
          afterData = true;
        } else if (word == ".ORG" || word == ".PHASE" || word == ".DEPHASE") {
          EmitAddressBlock(index, word, l);
        } else if (IsCommentDirective(word) || (word.size() <= 6 && (StartsWithNoCase(word, ".OPTI") ||
                                                                      StartsWithNoCase(word, ".OPT_")))) {
          Put("; " + Trim(out_.lines[i].text), index);
        } else {
          Fail(index, "directive the lowering cannot translate");
        }
      } catch (const LocatedError&) {
        throw;
      } catch (const LoweringError& e) {
        Fail(index, e.what());
      }
    }
  }

  const Mcu& mcu_;
  LoweredProgram out_;
  std::vector<DialectLine> parsed_;
  std::vector<bool> skipped_;
  std::map<std::string, int> equs_;
  std::map<std::string, std::vector<int>> labelLine_;
  std::vector<std::string> interruptRoutines_;  // entries of the routines returning by -1, in order
  std::optional<long long> phaseOrigin_;        // byte address the open .PHASE block is assembled for
  std::string phaseStart_;
  int depth_ = 0;
};

}  // namespace

std::string LineSymbol(int index) { return "__kl_" + std::to_string(index); }

bool ParseLineSymbol(const std::string& symbol, int& index) {
  if (symbol.rfind("__kl_", 0) != 0) return false;
  index = std::stoi(symbol.substr(5));
  return true;
}

LoweredProgram Lower(const std::string& program, const Mcu& mcu) { return Lowerer(program, mcu).Run(); }

std::string DescribeLine(const LoweredProgram& program, int index) {
  if (index < 0 || index >= static_cast<int>(program.lines.size())) return "an unknown line";
  const SourceLine& l = program.lines[index];
  std::string s = (l.runtime ? "runtime line " : "line ") + std::to_string(l.number);
  if (!l.runtime && !l.markerLine.empty()) {
    s += " (source line " + l.markerLine;
    if (!l.markerFile.empty()) s += " of " + l.markerFile;
    s += ")";
  }
  return s + ": " + Trim(l.text);
}

}  // namespace korvid::verify
