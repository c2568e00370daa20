// Income-statement queries: one row per query on the shared frame.
#include "../frame/query.hpp"

namespace {

using namespace fdmt;

constexpr Params<5> kQuarter{kTargetList, kReportType, kBeginDate, kEndDate, kField};
constexpr Params<9> kQuarterPit{kTargetList, kReportType, kBeginDate, kEndDate, kPublishBegin,
                                kPublishEnd, kIsNew,      kIsCalc,    kField};
constexpr Params<8> kTrailing{kTargetList, kBeginDate, kEndDate, kPublishBegin,
                              kPublishEnd, kIsNew,     kIsCalc,  kField};

Query kQueries[] = {
    {"is_pit", kStatement, "Income statements (general format), point in time: every published version of each report."},
    {"is_bank_pit", kStatement, "Income statements (bank format), point in time: every published version of each report."},
    {"is_secu_pit", kStatement, "Income statements (securities-firm format), point in time: every published version of each report."},
    {"is_indu_pit", kStatement, "Income statements (industrial format), point in time: every published version of each report."},
    {"is_insu_pit", kStatement, "Income statements (insurance format), point in time: every published version of each report."},
    {"is_latest", kStatement, "Income statements (general format), latest values: the newest version of each report."},
    {"is_bank_latest", kStatement, "Income statements (bank format), latest values: the newest version of each report."},
    {"is_secu_latest", kStatement, "Income statements (securities-firm format), latest values: the newest version of each report."},
    {"is_indu_latest", kStatement, "Income statements (industrial format), latest values: the newest version of each report."},
    {"is_insu_latest", kStatement, "Income statements (insurance format), latest values: the newest version of each report."},
    {"is_q", kQuarter, "Income statements (general format), single quarters, newest versions."},
    {"is_bank_q", kQuarter, "Income statements (bank format), single quarters, newest versions."},
    {"is_secu_q", kQuarter, "Income statements (securities-firm format), single quarters, newest versions."},
    {"is_indu_q", kQuarter, "Income statements (industrial format), single quarters, newest versions."},
    {"is_insu_q", kQuarter, "Income statements (insurance format), single quarters, newest versions."},
    {"is_q_pit", kQuarterPit, "Income statements (general format), single quarters, point in time."},
    {"is_bank_q_pit", kQuarterPit, "Income statements (bank format), single quarters, point in time."},
    {"is_secu_q_pit", kQuarterPit, "Income statements (securities-firm format), single quarters, point in time."},
    {"is_indu_q_pit", kQuarterPit, "Income statements (industrial format), single quarters, point in time."},
    {"is_insu_q_pit", kQuarterPit, "Income statements (insurance format), single quarters, point in time."},
    {"is_ttm_pit", kTrailing, "Income statements (general format), trailing twelve months, point in time."},
    {"is_bank_ttm_pit", kTrailing, "Income statements (bank format), trailing twelve months, point in time."},
    {"is_indu_ttm_pit", kTrailing, "Income statements (industrial format), trailing twelve months, point in time."},
    {"is_insu_ttm_pit", kTrailing, "Income statements (insurance format), trailing twelve months, point in time."},
    {"is_secu_ttm_pit", kTrailing, "Income statements (securities-firm format), trailing twelve months, point in time."},
};

}  // namespace

VM_MODULE(earnings, "Income-statement queries answering pandas DataFrames.", fdmt::exec<kQueries>)
