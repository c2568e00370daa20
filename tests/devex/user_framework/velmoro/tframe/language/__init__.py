class text:
    ERROR_CODE_REASON = "{Name} failed with {Code}: {Reason}"
    ERROR_PARAM_MISMATCH_5_8 = "5 or 8 values expected"
    ERROR_INPUT_BEGIN_GT_ENDDATE = "the begin date is after the end date"
    LOG_PREPARE_FACTORDATA = "preparing {ITEMNAME} for {MARKET}.{CODE} .. {MARKET2}.{CODE2}"
