// Task, notification and subscription commands: task control, link upkeep,
// the terminal's log, version check, subscriptions.
#include "commands.hpp"
#include "doc_parts.hpp"

namespace vmcmd {
namespace {

constexpr rq::Field kCreateTaskRunFactorRecord[] = {
    {"wstrFactorName", rq::item("params", "StraName")},
    {"wstrSrcPath", rq::item("params", "StraPath")},
    {"wstrIndexPlateName", rq::item("params", "IndexName")},
    {"wstrToolBoxDes", rq::item("params", "ToolBoxDesc")},
    {"iBegin", rq::item("params", "BeginDate")},
    {"iEnd", rq::item("params", "EndDate")},
};

Command kTasks[] = {
    {"vmSendCmdCreateTaskBackTest", "HandleList: Sequence[int], TargetList: _Targets, "
     "params: Mapping[str, Any] -> np.int64", "VelmoroCreateTaskBackTest_send",
     {rq::dotted("params"), "HandleList", rq::targets("TargetList")}, Answer::Int64, "i64TaskID", kNone,
     "Create a back-test task; returns its id as numpy int64.\n\n"
     "Parameters\n"
     "  HandleList: the account handles the task trades on.\n"
     "  TargetList: the securities the task trades.\n"
     DOC_TARGETS
     "  params: the task's settings, a mapping sent as one record (for example\n"
     "      StrategyName).\n\n"
     "Returns\n"
     "  The new task's id, a numpy int64."},
    {"vmSendCmdStartTaskBackTest", "i64TaskId: _TaskId -> None",
     "VelmoroStartTaskBackTest_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard,
     "Start a back-test task (nothing for a NaN id).\n\n"
     "Parameters\n"
     DOC_TASK_ID_GUARDED "\n"
     DOC_RETURNS_STATUS
     "  An id that names no back-test task is an error."},
    {"vmSendCmdStartTaskRealTrade", "i64TaskId: _TaskId -> None",
     "VelmoroStartTaskRealTrade_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard,
     "Start a real-trade task (nothing for a NaN id).\n\n"
     "Parameters\n"
     DOC_TASK_ID_GUARDED "\n"
     DOC_RETURNS_STATUS
     "  An id that names no real-trade task is an error."},
    {"vmSendCmdStopTaskRealTrade", "i64TaskID: _TaskId, strategy_name: str, handles: Sequence[int] -> None",
     "VelmoroStopTaskRealTrade_send",
     {"i64TaskID", "strategy_name", "handles"}, Answer::Checked, nullptr, kNone,
     "Stop a real-trade task.\n\n"
     "Parameters\n"
     "  i64TaskID: " DOC_TASK_ID "; always sent, a NaN too.\n"
     "  strategy_name: the task's strategy name.\n"
     "  handles: the account handles the task traded on.\n\n"
     DOC_RETURNS_STATUS
     "  An id that names no real-trade task is an error."},
    {"vmSendCmdCreateTaskRunFactor", "params: Mapping[str, Any] -> np.int64", "VelmoroCreateTaskRunFactor_send",
     {rq::record(kCreateTaskRunFactorRecord)}, Answer::Int64, "i64TaskID", kNone,
     "Create a factor-run task; returns its id as numpy int64.\n\n"
     "Parameters\n"
     "  params: a mapping with the keys StraName (the factor's name), StraPath (the\n"
     "      path of its source), IndexName (the index or block it runs on),\n"
     "      ToolBoxDesc (a description of the framework), BeginDate and EndDate\n"
     "      (YYYYMMDD); a missing key raises KeyError before anything is sent.\n\n"
     "Returns\n"
     "  The new task's id, a numpy int64."},
    {"vmSendCmdStartTaskRunFactor", "i64TaskId: _TaskId -> None",
     "VelmoroStartTaskRunFactor_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard,
     "Start a factor-run task (nothing for a NaN id).\n\n"
     "Parameters\n"
     DOC_TASK_ID_GUARDED "\n"
     DOC_RETURNS_STATUS
     "  An id that names no factor-run task is an error."},
    {"vmSendCmdStopTaskRunFactor", "i64TaskId: _TaskId, record_dir: str -> None", "VelmoroStopTaskRunFactor_send",
     {"i64TaskId", "record_dir"}, Answer::Checked, nullptr, kNanGuard,
     "Stop a factor-run task (nothing for a NaN id).\n\n"
     "Parameters\n"
     DOC_TASK_ID_GUARDED
     "  record_dir: the directory the task's records were written to.\n\n"
     DOC_RETURNS_STATUS
     "  An id that names no factor-run task is an error."},
    {"vmSendCmdGetBackTestPerformance", "i64TaskID: _TaskId -> List[Any]",
     "VelmoroGetBackTestPerformance_send", {"i64TaskID"},
     Answer::Checked, "listDetail", kNone,
     "Performance records of a back test.\n\n"
     "Parameters\n"
     "  i64TaskID: " DOC_TASK_ID "; always sent, a NaN too.\n\n"
     "Returns\n"
     "  A list of records with Item and Value: TaskID, Status (\"created\", \"running\",\n"
     "  \"stopped\"), InitialAsset, TotalAsset and Return (TotalAsset over\n"
     "  InitialAsset, less 1) of the task's accounts."},
    {"vmSendCmdKeepActive", "-> None", "VelmoroKeepActive_send", {}, Answer::Fire, nullptr, kNone,
     "Keep the link to the terminal alive.\n\n"
     "The command takes no parameters.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdRtNotifyReceived", "-> None", "VelmoroRtNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     "Acknowledge a real-time data notification.\n\n"
     "The command takes no parameters.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdAccountNotifyReceived", "-> None", "VelmoroAccountNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     "Acknowledge an account notification.\n\n"
     "The command takes no parameters.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdRiseError", "i64TaskId: _TaskId, e: object -> None",
     "VelmoroRiseError_send", {"i64TaskId", rq::str("e")}, Answer::Fire,
     nullptr, kNanGuard,
     "Report an error of a task to the terminal (nothing for a NaN id).\n\n"
     "Parameters\n"
     DOC_TASK_ID_GUARDED
     "  e: the error, an exception or a text; str(e) is sent.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdTest", "cmd_name: str, params: List[Any] -> List[Any]",
     "VelmoroCmdTest_send", {"cmd_name", "params"}, Answer::Checked,
     "listResult", kNone,
     "Run a test command on the terminal.\n\n"
     "Parameters\n"
     "  cmd_name: the test command's name.\n"
     "  params: its parameters, a list.\n\n"
     "Returns\n"
     "  The answer's listResult (the embedded terminal echoes params as a list)."},
    {"vmSendCmdSubscribeAccount", "accountID: Any -> None",
     "VelmoroSubscribeAccount_send", {"accountID"}, Answer::Fire, nullptr,
     kNone,
     "Subscribe to an account's notifications.\n\n"
     "Parameters\n"
     "  accountID: the account's id.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdUnsubscribeAccount", "accountIDs: Any -> None",
     "VelmoroUnsubscribeAccount_send", {"accountIDs"}, Answer::Fire,
     nullptr, kNone,
     "Unsubscribe from accounts' notifications.\n\n"
     "Parameters\n"
     "  accountIDs: a list of account ids.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdSubscribeIns", "marketCode: _Targets, kFreq: str -> None", "VelmoroSubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     "Subscribe to bars of the targets at a frequency.\n\n"
     "Parameters\n"
     "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
     DOC_TARGETS
     "  kFreq: bar frequency, " DOC_FREQ ".\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdUnsubscribeIns", "marketCode: _Targets, kFreq: str -> None", "VelmoroUnsubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from bars of the targets at a frequency.\n\n"
     "Parameters\n"
     "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
     DOC_TARGETS
     "  kFreq: bar frequency, " DOC_FREQ ".\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdSubscribeInstrument", "MarketCodes: _Targets -> None", "VelmoroSubscribeInstrument_send",
     {rq::indexed_targets("MarketCodes")}, Answer::Fire, nullptr, kNone,
     "Subscribe to real-time data of the targets.\n\n"
     "Parameters\n"
     "  MarketCodes: the securities, sent as records with their position Idx (from 0).\n"
     DOC_TARGETS "\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdUnsubscribeInstrument", "-> None", "VelmoroUnsubscribeInstrument_send", {}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from all real-time data.\n\n"
     "The command takes no parameters.\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdUnsubscribeFactor", "marketCode: _Targets, FactorName: str -> None", "VelmoroUnsubscribeFactor_send",
     {rq::indexed_targets("marketCode"), "FactorName"}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from a factor of the targets.\n\n"
     "Parameters\n"
     "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
     DOC_TARGETS
     "  FactorName: the factor's name (\"momentum_5d\").\n\n"
     DOC_RETURNS_NOTHING},
    {"vmSendCmdCheckSubscribeNum", "Frequency: Any, SubscribeNum: int -> None", "VelmoroCheckSubscribeNum_send",
     {"Frequency", "SubscribeNum"}, Answer::Checked, nullptr, kNone,
     "Check a subscription count with the terminal (only the status matters).\n\n"
     "Parameters\n"
     "  Frequency: the bar frequency of the subscriptions, " DOC_FREQ ".\n"
     "  SubscribeNum: how many subscriptions are wanted (the embedded terminal allows\n"
     "      up to 500).\n\n"
     DOC_RETURNS_STATUS
     "  Too many subscriptions is an error."},
};


Ref vmSendCmdStopTaskBackTest(Params<4> p) {
    auto [task_id, target_list, position_list, params] = p.take<4>();
    PyObject* func_name = n_vmSendCmdStopTaskBackTest;
    if (nan_task_id(task_id)) return vm::none();
    Ref targets = indexed_targets(target_list);
    Ref positions = dot_list(position_list);
    vm::global_attr(n_vmserial, n_VelmoroStopTaskBackTest_send).call({task_id, dot(params), targets, positions});
    check_answer(func_name, receive(func_name));
    return vm::none();
}

// The targets come from the converted record, the handles from the caller's mapping.
Ref vmSendCmdCreateTaskRealTrade(Params<1> p) {
    auto [params] = p.take<1>();
    PyObject* func_name = n_vmSendCmdCreateTaskRealTrade;
    Ref targets = target_list(dot(params).attr(n_TargetList));
    vm::global_attr(n_vmserial, n_VelmoroCreateTaskRealTrade_send).call(
        {dot(params), vm::item(params, n_HandleList), targets});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return answer_int64(res, n_i64TaskID);
}

// The text also goes to the framework log; a non-empty text is echoed to the console.
Ref vmSendCmdPutLog(Params<2> p) {
    auto [task_id, log] = p.take<2>();
    if (nan_task_id(task_id)) return vm::none();
    vm::global_attr(n_vmserial, n_VelmoroPutLog_send).call({task_id, log});
    vm::global(n_write_log).call(kw_log, {log, n_info, log});
    return vm::none();
}

Ref vmSendCmdSubscribeFactor(Params<2> p) {
    auto [market_codes, factor_names] = p.take<2>();
    if (vm::length(market_codes) == 0 || vm::length(factor_names) == 0) return vm::none();
    Ref targets = indexed_targets(market_codes);
    Ref factors = indexed_factors(factor_names);
    vm::global_attr(n_vmserial, n_VelmoroSubscribeFactor_send).call({targets, factors});
    return vm::none();
}

Ref vmSendCmdToolboxCheck(Params<3> p) {
    auto [language, toolbox_version, supported_cores] = p.take<3>();
    PyObject* func_name = n_vmSendCmdToolboxCheck;
    vm::global_attr(n_vmserial, n_VelmoroToolboxCheck_send).call({language, toolbox_version, supported_cores});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return res;
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdStopTaskBackTest, "i64TaskId: _TaskId, targetList: _Targets, "
                "positionList: Iterable[Mapping[str, Any]], params: Mapping[str, Any] -> None",
                "Stop a back-test task with its final targets and positions (nothing for a NaN id).\n\n"
                "Parameters\n"
                DOC_TASK_ID_GUARDED
                "  targetList: the task's securities, sent as records with their position Idx.\n"
                DOC_TARGETS
                "  positionList: the final positions, mappings each sent as a record.\n"
                "  params: the task's settings, a mapping sent as one record.\n\n"
                DOC_RETURNS_STATUS
                "  An id that names no back-test task is an error."),
    VM_FUNCTION(vmSendCmdCreateTaskRealTrade, "params: Mapping[str, Any] -> np.int64",
                "Create a real-trade task from params (HandleList, TargetList, ...); returns its id as numpy int64.\n\n"
                "Parameters\n"
                "  params: a mapping with HandleList (the account handles to trade on),\n"
                "      TargetList (target records) and the run's other settings, such as\n"
                "      StrategyName; it is sent as one record with the handles and targets.\n"
                DOC_TARGETS "\n"
                "Returns\n"
                "  The new task's id, a numpy int64 (give it to vmSendCmdStartTaskRealTrade)."),
    VM_FUNCTION(vmSendCmdPutLog, "i64TaskId: _TaskId, log: str -> None",
                "Write a line to the terminal's log and the framework log (nothing for a NaN id).\n\n"
                "A non-empty line is also echoed to the console. The terminal does not answer.\n\n"
                "Parameters\n"
                "  i64TaskId: " DOC_TASK_ID "; a float NaN sends\n"
                "      and logs nothing.\n"
                "  log: the text.\n\n"
                "Returns\n"
                "  None."),
    VM_FUNCTION(vmSendCmdSubscribeFactor, "MarketCodes: _Targets, Factors: Sequence[str] -> None",
                "Subscribe to factors of the targets; nothing is sent when either list is empty.\n\n"
                "Parameters\n"
                "  MarketCodes: the securities, sent as records with their position Idx (from 0).\n"
                DOC_TARGETS
                "  Factors: factor names (\"momentum_5d\", \"volatility_20d\", \"turnover\" on the\n"
                "      embedded terminal), sent as records Idx, FactorName.\n\n"
                DOC_RETURNS_NOTHING),
    VM_FUNCTION(vmSendCmdToolboxCheck, "wstrLanguage: str, wstrToolboxVer: str, "
                "listSupportedCore: Sequence[str] -> Any",
                "Check that this framework version suits the terminal; returns the terminal's answer.\n\n"
                "Parameters\n"
                "  wstrLanguage: the framework's language, \"python\".\n"
                "  wstrToolboxVer: the framework's version text.\n"
                "  listSupportedCore: the terminal core versions the framework supports (texts,\n"
                "      \"3.1.4\").\n\n"
                "Returns\n"
                "  The answer object: result (its status record) and wstrCoreVersion (the\n"
                "  terminal's core version). An unknown language raises VmReturnError; a core\n"
                "  version missing from listSupportedCore answers a warning, shown to the user."),
};

}  // namespace

void register_tasks(vm::Module& m) {
    add_commands<kTasks>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
