#include "source/Classifier.h"

#include <gtest/gtest.h>

namespace korvid {
namespace {

struct ClassifierCase {
  const char* Text;
  int Type;
  const char* Label;
  const char* Mnemonic;
  const char* Operands;
  const char* Comment;
};

constexpr const char* kNone = "    ";

const ClassifierCase kCases[] = {
    // Instructions, in any case, with odd spacing, tabs and comments.
    {"  ldi R16,5", lt::LDI, "", "ldi", "R16,5", ""},
    {"\tLDI\tR16, 0FFh   ;  the mask  ", lt::LDI, "", "LDI", "R16, 0FFh", "the mask"},
    {"MOVW R24,R30", lt::MOVW, "", "MOVW", "R24,R30", ""},
    {"MOV R24,R30 // copy", lt::MOV, "", "MOV", "R24,R30", "copy"},
    {"FMULSU R16,R17", lt::FMULSU, "", "FMULSU", "R16,R17", ""},
    {"STD Y+3,R16", lt::STD, "", "STD", "Y+3,R16", ""},
    {"RET", lt::RET, "", "RET", "", ""},
    {"NOP;directly", lt::NOP, "", "NOP", "", "directly"},
    {"BRIE done", lt::BRIE, "", "BRIE", "done", ""},
    {"BRID done", lt::BRID, "", "BRID", "done", ""},
    // A quoted ';' is part of the operand.
    {"LDI R16,';' ; semicolon", lt::LDI, "", "LDI", "R16,';'", "semicolon"},
    // A ':' in the operands starts a comment that keeps its marker.
    {"LDI R16,5 :note", lt::LDI, "", "LDI", "R16,5", ":note"},
    // Trailing commas: one removed.
    {"PUSH R16,", lt::PUSH, "", "PUSH", "R16", ""},
    {"PUSH R16,,", lt::PUSH, "", "PUSH", "R16,", ""},
    // A mnemonic glued to its operand is no instruction.
    {"LDIR16,5", lt::Unknown, "", kNone, "", ""},
    // Instructions the type table does not name keep type 0 but are split.
    {"SLEEP", lt::Unknown, "", "SLEEP", "", ""},
    {"sleep ; wait", lt::Unknown, "", "sleep", "", "wait"},
    {"BSET 3", lt::Unknown, "", "BSET", "3", ""},
    // Labels with and without colon.
    {"main:", lt::Label, "main", kNone, "", ""},
    {"SYSTEM.Start:", lt::Label, "SYSTEM.Start", kNone, "", ""},
    {"loop: ; head", lt::Label, "loop", kNone, "", ""},
    {"lab LDI R16,7", lt::LDI, "lab", "LDI", "R16,7", ""},
    {"lab: STS v,R16", lt::STS, "lab", "STS", "v,R16", ""},
    {"lab 123", lt::OtherText, "lab", kNone, "", ""},
    {"4711", lt::Unknown, "", kNone, "", ""},
    // Comments and blanks.
    {"; a comment", lt::Comment, "", kNone, "", ""},
    {"// a comment", lt::Comment, "", kNone, "", ""},
    {"/ half", lt::Unknown, "", kNone, "", ""},
    {"   \t ", lt::Blank, "", kNone, "", ""},
    // Directives.
    {".OPTI NO_LOOP_OPT", lt::OPTI, "", ".OPTI", "NO_LOOP_OPT", ""},
    {".opt_ SPEED", lt::OPTI, "", ".opt_", "SPEED", ""},
    {".OPTIX", lt::OPTI, "", ".OPTIX", "", ""},
    {".OPTI_QUICK", lt::OPTI_QUICK, "", ".OPTI_QUICK", "", ""},
    {".OPT_RET", lt::OPT_RET, "", ".OPT_RET", "", ""},
    {".FUNC main, 2", lt::FUNC, "", ".FUNC", "main, 2", ""},
    {".func main", lt::FUNC, "", ".func", "main", ""},
    {".ENDFUNC", lt::ENDFUNC, "", ".ENDFUNC", "", ""},
    {".LINE 12", lt::LINE, "", ".LINE", "12", ""},
    {".FILE demo.pas", lt::FILE, "", ".FILE", "demo.pas", ""},
    {".EQU COMPILERREV = 190h ; rev", lt::EQU, "", ".EQU", "COMPILERREV = 190h", "rev"},
    {".END", lt::END, "", kNone, "", ""},
    {".END ; done", lt::OtherText, "", kNone, "", ""},
    {".LARGE", lt::LARGE, "", kNone, "", ""},
    {".SMALL", lt::SMALL, "", kNone, "", ""},
    {".USEINLINE x", lt::USEINLINE, "", ".USEINLINE", "x", ""},
    {".VALID", lt::VALID, "", ".VALID", "", ""},
    {".VAX", lt::VALID, "", ".VAX", "", ""},
    {".ANxALYSIS", lt::ANALYSIS, "", ".ANxALYSIS", "", ""},
    {".ASM", lt::ASM, "", ".ASM", "", ""},
    {".AB", lt::ASM, "", ".AB", "", ""},
    {".ABC x", lt::ASM, "", ".ABC", "x", ""},
    {".ABCD x", lt::OtherText, "", kNone, "", ""},
    {".ENDASM", lt::ENDASM, "", ".ENDASM", "", ""},
    {".NOTINLINE", lt::NOSINLINE, "", ".NOTINLINE", "", ""},
    {".VECTTABE_B", lt::VECTTABE_B, "", ".VECTTABE_B", "", ""},
    {".LOOPX", lt::OtherText, "", kNone, "", ""},
    {".ZAP", lt::OtherText, "", kNone, "", ""},
};

TEST(ClassifierTest, SplitsAndTypesEveryKindOfLine) {
  for (const auto& c : kCases) {
    TParsedLine line = ParseLine(c.Text);
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(line.LineType, c.Type);
    EXPECT_EQ(line.LabelName, c.Label);
    EXPECT_EQ(line.Mnemonic, c.Mnemonic);
    EXPECT_EQ(line.Operands, c.Operands);
    EXPECT_EQ(line.Comment, c.Comment);
  }
}

TEST(ClassifierTest, EveryMnemonicIsRecognisedInBothCases) {
  for (const char* word : {"ADD", "adiw", "SbIw", "fmuls", "RJMP", "eicall", "RETI", "CPSE", "SBIS", "ST",
                           "brhc", "OUT", "ELPM", "SPM", "ESPM", "DES", "LAS", "LAC", "LAT", "XCH", "BREAK"}) {
    TParsedLine line = ParseLine(std::string(word) + " x");
    EXPECT_TRUE(IsInstructionType(line.LineType)) << word;
  }
}

TEST(ClassifierTest, PresenceTableLearnsFromClassifiedLines) {
  ResetTypePresence();
  EXPECT_FALSE(TypePresent(lt::MOVW));
  EXPECT_TRUE(TypePresent(lt::MOV));
  ParseLine("MOVW R24,R30");
  EXPECT_TRUE(TypePresent(lt::MOVW));
  ResetTypePresence();
}

TEST(ClassifierTest, SkipAndEntryTypes) {
  EXPECT_TRUE(IsSkipType(lt::CPSE));
  EXPECT_FALSE(IsSkipType(lt::BREQ));
  EXPECT_TRUE(IsEntryDirective(lt::ENTRYUNIT));
}

}  // namespace
}  // namespace korvid
