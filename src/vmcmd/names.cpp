#include "names.hpp"

namespace vmcmd {

VMCMD_NAMES(VM_NAME_DEFINE)
const vm::Kw<1> kw_error{"error"};
const vm::Kw<2> kw_log{"level", "console"};
const vm::Kw<3> kw_message{"Name", "Code", "Reason"};

}  // namespace vmcmd
