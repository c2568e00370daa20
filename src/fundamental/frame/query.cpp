#include "query.hpp"

#include <cstring>

namespace fdmt {
namespace {

using vm::Name;
using vm::Ref;

Name n_get_fundamental_info{"get_fundamental_info"};
Name n_convert_fundamental_to_df{"convert_fundamental_to_df"};
Name n_check_targets_without_change{"check_targets_without_change"};
Name n_begin_date_checking_rule{"begin_date_checking_rule"};
Name n_end_date_checking_rule{"end_date_checking_rule"};
Name n_text{"text"};
Name n_ERROR_INPUT_BEGIN_GT_ENDDATE{"ERROR_INPUT_BEGIN_GT_ENDDATE"};
Name n_verify_that{"verify_that"};
Name n_apply_rule{"apply_rule"};
Name n_is_instance_of{"is_instance_of"};
Name n_is_valid_date{"is_valid_date"};

const vm::Kw kw_date{"date"};
const vm::Kw kw_request{"params", "func_name"};
const vm::Kw kw_allow_empty_str{"allow_empty_str"};

PyObject* type_object(PyTypeObject& t) noexcept { return reinterpret_cast<PyObject*>(&t); }

const char kReturns[] =
    "\nReturns\n"
    "  A pandas DataFrame, one row per record the terminal answers: the key\n"
    "  columns (Market, Code, and the report's or the event's dates) first,\n"
    "  then the fields. A pair of bounds the wrong way round raises ValueError;\n"
    "  an argument of another type is refused before anything is asked.";

// The parameter's name: its declaration up to the annotation.
std::string name_of(const Param& p) {
    const char* colon = std::strchr(p.declaration, ':');
    return colon ? std::string(p.declaration, colon) : std::string(p.declaration);
}

// verify_that(name).<rule of the parameter's kind>
Ref rule_for(const Param& p) {
    Ref builder = vm::global(n_verify_that).call({vm::text(name_of(p))});
    switch (p.kind) {
        case Kind::Targets:
        case Kind::Sequence:
            return builder.attr(n_is_instance_of).call({type_object(PyList_Type), type_object(PyTuple_Type)});
        case Kind::Float: return builder.attr(n_is_instance_of).call({type_object(PyUnicode_Type)});
        default: return builder.attr(n_is_valid_date).call(kw_allow_empty_str, {Py_True});
    }
}

Ref normalise(const Param& p, PyObject* value) {
    switch (p.bound) {
        case Bound::Begin: return vm::global(n_begin_date_checking_rule).call(kw_date, {value});
        case Bound::End: return vm::global(n_end_date_checking_rule).call(kw_date, {value});
        default: break;
    }
    if (p.kind == Kind::Targets) return vm::global(n_check_targets_without_change).call({value});
    return vm::borrow(value);  // selections are sent as the caller gave them
}

[[noreturn]] void raise_reversed() {
    vm::raise_instance(PyExc_ValueError, vm::global(n_text).attr(n_ERROR_INPUT_BEGIN_GT_ENDDATE));
}

}  // namespace

void prepare(Query& q) {
    q.signature.clear();
    q.help = std::string(q.doc) + "\n\nParameters\n";
    for (size_t i = 0; i < q.count; ++i) {
        if (i > 0) q.signature += ", ";
        q.signature += q.params[i].declaration;
        ((((q.help += "  ") += name_of(q.params[i])) += ": ") += q.params[i].help) += '\n';
    }
    (q.signature += " -> ") += kAnswerType;
    q.help += kReturns;
    q.pair_count = 0;
    for (Kind kind : {Kind::Period, Kind::Publish, Kind::Float}) {
        size_t begin = q.count, end = q.count;
        for (size_t i = 0; i < q.count; ++i) {
            if (q.params[i].kind != kind) continue;
            (q.params[i].bound == Bound::Begin ? begin : end) = i;
        }
        if (begin == q.count && end == q.count) continue;
        if (begin == q.count || end == q.count || end < begin)
            vm::raise_format(PyExc_SystemError, "%s: a date bound lacks its partner", q.name);
        q.pairs[q.pair_count++] = {begin, end};
    }
    PyObject* name = PyUnicode_InternFromString(q.name);
    if (!name) vm::raise();
    q.name_obj = name;  // kept for the process, as the published function is
}

Ref run_query(const Query& q, const vm::Signature& sig, vm::Args a) {
    // every normalisation first, in parameter order; then the order tests
    Ref value[vm::kMaxParams];
    Ref* out = value;
    const Param* param = q.params;
    for (PyObject* given : a) *out++ = normalise(*param++, given);
    for (size_t k = 0; k < q.pair_count; ++k) {
        const auto [begin, end] = q.pairs[k];
        if (vm::less(value[end], value[begin])) raise_reversed();
    }
    // sized once: filling a dict of the default size grows it past five keys
    Ref params_dict = vm::new_dict(static_cast<Py_ssize_t>(q.count));
    for (size_t i = 0; i < q.count; ++i) vm::dict_set(params_dict, sig.name_at(i), value[i]);
    Ref result = vm::global(n_get_fundamental_info).call(kw_request, {params_dict, q.name_obj});
    return vm::global(n_convert_fundamental_to_df).call({result});
}

void import_framework(vm::Module& m) {
    m.from_import("velmoro.api.fundamental.convertor", {"get_fundamental_info", "convert_fundamental_to_df"});
    m.from_import("velmoro.tframe.ufuncs",
                  {"check_targets_without_change", "begin_date_checking_rule", "end_date_checking_rule"});
    m.from_import("velmoro.tframe.language", {"text"});
    m.from_import("velmoro.tframe.utils.argchecker", {"apply_rule", "verify_that"});
}

void publish(vm::Module& m, const Query& q, const vm::FunctionSpec& spec) {
    // as a decorated def: apply_rule, then the rules, then the decorator is
    // made; then the function, then the decorator applied to it
    Ref apply_rule = vm::global(n_apply_rule);
    Ref rules[vm::kMaxParams];
    PyObject* argv[vm::kMaxParams + 1];
    for (size_t i = 0; i < q.count; ++i) {
        rules[i] = rule_for(q.params[i]);
        argv[i + 1] = rules[i].get();
    }
    Ref decorator = vm::call_array(apply_rule, argv + 1, q.count | PY_VECTORCALL_ARGUMENTS_OFFSET);
    vm::add_functions(m.object(), &spec, 1);
    Ref published = decorator.call({*spec.object});
    m.set(q.name, published.get());
}

}  // namespace fdmt
