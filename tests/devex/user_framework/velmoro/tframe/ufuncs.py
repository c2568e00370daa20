from velmoro.tframe.utils.utilcls import DotDict


def todotdict(mapping):
    return DotDict(mapping)


def todotmc(target):
    if isinstance(target, list):
        return [todotmc(t) for t in target]
    return "{}.{}".format(target["Market"], target["Code"]).upper()


def check_targets_without_change(target_list):
    return list(target_list)


def begin_date_checking_rule(date):
    return int(date) if date != "" else 19000101


def end_date_checking_rule(date):
    return int(date) if date != "" else 99991231


def get_real_trade_date(t):
    return int(t)
