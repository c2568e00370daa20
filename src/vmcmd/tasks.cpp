// Task, notification and subscription commands: task control, link upkeep,
// the terminal's log, version check, subscriptions.
#include "commands.hpp"
#include "tasks_docs.hpp"

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
     doc::vmSendCmdCreateTaskBackTest},
    {"vmSendCmdStartTaskBackTest", "i64TaskId", "VelmoroStartTaskBackTest_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, doc::vmSendCmdStartTaskBackTest},
    {"vmSendCmdStartTaskRealTrade", "i64TaskId", "VelmoroStartTaskRealTrade_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, doc::vmSendCmdStartTaskRealTrade},
    {"vmSendCmdStopTaskRealTrade", "i64TaskID, strategy_name, handles", "VelmoroStopTaskRealTrade_send",
     {"i64TaskID", "strategy_name", "handles"}, Answer::Checked, nullptr, kNone, doc::vmSendCmdStopTaskRealTrade},
    {"vmSendCmdCreateTaskRunFactor", "params", "VelmoroCreateTaskRunFactor_send",
     {rq::record(kCreateTaskRunFactorRecord)}, Answer::Int64, "i64TaskID", kNone,
     doc::vmSendCmdCreateTaskRunFactor},
    {"vmSendCmdStartTaskRunFactor", "i64TaskId", "VelmoroStartTaskRunFactor_send", {"i64TaskId"}, Answer::Checked,
     nullptr, kNanGuard, doc::vmSendCmdStartTaskRunFactor},
    {"vmSendCmdStopTaskRunFactor", "i64TaskId, record_dir", "VelmoroStopTaskRunFactor_send",
     {"i64TaskId", "record_dir"}, Answer::Checked, nullptr, kNanGuard,
     doc::vmSendCmdStopTaskRunFactor},
    {"vmSendCmdGetBackTestPerformance", "i64TaskID", "VelmoroGetBackTestPerformance_send", {"i64TaskID"},
     Answer::Checked, "listDetail", kNone, doc::vmSendCmdGetBackTestPerformance},
    {"vmSendCmdKeepActive", "", "VelmoroKeepActive_send", {}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdKeepActive},
    {"vmSendCmdRtNotifyReceived", "", "VelmoroRtNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdRtNotifyReceived},
    {"vmSendCmdAccountNotifyReceived", "", "VelmoroAccountNotifyReceived_send", {}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdAccountNotifyReceived},
    {"vmSendCmdRiseError", "i64TaskId, e", "VelmoroRiseError_send", {"i64TaskId", rq::str("e")}, Answer::Fire,
     nullptr, kNanGuard, doc::vmSendCmdRiseError},
    {"vmSendCmdTest", "cmd_name, params", "VelmoroCmdTest_send", {"cmd_name", "params"}, Answer::Checked,
     "listResult", kNone, doc::vmSendCmdTest},
    {"vmSendCmdSubscribeAccount", "accountID", "VelmoroSubscribeAccount_send", {"accountID"}, Answer::Fire, nullptr,
     kNone, doc::vmSendCmdSubscribeAccount},
    {"vmSendCmdUnsubscribeAccount", "accountIDs", "VelmoroUnsubscribeAccount_send", {"accountIDs"}, Answer::Fire,
     nullptr, kNone, doc::vmSendCmdUnsubscribeAccount},
    {"vmSendCmdSubscribeIns", "marketCode, kFreq", "VelmoroSubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdSubscribeIns},
    {"vmSendCmdUnsubscribeIns", "marketCode, kFreq", "VelmoroUnsubscribeIns_send",
     {rq::indexed_targets("marketCode"), "kFreq"}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdUnsubscribeIns},
    {"vmSendCmdSubscribeInstrument", "MarketCodes", "VelmoroSubscribeInstrument_send",
     {rq::indexed_targets("MarketCodes")}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdSubscribeInstrument},
    {"vmSendCmdUnsubscribeInstrument", "", "VelmoroUnsubscribeInstrument_send", {}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdUnsubscribeInstrument},
    {"vmSendCmdUnsubscribeFactor", "marketCode, FactorName", "VelmoroUnsubscribeFactor_send",
     {rq::indexed_targets("marketCode"), "FactorName"}, Answer::Fire, nullptr, kNone,
     doc::vmSendCmdUnsubscribeFactor},
    {"vmSendCmdCheckSubscribeNum", "Frequency, SubscribeNum", "VelmoroCheckSubscribeNum_send",
     {"Frequency", "SubscribeNum"}, Answer::Checked, nullptr, kNone,
     doc::vmSendCmdCheckSubscribeNum},
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
    VM_FUNCTION(vmSendCmdStopTaskBackTest, "i64TaskId, targetList, positionList, params",
                doc::vmSendCmdStopTaskBackTest),
    VM_FUNCTION(vmSendCmdCreateTaskRealTrade, "params",
                doc::vmSendCmdCreateTaskRealTrade),
    VM_FUNCTION(vmSendCmdPutLog, "i64TaskId, log",
                doc::vmSendCmdPutLog),
    VM_FUNCTION(vmSendCmdSubscribeFactor, "MarketCodes, Factors",
                doc::vmSendCmdSubscribeFactor),
    VM_FUNCTION(vmSendCmdToolboxCheck, "wstrLanguage, wstrToolboxVer, listSupportedCore",
                doc::vmSendCmdToolboxCheck),
};

}  // namespace

void register_tasks(vm::Module& m) {
    add_commands<kTasks>(m);
    m.add(kFunctions);
}

}  // namespace vmcmd
