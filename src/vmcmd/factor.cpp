// Factor, fundamental and risk-model commands: result files and field information.
#include "commands.hpp"
#include "doc_parts.hpp"

namespace vmcmd {
namespace {

Command kFactor[] = {
    {"vmSendCmdGetFactor", "FactorName: str, targetList: _Targets, BeginDate: int, EndDate: int, "
     "NDaysBefore: int -> str", "VelmoroGetFactor_send",
     {"FactorName", rq::targets("targetList"), "BeginDate", "EndDate", "NDaysBefore"}, Answer::Checked,
     "wstrFilePath", kNone,
     "Values of one factor; returns the MAT file path.\n\n"
     "Parameters\n"
     "  FactorName: the factor's name (the embedded terminal: \"momentum_5d\",\n"
     "      \"volatility_20d\", \"turnover\").\n"
     "  targetList: the securities.\n"
     DOC_TARGETS
     "  BeginDate, EndDate: the first and last trading day.\n"
     DOC_FACTOR_DATES
     "  NDaysBefore: calendar days to start before BeginDate, a whole number (0: none).\n\n"
     "Returns\n"
     "  The path of a MAT file: Date (a 1 x n row, framework numeric time of each\n"
     "  trading day's close) and per target with data a 1 x n row of values named\n"
     "  \"bp_<market>_<code>\" (lower case, \"bp_sse_600000\"); targets without data have\n"
     "  no entry."},
    {"vmSendCmdGetFactorMultiFilePath", "list_factor_name: Sequence[str], TargetList: _Targets, BeginDate: int, "
     "EndDate: int, DaysBefore: int = 0 -> List[str]",
     "VelmoroGetFactorMultiFilePath_send",
     {"list_factor_name", rq::targets("TargetList"), "BeginDate", "EndDate", "DaysBefore"}, Answer::Checked,
     "listPaths", kNone,
     "Values of several factors; returns the MAT file paths.\n\n"
     "Parameters\n"
     "  list_factor_name: factor names (the embedded terminal: \"momentum_5d\",\n"
     "      \"volatility_20d\", \"turnover\").\n"
     "  TargetList: the securities.\n"
     DOC_TARGETS
     "  BeginDate, EndDate: the first and last trading day.\n"
     DOC_FACTOR_DATES
     "  DaysBefore: calendar days to start before BeginDate, a whole number (0, the\n"
     "      default: none).\n\n"
     "Returns\n"
     "  A list of MAT file paths, one per factor in order, each as vmSendCmdGetFactor\n"
     "  writes it: Date and one \"bp_<market>_<code>\" row per target with data."},
    {"vmSendCmdAskFactor", "ItemName: str, TargetList: _Targets, dateBegin: int, dateEnd: int, "
     "dateBefore: int -> None", "VelmoroAskFactor_send",
     {"ItemName", rq::targets("TargetList"), "dateBegin", "dateEnd", "dateBefore"}, Answer::Unchecked, nullptr, kNone,
     "Ask the terminal to prepare factor data; its answer is not looked at.\n\n"
     "Parameters\n"
     "  ItemName: the factor's name.\n"
     "  TargetList: the securities.\n"
     DOC_TARGETS
     "  dateBegin, dateEnd: the first and last trading day.\n"
     DOC_FACTOR_DATES
     "  dateBefore: calendar days to start before dateBegin, a whole number.\n\n"
     "Returns\n"
     "  None; an unknown factor or a failure on the terminal's side is not reported\n"
     "  (vmSendCmdGetFactor reports it)."},
    {"vmSendCmdGetFundamentalSet", "targetList: _Targets, CatName: str, ItemList: Sequence[str], BeginDate: int, "
     "EndDate: int -> _MatVariables",
     "VelmoroGetFundamentalSet_send", {"CatName", rq::targets("targetList"), "ItemList", "BeginDate", "EndDate"},
     Answer::Load, "wstrFilePath", kNone,
     "A fundamental data set of the targets, loaded from the terminal's MAT file.\n\n"
     "Parameters\n"
     "  targetList: the securities.\n"
     DOC_TARGETS
     "  CatName: the statement, \"income\" or \"balance\".\n"
     "  ItemList: the statement's items: for \"income\" Revenue, OperatingCost,\n"
     "      OperatingProfit, TotalProfit, NetProfit; for \"balance\" Cash,\n"
     "      TotalAssets, TotalLiabilities, TotalEquity.\n"
     "  BeginDate, EndDate: the range of report period ends (EndDate of a report).\n"
     DOC_DATES "\n"
     "Returns\n"
     "  A mapping of the file's variables, a table of the newest version of each report\n"
     "  in the range: columns Market, Code, ReportType (\"Q1\", \"S1\", \"Q3\", \"A\"),\n"
     "  EndDate, PublishDate (YYYYMMDD), then the items in order.\n"
     DOC_TABLE_FILE},
    {"vmSendCmdGetFdmt", "lang: str, func: str, params_str: str -> str",
     "VelmoroGetFundamentalSet2_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone,
     "Run a fundamental query function; returns the MAT file path.\n\n"
     "The fundamental queries (velmoro.api.fundamental) send their requests this way.\n\n"
     "Parameters\n"
     "  lang: the language of field names and messages, \"en\" or \"cn\".\n"
     "  func: the query's name: \"is_pit\", \"is_latest\", \"is_q\", \"is_q_pit\",\n"
     "      \"is_ttm_pit\", \"ledger_pit\", \"ledger_latest\" (each also with \"bank\",\n"
     "      \"secu\", \"insu\" or \"indu\" after the statement: \"is_bank_q_pit\"), or\n"
     "      \"equ_ipo_float\", \"equ_shares_float\", \"equ_share_float\",\n"
     "      \"equ_reform_float\".\n"
     "  params_str: the query's parameters as JSON text of an object keyed like the\n"
     "      query function's own parameters: target_list (target records),\n"
     "      begin_date, end_date, publish_date_begin, publish_date_end (YYYYMMDD),\n"
     "      report_type and field (lists of texts), ...\n\n"
     "Returns\n"
     "  The path of a MAT file: the rows of the query, key columns first, then the\n"
     "  fields asked (every field of the query when field is empty).\n"
     DOC_TABLE_FILE},
    {"vmSendCmdFdmtFieldInfo", "fdmt_fields: List[str] -> None",
     "VelmoroFdmtFieldInfo_send", {"fdmt_fields"}, Answer::Checked, nullptr,
     kNone,
     "Ask for the description of fundamental fields (shown as the answer's message).\n\n"
     "Parameters\n"
     "  fdmt_fields: a list of field names (\"NetProfit\").\n\n"
     "Returns\n"
     "  None; the descriptions come as the answer's information text, shown to the\n"
     "  user; unknown fields answer a warning naming them."},
    {"vmSendCmdIsMTFundmental", "CatName: str, ItemName: str -> bool",
     "VelmoroIsMTFundmental_send", {"CatName", "ItemName"},
     Answer::Unchecked, "IsMTFundmental", kNone,
     "Whether a fundamental item is served by the terminal's fundamental tables.\n\n"
     "Not status-checked.\n\n"
     "Parameters\n"
     "  CatName: the statement, \"income\" or \"balance\".\n"
     "  ItemName: the item (\"NetProfit\").\n\n"
     "Returns\n"
     "  True or False."},
    {"vmSendCmdGetRiskModel", "lang: str, func: str, params_str: str -> str",
     "VelmoroGetRiskModelSet_send", {"lang", "func", "params_str"},
     Answer::Checked, "wstrFilePath", kNone,
     "Run a risk-model query function; returns the MAT file path.\n\n"
     "Parameters\n"
     "  lang: the language of field names and messages, \"en\" or \"cn\".\n"
     "  func: \"style_exposure\" (a row per target and trading day) or \"factor_return\"\n"
     "      (a row per trading day).\n"
     "  params_str: the query's parameters as JSON text of an object: target_list\n"
     "      (target records), begin_date, end_date (YYYYMMDD) and field (a list of\n"
     "      \"Beta\", \"Size\", \"Momentum\", \"Volatility\"; empty: all).\n\n"
     "Returns\n"
     "  The path of a MAT file with the columns Market, Code, TradeDate (for\n"
     "  \"style_exposure\"; \"factor_return\" has TradeDate alone), then the fields.\n"
     DOC_TABLE_FILE},
    {"vmSendCmdRiskModelFieldInfo", "fdmt_fields: List[str] -> None",
     "VelmoroRiskModelFieldInfo_send", {"fdmt_fields"}, Answer::Checked,
     nullptr, kNone,
     "Ask for the description of risk-model fields (shown as the answer's message).\n\n"
     "Parameters\n"
     "  fdmt_fields: a list of risk-model field names (\"Beta\", \"Size\", \"Momentum\",\n"
     "      \"Volatility\").\n\n"
     "Returns\n"
     "  None; the descriptions come as the answer's information text, shown to the\n"
     "  user; unknown fields answer a warning naming them."},
};

}  // namespace

void register_factor(vm::Module& m) { add_commands<kFactor>(m); }

}  // namespace vmcmd
