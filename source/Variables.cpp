#include "source/Variables.h"

#include <algorithm>

#include "source/Errors.h"
#include "source/Expressions.h"
#include "source/Text.h"

namespace korvid {

namespace {

std::int32_t SizeOfType(std::string_view type) {
  if (EqualsNoCase(type, "byte") || EqualsNoCase(type, "boolean")) return 1;
  if (EqualsNoCase(type, "word")) return 2;
  if (EqualsNoCase(type, "word64")) return 4;
  return 0;
}

std::uint8_t KindOfClass(std::string_view memoryClass) {
  static const std::pair<std::string_view, std::uint8_t> kClasses[] = {
      {"data", vk::Data},   {"idata", vk::IData}, {"pdata", vk::PData},
      {"eeprom", vk::EEprom}, {"xdata", vk::XData}, {"udata", vk::UData}};
  for (const auto& [name, kind] : kClasses)
    if (EqualsNoCase(memoryClass, name)) return kind;
  return vk::Unknown;
}

// Splits at the first blank into the first word and the trimmed rest.
std::pair<std::string_view, std::string_view> FirstWord(std::string_view text) {
  text = Trim(text);
  std::size_t blank = text.find_first_of(" \t");
  if (blank == std::string_view::npos) return {text, {}};
  return {text.substr(0, blank), Trim(text.substr(blank))};
}

bool AlwaysLiveRegisterName(std::string_view name) {
  return name.find('.') != std::string_view::npos || name.starts_with("Flag") || EqualsNoCase(name, "_FRAMEPTR") ||
         EqualsNoCase(name, "_FPTRHI");
}

// A sum of numbers and at most one named address, added.
std::optional<std::int64_t> SumValue(const tVarList& vars, std::string_view text, bool (*named)(const TVar&)) {
  std::int64_t total = 0;
  bool symbolSeen = false;
  char sign = '+';
  text = Trim(text);
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    sign = text.front();
    text = text.substr(1);
  }
  for (;;) {
    std::size_t end = text.find_first_of("+-");
    std::string_view term = Trim(text.substr(0, end));
    std::int64_t value = 0;
    if (TValue number = Evaluate(term); number.Known) {
      value = number.Value;
    } else {
      const TVar* var = vars.Find(term);
      if (symbolSeen || sign != '+' || var == nullptr || !named(*var) || var->Address < 0) return {};
      symbolSeen = true;
      value = var->Address;
    }
    bool overflow = sign == '+' ? __builtin_add_overflow(total, value, &total)
                                : __builtin_sub_overflow(total, value, &total);
    if (overflow) return {};
    if (end == std::string_view::npos) return total;
    sign = text[end];
    text = text.substr(end + 1);
  }
}

}  // namespace

std::optional<std::int64_t> ExpressionValue(const tVarList& vars, std::string_view text,
                                            bool (*named)(const TVar&)) {
  for (std::string_view op : {" AND ", " SHRB "}) {
    std::size_t at = text.find(op);
    if (at == std::string_view::npos) continue;
    std::optional<std::int64_t> left = ExpressionValue(vars, text.substr(0, at), named);
    TValue right = Evaluate(Trim(text.substr(at + op.size())));
    if (!left || *left < 0 || !right.Known || right.Value < 0) return {};
    if (op == " AND ") return *left & right.Value;
    if (right.Value > 15) return {};
    return *left >> right.Value;
  }
  return SumValue(vars, text, named);
}

bool TVar::HasName(std::string_view name) const {
  return std::any_of(Names.begin(), Names.end(), [name](const std::string& n) { return EqualsNoCase(n, name); });
}

TVar* tVarList::Create(std::int64_t address, std::int64_t baseAddress, std::int32_t size, std::uint8_t kind) {
  auto var = std::make_unique<TVar>();
  var->Address = address;
  var->BaseAddress = baseAddress;
  var->Size = size;
  var->Kind = kind;
  var->Owner = this;
  Vars.push_back(std::move(var));
  TVar* created = Vars.back().get();
  if (address != -1) ByAddress[{address, baseAddress, kind}].push_back(created);
  return created;
}

void tVarList::AddName(TVar& var, std::string_view name, bool primary, std::uint8_t newVolatility) {
  auto at = std::lower_bound(var.Names.begin(), var.Names.end(), name, TNoCaseLess());
  var.Names.insert(at, std::string(name));
  if (primary || var.PrimaryName.empty()) var.PrimaryName = std::string(name);
  if (newVolatility != volatility::Default) var.Volatility = newVolatility;
  if (var.Volatility == volatility::Default && (var.Kind == vk::PData || var.Kind == vk::XData))
    var.Volatility = volatility::Volatile;
  if (var.Kind != vk::Data) {
    var.LiveMode = 0;
  } else if (AlwaysLiveRegisterName(name)) {
    var.LiveMode = 0;
  } else if (var.LiveMode == 2) {
    var.LiveMode = 1;
  }
  var.AfterStartCode = var.Kind == vk::Data && StartCodeSeen;
  Names.emplace(std::string(name), &var);
}

TVar* tVarList::FindAtAddress(std::int64_t address, std::int64_t baseAddress, std::uint8_t kind,
                              std::int32_t size) const {
  for (std::uint8_t candidateKind : {kind, vk::Unknown}) {
    auto found = ByAddress.find({address, baseAddress, candidateKind});
    if (found == ByAddress.end()) continue;
    for (TVar* var : found->second)
      if (size == 0 || var->Size == size) return var;
  }
  return nullptr;
}

