// Paragraphs several commands' docstrings share: string literals that a
// docstring joins at compile time.
#pragma once

#define DOC_TARGETS \
    "      Target records: mappings with \"Market\" (lower-case exchange code: \"sse\",\n" \
    "      \"szse\", \"czce\", ...) and \"Code\" (the code as text: \"600000\").\n"
#define DOC_FREQ "\"min\" (one-minute bars) or \"day\""
#define DOC_FQ_TYPE \
    "  fqType: price adjustment for dividends and splits:\n" \
    DOC_FQ
#define DOC_FILLED_UP \
    "  filledUp: True (or 1) fills periods without trading (a suspended security)\n" \
    "      from the bar before; False (or 0) leaves them out.\n"
#define DOC_TASK_ID_GUARDED \
    "  i64TaskId: the task's id (numpy int64, from the create command); a float NaN\n" \
    "      sends nothing.\n"
#define DOC_FQ \
    "      \"NA\" (none), \"forward\" (earlier prices scaled to match the latest) or\n" \
    "      \"backward\" (later prices scaled to match the earliest).\n"
#define DOC_DATES \
    "      Dates are YYYYMMDD integers, both included, the first not after the last;\n" \
    "      0 leaves that end open (from the first, or to the last, day the terminal\n" \
    "      has).\n"
#define DOC_FACTOR_DATES \
    "      Dates are YYYYMMDD integers or texts (\"20240102\", \"2024-01-02\") or dates,\n" \
    "      the first not after the last; 0 or \"\" leaves that end open.\n"
#define DOC_BAR_VARIABLES \
    "      Bar variables, 1 x n rows: Time (the bar's end, framework numeric time),\n" \
    "      DayPos (the bar's position within its trading day, from 1), Open, High,\n" \
    "      Low, Close, Volume, Amount.\n"
#define DOC_MULTI_FILE \
    "      One file for all targets: each target's variables carry the prefix\n" \
    "      \"<market>_<code>_\" (lower case, \"sse_600000_Close\"), and Targets (a cell\n" \
    "      row) lists the targets' keys \"MARKET.CODE\" in request order.\n"
#define DOC_HANDLES "account handles (integers such as 1001); an empty list means every account"
#define DOC_ORDER_FIELDS \
    "      Order records: order_id (the id placing returned), client_id,\n" \
    "      account_handle, strategy_name, market, code, side (\"buy\", \"sell\"),\n" \
    "      position_effect (\"open\", \"close\"), order_type (\"market\", \"limit\"), price\n" \
    "      (the limit; 0 for a market order), volume, filled_volume, avg_price,\n" \
    "      status (\"pending\", \"filled\", \"cancelled\"), order_date (YYYYMMDD),\n" \
    "      order_time (framework numeric time).\n"
#define DOC_EXECUTION_FIELDS \
    "      Execution records: execution_id, order_id, account_handle, strategy_name,\n" \
    "      market, code, side, position_effect, price, volume, amount, commission,\n" \
    "      exec_date (YYYYMMDD), exec_time (framework numeric time).\n"
#define DOC_CASH_FIELDS \
    "      Cash records, one per account in request order: account_handle,\n" \
    "      account_id, currency, balance (cash, frozen included), available, frozen,\n" \
    "      market_value, total_asset, position_profit.\n"
#define DOC_POSITION_FIELDS \
    "      Position records, one per account and security held: account_handle,\n" \
    "      market, code, long_short (\"long\"), position, available, frozen,\n" \
    "      today_position (bought today, not sellable before the next trading day),\n" \
    "      avg_price, last_price, market_value, position_profit.\n"
#define DOC_TASK_ID "the task's id (numpy int64, from the create command)"
#define DOC_TABLE_FILE \
    "      The file is a table: Fields (a cell row of column names, in order) and\n" \
    "      Columns (one entry per column: a numeric row, or a cell row of texts).\n"
#define DOC_RETURNS_NOTHING \
    "Returns\n" \
    "  None. The command has no answer: what the terminal makes of it is not\n" \
    "  reported.\n"
#define DOC_RETURNS_STATUS \
    "Returns\n" \
    "  None; only the answer's status counts: an error raises VmReturnError, a\n" \
    "  warning or information text is shown to the user.\n"
#define DOC_ORDER_KEYS \
    "      Handle: handle of the trading account (an int;\n" \
    "          vmSendCmdSTTradeGetAccountList lists them); required.\n" \
    "      Market: exchange of the security, lower case: \"sse\", \"szse\"; required.\n" \
    "      Code: code of the security as text (\"600000\"); required.\n" \
    "      Side: \"buy\" or \"sell\"; 1 also means buy and 2 sell; required.\n" \
    "      Volume: number of shares, a positive whole number; required.\n" \
    "      OrderType: \"market\" or \"limit\"; by default \"limit\" when Price is given,\n" \
    "          else \"market\".\n" \
    "      Price: limit price, a positive number; needed by a limit order.\n" \
    "      PositionEffect: \"open\" or \"close\"; by default open for a buy, close for\n" \
    "          a sell.\n" \
    "      StrategyName: name of the placing strategy, kept on the order record.\n" \
    "      Any other key is refused. A market order fills at once at the last price;\n" \
    "      a limit order fills when the price reaches its limit, its cash or shares\n" \
    "      frozen until then.\n"
#define DOC_STOP_ORDER_KEYS \
    "      Handle: handle of the trading account (an int); required.\n" \
    "      Market: exchange of the security, lower case: \"sse\", \"szse\"; required.\n" \
    "      Code: code of the security as text (\"600000\"); required.\n" \
    "      Side: \"sell\" triggers when the price falls to StopPrice, \"buy\" when it\n" \
    "          rises to it (1 also means buy and 2 sell); required.\n" \
    "      Volume: number of shares, a positive whole number; required.\n" \
    "      StopPrice: trigger price, a positive number; a market order is placed\n" \
    "          when it is reached; required.\n" \
    "      StrategyName: name of the placing strategy, kept on the stop-order record.\n" \
    "      Any other key is refused.\n"
#define DOC_FUTURE_TARGETS \
    "      Future contracts, or continuous futures (\"SR888\": today's main contract).\n" \
    DOC_TARGETS
#define DOC_FUTURE_RECORDS \
    "Returns\n" \
    "  A list of future records, one per target in order: Market, Code, Variety,\n" \
    "  ListDate, LastTradeDate, Multiplier, PriceTick, LongMargin, ShortMargin\n" \
    "  (margin rates as fractions).\n"
