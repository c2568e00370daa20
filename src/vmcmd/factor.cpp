// Factor, fundamental and risk-model commands: result files and field information.
#include "commands.hpp"
#include "factor_docs.hpp"

namespace vmcmd {
namespace {

Command kFactor[] = {
    {"vmSendCmdGetFactor", "FactorName, targetList, BeginDate, EndDate, NDaysBefore", "VelmoroGetFactor_send",
     {"FactorName", rq::targets("targetList"), "BeginDate", "EndDate", "NDaysBefore"}, Answer::Checked,
     "wstrFilePath", kNone, doc::vmSendCmdGetFactor},
    {"vmSendCmdGetFactorMultiFilePath", "list_factor_name, TargetList, BeginDate, EndDate, DaysBefore=0",
     "VelmoroGetFactorMultiFilePath_send",
     {"list_factor_name", rq::targets("TargetList"), "BeginDate", "EndDate", "DaysBefore"}, Answer::Checked,
     "listPaths", kNone, doc::vmSendCmdGetFactorMultiFilePath},
    {"vmSendCmdAskFactor", "ItemName, TargetList, dateBegin, dateEnd, dateBefore", "VelmoroAskFactor_send",
     {"ItemName", rq::targets("TargetList"), "dateBegin", "dateEnd", "dateBefore"}, Answer::Unchecked, nullptr, kNone,
     doc::vmSendCmdAskFactor},
    {"vmSendCmdGetFundamentalSet", "targetList, CatName, ItemList, BeginDate, EndDate",
     "VelmoroGetFundamentalSet_send", {"CatName", rq::targets("targetList"), "ItemList", "BeginDate", "EndDate"},
     Answer::Load, "wstrFilePath", kNone,
     doc::vmSendCmdGetFundamentalSet},
    {"vmSendCmdGetFdmt", "lang, func, params_str", "VelmoroGetFundamentalSet2_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone, doc::vmSendCmdGetFdmt},
    {"vmSendCmdFdmtFieldInfo", "fdmt_fields", "VelmoroFdmtFieldInfo_send", {"fdmt_fields"}, Answer::Checked, nullptr,
     kNone, doc::vmSendCmdFdmtFieldInfo},
    {"vmSendCmdIsMTFundmental", "CatName, ItemName", "VelmoroIsMTFundmental_send", {"CatName", "ItemName"},
     Answer::Unchecked, "IsMTFundmental", kNone,
     doc::vmSendCmdIsMTFundmental},
    {"vmSendCmdGetRiskModel", "lang, func, params_str", "VelmoroGetRiskModelSet_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone, doc::vmSendCmdGetRiskModel},
    {"vmSendCmdRiskModelFieldInfo", "fdmt_fields", "VelmoroRiskModelFieldInfo_send", {"fdmt_fields"}, Answer::Checked,
     nullptr, kNone, doc::vmSendCmdRiskModelFieldInfo},
};

}  // namespace

void register_factor(vm::Module& m) { add_commands<kFactor>(m); }

}  // namespace vmcmd