TVar* tVarList::AddVar(std::string_view name, bool primary, std::int32_t size, std::uint8_t kind,
                       std::uint8_t newVolatility, std::int64_t address, std::int64_t baseAddress) {
  if (address != -1) {
    if (TVar* named = Find(name)) {
      if (named->Address == -1) {
        named->Address = address;
        named->BaseAddress = baseAddress;
        named->Size = size;
        named->Kind = kind;
        ByAddress[{address, baseAddress, kind}].push_back(named);
      }
      return named;
    }
    if (TVar* alias = FindAtAddress(address, baseAddress, kind, size)) {
      if (alias->Kind == vk::Unknown) alias->Kind = kind;
      if (!alias->HasName(name)) AddName(*alias, name, primary, newVolatility);
      return alias;
    }
  } else if (TVar* existing = Find(name)) {
    return existing;
  }
  TVar* var = Create(address, baseAddress, size, kind);
  AddName(*var, name, primary, newVolatility);
  return var;
}

TVar* tVarList::Declare(std::string_view name, bool primary, std::string_view typeText, std::string_view valueText) {
  std::uint8_t declared = VolatileDefault;
  if (typeText.find("nonvolatile") != std::string_view::npos) {
    declared = volatility::NonVolatile;
  } else if (typeText.find("volatile") != std::string_view::npos) {
    declared = volatility::Volatile;
  }
  auto [first, rest] = FirstWord(typeText);
  TValue value = Evaluate(valueText);
  std::int64_t address = value.Known ? value.Value : -1;
  if (EqualsNoCase(first, "const")) return AddVar(name, primary, 0, vk::Constant, declared, address, address);
  if (EqualsNoCase(first, "var")) {
    auto [memoryClass, type] = FirstWord(rest);
    return AddVar(name, primary, SizeOfType(FirstWord(type).first), KindOfClass(memoryClass), declared, address,
                  address);
  }
  return AddVar(name, primary, 0, vk::Unknown, declared, address, address);
}

TVar* tVarList::Find(std::string_view name) const {
  auto found = Names.find(name);
  return found == Names.end() ? nullptr : found->second;
}

TVar* tVarList::FindKind(std::string_view name, std::uint8_t kind) {
  TVar* var = Find(name);
  if (var != nullptr && var->Kind == vk::Unknown) var->Kind = kind;
  return var;
}

TVar* tVarList::Derive(std::string_view name, TVar& base, std::int64_t address) {
  TVar* var = Create(address, base.Address, 0, base.Kind);
  AddName(*var, name, false, base.Volatility);
  return var;
}

TVar* tVarList::FindOrCreate(std::string_view name, std::uint8_t kind) {
  if (TVar* found = FindKind(name, kind)) return found;
  TValue value = Evaluate(name);
  if (value.Known) {
    // A bare address: the variable already known there, or a new nameless one.
    if (TVar* atAddress = FindAtAddress(value.Value, value.Value, kind, 0)) return atAddress;
    return Create(value.Value, value.Value, 0, kind);
  }
  TExpression expression = SplitExpression(name);
  TValue offset = Evaluate(expression.Right);
  bool derived = offset.Known && (expression.Kind == TExprKind::Plus || expression.Kind == TExprKind::Minus ||
                                  expression.Kind == TExprKind::And);
  if (derived && !expression.Left.empty() && !Evaluate(expression.Left).Known) {
    TVar& base = *FindOrCreate(expression.Left, kind);
    // An address that does not fit stays unknown rather than wrapping.
    std::int64_t address = -1;
    if (base.Address != -1) {
      bool overflow = false;
      if (expression.Kind == TExprKind::Plus) overflow = __builtin_add_overflow(base.Address, offset.Value, &address);
      if (expression.Kind == TExprKind::Minus) overflow = __builtin_sub_overflow(base.Address, offset.Value, &address);
      if (expression.Kind == TExprKind::And) address = base.Address & offset.Value;
      if (overflow || address < 0) address = -1;
    }
    return Derive(name, base, address);
  }
  TVar* var = Create(-1, -1, 0, kind);
  AddName(*var, Trim(name), false, volatility::Default);
  return var;
}

TVar* tVarList::FindByValue(std::string_view text) {
  TValue value = Evaluate(text);
  if (!value.Known) return FindOrCreate(text, vk::Unknown);
  for (std::uint8_t kind : {vk::IData, vk::XData, vk::UData})
    if (TVar* var = FindAtAddress(value.Value, value.Value, kind, 0)) return var;
  return FindOrCreate(text, vk::Unknown);
}

bool tVarList::IsVolatile(TVar& var) {
  if (var.Volatility == volatility::Volatile) return true;
  if (var.Volatility == volatility::NonVolatile) return false;
  bool isVolatile;
  switch (var.Kind) {
    case vk::Unknown:
    case vk::UData:
    case vk::XData:
      isVolatile = true;
      break;
    case vk::IData:
      isVolatile = var.Address < IDataStart;
      break;
    default:
      isVolatile = false;
  }
  var.Volatility = isVolatile ? volatility::Volatile : volatility::NonVolatile;
  return isVolatile;
}

bool tVarList::IsAlwaysLive(const TVar& var) {
  if (var.LiveMode == 0) return true;
  if (var.LiveMode == 1) return false;
  return !IsFlag(var);
}

void AddUsage(TVarUsageList& list, TVar* var, TUsageSet bits) {
  if (var == nullptr) throw KorvidError("Variable does not exist");
  list.Add(var, bits);
}

}  // namespace korvid
