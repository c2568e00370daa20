// The fundamental query frame: every query is one table row, its name and its
// parameter list; each parameter is declared once with its type and default,
// and its kind fixes its declared rule, its normalisation and what goes into
// the request. One body serves all.
#pragma once

#include "vm/module.hpp"

#include <array>
#include <string>
#include <utility>

namespace fdmt {

// Date kinds pair up as (begin, end); pairs are tested in this order.
enum class Kind { Targets, Sequence, Period, Publish, Float };
enum class Bound { None, Begin, End };

struct Param {
    const char* declaration;  // "name: type = default", as the signature has it
    Kind kind;
    Bound bound;
    const char* help;  // its line in help(): what it takes, its accepted values
};

inline constexpr Param kTargetList{"target_list: _Targets", Kind::Targets, Bound::None,
                                   "the securities, a list or tuple of {\"Market\": \"sse\" or \"szse\", "
                                   "\"Code\": \"600000\"}\n      records; required."};
inline constexpr Param kReportType{"report_type: _Selection = ()", Kind::Sequence, Bound::None,
                                   "report types kept, a list or tuple of \"Q1\", \"S1\", \"Q3\", \"A\" (first "
                                   "quarter,\n      half year, third quarter, annual); () keeps every type."};
inline constexpr Param kIsNew{"is_new: _Selection = ()", Kind::Sequence, Bound::None,
                              "IsNew values kept, a list or tuple of 1 (the newest version of a\n      report) and "
                              "0 (an earlier one); () keeps both."};
inline constexpr Param kIsCalc{"is_calc: _Selection = ()", Kind::Sequence, Bound::None,
                               "IsCalc values kept, a list or tuple of 0 (as published) and 1\n      (calculated "
                               "from other reports); () keeps both."};
inline constexpr Param kField{"field: _Selection = ()", Kind::Sequence, Bound::None,
                              "the fields answered, a list or tuple of names, e.g. (\"NetProfit\",);\n      () "
                              "answers every field; an unknown name is refused."};
inline constexpr Param kBeginDate{"begin_date: _Date = ''", Kind::Period, Bound::Begin,
                                  "first report period end date kept: YYYYMMDD as an int or text,\n      or a "
                                  "date; '' leaves it open."};
inline constexpr Param kEndDate{"end_date: _Date = ''", Kind::Period, Bound::End,
                                "last report period end date kept, as begin_date; not before it."};
inline constexpr Param kPublishBegin{"publish_date_begin: _Date = ''", Kind::Publish, Bound::Begin,
                                     "first publication date kept, as begin_date."};
inline constexpr Param kPublishEnd{"publish_date_end: _Date = ''", Kind::Publish, Bound::End,
                                   "last publication date kept, as begin_date; not before\n      "
                                   "publish_date_begin."};
inline constexpr Param kFloatBegin{"float_date_begin: str = ''", Kind::Float, Bound::Begin,
                                   "first float date kept, text YYYYMMDD; '' leaves it open."};
inline constexpr Param kFloatEnd{"float_date_end: str = ''", Kind::Float, Bound::End,
                                 "last float date kept, text YYYYMMDD; not before float_date_begin."};

template <size_t N>
using Params = std::array<Param, N>;

// What every query answers, for its signature's return annotation.
inline constexpr char kAnswerType[] = "pd.DataFrame";

// The statement queries' common list: point-in-time and latest values.
inline constexpr Params<7> kStatement{kTargetList, kReportType, kBeginDate,  kEndDate,
                                      kPublishBegin, kPublishEnd, kField};

struct Query {
    template <size_t N>
    Query(const char* query_name, const Params<N>& list, const char* text)
        : name(query_name), params(list.data()), count(N), doc(text) {
        static_assert(N <= vm::kMaxParams, "too many parameters");
    }

    const char* name;
    const Param* params;
    size_t count;
    const char* doc;
    // derived at module initialisation
    std::string signature;  // "target_list: _Targets, report_type: _Selection = () -> pd.DataFrame"
    std::string help;  // the summary, then each parameter and what the query returns
    std::array<std::pair<size_t, size_t>, 3> pairs{};  // (begin, end) indexes
    size_t pair_count = 0;
    PyObject* name_obj = nullptr;
};

void prepare(Query& q);
vm::Ref run_query(const Query& q, const vm::Signature& sig, vm::Args a);
void import_framework(vm::Module& m);
void publish(vm::Module& m, const Query& q, const vm::FunctionSpec& spec);

namespace detail {
template <auto& Rows, size_t I>
vm::Ref run_row(vm::Args a) {
    // the binder's interned parameter names are the request's keys
    return run_query(Rows[I], vm::detail::Fn<run_row<Rows, I>>::sig, a);
}
template <auto& Rows, size_t... I>
std::array<vm::FunctionSpec, sizeof...(I)> specs(std::index_sequence<I...>) {
    return {VM_NAMED_FUNCTION(Rows[I].name, (run_row<Rows, I>), Rows[I].signature.c_str(), Rows[I].help.c_str())...};
}
}  // namespace detail

// Module initialisation: the framework imports, then every row of the table in
// order, each published behind its declared rules.
template <auto& Rows>
void exec(vm::Module& m) {
    import_framework(m);
    constexpr size_t n = std::extent_v<std::remove_reference_t<decltype(Rows)>>;
    for (Query& q : Rows) prepare(q);
    static const auto table = detail::specs<Rows>(std::make_index_sequence<n>{});
    for (size_t i = 0; i < n; ++i) publish(m, Rows[i], table[i]);
}

}  // namespace fdmt
