// Docstrings of the task, notification and subscription commands.
#pragma once

#include "doc_parts.hpp"

namespace vmcmd::doc {

constexpr char vmSendCmdCreateTaskBackTest[] =
    "Create a back-test task; returns its id as numpy int64.\n\n"
    "Parameters\n"
    "  HandleList: the account handles the task trades on.\n"
    "  TargetList: the securities the task trades.\n"
    DOC_TARGETS
    "  params: the task's settings, a mapping sent as one record (for example\n"
    "      StrategyName).\n\n"
    "Returns\n"
    "  The new task's id, a numpy int64.";

constexpr char vmSendCmdStartTaskBackTest[] =
    "Start a back-test task (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED "\n"
    DOC_RETURNS_STATUS
    "  An id that names no back-test task is an error.";

constexpr char vmSendCmdStartTaskRealTrade[] =
    "Start a real-trade task (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED "\n"
    DOC_RETURNS_STATUS
    "  An id that names no real-trade task is an error.";

constexpr char vmSendCmdStopTaskRealTrade[] =
    "Stop a real-trade task.\n\n"
    "Parameters\n"
    "  i64TaskID: " DOC_TASK_ID "; always sent, a NaN too.\n"
    "  strategy_name: the task's strategy name.\n"
    "  handles: the account handles the task traded on.\n\n"
    DOC_RETURNS_STATUS
    "  An id that names no real-trade task is an error.";

constexpr char vmSendCmdCreateTaskRunFactor[] =
    "Create a factor-run task; returns its id as numpy int64.\n\n"
    "Parameters\n"
    "  params: a mapping with the keys StraName (the factor's name), StraPath (the\n"
    "      path of its source), IndexName (the index or block it runs on),\n"
    "      ToolBoxDesc (a description of the framework), BeginDate and EndDate\n"
    "      (YYYYMMDD); a missing key raises KeyError before anything is sent.\n\n"
    "Returns\n"
    "  The new task's id, a numpy int64.";

constexpr char vmSendCmdStartTaskRunFactor[] =
    "Start a factor-run task (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED "\n"
    DOC_RETURNS_STATUS
    "  An id that names no factor-run task is an error.";

constexpr char vmSendCmdStopTaskRunFactor[] =
    "Stop a factor-run task (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED
    "  record_dir: the directory the task's records were written to.\n\n"
    DOC_RETURNS_STATUS
    "  An id that names no factor-run task is an error.";

constexpr char vmSendCmdGetBackTestPerformance[] =
    "Performance records of a back test.\n\n"
    "Parameters\n"
    "  i64TaskID: " DOC_TASK_ID "; always sent, a NaN too.\n\n"
    "Returns\n"
    "  A list of records with Item and Value: TaskID, Status (\"created\", \"running\",\n"
    "  \"stopped\"), InitialAsset, TotalAsset and Return (TotalAsset over\n"
    "  InitialAsset, less 1) of the task's accounts.";

constexpr char vmSendCmdKeepActive[] =
    "Keep the link to the terminal alive.\n\n"
    "The command takes no parameters.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdRtNotifyReceived[] =
    "Acknowledge a real-time data notification.\n\n"
    "The command takes no parameters.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdAccountNotifyReceived[] =
    "Acknowledge an account notification.\n\n"
    "The command takes no parameters.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdRiseError[] =
    "Report an error of a task to the terminal (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED
    "  e: the error, an exception or a text; str(e) is sent.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdTest[] =
    "Run a test command on the terminal.\n\n"
    "Parameters\n"
    "  cmd_name: the test command's name.\n"
    "  params: its parameters, a list.\n\n"
    "Returns\n"
    "  The answer's listResult (the embedded terminal echoes params as a list).";

constexpr char vmSendCmdSubscribeAccount[] =
    "Subscribe to an account's notifications.\n\n"
    "Parameters\n"
    "  accountID: the account's id.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdUnsubscribeAccount[] =
    "Unsubscribe from accounts' notifications.\n\n"
    "Parameters\n"
    "  accountIDs: a list of account ids.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdSubscribeIns[] =
    "Subscribe to bars of the targets at a frequency.\n\n"
    "Parameters\n"
    "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ ".\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdUnsubscribeIns[] =
    "Unsubscribe from bars of the targets at a frequency.\n\n"
    "Parameters\n"
    "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ ".\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdSubscribeInstrument[] =
    "Subscribe to real-time data of the targets.\n\n"
    "Parameters\n"
    "  MarketCodes: the securities, sent as records with their position Idx (from 0).\n"
    DOC_TARGETS "\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdUnsubscribeInstrument[] =
    "Unsubscribe from all real-time data.\n\n"
    "The command takes no parameters.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdUnsubscribeFactor[] =
    "Unsubscribe from a factor of the targets.\n\n"
    "Parameters\n"
    "  marketCode: the securities, sent as records with their position Idx (from 0).\n"
    DOC_TARGETS
    "  FactorName: the factor's name (\"momentum_5d\").\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdCheckSubscribeNum[] =
    "Check a subscription count with the terminal (only the status matters).\n\n"
    "Parameters\n"
    "  Frequency: the bar frequency of the subscriptions, " DOC_FREQ ".\n"
    "  SubscribeNum: how many subscriptions are wanted (the embedded terminal allows\n"
    "      up to 500).\n\n"
    DOC_RETURNS_STATUS
    "  Too many subscriptions is an error.";

constexpr char vmSendCmdStopTaskBackTest[] =
    "Stop a back-test task with its final targets and positions (nothing for a NaN id).\n\n"
    "Parameters\n"
    DOC_TASK_ID_GUARDED
    "  targetList: the task's securities, sent as records with their position Idx.\n"
    DOC_TARGETS
    "  positionList: the final positions, mappings each sent as a record.\n"
    "  params: the task's settings, a mapping sent as one record.\n\n"
    DOC_RETURNS_STATUS
    "  An id that names no back-test task is an error.";

constexpr char vmSendCmdCreateTaskRealTrade[] =
    "Create a real-trade task from params (HandleList, TargetList, ...); returns its id as numpy int64.\n\n"
    "Parameters\n"
    "  params: a mapping with HandleList (the account handles to trade on),\n"
    "      TargetList (target records) and the run's other settings, such as\n"
    "      StrategyName; it is sent as one record with the handles and targets.\n"
    DOC_TARGETS "\n"
    "Returns\n"
    "  The new task's id, a numpy int64 (give it to vmSendCmdStartTaskRealTrade).";

constexpr char vmSendCmdPutLog[] =
    "Write a line to the terminal's log and the framework log (nothing for a NaN id).\n\n"
    "A non-empty line is also echoed to the console. The terminal does not answer.\n\n"
    "Parameters\n"
    "  i64TaskId: " DOC_TASK_ID "; a float NaN sends\n"
    "      and logs nothing.\n"
    "  log: the text.\n\n"
    "Returns\n"
    "  None.";

constexpr char vmSendCmdSubscribeFactor[] =
    "Subscribe to factors of the targets; nothing is sent when either list is empty.\n\n"
    "Parameters\n"
    "  MarketCodes: the securities, sent as records with their position Idx (from 0).\n"
    DOC_TARGETS
    "  Factors: factor names (\"momentum_5d\", \"volatility_20d\", \"turnover\" on the\n"
    "      embedded terminal), sent as records Idx, FactorName.\n\n"
    DOC_RETURNS_NOTHING;

constexpr char vmSendCmdToolboxCheck[] =
    "Check that this framework version suits the terminal; returns the terminal's answer.\n\n"
    "Parameters\n"
    "  wstrLanguage: the framework's language, \"python\".\n"
    "  wstrToolboxVer: the framework's version text.\n"
    "  listSupportedCore: the terminal core versions the framework supports (texts,\n"
    "      \"3.1.4\").\n\n"
    "Returns\n"
    "  The answer object: result (its status record) and wstrCoreVersion (the\n"
    "  terminal's core version). An unknown language raises VmReturnError; a core\n"
    "  version missing from listSupportedCore answers a warning, shown to the user.";

}  // namespace vmcmd::doc
