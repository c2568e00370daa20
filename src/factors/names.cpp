#include "names.hpp"

namespace factors {

FACTORS_NAMES(VM_NAME_DEFINE)
const vm::Kw<5> kw_log{"ITEMNAME", "MARKET", "CODE", "MARKET2", "CODE2"};

}  // namespace factors
