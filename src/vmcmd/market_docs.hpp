// Docstrings of the market-data commands.
#pragma once

#include "doc_parts.hpp"

namespace vmcmd::doc {

constexpr char vmSendCmdGetKData[] =
    "Fetch bar data of the targets; returns the paths of the MAT files the terminal wrote.\n\n"
    "Parameters\n"
    "  targets: the securities, in the order the files should come.\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ ".\n"
    "  kFreNum: periods per bar, a whole number, at least 1 (kFreq \"min\" with 5: five-minute bars).\n"
    "  beginDate, endDate: the first and last trading day of the bars.\n"
    DOC_DATES
    DOC_FILLED_UP
    DOC_FQ_TYPE
    "  noReturn: True (or 1) asks the terminal to prepare the bars without writing\n"
    "      files; False (or 0) has them written.\n\n"
    "Returns\n"
    "  A list of MAT file paths, one per target in request order (empty when noReturn\n"
    "  is true). Each file holds Market, Code, KFrequency and the target's bars.\n"
    DOC_BAR_VARIABLES;

constexpr char vmSendCmdGetKDataMulti[] =
    "Fetch bar data of several targets into one MAT file; returns its path.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetKDataMulti and\n"
    "vmSendCmdGetKDataMultiFilePath, the same in all.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ "; one period a bar.\n"
    "  beginDate, endDate: the first and last trading day of the bars.\n"
    DOC_DATES
    DOC_FILLED_UP
    DOC_FQ_TYPE "\n"
    "Returns\n"
    "  The path of one MAT file.\n"
    DOC_MULTI_FILE
    DOC_BAR_VARIABLES;

constexpr const char* vmSendCmdGetKDataMultiFilePath = vmSendCmdGetKDataMulti;

constexpr char vmSendCmdGetNKDataMulti[] =
    "Fetch the last nCount bars up to endDate of several targets; returns the MAT file path.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS
    "  kFreq: bar frequency, " DOC_FREQ ".\n"
    "  kFreNum: periods per bar, a whole number, at least 1.\n"
    "  nCount: how many bars, a whole number, at least 0; fewer come when the data has fewer.\n"
    "  endDate: the last trading day (YYYYMMDD; 0: up to the latest bar).\n"
    DOC_FILLED_UP
    DOC_FQ_TYPE "\n"
    "Returns\n"
    "  The path of one MAT file with each target's last bars.\n"
    DOC_MULTI_FILE
    DOC_BAR_VARIABLES;

constexpr char vmSendCmdGetRtData[] =
    "Real-time snapshots of the targets.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS "\n"
    "Returns\n"
    "  A list of snapshot records, one per target in order: Market, Code, TradeDate\n"
    "  (YYYYMMDD), Time (of the last bar, framework numeric time; NaN before the\n"
    "  first), Price (the last price; the previous close before the first bar),\n"
    "  PreClose, Open, High, Low (NaN before the first bar), Volume and Amount of\n"
    "  the trading day so far.";

constexpr char vmSendCmdGetTDPData[] =
    "TDP data of one security on one date; returns the MAT file path.\n\n"
    "TDP data are the security's traded prices and sizes through the day.\n\n"
    "Parameters\n"
    "  market: lower-case exchange code (\"sse\", \"szse\", ...).\n"
    "  code: the security's code as text (\"600000\").\n"
    "  date: the trading day, YYYYMMDD.\n"
    DOC_FQ_TYPE
    "  no_return: True (or 1) asks the terminal to prepare the data without writing\n"
    "      a file; False (or 0) has it written.\n"
    "  check_permission: True (the default) has the terminal check that the user may\n"
    "      read the data.\n\n"
    "Returns\n"
    "  The path of a MAT file (\"\" when no_return is true) holding 1 x n rows, minute\n"
    "  by minute: Time (framework numeric time), Price, Volume, Amount.";

constexpr char vmSendCmdGetTDPDataMulti[] =
    "TDP data of several securities over a date range; returns the MAT file path.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetTDPDataMulti and\n"
    "vmSendCmdGetTDPDataMultiFilePath, the same in all.\n\n"
    "Parameters\n"
    "  targetList: the securities.\n"
    DOC_TARGETS
    "  beginDate, endDate: the first and last trading day.\n"
    DOC_DATES
    DOC_FQ_TYPE "\n"
    "Returns\n"
    "  The path of one MAT file.\n"
    DOC_MULTI_FILE
    "      TDP variables, 1 x n rows, minute by minute: Time (framework numeric\n"
    "      time), Price, Volume, Amount.";

constexpr const char* vmSendCmdGetTDPDataMultiFilePath = vmSendCmdGetTDPDataMulti;

constexpr char vmSendCmdGetTradingTime[] =
    "Bar times of a frequency between two days; returns the MAT file path (variable Time).\n\n"
    "Parameters\n"
    "  targetList: the securities whose trading sessions give the bar times.\n"
    DOC_TARGETS
    "  kFreq: \"min\", \"day\", \"week\", \"month\" or \"year\".\n"
    "  beginDay, endDay: the first and last day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  The path of a MAT file with one variable, Time: a 1 x n row of bar end times\n"
    "  (framework numeric time) of every trading day in the range, one period a bar.\n"
    "  A day bar (and a week, month or year bar) ends at 15:00 of its last day.";

constexpr char vmSendCmdGetHistorySet[] =
    "A history data set of one security, loaded from the terminal's MAT file.\n\n"
    "Parameters\n"
    "  Market: lower-case exchange code (\"sse\", \"szse\", ...).\n"
    "  Code: the security's code as text (\"600000\").\n"
    "  CatName: the bar frequency of the set, " DOC_FREQ ".\n"
    "  ItemName: the bar field: \"Open\", \"High\", \"Low\", \"Close\", \"Volume\" or \"Amount\".\n"
    "  BeginDate, EndDate: the first and last trading day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A mapping of the file's variables: Time (bar end times, framework numeric time)\n"
    "  and the item named by ItemName, each a 1 x n row.";

constexpr char vmSendCmdGetMarketSet[] =
    "A market-wide data set, loaded from the terminal's MAT file.\n\n"
    "Parameters\n"
    "  wstrCat: the bar frequency of the set, " DOC_FREQ ".\n"
    "  listItem: bar fields, each \"Open\", \"High\", \"Low\", \"Close\", \"Volume\" or\n"
    "      \"Amount\".\n"
    "  iBeginDate, iEndDate: the first and last trading day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A mapping of the file's variables: Targets (a cell row of the keys \"MARKET.CODE\"\n"
    "  of every security the terminal has), Time (a 1 x n row of bar end times) and\n"
    "  per item of listItem one matrix, a row per security in Targets' order.";

constexpr char vmSendCmdGetHistoryInstruments[] =
    "Real instruments behind the targets over a date range, keyed MARKET.CODE.\n\n"
    "A stock stands for itself; a continuous future (\"SR888\") stands for its variety's main\n"
    "contract of each day.\n\n"
    "Parameters\n"
    "  targets: the targets.\n"
    DOC_TARGETS
    "  begin_date, end_date: the first and last trading day.\n"
    DOC_DATES
    "  fq_type: price adjustment for dividends and splits (\"NA\" by default):\n"
    DOC_FQ "\n"
    "Returns\n"
    "  A dict from each target's key \"MARKET.CODE\" (upper case) to a 1 x n cell row of\n"
    "  the codes of the instrument that traded for it on each trading day of the range.\n"
    "  A target the terminal does not know, or without an instrument on some day of\n"
    "  the range, has no key; a target asked twice has one.";

constexpr char vmSendCmdGetDatePeriodBarTime[] =
    "The bar time line of a frequency for the targets' sessions (the Time variable of the result file).\n\n"
    "Parameters\n"
    "  allTargetLists: the run's targets; only the first \"sse\" or \"szse\" one is sent\n"
    "      with all the others, as every stock shares its sessions.\n"
    DOC_TARGETS
    "  KFrequency: bar frequency, " DOC_FREQ ".\n"
    "  KFreNum: periods per bar, at least 1.\n"
    "  endtm: the last moment, framework numeric time: the line runs to the end of\n"
    "      its trading day. 0 (or None) means the terminal's current trading day,\n"
    "      and the result file is removed once read.\n\n"
    "Returns\n"
    "  The Time variable of the result file: a 1 x n row of bar end times (framework\n"
    "  numeric time) of every trading day up to endtm's, KFreNum periods a bar\n"
    "  (intraday bars restart each day); None when the file has no Time.";

}  // namespace vmcmd::doc
