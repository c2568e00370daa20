// Restricted-share float queries: one row per query on the shared frame.
#include "../frame/query.hpp"

namespace {

using namespace fdmt;

constexpr Params<4> kIpoFloat{kTargetList, kPublishBegin, kPublishEnd, kField};
constexpr Params<6> kSharesFloat{kTargetList, kFloatBegin, kFloatEnd, kPublishBegin, kPublishEnd, kField};
constexpr Params<4> kPeriodFloat{kTargetList, kBeginDate, kEndDate, kField};

Query kQueries[] = {
    {"equ_ipo_float", kIpoFloat, "Float events of shares restricted at the initial public offering."},
    {"equ_shares_float", kSharesFloat, "Float events of restricted shares, by float date and publication date."},
    {"equ_share_float", kPeriodFloat, "Float events of restricted shares, by event date."},
    {"equ_reform_float", kPeriodFloat, "Float events of shares restricted by the share-structure reform, by event date."},
};

}  // namespace

VM_MODULE(restricted, "Restricted-share float queries answering pandas DataFrames.", fdmt::exec<kQueries>)
