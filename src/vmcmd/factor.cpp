// Factor, fundamental and risk-model commands: result files and field information.
#include "commands.hpp"

namespace vmcmd {
namespace {

Command kFactor[] = {
    {"vmSendCmdGetFactor", "FactorName, targetList, BeginDate, EndDate, NDaysBefore", "VelmoroGetFactor_send",
     {"FactorName", rq::targets("targetList"), "BeginDate", "EndDate", "NDaysBefore"}, Answer::Checked,
     "wstrFilePath", kNone, "Values of one factor; returns the MAT file path."},
    {"vmSendCmdGetFactorMultiFilePath", "list_factor_name, TargetList, BeginDate, EndDate, DaysBefore=0",
     "VelmoroGetFactorMultiFilePath_send",
     {"list_factor_name", rq::targets("TargetList"), "BeginDate", "EndDate", "DaysBefore"}, Answer::Checked,
     "listPaths", kNone, "Values of several factors; returns the MAT file paths."},
    {"vmSendCmdAskFactor", "ItemName, TargetList, dateBegin, dateEnd, dateBefore", "VelmoroAskFactor_send",
     {"ItemName", rq::targets("TargetList"), "dateBegin", "dateEnd", "dateBefore"}, Answer::Unchecked, nullptr, kNone,
     "Ask the terminal to prepare factor data; its answer is not looked at."},
    {"vmSendCmdGetFundamentalSet", "targetList, CatName, ItemList, BeginDate, EndDate",
     "VelmoroGetFundamentalSet_send", {"CatName", rq::targets("targetList"), "ItemList", "BeginDate", "EndDate"},
     Answer::Load, "wstrFilePath", kNone,
     "A fundamental data set of the targets, loaded from the terminal's MAT file."},
    {"vmSendCmdGetFdmt", "lang, func, params_str", "VelmoroGetFundamentalSet2_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone, "Run a fundamental query function; returns the MAT file path."},
    {"vmSendCmdFdmtFieldInfo", "fdmt_fields", "VelmoroFdmtFieldInfo_send", {"fdmt_fields"}, Answer::Checked, nullptr,
     kNone, "Ask for the description of fundamental fields (shown as the answer's message)."},
    {"vmSendCmdIsMTFundmental", "CatName, ItemName", "VelmoroIsMTFundmental_send", {"CatName", "ItemName"},
     Answer::Unchecked, "IsMTFundmental", kNone,
     "Whether a fundamental item is served by the terminal's fundamental tables."},
    {"vmSendCmdGetRiskModel", "lang, func, params_str", "VelmoroGetRiskModelSet_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone, "Run a risk-model query function; returns the MAT file path."},
    {"vmSendCmdRiskModelFieldInfo", "fdmt_fields", "VelmoroRiskModelFieldInfo_send", {"fdmt_fields"}, Answer::Checked,
     nullptr, kNone, "Ask for the description of risk-model fields (shown as the answer's message)."},
};

}  // namespace

void register_factor(vm::Module& m) { add_commands<kFactor>(m); }

}  // namespace vmcmd
