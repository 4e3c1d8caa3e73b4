// Everything a line can read or write is a variable of one table: registers,
// flags, I/O locations, memory variables and constants. Passes ask it whether
// a variable is volatile (its loads and stores must stay) or always live.
#pragma once
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "source/VarUsage.h"
#include "source/Labels.h"

namespace korvid {

class tVarList;

namespace vk {
inline constexpr std::uint8_t Unknown = 0, Constant = 1, IData = 3, PData = 4, Data = 5, XData = 6, EEprom = 7,
                              UData = 8, AsmConstant = 9, Flag = 10;
}  // namespace vk

namespace volatility {
inline constexpr std::uint8_t Volatile = 0, NonVolatile = 1, Default = 2;
}  // namespace volatility

struct TVar {
  // All names, sorted without regard to case; PrimaryName is the one written out.
  std::vector<std::string> Names;
  std::string PrimaryName;
  std::uint8_t Kind = vk::Unknown;
  std::uint8_t Volatility = volatility::Default;
  std::int64_t Address = -1;
  std::int64_t BaseAddress = -1;
  std::int32_t Size = 0;
  tVarList* Owner = nullptr;
  // 0 always live, 1 not always live, 2 decided by kind.
  std::uint8_t LiveMode = 2;
  std::int32_t RefCount = 0;
  bool AfterStartCode = false;
  // The variable may be reached through a pointer.
  bool AddressTaken = false;

  bool HasName(std::string_view name) const;
};

class tVarList {
 public:
  TVar* AddVar(std::string_view name, bool primary, std::int32_t size, std::uint8_t kind, std::uint8_t volatility,
               std::int64_t address, std::int64_t baseAddress);
  // An ".EQU" declaration: typeText is the line's comment ("var data word", "const", ...).
  TVar* Declare(std::string_view name, bool primary, std::string_view typeText, std::string_view valueText);
  TVar* Find(std::string_view name) const;
  // As Find; a found variable of unknown kind takes the given kind.
  TVar* FindKind(std::string_view name, std::uint8_t kind);
  TVar* FindByValue(std::string_view text);
  TVar* FindOrCreate(std::string_view name, std::uint8_t kind);

  bool IsVolatile(TVar& var);
  static bool IsAlwaysLive(const TVar& var);
  static bool IsRegister(const TVar& var) { return var.Kind == vk::Data && var.Address >= 0 && var.Address <= 31; }
  // R0..R31 for a register variable, -1 for anything else or none.
  static int RegisterNumber(const TVar* var) {
    return var != nullptr && IsRegister(*var) ? static_cast<int>(var->Address) : -1;
  }
  static bool IsFlag(const TVar& var) { return var.Kind == vk::Flag && var.Address >= 0 && var.Address <= 7; }
  static void AddRef(TVar* var) {
    if (var != nullptr) ++var->RefCount;
  }
  static void ReleaseRef(TVar* var) {
    if (var != nullptr) --var->RefCount;
  }
  static bool IsUnreferenced(const TVar& var) { return var.RefCount == 0; }

  const std::vector<std::unique_ptr<TVar>>& Items() const { return Vars; }

  std::uint8_t VolatileDefault = volatility::Default;
  // Every data byte from this address up may be reached through a pointer
  // (see MemoryModel.h); none while no address is taken.
  std::int64_t PointerReachFrom = std::numeric_limits<std::int64_t>::max();
  bool StartCodeSeen = false;
  std::int64_t IDataStart = 0;

 private:
  using TAddressKey = std::tuple<std::int64_t, std::int64_t, std::uint8_t>;

  TVar* Create(std::int64_t address, std::int64_t baseAddress, std::int32_t size, std::uint8_t kind);
  void AddName(TVar& var, std::string_view name, bool primary, std::uint8_t volatility);
  TVar* FindAtAddress(std::int64_t address, std::int64_t baseAddress, std::uint8_t kind, std::int32_t size) const;
  TVar* Derive(std::string_view name, TVar& base, std::int64_t address);

  std::vector<std::unique_ptr<TVar>> Vars;
  std::map<std::string, TVar*, TNoCaseLess> Names;
  // Variables by address, in order of creation, so aliases are found without a scan.
  std::map<TAddressKey, std::vector<TVar*>> ByAddress;
};

// The value of an operand expression as the compiler writes them: numbers and
// at most one added name whose variable `named` accepts (its address), reduced
// by " AND mask" or " SHRB n"; AND binds loosest, then SHRB, then the sum.
// None when any part is not known.
std::optional<std::int64_t> ExpressionValue(const tVarList& vars, std::string_view text,
                                            bool (*named)(const TVar&));

// Adds a usage of a variable to a line's list; none is an internal error.
void AddUsage(TVarUsageList& list, TVar* var, TUsageSet bits);

}  // namespace korvid
