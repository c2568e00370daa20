// Docstrings of the calendar and reference commands.
#pragma once

#include "doc_parts.hpp"

#define DOC_FUTURE_TARGETS \
    "      Future contracts, or continuous futures (\"SR888\": today's main contract).\n" \
    DOC_TARGETS
#define DOC_FUTURE_RECORDS \
    "Returns\n" \
    "  A list of future records, one per target in order: Market, Code, Variety,\n" \
    "  ListDate, LastTradeDate, Multiplier, PriceTick, LongMargin, ShortMargin\n" \
    "  (margin rates as fractions).\n"

namespace vmcmd::doc {

constexpr char vmSendCmdGetCodeList[] =
    "Members of a block (index, sector or board) on a date, as records with Code, Market, Weight, Name, BlockName.\n\n"
    "Not status-checked: the answer's result is returned as it comes, so a refused\n"
    "request (an unknown block, a date that is no date) gives the answer's status record\n"
    "(errLevel, errCode, errInfo) instead of a list.\n\n"
    "Parameters\n"
    "  block: the block's name (the embedded terminal: \"Index\", \"SSE\", \"SZSE\").\n"
    "  date: the day, YYYYMMDD; 0 means today.\n\n"
    "Returns\n"
    "  A list of member records: Code (text), Market (lower-case exchange code),\n"
    "  Weight (the member's weight in the block), Name (the security's name),\n"
    "  BlockName.";

constexpr char vmSendCmdGetCodeListSet[] =
    "Members of a block over a date range.\n\n"
    "Parameters\n"
    "  block: the block's name (the embedded terminal: \"Index\", \"SSE\", \"SZSE\").\n"
    "  begin_date, end_date: the first and last trading day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A list of member records, for each trading day of the range its members:\n"
    "  Code, Market, Weight, Name, BlockName and Day (YYYYMMDD).";

constexpr char vmSendCmdConvertTargets[] =
    "Targets converted by the terminal according to wstrOpFlags.\n\n"
    "Markets come back in lower case and codes in upper case.\n\n"
    "Parameters\n"
    "  listMC: the targets to convert (none by default).\n"
    DOC_TARGETS
    "  wstrOpFlags: conversion flags; \"czce\" (the default) turns a czce contract with\n"
    "      a four-digit month (\"SR2405\") into the exchange's three-digit form\n"
    "      (\"SR405\").\n\n"
    "Returns\n"
    "  A list of target records (Market, Code), one per target of listMC in order.";

constexpr char vmSendCmdGetCurDate[] =
    "The terminal's current date.\n\n"
    "Not status-checked. The command takes no parameters.\n\n"
    "Returns\n"
    "  The calendar date of the terminal's clock, YYYYMMDD (an int).";

constexpr char vmSendCmdGetCurTradeDate[] =
    "The current trading date.\n\n"
    "Not status-checked. The command takes no parameters. A moment from 20:00 on, or on\n"
    "a weekend, belongs to the next trading day.\n\n"
    "Returns\n"
    "  The trading date of the terminal's clock, YYYYMMDD (an int).";

constexpr char vmSendCmdGetPreTradeDate[] =
    "The previous trading date.\n\n"
    "Not status-checked. The command takes no parameters.\n\n"
    "Returns\n"
    "  The trading day before the current trading date, YYYYMMDD (an int).";

constexpr char vmSendCmdGetTradingDays[] =
    "The trading days the terminal knows.\n\n"
    "Not status-checked. The command takes no parameters.\n\n"
    "Returns\n"
    "  A list of the trading days of the terminal's data, YYYYMMDD ints, ascending.";

constexpr char vmSendCmdGetTradingDaysCondition[] =
    "Trading days of a market between two days.\n\n"
    "Parameters\n"
    "  market: lower-case exchange code: \"sse\", \"szse\", \"czce\", \"shfe\", \"dce\" or\n"
    "      \"cffex\".\n"
    "  begin_day, end_day: the first and last day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A list of the market's trading days in the range, YYYYMMDD ints, ascending.";

constexpr char vmSendCmdGetTargetIns[] =
    "Real instruments behind a target over a date range, as records with TargetIns and Day.\n\n"
    "A stock stands for itself; a continuous future (\"SR888\") stands for its variety's main\n"
    "contract of each day. The terminal offers it as two commands, vmSendCmdGetTargetIns and\n"
    "vmSendCmdGetTargetIns_20190830, the same in all.\n\n"
    "Parameters\n"
    "  Market: lower-case exchange code (\"sse\", \"czce\", ...).\n"
    "  Code: the target's code as text (\"600000\", \"SR888\").\n"
    "  BeginDate, EndDate: the first and last trading day.\n"
    DOC_DATES "\n"
    "Returns\n"
    "  A list of contract-day records, one per trading day with an instrument:\n"
    "  TargetIns (the instrument's code) and Day (YYYYMMDD).";

constexpr const char* vmSendCmdGetTargetIns_20190830 = vmSendCmdGetTargetIns;

constexpr char vmSendCmdGetFutureContracts[] =
    "Future contracts of varieties of a market on a date.\n\n"
    "Parameters\n"
    "  i64Date: the day, YYYYMMDD; 0 means today.\n"
    "  wstrMarket: lower-case exchange code (\"czce\", \"shfe\", \"dce\", \"cffex\").\n"
    "  wstrVarieties: the varieties, as text separated by commas (\"SR,CF\") or a\n"
    "      list; empty means every variety.\n\n"
    "Returns\n"
    "  A list of contract records trading on that day: Market, Code, Variety,\n"
    "  ListDate, LastTradeDate (YYYYMMDD).";

constexpr char vmSendCmdGetFutureInfo_20190920[] =
    "Information on future contracts.\n\n"
    "An earlier form of vmSendCmdGetFutureInfoExculusively, through its own terminal command.\n\n"
    "Parameters\n"
    "  listMkCode: the contracts.\n"
    DOC_FUTURE_TARGETS "\n"
    DOC_FUTURE_RECORDS;

constexpr char vmSendCmdGetFutureInfoExculusively[] =
    "Information on future contracts.\n\n"
    "The terminal offers it as two commands, vmSendCmdGetFutureInfoExculusively and\n"
    "vmSendCmdGetFutureInfoExculusively_20190918, the same in all.\n\n"
    "Parameters\n"
    "  targets: the contracts.\n"
    DOC_FUTURE_TARGETS "\n"
    DOC_FUTURE_RECORDS;

constexpr const char* vmSendCmdGetFutureInfoExculusively_20190918 = vmSendCmdGetFutureInfoExculusively;

constexpr char vmSendCmdGetStockInfoExculusively[] =
    "Information on stocks.\n\n"
    "Parameters\n"
    "  targets: the stocks.\n"
    DOC_TARGETS "\n"
    "Returns\n"
    "  A list of stock records, one per target in order: Market, Code, Name, LotSize,\n"
    "  PriceTick, Multiplier, LongMargin, ShortMargin.";

constexpr char vmSendCmdGetOptionCode[] =
    "Option codes from a sequence of 8 or 5 values; any other count raises ValueError.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  varargin: 8 values: Market, Code, Price (strike), Month, Type, ValueType,\n"
    "      Level, ContractAdjustmentType; or 5 values: Market, Code, begin date, end\n"
    "      date (YYYYMMDD), ContractAdjustmentType.\n\n"
    "Returns\n"
    "  The answer's result: the matching option codes (the embedded terminal lists no\n"
    "  options: an empty list).";

constexpr char vmSendCmdGetOptionData[] =
    "Data of an option.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  market: lower-case exchange code.\n"
    "  code: the option's code as text.\n\n"
    "Returns\n"
    "  The answer's result: the option's data records (the embedded terminal lists\n"
    "  no options: an empty list).";

constexpr char vmSendCmdGetOptionInfo[] =
    "Information on an option.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  market: lower-case exchange code.\n"
    "  code: the option's code as text.\n\n"
    "Returns\n"
    "  The answer's result: the option's information records (the embedded terminal\n"
    "  lists no options: an empty list).";

constexpr char vmSendCmdGetOptionPos[] =
    "Option positions of a security.\n\n"
    "Not status-checked.\n\n"
    "Parameters\n"
    "  market: lower-case exchange code.\n"
    "  code: the security's code as text.\n\n"
    "Returns\n"
    "  The answer's result: the option position records (the embedded terminal lists\n"
    "  no options: an empty list).";

constexpr char vmSendCmdGetToolBoxRootofCacheDir[] =
    "The terminal's cache directory.\n\n"
    "The command takes no parameters.\n\n"
    "Returns\n"
    "  The directory's path (text).";

constexpr char vmSendCmdGetStrategyID[] =
    "The strategies the terminal knows.\n\n"
    "The command takes no parameters.\n\n"
    "Returns\n"
    "  A list of strategy records, one per real-trade task: StrategyID (the task\n"
    "  id), StrategyName, Status (\"created\", \"running\", \"stopped\").";

constexpr char vmSendCmdTransTradeTimeToTradeDate[] =
    "The trading date a framework date-time belongs to.\n\n"
    "Not status-checked. A moment from 20:00 on, or on a weekend, belongs to the next\n"
    "trading day.\n\n"
    "Parameters\n"
    "  checkTime: the moment, framework numeric time (days as a float).\n\n"
    "Returns\n"
    "  Its trading date, YYYYMMDD (an int).";

}  // namespace vmcmd::doc
