// Calendar and reference commands: dates, trading days, code lists, contracts.
#include "commands.hpp"

namespace vmcmd {
namespace {

Command kCalendar[] = {
    {"vmSendCmdGetCodeList", "block, date", "VelmoroGetCodeList_send", "0 1", Answer::Unchecked, "result", kNone,
     "Members of a block (index, sector or board) on a date, as records with Code, Market, Weight, Name, BlockName."},
};

}  // namespace

void register_calendar(vm::Module& m) { add_commands<kCalendar>(m); }

}  // namespace vmcmd
