// The reverse-instruction and branch-condition tables declared in Expressions.h.
#include <array>
#include <charconv>
#include <utility>

#include "source/Expressions.h"
#include "source/Text.h"

namespace korvid {

namespace {

struct TReverse {
  TLineType Type;
  TLineType Reverse;
  std::string_view Mnemonic;
};

constexpr std::array ReversePairs{
    TReverse{lt::SBRC, lt::SBRS, "SBRS"}, TReverse{lt::SBRS, lt::SBRC, "SBRC"},
    TReverse{lt::SBIC, lt::SBIS, "SBIS"}, TReverse{lt::SBIS, lt::SBIC, "SBIC"},
    TReverse{lt::STS, lt::LDS, "LDS"},    TReverse{lt::LDS, lt::STS, "STS"},
    TReverse{lt::ST, lt::LD, "LD"},       TReverse{lt::LD, lt::ST, "ST"},
    TReverse{lt::STD, lt::LDD, "LDD"},    TReverse{lt::LDD, lt::STD, "STD"},
    TReverse{lt::BRBS, lt::BRBC, "BRBC"}, TReverse{lt::BRBC, lt::BRBS, "BRBS"},
    TReverse{lt::BREQ, lt::BRNE, "BRNE"}, TReverse{lt::BRNE, lt::BREQ, "BREQ"},
    TReverse{lt::BRCS, lt::BRCC, "BRCC"}, TReverse{lt::BRCC, lt::BRCS, "BRCS"},
    TReverse{lt::BRSH, lt::BRLO, "BRLO"}, TReverse{lt::BRLO, lt::BRSH, "BRSH"},
    TReverse{lt::BRTC, lt::BRTS, "BRTS"}, TReverse{lt::BRTS, lt::BRTC, "BRTC"},
    TReverse{lt::BRVC, lt::BRVS, "BRVS"}, TReverse{lt::BRVS, lt::BRVC, "BRVC"},
    TReverse{lt::BRMI, lt::BRPL, "BRPL"}, TReverse{lt::BRPL, lt::BRMI, "BRMI"},
    TReverse{lt::BRLT, lt::BRGE, "BRGE"}, TReverse{lt::BRGE, lt::BRLT, "BRLT"},
    TReverse{lt::BRHS, lt::BRHC, "BRHC"}, TReverse{lt::BRHC, lt::BRHS, "BRHS"},
    TReverse{lt::BRID, lt::BRIE, "BRIE"}, TReverse{lt::BRIE, lt::BRID, "BRID"},
    TReverse{lt::CLT, lt::SET, "SET"},    TReverse{lt::SET, lt::CLT, "CLT"},
    TReverse{lt::MOV, lt::MOV, "MOV"},    TReverse{lt::MOVW, lt::MOVW, "MOVW"},
};

const TReverse* FindReverse(TLineType Type) {
  for (const auto& Pair : ReversePairs)
    if (Pair.Type == Type) return &Pair;
  return nullptr;
}

constexpr std::array<std::pair<TLineType, int>, 26> Conditions{{
    {lt::BRCS, 1}, {lt::BRLO, 1}, {lt::BRCC, 2}, {lt::BRSH, 2}, {lt::BREQ, 3},  {lt::BRNE, 4},
    {lt::BRMI, 5}, {lt::BRPL, 6}, {lt::BRVS, 7}, {lt::BRVC, 8}, {lt::BRLT, 9},  {lt::BRGE, 10},
    {lt::BRHS, 11}, {lt::BRHC, 12}, {lt::BRTS, 13}, {lt::BRTC, 14}, {lt::BRIE, 15}, {lt::BRID, 16},
    {lt::RCALL, 18}, {lt::ICALL, 18}, {lt::CALL, 18}, {lt::RET, 19}, {lt::RETI, 19},
    {lt::RJMP, 20}, {lt::JMP, 20}, {lt::EICALL, 21},
}};

}  // namespace

TLineType ReverseLineType(TLineType Type) {
  const auto* Pair = FindReverse(Type);
  return Pair ? Pair->Reverse : lt::Unknown;
}

std::string_view ReverseMnemonic(TLineType Type) {
  const auto* Pair = FindReverse(Type);
  return Pair ? Pair->Mnemonic : std::string_view{};
}

int BranchCondition(TLineType Type) {
  for (auto [Line, Code] : Conditions)
    if (Line == Type) return Code;
  return 0;
}

std::string InvertCondition(std::string_view Text) {
  auto Digits = Trim(Text);
  int Code = 0;
  auto [End, Error] = std::from_chars(Digits.data(), Digits.data() + Digits.size(), Code);
  if (Error != std::errc{} || End != Digits.data() + Digits.size() || Code < 1 || Code > 16)
    return std::string(Text);
  return std::to_string(Code % 2 ? Code + 1 : Code - 1);
}

}  // namespace korvid
