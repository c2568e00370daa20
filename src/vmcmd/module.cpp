// The command channel: one function per terminal command.
#include "frame.hpp"

namespace vmcmd {
namespace {

void exec(vm::Module& m) {
    m.import_as("os", "os");
    m.import_as("numpy", "np");
    m.from_import("math", {"isnan"});
    keep_math_isnan();
    m.from_import("velmoro.tframe.ufuncs", {"todotdict"});
    m.from_import("velmoro.tframe.language", {"text"});
    m.from_import("velmoro.tframe.utils.exceptions", {"VmReturnError", "check_vm_return_error"});
    m.from_import("velmoro.tframe.utils.utilfunc", {"load_mat", "run_ignore_exception"});
    m.from_import("velmoro.tframe.utils.datetimefunc", {"mft_to_str_format"});
    m.from_import("velmoro.tframe.utils.logger", {"user_warning", "user_info", "write_log"});
    m.from_import("velmoro.tframe.comm", {"vmserial", "recv_serial"});

    m.set("ERROR_LEVEL_NO_ERROR", vm::integer(0));
    m.set("ERROR_LEVEL_ERROR", vm::integer(1));
    m.set("ERROR_LEVEL_WARNING", vm::integer(2));
    m.set("ERROR_LEVEL_INFO", vm::integer(3));

    register_general_res(m);
    register_checker(m);

    register_market(m);
    register_calendar(m);
    register_trading(m);
    register_tasks(m);
    register_factor(m);
}

}  // namespace
}  // namespace vmcmd

VM_MODULE(vmcmd,
          "Command channel to the host trading terminal: one function per terminal command.\n\n"
          "Each vmSendCmd<Command> sends one request through vmserial and, where the command has an answer, "
          "takes it from recv_serial. Checked commands pass the answer's status to vmReturnChecker first: an "
          "ERROR level raises VmReturnError, a WARNING or INFO text is shown to the user. Families: market data, "
          "calendar and reference, trading and accounts, tasks and subscriptions, factor, fundamental and "
          "risk-model data.\n\n"
          "Each command's help() gives its parameters and what it returns. Records are dot-access records "
          "(fields read as attributes or items). A MAT result file loads with "
          "velmoro.tframe.utils.utilfunc.load_mat(path) as a mapping of numpy arrays; times in results are the "
          "framework's numeric time, a float count of days (velmoro.tframe.utils.datetimefunc.mft_to_datetime "
          "turns them into datetimes). Names of blocks, factors and accounts in the help are those of the embedded "
          "simulated terminal; a host terminal has its own.",
          vmcmd::exec)
