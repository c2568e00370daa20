// Market-data commands: bar data, TDP data, snapshots, bar time lines, sets.
#include "commands.hpp"

namespace vmcmd {
namespace {

Name n_vmSendCmdGetKData{"vmSendCmdGetKData"};
Name n_VelmoroGetKData_send{"VelmoroGetKData_send"};
Name n_listPaths{"listPaths"};
Name n_MarketCode{"MarketCode"};
Name n_KFrequency{"KFrequency"};
Name n_KFreNum{"KFreNum"};
Name n_BeginDate{"BeginDate"};
Name n_EndDate{"EndDate"};
Name n_FilledUp{"FilledUp"};
Name n_FQ{"FQ"};
Name n_NoReturn{"NoReturn"};

Ref vmSendCmdGetKData(Args a) {
    PyObject* func_name = n_vmSendCmdGetKData;
    Ref params = vm::new_dict();
    vm::dict_set(params, n_MarketCode, target_list(a[0]));
    vm::dict_set(params, n_KFrequency, a[1]);
    vm::dict_set(params, n_KFreNum, a[2]);
    vm::dict_set(params, n_BeginDate, a[3]);
    vm::dict_set(params, n_EndDate, a[4]);
    vm::dict_set(params, n_FilledUp, a[5]);
    vm::dict_set(params, n_FQ, a[6]);
    vm::dict_set(params, n_NoReturn, a[7]);
    Ref send = sender(n_VelmoroGetKData_send);
    vm::call(send, dot(params));
    Ref res = receive(func_name);
    check_answer(func_name, res);
    return vm::attr(res, n_listPaths);
}

const vm::FunctionSpec kFunctions[] = {
    VM_FUNCTION(vmSendCmdGetKData, "targets, kFreq, kFreNum, beginDate, endDate, filledUp, fqType, noReturn",
                "Fetch bar data of the targets; returns the paths of the MAT files the terminal wrote."),
};

}  // namespace

void register_market(vm::Module& m) { m.add(kFunctions); }

}  // namespace vmcmd
