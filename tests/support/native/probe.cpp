// A test-only module built with the support layer: every default form, the
// call forms whose steps must run in Python's order, keyword tuples of many
// names, the own-function shortcut and the checks made at import.
#include "vm/module.hpp"
#include "vm/shortcut.hpp"
#include "vm/textcase.hpp"

namespace {

using vm::Params;
using vm::Ref;

vm::Name n_method{"method"};
vm::Name n_a{"a"};
vm::Name n_b{"b"};
vm::Name n_c{"c"};
vm::Name n_attribute{"attribute"};
vm::Name n_callee{"callee"};
vm::Name n_twice{"twice"};
const vm::Kw kw_key{"key"};
const vm::Kw kw_many{"k1", "k2", "k3", "k4", "k5", "k6", "k7", "k8", "k9", "k10", "k11", "k12"};

Ref defaults(Params<10> p) {
    auto [a, b, c, d, e, f, g, h, i, j] = p.take<10>();
    return vm::new_tuple({a, b, c, d, e, f, g, h, i, j});
}

// o.method(f(1), o.a, o[2], f(o.b), key=o.c)
Ref steps(Params<2> p) {
    auto [o, f] = p.take<2>();
    return vm::attr(o, n_method).call(kw_key, {vm::borrow(f).call({vm::integer(1)}), vm::attr(o, n_a),
                                              vm::item(o, Py_ssize_t{2}), vm::borrow(f).call({vm::attr(o, n_b)}),
                                              vm::attr(o, n_c)});
}

// callee(o.a, o.b): the global is read before the arguments are made
Ref global_steps(Params<1> p) {
    auto [o] = p.take<1>();
    return vm::global(n_callee).call({vm::attr(o, n_a), vm::attr(o, n_b)});
}

// f(1, 2, k1=3, ..., k12=14)
Ref many_keywords(Params<1> p) {
    auto [f] = p.take<1>();
    Ref v[14];
    for (long long i = 0; i < 14; ++i) v[i] = vm::integer(i + 1);
    return vm::call(f, kw_many, {v[0], v[1], v[2], v[3], v[4], v[5], v[6], v[7], v[8], v[9], v[10], v[11], v[12],
                                 v[13]});
}

Ref twice(Params<2> p) {
    auto [x, y] = p.take<2>();
    return vm::new_tuple({x, y, x, y});
}

// twice(o.a): the module's own function runs directly while it is the global
Ref call_twice(Params<1> p) {
    auto [o] = p.take<1>();
    return vm::global<twice>(n_twice).call({vm::attr(o, n_a)});
}

Ref upper(Params<1> p) {
    auto [s] = p.take<1>();
    return vm::str_upper(s);
}

Ref lower(Params<1> p) {
    auto [s] = p.take<1>();
    return vm::str_lower(s);
}

Ref slot(Params<2> p) {
    auto [params, name] = p.take<2>();
    return vm::integer(static_cast<long long>(vm::slot_of(vm::to_string(params).c_str(),
                                                          vm::to_string(name).c_str()).index()));
}

// [f(x) for x in items]
Ref walk(Params<2> p) {
    auto [items, f] = p.take<2>();
    Ref out = vm::new_list();
    vm::for_each(items, [&](PyObject* x) { vm::append(out, vm::borrow(f).call({x})); });
    return out;
}

// (o[key], o[index]): the item steps by object and by position
Ref pick(Params<3> p) {
    auto [o, key, index] = p.take<3>();
    Ref by_key = vm::item(o, key);
    return vm::new_tuple({by_key.get(), vm::item(o, static_cast<Py_ssize_t>(vm::to_long(index))).get()});
}

// o.method(f(1), key=o.c) and o.method()
Ref method_steps(Params<2> p) {
    auto [o, f] = p.take<2>();
    Ref with_args = vm::borrow(o).method(n_method).call(kw_key, {vm::borrow(f).call({vm::integer(1)}), vm::attr(o, n_c)});
    return vm::new_tuple({with_args.get(), vm::borrow(o).method(n_method).call().get()});
}

// o.a, read through the name (modules: their dict, remembered while unchanged;
// other objects: how their type has the read go, remembered while the type is unchanged)
Ref read_a(Params<1> p) {
    auto [o] = p.take<1>();
    return vm::attr(o, n_a);
}

Ref read_attribute(Params<1> p) {
    auto [o] = p.take<1>();
    return vm::attr(o, n_attribute);
}

// callee.a: the global is read before its attribute
Ref callee_a(Params<0>) { return vm::global_attr(n_callee, n_a); }

// (a == b, a != b, a < b)
Ref compare(Params<2> p) {
    auto [a, b] = p.take<2>();
    const bool eq = vm::equal(a, b);
    const bool ne = vm::not_equal(a, b);
    const bool lt = vm::less(a, b);
    return vm::new_tuple({vm::boolean(eq).get(), vm::boolean(ne).get(), vm::boolean(lt).get()});
}

Ref three(Params<3> p) {
    auto [a, b, c] = p.take<3>();
    return vm::new_tuple({a, b, c});
}

// Publishes `three` under a declaration given at run time, as table rows are.
Ref publish_three(Params<1> p) {
    auto [params] = p.take<1>();
    static std::string text;
    text = vm::to_string(params);
    const vm::FunctionSpec spec = VM_NAMED_FUNCTION("three", three, text.c_str(), "Three values.");
    vm::add_functions(vm::module_object(), &spec, 1);
    return vm::none();
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(defaults, "a, b=None, c=True, d=False, e=0, f=-1.5, g='x,y', h=\"q\", i=(), j=[]",
                "Every default form; returns the bound arguments."),
    VM_FUNCTION(steps, "o, f", "o.method(f(1), o.a, o[2], f(o.b), key=o.c)"),
    VM_FUNCTION(global_steps, "o", "callee(o.a, o.b)"),
    VM_FUNCTION(many_keywords, "f", "f(1, 2, k1=3, ..., k12=14)"),
    VM_FUNCTION(twice, "x, y=None", "(x, y, x, y)"),
    VM_FUNCTION(call_twice, "o", "twice(o.a)"),
    VM_FUNCTION(upper, "s", "s.upper() of a str"),
    VM_FUNCTION(lower, "s", "s.lower() of a str"),
    VM_FUNCTION(slot, "params, name", "The position of a parameter in a declaration."),
    VM_FUNCTION(walk, "items, f", "[f(x) for x in items]"),
    VM_FUNCTION(pick, "o, key, index", "(o[key], o[index])"),
    VM_FUNCTION(method_steps, "o, f", "(o.method(f(1), key=o.c), o.method())"),
    VM_FUNCTION(compare, "a, b", "(a == b, a != b, a < b)"),
    VM_FUNCTION(read_a, "o", "o.a"),
    VM_FUNCTION(read_attribute, "o", "o.attribute"),
    VM_FUNCTION(callee_a, "", "callee.a"),
    VM_FUNCTION(publish_three, "params", "Publish a three-parameter body under a declaration."),
};

void exec(vm::Module& m) { m.add(kFunctions); }

}  // namespace

VM_MODULE(_supportprobe, "Probe of the native support layer (tests only).", exec)
