// Balance-sheet queries: one row per query on the shared frame.
#include "../frame/query.hpp"

namespace {

using namespace fdmt;

Query kQueries[] = {
    {"ledger_pit", kStatement, "Balance sheets (general format), point in time: every published version of each report."},
    {"ledger_bank_pit", kStatement, "Balance sheets (bank format), point in time: every published version of each report."},
    {"ledger_secu_pit", kStatement, "Balance sheets (securities-firm format), point in time: every published version of each report."},
    {"ledger_indu_pit", kStatement, "Balance sheets (industrial format), point in time: every published version of each report."},
    {"ledger_insu_pit", kStatement, "Balance sheets (insurance format), point in time: every published version of each report."},
    {"ledger_latest", kStatement, "Balance sheets (general format), latest values: the newest version of each report."},
    {"ledger_bank_latest", kStatement, "Balance sheets (bank format), latest values: the newest version of each report."},
    {"ledger_secu_latest", kStatement, "Balance sheets (securities-firm format), latest values: the newest version of each report."},
    {"ledger_indu_latest", kStatement, "Balance sheets (industrial format), latest values: the newest version of each report."},
    {"ledger_insu_latest", kStatement, "Balance sheets (insurance format), latest values: the newest version of each report."},
};

}  // namespace

VM_MODULE(ledger, "Balance-sheet queries answering pandas DataFrames.", fdmt::exec<kQueries>)
