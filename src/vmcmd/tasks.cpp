// Task, notification and subscription commands: task control, link upkeep,
// the terminal's log, version check, subscriptions.
#include "commands.hpp"

namespace vmcmd {
namespace {

Command kTasks[] = {
    {"vmSendCmdCreateTaskBackTest", "HandleList, TargetList, params", "VelmoroCreateTaskBackTest_send", "d2 0 t1",
     Answer::Int64, "i64TaskID", kNone, "Create a back-test task; returns its id as numpy int64."},
    {"vmSendCmdStartTaskBackTest", "i64TaskId", "VelmoroStartTaskBackTest_send", "0", Answer::Checked, nullptr,
     kNanGuard, "Start a back-test task (nothing for a NaN id)."},
    {"vmSendCmdStartTaskRealTrade", "i64TaskId", "VelmoroStartTaskRealTrade_send", "0", Answer::Checked, nullptr,
     kNanGuard, "Start a real-trade task (nothing for a NaN id)."},
    {"vmSendCmdStopTaskRealTrade", "i64TaskID, strategy_name, handles", "VelmoroStopTaskRealTrade_send", "0 1 2",
     Answer::Checked, nullptr, kNone, "Stop a real-trade task."},
    {"vmSendCmdCreateTaskRunFactor", "params", "VelmoroCreateTaskRunFactor_send",
     "{wstrFactorName:0[StraName],wstrSrcPath:0[StraPath],wstrIndexPlateName:0[IndexName],"
     "wstrToolBoxDes:0[ToolBoxDesc],iBegin:0[BeginDate],iEnd:0[EndDate]}",
     Answer::Int64, "i64TaskID", kNone, "Create a factor-run task; returns its id as numpy int64."},
    {"vmSendCmdStartTaskRunFactor", "i64TaskId", "VelmoroStartTaskRunFactor_send", "0", Answer::Checked, nullptr,
     kNanGuard, "Start a factor-run task (nothing for a NaN id)."},
    {"vmSendCmdStopTaskRunFactor", "i64TaskId, record_dir", "VelmoroStopTaskRunFactor_send", "0 1",
     Answer::Checked, nullptr, kNanGuard, "Stop a factor-run task (nothing for a NaN id)."},
    {"vmSendCmdGetBackTestPerformance", "i64TaskID", "VelmoroGetBackTestPerformance_send", "0", Answer::Checked,
     "listDetail", kNone, "Performance records of a back test."},
    {"vmSendCmdKeepActive", "", "VelmoroKeepActive_send", "", Answer::Fire, nullptr, kNone,
     "Keep the link to the terminal alive."},
    {"vmSendCmdRtNotifyReceived", "", "VelmoroRtNotifyReceived_send", "", Answer::Fire, nullptr, kNone,
     "Acknowledge a real-time data notification."},
    {"vmSendCmdAccountNotifyReceived", "", "VelmoroAccountNotifyReceived_send", "", Answer::Fire, nullptr, kNone,
     "Acknowledge an account notification."},
    {"vmSendCmdRiseError", "i64TaskId, e", "VelmoroRiseError_send", "0 s1", Answer::Fire, nullptr, kNanGuard,
     "Report an error of a task to the terminal (nothing for a NaN id)."},
    {"vmSendCmdTest", "cmd_name, params", "VelmoroCmdTest_send", "0 1", Answer::Checked, "listResult", kNone,
     "Run a test command on the terminal."},
    {"vmSendCmdSubscribeAccount", "accountID", "VelmoroSubscribeAccount_send", "0", Answer::Fire, nullptr, kNone,
     "Subscribe to an account's notifications."},
    {"vmSendCmdUnsubscribeAccount", "accountIDs", "VelmoroUnsubscribeAccount_send", "0", Answer::Fire, nullptr,
     kNone, "Unsubscribe from accounts' notifications."},
    {"vmSendCmdSubscribeIns", "marketCode, kFreq", "VelmoroSubscribeIns_send", "i0 1", Answer::Fire, nullptr, kNone,
     "Subscribe to bars of the targets at a frequency."},
    {"vmSendCmdUnsubscribeIns", "marketCode, kFreq", "VelmoroUnsubscribeIns_send", "i0 1", Answer::Fire, nullptr,
     kNone, "Unsubscribe from bars of the targets at a frequency."},
    {"vmSendCmdSubscribeInstrument", "MarketCodes", "VelmoroSubscribeInstrument_send", "i0", Answer::Fire, nullptr,
     kNone, "Subscribe to real-time data of the targets."},
    {"vmSendCmdUnsubscribeInstrument", "", "VelmoroUnsubscribeInstrument_send", "", Answer::Fire, nullptr, kNone,
     "Unsubscribe from all real-time data."},
    {"vmSendCmdUnsubscribeFactor", "marketCode, FactorName", "VelmoroUnsubscribeFactor_send", "i0 1", Answer::Fire,
     nullptr, kNone, "Unsubscribe from a factor of the targets."},
    {"vmSendCmdCheckSubscribeNum", "Frequency, SubscribeNum", "VelmoroCheckSubscribeNum_send", "0 1",
     Answer::Checked, nullptr, kNone, "Check a subscription count with the terminal (only the status matters)."},
};

Name n_vmSendCmdStopTaskBackTest{"vmSendCmdStopTaskBackTest"};
Name n_VelmoroStopTaskBackTest_send{"VelmoroStopTaskBackTest_send"};
Name n_vmSendCmdCreateTaskRealTrade{"vmSendCmdCreateTaskRealTrade"};
Name n_VelmoroCreateTaskRealTrade_send{"VelmoroCreateTaskRealTrade_send"};
Name n_TargetList{"TargetList"};
Name n_HandleList{"HandleList"};
Name n_i64TaskID{"i64TaskID"};
Name n_VelmoroPutLog_send{"VelmoroPutLog_send"};
Name n_write_log{"write_log"};
Name n_info{"info"};
Name n_VelmoroSubscribeFactor_send{"VelmoroSubscribeFactor_send"};
Name n_vmSendCmdToolboxCheck{"vmSendCmdToolboxCheck"};
Name n_VelmoroToolboxCheck_send{"VelmoroToolboxCheck_send"};
const vm::Kw kw_log{"level", "console"};

Ref vmSendCmdStopTaskBackTest(Args a) {
    PyObject* func_name = n_vmSendCmdStopTaskBackTest;
    if (nan_task_id(a[0])) return vm::none();
    Ref targets = indexed_targets(a[1]);
    Ref positions = dot_list(a[2]);
    Ref send = sender(n_VelmoroStopTaskBackTest_send);
    vm::call(send, a[0], dot(a[3]), targets, positions);
    check_answer(func_name, receive(func_name));
    return vm::none();
}

// The targets come from the converted record, the handles from the caller's mapping.
Ref vmSendCmdCreateTaskRealTrade(Args a) {
    PyObject* func_name = n_vmSendCmdCreateTaskRealTrade;
    PyObject* params = a[0];
    Ref targets = target_list(vm::attr(dot(params), n_TargetList));
    Ref send = sender(n_VelmoroCreateTaskRealTrade_send);
    Ref record = dot(params);
    vm::call(send, record, vm::item(params, n_HandleList), targets);
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return as_int64(vm::attr(res, n_i64TaskID));
}

// The text also goes to the framework log; a non-empty text is echoed to the console.
Ref vmSendCmdPutLog(Args a) {
    if (nan_task_id(a[0])) return vm::none();
    vm::call(sender(n_VelmoroPutLog_send), a[0], a[1]);
    vm::call(vm::global(n_write_log), kw_log, a[1], n_info, a[1]);
    return vm::none();
}

Ref vmSendCmdSubscribeFactor(Args a) {
    if (vm::length(a[0]) == 0 || vm::length(a[1]) == 0) return vm::none();
    Ref targets = indexed_targets(a[0]);
    Ref factors = indexed_factors(a[1]);
    vm::call(sender(n_VelmoroSubscribeFactor_send), targets, factors);
    return vm::none();
}

Ref vmSendCmdToolboxCheck(Args a) {
    PyObject* func_name = n_vmSendCmdToolboxCheck;
    vm::call(sender(n_VelmoroToolboxCheck_send), a[0], a[1], a[2]);
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
