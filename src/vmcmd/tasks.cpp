// Task, notification and subscription commands: task control, link upkeep,
// the terminal's log, version check, subscriptions.
#include "commands.hpp"

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
    {"vmSendCmdCreateTaskBackTest", "HandleList, TargetList, params", "VelmoroCreateTaskBackTest_send",
     {rq::dotted("params"), "HandleList", rq::targets("TargetList")}, Answer::Int64, "i64TaskID", kNone,
     "Create a back-test task; returns its id as numpy int64."},
    {"vmSendCmdStartTaskBackTest", "i64TaskId", "VelmoroStartTaskBackTest_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, "Start a back-test task (nothing for a NaN id)."},
    {"vmSendCmdStartTaskRealTrade", "i64TaskId", "VelmoroStartTaskRealTrade_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, "Start a real-trade task (nothing for a NaN id)."},
    {"vmSendCmdStopTaskRealTrade", "i64TaskID, strategy_name, handles", "VelmoroStopTaskRealTrade_send",
     {"i64TaskID", "strategy_name", "handles"}, Answer::Checked, nullptr, kNone, "Stop a real-trade task."},
    {"vmSendCmdCreateTaskRunFactor", "params", "VelmoroCreateTaskRunFactor_send",
     {rq::record(kCreateTaskRunFactorRecord)}, Answer::Int64, "i64TaskID", kNone,
     "Create a factor-run task; returns its id as numpy int64."},
    {"vmSendCmdStartTaskRunFactor", "i64TaskId", "VelmoroStartTaskRunFactor_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, "Start a factor-run task (nothing for a NaN id)."},
    {"vmSendCmdStopTaskRunFactor", "i64TaskId, record_dir", "VelmoroStopTaskRunFactor_send",
     {"i64TaskId", "record_dir"}, Answer::Checked, nullptr, kNanGuard,
     "Stop a factor-run task (nothing for a NaN id)."},
    {"vmSendCmdGetBackTestPerformance", "i64TaskID", "VelmoroGetBackTestPerformance_send", {"i64TaskID"},
     Answer::Checked, "listDetail", kNone, "Performance records of a back test."},
    {"vmSendCmdKeepActive", "", "VelmoroKeepActive_send", {}, Answer::Fire, nullptr, kNone,
     "Keep the link to the terminal alive."},
    {"vmSendCmdRtNotifyReceived", "", "VelmoroRtNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     "Acknowledge a real-time data notification."},
    {"vmSendCmdAccountNotifyReceived", "", "VelmoroAccountNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     "Acknowledge an account notification."},
    {"vmSendCmdRiseError", "i64TaskId, e", "VelmoroRiseError_send", {"i64TaskId", rq::str("e")}, Answer::Fire,
     nullptr, kNanGuard, "Report an error of a task to the terminal (nothing for a NaN id)."},
    {"vmSendCmdTest", "cmd_name, params", "VelmoroCmdTest_send", {"cmd_name", "params"}, Answer::Checked,
     "listResult", kNone, "Run a test command on the terminal."},
    {"vmSendCmdSubscribeAccount", "accountID", "VelmoroSubscribeAccount_send", {"accountID"}, Answer::Fire, nullptr,
     kNone, "Subscribe to an account's notifications."},
    {"vmSendCmdUnsubscribeAccount", "accountIDs", "VelmoroUnsubscribeAccount_send", {"accountIDs"}, Answer::Fire,
     nullptr, kNone, "Unsubscribe from accounts' notifications."},
    {"vmSendCmdSubscribeIns", "marketCode, kFreq", "VelmoroSubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     "Subscribe to bars of the targets at a frequency."},
    {"vmSendCmdUnsubscribeIns", "marketCode, kFreq", "VelmoroUnsubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from bars of the targets at a frequency."},
    {"vmSendCmdSubscribeInstrument", "MarketCodes", "VelmoroSubscribeInstrument_send",
     {rq::indexed_targets("MarketCodes")}, Answer::Fire, nullptr, kNone,
     "Subscribe to real-time data of the targets."},
    {"vmSendCmdUnsubscribeInstrument", "", "VelmoroUnsubscribeInstrument_send", {}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from all real-time data."},
    {"vmSendCmdUnsubscribeFactor", "marketCode, FactorName", "VelmoroUnsubscribeFactor_send",
     {rq::indexed_targets("marketCode"), "FactorName"}, Answer::Fire, nullptr, kNone,
     "Unsubscribe from a factor of the targets."},
    {"vmSendCmdCheckSubscribeNum", "Frequency, SubscribeNum", "VelmoroCheckSubscribeNum_send",
     {"Frequency", "SubscribeNum"}, Answer::Checked, nullptr, kNone,
     "Check a subscription count with the terminal (only the status matters)."},
};


Ref vmSendCmdStopTaskBackTest(Params<4> p) {
    auto [task_id, target_list, position_list, params] = p.take<4>();
    PyObject* func_name = n_vmSendCmdStopTaskBackTest;
    if (nan_task_id(task_id)) return vm::none();
    Ref targets = indexed_targets(target_list);
    Ref positions = dot_list(position_list);
    vm::global(n_vmserial).attr(n_VelmoroStopTaskBackTest_send).call({task_id, dot(params), targets, positions});
    check_answer(func_name, receive(func_name));
    return vm::none();
}

// The targets come from the converted record, the handles from the caller's mapping.
Ref vmSendCmdCreateTaskRealTrade(Params<1> p) {
    auto [params] = p.take<1>();
    PyObject* func_name = n_vmSendCmdCreateTaskRealTrade;
    Ref targets = target_list(dot(params).attr(n_TargetList));
    vm::global(n_vmserial).attr(n_VelmoroCreateTaskRealTrade_send).call(
        {dot(params), vm::item(params, n_HandleList), targets});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return answer_int64(res, n_i64TaskID);
}

// The text also goes to the framework log; a non-empty text is echoed to the console.
Ref vmSendCmdPutLog(Params<2> p) {
    auto [task_id, log] = p.take<2>();
    if (nan_task_id(task_id)) return vm::none();
    vm::global(n_vmserial).attr(n_VelmoroPutLog_send).call({task_id, log});
    vm::global(n_write_log).call(kw_log, {log, n_info, log});
    return vm::none();
}

Ref vmSendCmdSubscribeFactor(Params<2> p) {
    auto [market_codes, factor_names] = p.take<2>();
    if (vm::length(market_codes) == 0 || vm::length(factor_names) == 0) return vm::none();
    Ref targets = indexed_targets(market_codes);
    Ref factors = indexed_factors(factor_names);
    vm::global(n_vmserial).attr(n_VelmoroSubscribeFactor_send).call({targets, factors});
    return vm::none();
}

Ref vmSendCmdToolboxCheck(Params<3> p) {
    auto [language, toolbox_version, supported_cores] = p.take<3>();
    PyObject* func_name = n_vmSendCmdToolboxCheck;
    vm::global(n_vmserial).attr(n_VelmoroToolboxCheck_send).call({language, toolbox_version, supported_cores});
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return res;
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdStopTaskBackTest, "i64TaskId, targetList, positionList, params",
                "Stop a back-test task with its final targets and positions (nothing for a NaN id)."),
    VM_FUNCTION(vmSendCmdCreateTaskRealTrade, "params",
                "Create a real-trade task from params (HandleList, TargetList, ...); returns its id as numpy int64."),
    VM_FUNCTION(vmSendCmdPutLog, "i64TaskId, log",
                "Write a line to the terminal's log and the framework log (nothing for a NaN id)."),
    VM_FUNCTION(vmSendCmdSubscribeFactor, "MarketCodes, Factors",
                "Subscribe to factors of the targets; nothing is sent when either list is empty."),
    VM_FUNCTION(vmSendCmdToolboxCheck, "wstrLanguage, wstrToolboxVer, listSupportedCore",
                "Check that this framework version suits the terminal; returns the terminal's answer."),
};

}  // namespace

void register_tasks(vm::Module& m) {
    add_commands<kTasks>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
