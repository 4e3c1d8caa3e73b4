#include "source/Classifier.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <unordered_map>

#include "source/Text.h"

namespace korvid {

namespace {

using Table = std::unordered_map<std::string, TLineType>;

const Table& Mnemonics() {
  static const Table table = {
      {"ADD", lt::ADD},     {"ADC", lt::ADC},       {"ADDI", lt::ADDI},     {"ADIW", lt::ADIW},
      {"SUB", lt::SUB},     {"SUBI", lt::SUBI},     {"SBC", lt::SBC},       {"SBCI", lt::SBCI},
      {"SBIW", lt::SBIW},   {"AND", lt::AND},       {"ANDI", lt::ANDI},     {"OR", lt::OR},
      {"ORI", lt::ORI},     {"EOR", lt::EOR},       {"COM", lt::COM},       {"NEG", lt::NEG},
      {"SBR", lt::SBR},     {"CBR", lt::CBR},       {"INC", lt::INC},       {"DEC", lt::DEC},
      {"LSR", lt::LSR},     {"LSL", lt::LSL},       {"ROR", lt::ROR},       {"ASR", lt::ASR},
      {"ROL", lt::ROL},     {"CLR", lt::CLR},       {"SER", lt::SER},       {"MUL", lt::MUL},
      {"MULS", lt::MULS},   {"MULSU", lt::MULSU},   {"FMUL", lt::FMUL},     {"FMULS", lt::FMULS},
      {"FMULSU", lt::FMULSU}, {"RJMP", lt::RJMP},   {"IJMP", lt::IJMP},     {"EIJMP", lt::EIJMP},
      {"JMP", lt::JMP},     {"RCALL", lt::RCALL},   {"ICALL", lt::ICALL},   {"EICALL", lt::EICALL},
      {"CALL", lt::CALL},   {"RET", lt::RET},       {"RETI", lt::RETI},     {"CPSE", lt::CPSE},
      {"CP", lt::CP},       {"CPC", lt::CPC},       {"CPI", lt::CPI},       {"SBRC", lt::SBRC},
      {"SBRS", lt::SBRS},   {"SBIC", lt::SBIC},     {"SBIS", lt::SBIS},     {"STS", lt::STS},
      {"ST", lt::ST},       {"STD", lt::STD},       {"BRBS", lt::BRBS},     {"BRBC", lt::BRBC},
      {"BREQ", lt::BREQ},   {"BRNE", lt::BRNE},     {"BRCS", lt::BRCS},     {"BRCC", lt::BRCC},
      {"BRSH", lt::BRSH},   {"BRTC", lt::BRTC},     {"BRTS", lt::BRTS},     {"BRVC", lt::BRVC},
      {"BRVS", lt::BRVS},   {"BRLO", lt::BRLO},     {"BRMI", lt::BRMI},     {"BRPL", lt::BRPL},
      {"BRLT", lt::BRLT},   {"BRGE", lt::BRGE},     {"BRHS", lt::BRHS},     {"BRHC", lt::BRHC},
      // Typed as single-operand branches on the I flag, so their target counts as referenced.
      {"BRID", lt::BRID},   {"BRIE", lt::BRIE},
      {"IN", lt::IN},       {"LDI", lt::LDI},       {"LDS", lt::LDS},       {"LDD", lt::LDD},
      {"LD", lt::LD},       {"OUT", lt::OUT},       {"POP", lt::POP},       {"PUSH", lt::PUSH},
      {"CLT", lt::CLT},     {"CLI", lt::CLI},       {"SEI", lt::SEI},       {"SET", lt::SET},
      {"TST", lt::TST},     {"BLD", lt::BLD},       {"MOV", lt::MOV},       {"MOVW", lt::MOVW},
      {"SBI", lt::SBI},     {"CBI", lt::CBI},       {"LPM", lt::LPM},       {"ELPM", lt::ELPM},
      {"NOP", lt::NOP},     {"SWAP", lt::SWAP},     {"BST", lt::BST},       {"CLC", lt::CLC},
      {"SEC", lt::SEC},     {"CLH", lt::CLH},       {"SEH", lt::SEH},       {"CLZ", lt::CLZ},
      {"SEZ", lt::SEZ},     {"WDR", lt::WDR},       {"SPM", lt::SPM},       {"ESPM", lt::ESPM},
      {"DES", lt::DES},     {"LAS", lt::LAS},       {"LAC", lt::LAC},       {"LAT", lt::LAT},
      {"XCH", lt::XCH},     {"BREAK", lt::BREAK},
  };
  return table;
}

const Table& Directives() {
  static const Table table = {
      {".ENTRY", lt::ENTRY},         {".ENTRYMAIN", lt::ENTRYMAIN}, {".ENTRYBOOT", lt::ENTRYBOOT},
      {".ENDCODE", lt::ENDCODE},     {".VECTTAB", lt::VECTTAB},     {".VECTTABE", lt::VECTTABE},
      {".VECTTAB_B", lt::VECTTAB_B}, {".VECTTABE_B", lt::VECTTABE_B}, {".ENTRYUNIT", lt::ENTRYUNIT},
      {".XDATASTART", lt::XDATASTART}, {".OPT_RET", lt::OPT_RET},  {".LOOP", lt::LOOP},
      {".ENDLOOP", lt::ENDLOOP},     {".UNIT", lt::UNIT},           {".OPTI", lt::OPTI},
      {".OPT_", lt::OPTI},           {".OPTI_QUICK", lt::OPTI_QUICK}, {".OPT__QUICK", lt::OPTI_QUICK},
      {".RETURNS", lt::RETURNS},     {".FRAME", lt::FRAME},         {".STARTCODE", lt::STARTCODE},
      {".BLOCK", lt::BLOCK},         {".ENDBLOCK", lt::ENDBLOCK},   {".LINE", lt::LINE},
      {".XLINE", lt::XLINE},         {".BRANCH", lt::BRANCH},       {".FUNC", lt::FUNC},
      {".FILE", lt::FILE},           {".ENDFUNC", lt::ENDFUNC},     {".ORG", lt::ORG},
      {".PHASE", lt::PHASE},         {".DEPHASE", lt::DEPHASE},     {".DEB", lt::DEB},
      {".EQU", lt::EQU},             {".BYTE", lt::BYTE},           {".WORD", lt::WORD},
      {".ADDR", lt::ADDR},           {".WORDD", lt::WORDD},         {".ADDR32", lt::ADDR32},
      {".ASCII", lt::ASCII},         {".INLINE", lt::INLINE},       {".SMALL", lt::SMALL},
      {".NOSINLINE", lt::NOSINLINE}, {".NOTINLINE", lt::NOSINLINE}, {".ASM", lt::ASM},
      {".ENDASM", lt::ENDASM},
  };
  return table;
}

// Words whose type is decided by the whole line rather than by a table entry.
struct TWholeLineDirective {
  std::string_view Text;
  TLineType Type;
};
constexpr std::array<TWholeLineDirective, 4> kWholeLineDirectives = {{
    {".END", lt::END}, {".LARGE", lt::LARGE}, {".MEDIUM", lt::MEDIUM}, {".SMALL", lt::SMALL}}};

using TPresence = std::array<std::atomic<bool>, lt::Count>;

void ResetPresence(TPresence& presence) {
  // Types the compiler may or may not use; all others count as present.
  static constexpr std::array<TLineType, 33> kAbsentAtStart = {
      lt::ADDI, lt::ADIW, lt::SBIW, lt::MUL,  lt::MULS, lt::MULSU, lt::FMUL, lt::FMULS, lt::FMULSU,
      lt::IJMP, lt::EIJMP, lt::ICALL, lt::EICALL, lt::CALL, lt::RET, lt::RETI, lt::STS, lt::ST,
      lt::STD,  lt::LDI,  lt::LDS,  lt::LDD,  lt::LD,  lt::MOVW, lt::LPM, lt::ELPM, lt::SPM,
      lt::ESPM, lt::DES,  lt::LAS,  lt::LAC,  lt::LAT, lt::XCH};
  for (auto& entry : presence) entry.store(true, std::memory_order_relaxed);
  for (TLineType type : kAbsentAtStart) presence[type].store(false, std::memory_order_relaxed);
}

TPresence& Presence() {
  static TPresence presence;
  static const bool initialised = (ResetPresence(presence), true);
  (void)initialised;
  return presence;
}

bool IsWordEnd(char c) { return c == ' ' || c == '\t' || c == ';'; }

std::size_t WordEnd(std::string_view text) {
  std::size_t p = 0;
  while (p < text.size() && !IsWordEnd(text[p])) ++p;
  return p;
}

// Finds a comment marker with `find`, skipping text between single quotes,
// so that a quoted ';' stays part of the operand.
template <typename Finder>
std::size_t FindOutsideQuotes(std::string_view text, Finder find) {
  std::size_t base = 0;
  for (;;) {
    std::string_view rest = text.substr(base);
    std::size_t pos = find(rest);
    if (pos == std::string_view::npos) return pos;
    std::size_t open = rest.find('\'');
    if (open == std::string_view::npos || open > pos) return base + pos;
    std::size_t close = rest.find('\'', open + 1);
    if (close == std::string_view::npos) return std::string_view::npos;
    base += close + 1;
  }
}

std::size_t FindChar(std::string_view text, std::string_view what) { return text.find(what); }

// The split at position p: the word before it, the rest after it with the
// comment taken off. A ';' directly after the word is kept as the comment start.
void Split(std::string_view text, std::size_t p, TParsedLine& out) {
  out.Mnemonic = std::string(text.substr(0, p));
  std::string_view rest;
  if (p < text.size()) rest = Trim(text.substr(text[p] == ';' ? p : p + 1));
  for (std::string_view marker : {std::string_view(";"), std::string_view("//")}) {
    std::size_t at = FindOutsideQuotes(rest, [marker](std::string_view s) { return FindChar(s, marker); });
    if (at == std::string_view::npos) continue;
    out.Comment = std::string(Trim(rest.substr(at + marker.size())));
    rest = Trim(rest.substr(0, at));
    break;
  }
  out.Operands = std::string(rest);
}

// A further comment start inside the operands: ';' or "//", else ':'.
std::size_t FindOperandCommentStart(std::string_view operands) {
  return FindOutsideQuotes(operands, [](std::string_view s) {
    std::size_t pos = std::min(s.find(';'), s.find("//"));
    return pos != std::string_view::npos ? pos : s.find(':');
  });
}

void Classify(std::string_view text, bool labelTaken, TParsedLine& out);

bool IsCodeResult(const TParsedLine& line) {
  return IsInstructionType(line.LineType) ||
         (line.LineType == lt::Unknown && IsUntypedInstruction(line.Mnemonic));
}

void LabelRule(std::string_view text, TParsedLine& out) {
  std::size_t blank = text.find_first_of(" \t");
  if (blank == std::string_view::npos) {
    if (!text.empty() && text.back() == ':') {
      out.LineType = lt::Label;
      out.LabelName = std::string(Trim(text.substr(0, text.size() - 1)));
    } else {
      out.LineType = lt::Unknown;
    }
    return;
  }
  std::string_view word = text.substr(0, blank);
  std::string_view rest = Trim(text.substr(blank));
  if (word.back() == ':') {
    std::string label(Trim(word.substr(0, word.size() - 1)));
    // An instruction after "label:" is code like any other: hiding it would
    // drop its bytes and its effects from the analysis.
    TParsedLine code;
    Classify(rest, true, code);
    if (IsCodeResult(code)) {
      out = std::move(code);
    } else {
      out.LineType = lt::Label;
    }
    out.LabelName = std::move(label);
    return;
  }
  out.LabelName = std::string(word);
  Classify(rest, true, out);
}

void RecogniseInstruction(std::string_view text, TParsedLine& out) {
  std::size_t p = WordEnd(text);
  std::string_view word = text.substr(0, p);
  auto found = Mnemonics().find(UpperCase(word));
  TLineType type;
  if (found != Mnemonics().end()) {
    type = found->second;
  } else if (IsUntypedInstruction(word)) {
    type = lt::Unknown;
  } else {
    LabelRule(text, out);
    return;
  }
  Split(text, p, out);
  out.LineType = type;
  if (type == lt::SUB || type == lt::SBC || type == lt::SBI || type == lt::SBR) return;
  if (!out.Operands.empty() && out.Operands.front() != '.') {
    std::size_t at = FindOperandCommentStart(out.Operands);
    if (at != std::string::npos) {
      out.Comment = out.Operands.substr(at);
      out.Operands = std::string(Trim(std::string_view(out.Operands).substr(0, at)));
    }
  }
  if (!out.Operands.empty() && out.Operands.front() == '.') {
    TParsedLine relabelled;
    LabelRule(text, relabelled);
    out = std::move(relabelled);
  }
}

TLineType MatchDirectiveWord(std::string_view text, std::size_t p) {
  std::string word = UpperCase(text.substr(0, p));
  auto found = Directives().find(word);
  if (found != Directives().end()) return found->second;
  if ((text.size() == 5 || text.size() == 6) && (word.starts_with(".OPTI") || word.starts_with(".OPT_")))
    return lt::OPTI;
  if (word.size() == 10 && word.starts_with(".AN") && word.substr(4) == "ALYSIS") return lt::ANALYSIS;
  if (word.starts_with(".A") && ((text.size() == 3 || text.size() == 4) || (word.size() == 4 && p < text.size())))
    return lt::ASM;
  return lt::OtherText;
}

void RecogniseDirective(std::string_view text, TParsedLine& out) {
  for (const auto& whole : kWholeLineDirectives) {
    if (EqualsNoCase(text, whole.Text)) {
      out.LineType = whole.Type;
      return;
    }
  }
  if (StartsWithNoCase(text, ".USEINLINE")) {
    Split(text, 10, out);
    out.LineType = lt::USEINLINE;
    return;
  }
  if (StartsWithNoCase(text, ".VALID")) {
    Split(text, 6, out);
    out.LineType = lt::VALID;
    return;
  }
  std::size_t p = WordEnd(text);
  if (text.size() < 6 && StartsWithNoCase(text, ".VA")) {
    Split(text, p, out);
    out.LineType = lt::VALID;
    return;
  }
  TLineType type = MatchDirectiveWord(text, p);
  if (type == lt::OtherText) {
    out.LineType = type;
    return;
  }
  Split(text, p, out);
  out.LineType = type;
}

bool IsInstructionLetter(char c) {
  static constexpr std::string_view kLetters = "ABCDEFIJLMNOPRSTWX";
  char upper = UpperCase(std::string_view(&c, 1))[0];
  return kLetters.find(upper) != std::string_view::npos;
}

void Classify(std::string_view text, bool labelTaken, TParsedLine& out) {
  char first = text.empty() ? '\0' : text.front();
  if (first == '.') {
    RecogniseDirective(text, out);
  } else if (first == '/') {
    out.LineType = text.size() > 1 && text[1] == '/' ? lt::Comment : lt::Unknown;
  } else if (first == ';') {
    out.LineType = lt::Comment;
  } else if (IsInstructionLetter(first)) {
    RecogniseInstruction(text, out);
  } else if (labelTaken) {
    out.LineType = lt::OtherText;
  } else {
    LabelRule(text, out);
  }
}

}  // namespace

TParsedLine ParseLine(std::string_view text) {
  TParsedLine out;
  text = Trim(text);
  if (text.empty()) {
    out.LineType = lt::Blank;
  } else {
    Classify(text, false, out);
    if (!out.Operands.empty() && out.Operands.back() == ',') out.Operands.pop_back();
  }
  Presence()[out.LineType].store(true, std::memory_order_relaxed);
  return out;
}

void ResetTypePresence() { ResetPresence(Presence()); }

bool TypePresent(TLineType type) { return Presence()[type].load(std::memory_order_relaxed); }

bool IsEntryDirective(TLineType type) {
  return type == lt::ENTRY || type == lt::ENTRYMAIN || type == lt::ENTRYBOOT || type == 116 ||
         type == lt::ENTRYUNIT;
}

bool IsSkipType(TLineType type) {
  return type == lt::CPSE || type == lt::SBRC || type == lt::SBRS || type == lt::SBIC || type == lt::SBIS;
}

bool IsUntypedInstruction(std::string_view word) {
  static constexpr std::array<std::string_view, 9> kWords = {"SLEEP", "CLN", "CLS", "CLV", "SEN",
                                                             "SES",   "SEV", "BSET", "BCLR"};
  return std::any_of(kWords.begin(), kWords.end(), [word](std::string_view w) { return EqualsNoCase(word, w); });
}

}  // namespace korvid
