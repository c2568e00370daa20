"""English message templates, read by key and filled with str.format."""

ERROR_CODE_REASON = "{Name} failed with code {Code}: {Reason}"
ERROR_PARAM_MISMATCH_5_8 = "the option-code query takes 5 or 8 values"
ERROR_INPUT_BEGIN_GT_ENDDATE = "the begin date is later than the end date"
WARN_FREQUENCY_GREAT_DAY = "a daily close time has no effect on a run of frequency {FREQUANCY}"
ERROR_SET_NONTRADING_PERIOD = "the daily close time lies outside the trading period"
LOG_PREPARE_FACTORDATA = "preparing factor data {ITEMNAME} for {MARKET}.{CODE} to {MARKET2}.{CODE2}"
LOG_BEFORE_REALFRESH_REAL = "live refresh of strategy {STRATEGYNAME} starts at {TIMEPOINT}"
LOG_BEFORE_LOOP_K_TIMELINE = "bar data {0} time line before the loop: {1}"
LOG_BEFORE_LOOP_DVF_TIMELINE = "refresh time line before the loop: {0}"
LOG_REAL_TRADE_FRESH_POSITION = "live refresh resumes at position {0}"
WARN_ERROR_REAL_TIMELINE = (
    "pushed times {KFRESHTIMELINE} all precede the refresh time line {BARFRESHTIMELINE} "
    "(current position {CURFRESHBARPOS}, found {FINDPOS})"
)
LOG_MORE_TIMELINE = (
    "time line {BASE0TIMELINE}, refresh time line {FRESHTIMELINE}, new times {MORETIME}, "
    "new day positions {MOREDAYPOS}"
)
LOG_FATAL_TIMELINE = "strategy {Strategy}: time line ends at {Time} before pushed times {KTime}"
LOG_REALFRESH_BAR = "refresh position {FreshNum} at {Pos}"
ERROR_IN_FRESHBAR = "refreshed bars cannot be dispatched now"
WARN_NO_PUSH = (
    "no push from {TERMINAL} for {SECONDS:.0f} s: strategy {STRATEGYNAME} waits for the terminal's next "
    "bars (or its stop push); Ctrl-C ends the run"
)
LOG_RUN_INTERRUPTED = "strategy {STRATEGYNAME}: run interrupted after {BARS} bars"
LOG_RUN_FAILED = "strategy {STRATEGYNAME}: run failed after {BARS} bars: {ERROR}"
